// Text -> token kinds with flags, scalar texts and styles.
// Rendering (see token_dump.hpp): BM/BS block mapping/sequence start, { [
// flow starts, } ] flow ends, BE block end, K / ?K implicit / explicit key,
// ":" value, "-" block entry, "," flow entry, P S D L F + "text" scalars by
// style, &name anchor, *name alias, T<tag> tag, %text directive, --- and ...
// document markers. StreamStart and StreamEnd are left out.
#include <gtest/gtest.h>

#include "token_dump.hpp"

namespace {

struct Case {
  const char* text;
  const char* tokens;
};

void run_table(const std::vector<Case>& cases) {
  for (const auto& c : cases)
    EXPECT_EQ(qf::test::scan_to_string(c.text), c.tokens) << "input: " << qf::test::escape_text(c.text);
}

TEST(ScannerTokens, StreamFraming) {
  run_table({
      {"", ""},
      {"\xEF\xBB\xBF", ""},
      {"# only a comment\n", ""},
      {"\n\n   \n", ""},
      {"a", "P\"a\""},
  });
}

TEST(ScannerTokens, BlockStructure) {
  run_table({
      {"key:\n- a", "BM K P\"key\" : - P\"a\" BE"},
      {"- a\n- b", "BS - P\"a\" - P\"b\" BE"},
      {"a:\n  b: c\nd: e", "BM K P\"a\" : BM K P\"b\" : P\"c\" BE K P\"d\" : P\"e\" BE"},
      {"- - a\n  - b\n  c: d", "BS - BS - P\"a\" - P\"b\" BE BM K P\"c\" : P\"d\" BE BE"},
      {"- a: 1\n  b: 2\n- c", "BS - BM K P\"a\" : P\"1\" K P\"b\" : P\"2\" BE - P\"c\" BE"},
      {"a:\n  - x\n  - y\nb: z", "BM K P\"a\" : BS - P\"x\" - P\"y\" BE K P\"b\" : P\"z\" BE"},
      {"a:\n- x\nb: y", "BM K P\"a\" : - P\"x\" K P\"b\" : P\"y\" BE"},
      {"-\n  a", "BS - P\"a\" BE"},
      {"- \n- b", "BS - - P\"b\" BE"},
      {"a:\n  b:\n    c: d\ne: f",
       "BM K P\"a\" : BM K P\"b\" : BM K P\"c\" : P\"d\" BE BE K P\"e\" : P\"f\" BE"},
      // Empty keys and values.
      {": v", "BM : P\"v\" BE"},
      {"k:", "BM K P\"k\" : BE"},
      // Keys saved by properties, aliases and flow collections.
      {"&x key: v", "BM K &x P\"key\" : P\"v\" BE"},
      {"&x\nkey: v", "&x BM K P\"key\" : P\"v\" BE"},
      {"!t key: v", "BM K T!t P\"key\" : P\"v\" BE"},
      {"*a : v", "BM K *a : P\"v\" BE"},
      {"[a, b]: c", "BM K [ P\"a\" , P\"b\" ] : P\"c\" BE"},
      {"{a: b}: c", "BM K { K P\"a\" : P\"b\" } : P\"c\" BE"},
      {"- [a]: b", "BS - BM K [ P\"a\" ] : P\"b\" BE BE"},
      // Explicit keys.
      {"? a\n: b", "BM ?K P\"a\" : P\"b\" BE"},
      {"? a", "BM ?K P\"a\" BE"},
      {"? - a\n: - b", "BM ?K BS - P\"a\" BE : BS - P\"b\" BE BE"},
      {"? a\n: b: c", "BM ?K P\"a\" : BM K P\"b\" : P\"c\" BE BE"},
      // A ":" value indicator left after a key ends the entry; the value
      // starts no key of its own on that line.
      {"a: b: c", "BM K P\"a\" : P\"b\" BM : P\"c\" BE BE"},
  });
}

TEST(ScannerTokens, Comments) {
  run_table({
      {"a: b#c", "BM K P\"a\" : P\"b#c\" BE"},
      {"a: b #c", "BM K P\"a\" : P\"b\" BE"},
      {"a: b\t#c", "BM K P\"a\" : P\"b\" BE"},
      {"#c\na", "P\"a\""},
      {"\xEF\xBB\xBF#c\na", "P\"a\""},
      {"- a # c\n# d\n- b", "BS - P\"a\" - P\"b\" BE"},
  });
}

TEST(ScannerTokens, FlowCollections) {
  run_table({
      {"[a, b]", "[ P\"a\" , P\"b\" ]"},
      {"{a: 1, b: 2}", "{ K P\"a\" : P\"1\" , K P\"b\" : P\"2\" }"},
      {"[a: b]", "[ K P\"a\" : P\"b\" ]"},
      {"{\"a\":1}", "{ D\"a\" : P\"1\" }"},
      {"{\"a\": 1}", "{ K D\"a\" : P\"1\" }"},
      {"{'a':1}", "{ S\"a\" : P\"1\" }"},
      {"[a, b,]", "[ P\"a\" , P\"b\" , ]"},
      {"[]", "[ ]"},
      {"{}", "{ }"},
      {"[a b]", "[ P\"a b\" ]"},
      {"[a b, c]", "[ P\"a b\" , P\"c\" ]"},
      {"[a\nb]", "[ P\"a b\" ]"},
      {"k: [a\n b]", "BM K P\"k\" : [ P\"a b\" ] BE"},
      {"k: [a\nb]", "BM K P\"k\" : [ P\"a b\" ] BE"},
      {"[a,\nb]", "[ P\"a\" , P\"b\" ]"},
      {"[a] # c", "[ P\"a\" ]"},
      {"[a]: b", "BM K [ P\"a\" ] : P\"b\" BE"},
      {"{a\n: b}", "{ K P\"a\" : P\"b\" }"},
      {"[-a]", "[ P\"-a\" ]"},
      {"[a:b]", "[ P\"a:b\" ]"},
      {"[a:]", "[ K P\"a\" : ]"},
      {"{a:}", "{ K P\"a\" : }"},
      {"{a: b, : c}", "{ K P\"a\" : P\"b\" , : P\"c\" }"},
      {"[:a]", "[ P\":a\" ]"},
      {"[?a]", "[ P\"?a\" ]"},
      {"{? a : b}", "{ ?K P\"a\" : P\"b\" }"},
      {"[? a : b]", "[ ?K P\"a\" : P\"b\" ]"},
      {"{? a}", "{ ?K P\"a\" }"},
      {"['a' :b]", "[ S\"a\" : P\"b\" ]"},
      {"[[a] :b]", "[ [ P\"a\" ] : P\"b\" ]"},
      {"{a: [b, c], d: {e: f}}",
       "{ K P\"a\" : [ P\"b\" , P\"c\" ] , K P\"d\" : { K P\"e\" : P\"f\" } }"},
      {"[&a x, *a, !t y]", "[ &a P\"x\" , *a , T!t P\"y\" ]"},
      {"[a|b, c>d]", "[ P\"a|b\" , P\"c>d\" ]"},
      {"[|, >]", "[ P\"|\" , P\">\" ]"},
      {"{a: 1}\n", "{ K P\"a\" : P\"1\" }"},
      // A flow collection inside a block value keeps the block level.
      {"a: [1, 2]\nb: {c: d}", "BM K P\"a\" : [ P\"1\" , P\"2\" ] K P\"b\" : { K P\"c\" : P\"d\" } BE"},
      {"- [a, b]\n- c", "BS - [ P\"a\" , P\"b\" ] - P\"c\" BE"},
  });
}

TEST(ScannerTokens, PlainScalars) {
  run_table({
      {"a:b", "P\"a:b\""},
      {"a://b", "P\"a://b\""},
      {"a :b", "P\"a :b\""},
      {"a #b", "P\"a\""},
      {"a#b", "P\"a#b\""},
      {"a   ", "P\"a\""},
      {"a b  c", "P\"a b  c\""},
      {"-a", "P\"-a\""},
      {"?a", "P\"?a\""},
      {":a", "P\":a\""},
      {"x %a", "P\"x %a\""},
      {".a", "P\".a\""},
      {"---text", "P\"---text\""},
      {"....", "P\"....\""},
      {"a\xC2\x85" "b", "P\"a\xC2\x85" "b\""},
      {"\xC3\xA9t\xC3\xA9: \xE2\x82\xAC", "BM K P\"\xC3\xA9t\xC3\xA9\" : P\"\xE2\x82\xAC\" BE"},
      {"key: a\n  b\nother: c", "BM K P\"key\" : P\"a b\" K P\"other\" : P\"c\" BE"},
      {"key: a\n\n  b", "BM K P\"key\" : P\"a\\nb\" BE"},
      {"key: a\n\n\n  b", "BM K P\"key\" : P\"a\\n\\nb\" BE"},
      {"a\nb", "P\"a b\""},
      {"a  \n  b  ", "P\"a b\""},
      {"a\r\nb", "P\"a b\""},
      {"a\rb", "P\"a b\""},
      {"a\n# c\nb", "P\"a\" P\"b\""},
      {"a\n- b", "P\"a - b\""},
      {"a\n--- b", "P\"a\" --- P\"b\""},
      {"a\n...", "P\"a\" ..."},
      {"k: a\n  b: c", "BM K P\"k\" : P\"a b\" BM : P\"c\" BE BE"},
      {"- a\n  b\n- c", "BS - P\"a b\" - P\"c\" BE"},
      {"a: b\t", "BM K P\"a\" : P\"b\" BE"},
  });
}

// Plain scalars are scanned in wide steps; stops at every offset count.
TEST(ScannerTokens, PlainScalarStopsAtEveryOffset) {
  for (size_t k = 1; k < 24; ++k) {
    const std::string word(k, 'w');
    const std::string multi = std::string(k, 'w') + "\xC3\xA9" + std::string(k, 'v');
    run_table({
        {(word + ": v").c_str(), ("BM K P\"" + word + "\" : P\"v\" BE").c_str()},
        {(word + "#x:y #c").c_str(), ("P\"" + word + "#x:y\"").c_str()},
        {(word + " w\tw   \n").c_str(), ("P\"" + word + " w\\tw\"").c_str()},
        {("k: " + multi + ":x").c_str(), ("BM K P\"k\" : P\"" + multi + ":x\" BE").c_str()},
        {("[" + word + "]").c_str(), ("[ P\"" + word + "\" ]").c_str()},
    });
  }
}

TEST(ScannerTokens, QuotedScalars) {
  run_table({
      {"'it''s'", "S\"it's\""},
      {"''", "S\"\""},
      {"\"\"", "D\"\""},
      {"''''", "S\"'\""},
      {"'a\n  b'", "S\"a b\""},
      {"'a  \n\n  b'", "S\"a\\nb\""},
      {"'a\\b'", "S\"a\\\\b\""},
      {"'a # b'", "S\"a # b\""},
      {"\"\\x41\\u00e9\\U0001F600\"", "D\"A\xC3\xA9\xF0\x9F\x98\x80\""},
      {"\"\\N\\_\\L\\P\"", "D\"\xC2\x85\xC2\xA0\xE2\x80\xA8\xE2\x80\xA9\""},
      {"\"a\\\tb\"", "D\"a\\tb\""},
      {"\"a\\\n  b\"", "D\"ab\""},
      {"\"a\\\n\n  b\"", "D\"a\\nb\""},
      {"\"a \\t  \nb\"", "D\"a \\t b\""},
      {"\"a  \n  b  \"", "D\"a b  \""},
      {"\"a\n\n\nb\"", "D\"a\\n\\nb\""},
      {"\"a\\\n\tb\"", "D\"a\\tb\""},
      {"\"a\n\t\nb\"", "D\"a\\nb\""},
      {"\"a\"", "D\"a\""},
      {"'a' # c", "S\"a\""},
      {"'a': b", "BM K S\"a\" : P\"b\" BE"},
      {"\"a\" : b", "BM K D\"a\" : P\"b\" BE"},
      {"\"a\nb\"", "D\"a b\""},
      {"k: \"a\n  b\"", "BM K P\"k\" : D\"a b\" BE"},
      {"- \"a\n  b\"", "BS - D\"a b\" BE"},
      {"['a\nb']", "[ S\"a b\" ]"},
      {"{'a\nb': c}", "{ K S\"a b\" : P\"c\" }"},
  });
}

TEST(ScannerTokens, BlockScalars) {
  run_table({
      {"key: |\n  a\n   b\n\n  c", "BM K P\"key\" : L\"a\\n b\\n\\nc\\n\" BE"},
      {"key: >\n  a\n   b\n\n  c", "BM K P\"key\" : F\"a\\n b\\n\\nc\\n\" BE"},
      {"k: >\n  a\n  b\n", "BM K P\"k\" : F\"a b\\n\" BE"},
      {"k: >\n  a\n\n  b\n", "BM K P\"k\" : F\"a\\nb\\n\" BE"},
      {"k: |\n  a\n  b\n", "BM K P\"k\" : L\"a\\nb\\n\" BE"},
      {"k: |-\n  a\n\n", "BM K P\"k\" : L\"a\" BE"},
      {"k: |+\n  a\n\n", "BM K P\"k\" : L\"a\\n\\n\" BE"},
      {"k: |\n  a\n\n", "BM K P\"k\" : L\"a\\n\" BE"},
      {"k: >-\n  a\n  b", "BM K P\"k\" : F\"a b\" BE"},
      {"k: |+\n  a", "BM K P\"k\" : L\"a\" BE"},
      {"k: |2\n   a", "BM K P\"k\" : L\" a\\n\" BE"},
      {"    k: |2\n       a", "BM K P\"k\" : L\" a\\n\" BE"},
      {"k: |1-\n  a", "BM K P\"k\" : L\" a\" BE"},
      {"k: |-1\n  a", "BM K P\"k\" : L\" a\" BE"},
      {"k: | # note\n  a", "BM K P\"k\" : L\"a\\n\" BE"},
      {"key: |\nnext: x", "BM K P\"key\" : L\"\" K P\"next\" : P\"x\" BE"},
      {"--- |\na\n---", "--- L\"a\\n\" ---"},
      {"|\n a\n b", "L\"a\\nb\\n\""},
      {"|\nabc", "L\"abc\\n\""},
      {">\n a\n  b\n c", "F\"a\\n b\\nc\\n\""},
      {"- |\n  a\n- b", "BS - L\"a\\n\" - P\"b\" BE"},
      {"k: |\n  a\n  \t b\n", "BM K P\"k\" : L\"a\\n\\t b\\n\" BE"},
      {"k: |\n  a  \n", "BM K P\"k\" : L\"a  \\n\" BE"},
      {"k: |\n\n  a", "BM K P\"k\" : L\"\\na\\n\" BE"},
      {"k: >\n\n  a\n\n\n  b\n", "BM K P\"k\" : F\"\\na\\n\\nb\\n\" BE"},
      {"k: |\r\n  a\r\n  b\r\n", "BM K P\"k\" : L\"a\\nb\\n\" BE"},
      {"k: |", "BM K P\"k\" : L\"\" BE"},
      {"|", "L\"\""},
      {"k: >+\n\n\n", "BM K P\"k\" : F\"\\n\\n\" BE"},
  });
}

TEST(ScannerTokens, DirectivesMarkersProperties) {
  run_table({
      {"%YAML 1.2 # c\n---", "%YAML 1.2 # c ---"},
      {"%YAML 1.2\n%TAG ! tag:x,1:\n--- a", "%YAML 1.2 %TAG ! tag:x,1: --- P\"a\""},
      {"a\n...\n%YAML 1.2\n---", "P\"a\" ... %YAML 1.2 ---"},
      {"... # end", "..."},
      {"--- text", "--- P\"text\""},
      {"---text", "P\"---text\""},
      {"--- !t [a]", "--- T!t [ P\"a\" ]"},
      {"---\n---\n", "--- ---"},
      {"- a\n---\n- b", "BS - P\"a\" BE --- BS - P\"b\" BE"},
      {"a: b\n...\n", "BM K P\"a\" : P\"b\" BE ..."},
      {"*a:", "*a:"},
      {"*a", "*a"},
      {"&a v", "&a P\"v\""},
      {"&a:b v", "&a:b P\"v\""},
      {"!!str", "T!!str"},
      {"!e!x a", "T!e!x P\"a\""},
      {"!", "T!"},
      {"! a", "T! P\"a\""},
      {"!<tag:x> a", "T!<tag:x> P\"a\""},
      {"!t[a b", "T!t[a P\"b\""},
      {"%a", "%a"},
      {"[!t]", "[ T!t ]"},
      {"[!t, a]", "[ T!t , P\"a\" ]"},
      {"key: &a v", "BM K P\"key\" : &a P\"v\" BE"},
      {"key:\n  &a v", "BM K P\"key\" : &a P\"v\" BE"},
      {"? a", "BM ?K P\"a\" BE"},
      {"{? a : b}", "{ ?K P\"a\" : P\"b\" }"},
      {"&a [b]", "&a [ P\"b\" ]"},
      {"- &a\n  - b", "BS - &a BS - P\"b\" BE BE"},
  });
}

TEST(ScannerTokens, EscapesOfDoubleQuotedScalars) {
  qf::Scanner s("\"\\0\\a\\b\\t\\n\\v\\f\\r\\e\\ \\\"\\/\\\\\\N\\_\\L\\P\\\t\"");
  auto r = qf::tokenize(s);
  ASSERT_TRUE(r.ok());
  ASSERT_EQ(r.tokens.size(), 3u);
  EXPECT_EQ(r.tokens[1].text, std::string_view("\0\a\b\t\n\v\f\r\x1b \"/\\"
                                               "\xC2\x85\xC2\xA0\xE2\x80\xA8\xE2\x80\xA9\t",
                                               24));
}

// Where this scanner departs from the straightforward reading of its rules
// to avoid a silently wrong result or a wrong rejection.
TEST(ScannerTokens, SoundBehaviour) {
  run_table({
      // A ":" after an earlier collection's end is no value indicator in a
      // newly opened collection.
      {"x: [a]\ny: [:b, :c]", "BM K P\"x\" : [ P\"a\" ] K P\"y\" : [ P\":b\" , P\":c\" ] BE"},
      {"[a]\n---\n[:b]", "[ P\"a\" ] --- [ P\":b\" ]"},
      // Keys in flow context follow only "[", "{", "," and "?".
      {"{a: 1, b: 2}", "{ K P\"a\" : P\"1\" , K P\"b\" : P\"2\" }"},
      {"{a: b\n, c: d}", "{ K P\"a\" : P\"b\" , K P\"c\" : P\"d\" }"},
      {"[a: b, c: d]", "[ K P\"a\" : P\"b\" , K P\"c\" : P\"d\" ]"},
      // A key taken from a saved position closes the line like a scalar key.
      {"&x a: b: c", "BM K &x P\"a\" : P\"b\" BM : P\"c\" BE BE"},
      {"[k]: v", "BM K [ P\"k\" ] : P\"v\" BE"},
      {"? a\n: b: c", "BM ?K P\"a\" : BM K P\"b\" : P\"c\" BE BE"},
      // A property at the key column that starts the next key.
      {"a:\n&x b: c", "BM K P\"a\" : K &x P\"b\" : P\"c\" BE"},
      {"a:\n!t b: c", "BM K P\"a\" : K T!t P\"b\" : P\"c\" BE"},
      {"a:\n!t &x b: c", "BM K P\"a\" : K T!t &x P\"b\" : P\"c\" BE"},
      {"- a:\n  &x b: c", "BS - BM K P\"a\" : K &x P\"b\" : P\"c\" BE BE"},
      {"a: &x\n&y b: c", "BM K P\"a\" : &x K &y P\"b\" : P\"c\" BE"},
      // An adjacent ":" after a quoted scalar stays a value indicator.
      {"['a' :b]", "[ S\"a\" : P\"b\" ]"},
      // An empty kept block scalar counts its last blank line even when the
      // input ends without a line break.
      {"k: |+\n  ", "BM K P\"k\" : L\"\\n\" BE"},
      {"k: |+\n  \n", "BM K P\"k\" : L\"\\n\" BE"},
      {"k: |+\n", "BM K P\"k\" : L\"\" BE"},
      {"k: |+\n\n  \n", "BM K P\"k\" : L\"\\n\\n\" BE"},
      // A top-level block scalar of blank lines only is empty, not refused
      // and not made of its SPACEs.
      {"--- |\n  \n", "--- L\"\""},
      {"--- |+\n  \n\n", "--- L\"\\n\\n\""},
      {"|\n   ", "L\"\""},
      {">\n \n  \n", "F\"\""},
  });
}

}  // namespace
