// Text -> scan error message and position ("ERR line:column message", both
// counted from 1 as the exception layer reports them).
#include <gtest/gtest.h>

#include "scanner/scan_engine.hpp"
#include "token_dump.hpp"

namespace {

struct Case {
  const char* text;
  const char* error;
};

void run_table(const std::vector<Case>& cases) {
  for (const auto& c : cases)
    EXPECT_EQ(qf::test::scan_to_string(c.text), c.error) << "input: " << qf::test::escape_text(c.text);
}

// Runs `body` through every vector routine of the control-character check
// this CPU has: the machine's best one alone would leave the others untested.
template <class Body>
void for_each_control_check(Body body) {
  using qf::scan_detail::ControlCheckRoutine;
  bool ran = false;
  for (ControlCheckRoutine r : {ControlCheckRoutine::Sse2, ControlCheckRoutine::Avx2}) {
    if (!qf::scan_detail::select_control_check(r)) continue;
    SCOPED_TRACE(r == ControlCheckRoutine::Sse2 ? "SSE2 routine" : "AVX2 routine");
    ran = true;
    body();
  }
  qf::scan_detail::select_control_check(ControlCheckRoutine::Best);
  if (!ran) body();
}

TEST(ScannerErrors, ControlCharacters) {
  for_each_control_check([] {
    run_table({
        {"a\xC2\x86" "b", "ERR 1:2 disallowed control character U+0086"},
        {"a\n\x01", "ERR 2:1 disallowed control character U+0001"},
        {"\xEF\xBB\xBF" "ab\x7F", "ERR 1:3 disallowed control character U+007F"},
        {"a\r\nb\xEF\xBF\xBE", "ERR 2:2 disallowed control character U+FFFE"},
        {"a\rb\rc\xEF\xBF\xBF", "ERR 3:2 disallowed control character U+FFFF"},
        {"\xC3\xA9\xC3\xA9\x1B", "ERR 1:3 disallowed control character U+001B"},
        {"'a\x0Bz'", "ERR 1:3 disallowed control character U+000B"},
        {"# \x0C", "ERR 1:3 disallowed control character U+000C"},
        {"a\xC2\x9F", "ERR 1:2 disallowed control character U+009F"},
    });
    // U+0000 is refused too, wherever it stands.
    EXPECT_EQ(qf::test::scan_to_string(std::string_view("ab\0", 3)),
              "ERR 1:3 disallowed control character U+0000");
    // Allowed: TAB, line breaks, NEL, BOM inside the text, other C2/EF forms.
    EXPECT_EQ(qf::test::scan_to_string("a\tb\xC2\x85\xEF\xBB\xBF\xC2\xA0\xEF\xBF\xBD"),
              "P\"a\\tb\xC2\x85\xEF\xBB\xBF\xC2\xA0\xEF\xBF\xBD\"");
  });
}

// The check runs in wide steps; every position within and across them counts.
TEST(ScannerErrors, ControlCharactersAtEveryOffset) {
  for_each_control_check([] {
    const char* bad[] = {"\x01", "\x1F", "\x7F", "\xC2\x80", "\xC2\x9F", "\xEF\xBF\xBE", "\xEF\xBF\xBF"};
    const char* good[] = {"\t", "\xC2\x85", "\xC2\xA0", "\xEF\xBB\xBF", "\xEF\xBF\xBD", "\xC3\xA9"};
    // Past 160 bytes, so that the four-vector rounds meet them too.
    for (size_t at = 0; at < 170; ++at) {
      for (const char* b : bad) {
        std::string text = "#" + std::string(at, 'x') + b + std::string(40, 'y');
        qf::Scanner s(text);
        auto r = qf::tokenize(s);
        ASSERT_FALSE(r.ok()) << at;
        EXPECT_EQ(r.error->span, (qf::Span{0, 0, static_cast<uint32_t>(at + 1), at + 1})) << at;
      }
      for (const char* g : good) {
        std::string text = "#" + std::string(at, 'x') + g + std::string(40, 'y') + "\na";
        qf::Scanner s(text);
        EXPECT_TRUE(qf::tokenize(s).ok()) << at;
      }
    }
    // A lone lead byte at the very end is not a control character.
    const std::string tail_text = std::string(20, 'a') + "\xC2";
    qf::Scanner tail(tail_text);
    EXPECT_TRUE(qf::tokenize(tail).ok());
  });
}

// Every byte value (and every second byte after 0xC2, and the neighbours of
// the refused three-byte characters) at the offsets of a text several vector
// blocks long: the check's byte classes are complete, each refused character
// found at its exact position.
TEST(ScannerErrors, ControlCharactersEveryByteValue) {
  for_each_control_check([] {
    struct Probe {
      std::string bytes;
      bool refused;
    };
    std::vector<Probe> cases;
    for (int c = 0; c < 0x80; ++c)
      cases.push_back({std::string(1, static_cast<char>(c)),
                       (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F});
    for (int c = 0x80; c < 0xC0; ++c)
      cases.push_back({std::string("\xC2") + static_cast<char>(c), c <= 0x9F && c != 0x85});
    cases.push_back({"\xEF\xBF\xBE", true});
    cases.push_back({"\xEF\xBF\xBF", true});
    cases.push_back({"\xEF\xBF\xBD", false});
    cases.push_back({"\xEF\xBB\xBF", false});
    cases.push_back({"\xC3\xA9", false});
    for (const Probe& c : cases) {
      for (size_t at = 0; at < 140; at += (at < 70 ? 1 : 7)) {
        std::string text(160, 'x');
        text[40] = '\n';
        text.insert(at, c.bytes);
        qf::Scanner s(text);
        const qf::TokenizeResult r = qf::tokenize(s);
        const bool found = r.error && r.error->message.starts_with("disallowed control character");
        ASSERT_EQ(found, c.refused) << "byte " << int(static_cast<unsigned char>(c.bytes.back()))
                                    << " at " << at;
        if (found) {
          EXPECT_EQ(r.error->span.offset, at);
          EXPECT_EQ(r.error->span.line, at <= 40 ? 0u : 1u);
          EXPECT_EQ(r.error->span.column, at <= 40 ? at : at - 41);
        }
      }
    }
  });
}

// The last bytes of a text are checked in one block ending at its end,
// which overlaps bytes already passed: an allowed character there (or just
// before it) is passed once, a refused one after it found at its place.
TEST(ScannerErrors, ControlCharactersInTheLastBlock) {
  for_each_control_check([] {
    for (size_t n : {31, 32, 33, 63, 64, 65, 70, 97}) {
      for (size_t a = 0; a + 2 <= n; ++a) {
        std::string text(n, 'x');
        text.replace(a, 2, "\xC2\xA0");
        qf::Scanner ok(text);
        ASSERT_TRUE(qf::tokenize(ok).ok()) << n << " " << a;
        for (size_t b = a + 2; b < n; ++b) {
          std::string bad = text;
          bad[b] = '\x01';
          qf::Scanner s(bad);
          const qf::TokenizeResult r = qf::tokenize(s);
          ASSERT_FALSE(r.ok()) << n << " " << a << " " << b;
          EXPECT_EQ(r.error->span, (qf::Span{0, 0, static_cast<uint32_t>(b - 1), b}))
              << n << " " << a << " " << b;
        }
      }
    }
  });
}

TEST(ScannerErrors, Indentation) {
  run_table({
      {"\t- a", "ERR 1:2 a tab cannot be used for indentation"},
      {"\ta: b", "ERR 1:2 a tab cannot be used for indentation"},
      {"\t&x a: b", "ERR 1:6 a tab cannot be used for indentation"},
      {"\t'a': b", "ERR 1:2 a tab cannot be used for indentation"},
      {"\t? a", "ERR 1:2 a tab cannot be used for indentation"},
      {"?\ta", "ERR 1:2 a tab cannot be used for indentation"},
      {"[a,\n\tb]", "ERR 2:1 a tab cannot be used for indentation"},
      {"k: |\n\t\n", "ERR 2:1 a tab cannot be used for indentation"},
      {"--- - a", "ERR 1:5 a block collection cannot start on the same line as ---"},
      {"--- a: b", "ERR 1:6 a block collection cannot start on the same line as ---"},
      {"--- ? a", "ERR 1:5 a block collection cannot start on the same line as ---"},
      {"--- 'a': b", "ERR 1:8 a block collection cannot start on the same line as ---"},
      {"key: - a", "ERR 1:6 a block sequence cannot start on the same line as its mapping key"},
      {"'k': - a", "ERR 1:6 a block sequence cannot start on the same line as its mapping key"},
      {"&a - b", "ERR 1:4 a block sequence entry cannot follow an anchor or tag on the same line"},
      {"!t - b", "ERR 1:4 a block sequence entry cannot follow an anchor or tag on the same line"},
      {"-    - x\n  - y", "ERR 2:3 a sequence entry is indented past its sequence"},
      {"key:\n&a v", "ERR 2:1 a node property must be indented past its mapping key"},
      {"key:\n!t v", "ERR 2:1 a node property must be indented past its mapping key"},
      {"a:\n  b:\n  &x c", "ERR 3:3 a node property must be indented past its mapping key"},
      {"a:\n&x\nb: c", "ERR 2:1 a node property must be indented past its mapping key"},
      {"a:\n&x [b]\nc: d", "ERR 2:1 a node property must be indented past its mapping key"},
  });
}

TEST(ScannerErrors, Dispatch) {
  run_table({
      {"a:#", "P\"a:#\""},
      {"'a'#c", "ERR 1:4 a comment must be preceded by whitespace"},
      {"[a]#c", "ERR 1:4 a comment must be preceded by whitespace"},
      {"[#a]", "ERR 1:2 a comment must be preceded by whitespace"},
      {",a", "ERR 1:1 a plain scalar cannot start with ','"},
      {"&a,b", "ERR 1:3 a plain scalar cannot start with ','"},
      {"@a", "ERR 1:1 '@' is a reserved indicator and cannot start a plain scalar"},
      {"`a", "ERR 1:1 '`' is a reserved indicator and cannot start a plain scalar"},
      {"[@a]", "ERR 1:2 '@' is a reserved indicator and cannot start a plain scalar"},
      {"k: `a", "ERR 1:4 '`' is a reserved indicator and cannot start a plain scalar"},
  });
}

TEST(ScannerErrors, FlowCollections) {
  std::string deep(1000, '[');
  deep += std::string(1000, ']');
  EXPECT_EQ(qf::test::scan_to_string(deep).substr(0, 4), "[ [ ");
  EXPECT_EQ(qf::test::scan_to_string(std::string(1001, '[')),
            "ERR 1:1001 maximum nesting depth (1000) exceeded");
  EXPECT_EQ(qf::test::scan_to_string("k: " + std::string(1001, '{')),
            "ERR 1:1004 maximum nesting depth (1000) exceeded");
  run_table({
      {"[a,, b]", "ERR 1:4 empty flow entry (stray ',')"},
      {"[,]", "ERR 1:2 empty flow entry (stray ',')"},
      {"{a: b,,}", "ERR 1:7 empty flow entry (stray ',')"},
      {"[a [b]]", "ERR 1:4 missing ',' between flow collection entries"},
      {"[a, 'b' c]", "ERR 1:9 missing ',' between flow collection entries"},
      {"['a' b]", "ERR 1:6 missing ',' between flow collection entries"},
      {"[*a b]", "ERR 1:5 missing ',' between flow collection entries"},
      {"[[a] &x b]", "ERR 1:6 missing ',' between flow collection entries"},
      {"[a}", "ERR 1:3 mismatched flow collection: '}' cannot close a '['"},
      {"{a]", "ERR 1:3 mismatched flow collection: ']' cannot close a '{'"},
      {"]", "ERR 1:1 unexpected ']' with no open flow collection"},
      {"a: }", "ERR 1:4 unexpected '}' with no open flow collection"},
      {"[a]]", "ERR 1:4 unexpected content after flow collection"},
      {"[a] b", "ERR 1:4 unexpected content after flow collection"},
      {"{a: 1} x", "ERR 1:7 unexpected content after flow collection"},
      {"[a,\nb]: c", "ERR 2:2 a multiline flow collection cannot be an implicit mapping key"},
      {"[a\n---\n]", "ERR 2:1 a document marker is not allowed inside a flow collection"},
      {"[\n...\n]", "ERR 2:1 a document marker is not allowed inside a flow collection"},
      {"[a\n: b]", "ERR 1:2 the implicit key of a flow sequence pair must be on one line"},
      {"[*a\n: b]", "ERR 2:1 the implicit key of a flow sequence pair must be on one line"},
      {"[-]", "ERR 1:2 a plain scalar cannot be a bare '-' here"},
      {"[- a]", "ERR 1:2 a plain scalar cannot be a bare '-' here"},
      {"[a, -]", "ERR 1:5 a plain scalar cannot be a bare '-' here"},
      {"k: [a,\nb]", "ERR 2:1 flow content must be indented more than its block context"},
      {"- [a,\nb]", "ERR 2:1 flow content must be indented more than its block context"},
      {"[a", "ERR 1:3 unclosed flow collection at end of input"},
      {"{a: [b]\n", "ERR 2:1 unclosed flow collection at end of input"},
  });
}

TEST(ScannerErrors, PlainAndQuotedScalars) {
  run_table({
      {"a\nb: c", "ERR 1:1 an implicit mapping key cannot span multiple lines"},
      {"k:\n  a\n  b: c", "ERR 2:3 an implicit mapping key cannot span multiple lines"},
      {"'a\nb': c", "ERR 1:1 an implicit mapping key cannot span multiple lines"},
      {"{a:\n b\n c: d}", "ERR 2:2 missing ',' between flow collection entries"},
      {"'abc", "ERR 1:1 unterminated single-quoted scalar"},
      {"k: 'a\n  b", "ERR 1:4 unterminated single-quoted scalar"},
      {"\"abc", "ERR 1:1 unterminated double-quoted scalar"},
      {"\"ab\\", "ERR 1:1 unterminated escape sequence"},
      {"\"\\q\"", "ERR 1:3 unknown escape character: '\\q'"},
      {"k: \"a\\\xC3\xA9\"", "ERR 1:7 unknown escape character: '\\\xC3\xA9'"},
      {"\"\\x4g\"", "ERR 1:5 invalid hex digit in unicode escape: 'g'"},
      {"\"\\u12\"", "ERR 1:6 invalid hex digit in unicode escape: '\"'"},
      {"\"\\x4", "ERR 1:1 incomplete unicode escape"},
      {"\"\\uD800\"", "ERR 1:1 invalid unicode code point: U+D800"},
      {"\"\\uDFFF\"", "ERR 1:1 invalid unicode code point: U+DFFF"},
      {"\"\\U00110000\"", "ERR 1:1 invalid unicode code point: U+110000"},
      {"\"\\UFFFFFFFF\"", "ERR 1:1 invalid unicode code point: U+FFFFFFFF"},
      {"key: \"a\nb\"", "ERR 2:1 a multi-line quoted scalar must be indented past its block context"},
      {"a:\n  b:\n    'x\n  y'", "ERR 4:3 a multi-line quoted scalar must be indented past its block context"},
      {"- \"a\nb\"", "ERR 2:1 a multi-line quoted scalar must be indented past its block context"},
      {"\"a\n---\n\"", "ERR 1:1 a document marker cannot appear inside a quoted scalar"},
      {"'a\n...\n'", "ERR 1:1 a document marker cannot appear inside a quoted scalar"},
      {"\"a\\\n...\n\"", "ERR 1:1 a document marker cannot appear inside a quoted scalar"},
      {"'a' b", "ERR 1:4 unexpected content after quoted scalar"},
      {"\"a\"b", "ERR 1:4 unexpected content after quoted scalar"},
      {"k: 'a'  [b]", "ERR 1:7 unexpected content after quoted scalar"},
  });
}

TEST(ScannerErrors, BlockScalars) {
  run_table({
      {"k: |0", "ERR 1:5 unexpected content after block scalar indicator"},
      {"k: |--", "ERR 1:6 unexpected content after block scalar indicator"},
      {"k: |+-", "ERR 1:6 unexpected content after block scalar indicator"},
      {"k: |12", "ERR 1:6 unexpected content after block scalar indicator"},
      {"k: | x", "ERR 1:6 unexpected content after block scalar indicator"},
      {"k: >-2x", "ERR 1:7 unexpected content after block scalar indicator"},
      {"k: |#", "ERR 1:5 a comment must be preceded by whitespace"},
      {"key: |\n     \n  text", "ERR 1:6 a leading empty line in a block scalar is indented more than the content"},
  });
}

TEST(ScannerErrors, DirectivesMarkersProperties) {
  run_table({
      {"a\n%YAML 1.2\n---", "P\"a %YAML 1.2\" ---"},
      {"---\n%YAML 1.2\n---", "ERR 2:1 a directive must start the stream or follow a document-end marker (...)"},
      {"a: b\n%X", "ERR 2:1 a directive must start the stream or follow a document-end marker (...)"},
      {"... x", "ERR 1:1 unexpected content after document-end marker (...)"},
      {"a\n... [b]", "ERR 2:1 unexpected content after document-end marker (...)"},
      {"*", "ERR 1:1 expected alias name"},
      {"[*]", "ERR 1:2 expected alias name"},
      {"&", "ERR 1:1 expected anchor name"},
      {"& a", "ERR 1:1 expected anchor name"},
      {"k: !<x", "ERR 1:4 unterminated verbatim tag: expected '>'"},
      {"!<x y>", "ERR 1:1 unterminated verbatim tag: expected '>'"},
      {"!<>", "ERR 1:1 a verbatim tag must not be empty"},
  });
}

// Sound behaviour where the rules as first drafted gave a silently wrong
// result.
TEST(ScannerErrors, SoundBehaviour) {
  run_table({
      // A second ":" in one flow entry means a "," is missing.
      {"{\n foo: 1\n bar: 2 }", "ERR 2:7 missing ',' between flow collection entries"},
      {"{foo: 1 bar: 2}", "ERR 1:12 missing ',' between flow collection entries"},
      {"[a: b: c]", "ERR 1:6 missing ',' between flow collection entries"},
      {"{a: \"b\": c}", "ERR 1:8 missing ',' between flow collection entries"},
      {"{? a : b : c}", "ERR 1:10 missing ',' between flow collection entries"},
      // A key taken from a saved position bars a block sequence on its line.
      {"&x a: - b", "ERR 1:7 a block sequence cannot start on the same line as its mapping key"},
      {"[k]: - a", "ERR 1:6 a block sequence cannot start on the same line as its mapping key"},
      {"*a : - b", "ERR 1:6 a block sequence cannot start on the same line as its mapping key"},
      // A ":" or "?" right after a complete flow node starts a new entry.
      {"[*a :b]", "ERR 1:5 missing ',' between flow collection entries"},
      {"[\"a\" ? b]", "ERR 1:6 missing ',' between flow collection entries"},
      {"[*a ? b]", "ERR 1:5 missing ',' between flow collection entries"},
      {"{[a] ? b}", "ERR 1:6 missing ',' between flow collection entries"},
      // A plain scalar does not run over a document marker inside a flow
      // collection.
      {"[a\n---\n]", "ERR 2:1 a document marker is not allowed inside a flow collection"},
      {"{a: b\n...\n}", "ERR 2:1 a document marker is not allowed inside a flow collection"},
  });
  // Texts too large for 32-bit lines and columns are refused up front.
  // (Checked without allocating 2 GiB: the length alone decides.)
  qf::Scanner big(std::string_view("a", 1));
  big.cursor.length = qf::kMaxScanLength;
  auto r = qf::tokenize(big);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error->message, "input text too large: 2 GiB or more");
  EXPECT_TRUE(r.tokens.empty());
}

}  // namespace
