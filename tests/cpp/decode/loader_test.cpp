#include "decode/loader.hpp"

#include <gtest/gtest.h>
#include <pthread.h>

#include <chrono>
#include <string>
#include <vector>

#include "decode/keys.hpp"
#include "decode/merge.hpp"
#include "render.hpp"

namespace {

using qf::DecodedStream;
using qf::DecodeSettings;
using qf::LoadErrorKind;
using qf::ResolverMode;
using qf_test::render;

DecodedStream load(std::string_view text, DecodeSettings s = {}) {
  return qf::decode_documents(text, s);
}

// All documents rendered and joined by " | ", or "ERR: message @line:col"
// (1-based) for a failure.
std::string docs(std::string_view text, DecodeSettings s = {}) {
  DecodedStream out = load(text, s);
  if (!out.ok())
    return "ERR: " + out.error->message + " @" + std::to_string(out.error->span.line + 1) + ":" +
           std::to_string(out.error->span.column + 1);
  std::string r;
  for (size_t i = 0; i < out.documents.size(); ++i) {
    if (i) r += " | ";
    r += render(out.documents[i]);
  }
  return r;
}

struct Case {
  const char* yaml;
  const char* expected;
};

void run_table(const std::vector<Case>& cases, DecodeSettings s = {}) {
  for (const Case& c : cases) EXPECT_EQ(docs(c.yaml, s), c.expected) << "input: " << c.yaml;
}

TEST(StreamStructure, Documents) {
  run_table({
      {"", ""},
      {"# only a comment\n", ""},
      {"...\n", ""},
      {"---\n", "null"},
      {"---\n---\n", "null | null"},
      {"a\n---\nb\n", "\"a\" | \"b\""},
      {"a\n...\nb\n", "\"a\" | \"b\""},
      {"%YAML 1.2 # comment\n---\nx\n", "\"x\""},
      {"%YAML 2.0\n---\nx\n", "\"x\""},
      {"%FOO bar\n---\nx\n", "\"x\""},
      {"%TAG !x\n---\nx\n", "\"x\""},
      {"%YAML 1.2\n---\na\n...\n%YAML 1.2\n---\nb\n", "\"a\" | \"b\""},
      {"a\n...\n%YAML 1.2\n---\nb\n", "\"a\" | \"b\""},
      {"--- a\n--- b\n", "\"a\" | \"b\""},
      {"- 1\n- 2\n", "[1, 2]"},
      {"a: 1\nb: [x, {y: z}]\n", "{\"a\": 1, \"b\": [\"x\", {\"y\": \"z\"}]}"},
  });
}

TEST(StreamStructure, Errors) {
  run_table({
      {"%YAML 1.2\n", "ERR: directive must be followed by a document start (---) @1:1"},
      {"%YAML 1.2.3\n---\n", "ERR: invalid %YAML directive @1:1"},
      {"%YAML 1\n---\n", "ERR: invalid %YAML directive @1:1"},
      {"%YAML 1.\n---\n", "ERR: invalid %YAML directive @1:1"},
      {"%YAML +1.2\n---\n", "ERR: invalid %YAML directive @1:1"},
      {"%YAML\n---\n", "ERR: invalid %YAML directive @1:1"},
      {"%YAML 1.2 extra\n---\n", "ERR: invalid %YAML directive @1:1"},
      {"%YAML 1.2\n%YAML 1.2\n---\n", "ERR: duplicate %YAML directive @2:1"},
      {"%TAG !a! tag:x,\n%TAG !a! tag:y,\n---\n", "ERR: duplicate %TAG directive for handle '!a!' @2:1"},
      {"%TAG !a! tag:x,\n---\n!a!b x\n---\n!a!b y\n", "ERR: undefined tag handle: !a! @5:1"},
      {"key: value\n- item\n", "ERR: a block collection cannot be a mapping key @2:1"},
  });
}

TEST(StreamStructure, ErrorDiscardsEarlierDocumentsAndWarnings) {
  DecodeSettings s;
  s.mode = ResolverMode::Yaml11;
  s.yaml11_warn = true;
  DecodedStream out = load("yes\n---\non\n---\n[unclosed\n", s);
  ASSERT_FALSE(out.ok());
  EXPECT_TRUE(out.documents.empty());
  EXPECT_TRUE(out.warnings.empty());
}

TEST(StreamStructure, ScanErrorKeepsPosition) {
  DecodedStream out = load("a:\n\tb: c\n");
  ASSERT_FALSE(out.ok());
  EXPECT_EQ(out.error->kind, LoadErrorKind::Parse);
  EXPECT_FALSE(out.error->message.empty());
}

TEST(Collections, Shapes) {
  run_table({
      {"? a\n", "{\"a\": null}"},
      {"? a\n: b\n", "{\"a\": \"b\"}"},
      {"{a, : b, c: d,}", "{\"a\": null, null: \"b\", \"c\": \"d\"}"},
      {"[a, b: c, : d]", "[\"a\", {\"b\": \"c\"}, {null: \"d\"}]"},
      {"[a: 1, a: 2]", "[{\"a\": 1}, {\"a\": 2}]"},
      {"- a\n-\n- b\n-\n", "[\"a\", null, \"b\", null]"},
      {"k:\n- a\n- b\n", "{\"k\": [\"a\", \"b\"]}"},
      {"k:\n-\nj: 1\n", "{\"k\": [null], \"j\": 1}"},
      {"[a, b,]", "[\"a\", \"b\"]"},
      {"a: b\n&x c\n", "{\"a\": \"b\", \"c\": null}"},
      {"a:\n", "{\"a\": null}"},
  });
}

TEST(Collections, Errors) {
  run_table({
      {"a: b\nc\n", "ERR: expected ':' after mapping key @2:1"},
      {"- - a\n  - b\n  c: d\n", "ERR: a block sequence entry must start with '-' @3:3"},
  });
}

TEST(Tags, Expansion) {
  run_table({
      {"!!str 12", "\"12\""},
      {"!!int '12'", "12"},
      {"!!str", "\"\""},
      {"!!null", "null"},
      {"!x", "!x(\"\")"},
      {"! 12", "!(\"12\")"},
      {"!x 12", "!x(\"12\")"},
      {"!<tag:e.com,2000:x> a", "!<tag:e.com,2000:x>(\"a\")"},
      {"!<tag:yaml.org,2002:str> 1", "!<tag:yaml.org,2002:str>(\"1\")"},
      {"%TAG !e! tag:e.com,2000:\n---\n!e!foo a", "tag:e.com,2000:foo(\"a\")"},
      {"%TAG ! tag:yaml.org,2002:\n---\n!int 7", "7"},
      {"%TAG !! tag:e.com,2000:\n---\n!!int 7", "tag:e.com,2000:int(\"7\")"},
      {"%TAG !! tag:yaml.org,2002:\n---\n!!int 7", "7"},
      {"!t [a]", "!t([\"a\"])"},
      {"!t {a: b}", "!t({\"a\": \"b\"})"},
      {"k: !t\n- a\n", "{\"k\": !t([\"a\"])}"},
      {"!t &a x", "!t(\"x\")"},
      {"&a !t x", "!t(\"x\")"},
      {"!a !b x", "!b(\"x\")"},
      {"!!timestamp 2001-01-01", "\"2001-01-01\""},
  });
  run_table({{"!!merge x", "\"<<\""}}, DecodeSettings{ResolverMode::Yaml11});
}

TEST(Tags, Errors) {
  run_table({
      {"!e!x a", "ERR: undefined tag handle: !e! @1:1"},
  });
}

TEST(Scalars, TimestampsOnlyWhenAskedAndOnlyPlainUntagged) {
  DecodeSettings on;
  on.timestamps = true;
  run_table({{"2001-02-03", "ts(2001-02-03)"},
             {"'2001-02-03'", "\"2001-02-03\""},
             {"!!str 2001-02-03", "\"2001-02-03\""},
             {"2001-02-03T04:05:06Z", "ts(2001-02-03T04:05:06+00:00)"}},
            on);
  run_table({{"2001-02-03", "\"2001-02-03\""}});
}

// Quoted and block scalars without a tag are strings under every rule set,
// whatever their text would mean plain; a tag still decides.
TEST(Scalars, QuotedAndBlockScalarsAreStringsInEveryMode) {
  const char* words[] = {"null", "~", "true", "yes", "on", "1", "0x1f", "0o17", "1_000", "1.5",
                         ".inf", ".nan", "<<", "2001-02-03", "1:30", "=", ""};
  for (unsigned k = 0; k < 6; ++k) {
    DecodeSettings s;
    s.mode = static_cast<ResolverMode>(k % 3);
    s.timestamps = k >= 3;
    for (const char* w : words) {
      const std::string word = w;
      const std::string quoted = "\"" + word + "\"";
      EXPECT_EQ(docs("- '" + word + "'\n- " + quoted + "\n- |-\n  " + word + "\n- >-\n  " + word +
                         "\n- {'" + word + "': " + quoted + "}\n",
                     s),
                "[" + quoted + ", " + quoted + ", " + quoted + ", " + quoted + ", {" + quoted + ": " +
                    quoted + "}]")
          << word << " mode " << k;
    }
    EXPECT_EQ(docs("- !!int '1'\n- !!bool \"true\"\n- !!null |-\n  null\n", s), "[1, true, null]");
  }
}

TEST(Scalars, BigIntegersStayCanonical) {
  run_table({
      {"9223372036854775807", "9223372036854775807"},
      {"-9223372036854775808", "-9223372036854775808"},
      {"9223372036854775808", "big(9223372036854775808)"},
      {"+9223372036854775808", "big(9223372036854775808)"},
      {"0x8000000000000000", "big16(8000000000000000)"},
  });
  for (ResolverMode mode : {ResolverMode::Yaml11, ResolverMode::KestilCompat}) {
    run_table({{"9_223_372_036_854_775_808", "big(9223372036854775808)"},
               {"+9223372036854775808", "big(9223372036854775808)"},
               {"-9223372036854775808", "-9223372036854775808"},
               {"-9_223_372_036_854_775_808", "-9223372036854775808"},
               {"0xFFFF_FFFF_FFFF_FFFF", "big16(ffffffffffffffff)"}},
              DecodeSettings{mode});
  }
}

TEST(Scalars, BigHexLiteralIsFast) {
  std::string text = "0x" + std::string(1'000'000, 'f');
  auto t0 = std::chrono::steady_clock::now();
  DecodedStream out = load(text);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  ASSERT_TRUE(out.ok());
  EXPECT_EQ(out.documents[0].kind(), qf::ValueKind::BigInt);
  EXPECT_LT(ms, 2000);
}

TEST(Yaml11Warnings, TextAndPosition) {
  DecodeSettings s;
  s.mode = ResolverMode::Yaml11;
  s.yaml11_warn = true;
  DecodedStream out = load("a: yes\nb: 'yes'\nc:\n  - 010\n", s);
  ASSERT_TRUE(out.ok());
  ASSERT_EQ(out.warnings.size(), 2u);
  EXPECT_EQ(out.warnings[0], "YAML 1.1 syntax 'yes' resolves as bool in 1.1 but str in 1.2 at line 1, column 4");
  EXPECT_EQ(out.warnings[1], "YAML 1.1 syntax '010' resolves as int in 1.1 but str in 1.2 at line 4, column 5");
  s.yaml11_warn = false;
  EXPECT_TRUE(load("a: yes\n", s).warnings.empty());
}

// A scalar warns exactly when the resolver calls it ambiguous, whatever its
// style, tag or place: the scalars read as strings without the resolver
// must be the ones that never warn.
TEST(Yaml11Warnings, ExactlyTheAmbiguousScalarsWarn) {
  DecodeSettings s;
  s.mode = ResolverMode::Yaml11;
  s.yaml11_warn = true;
  const std::vector<std::string> words = {
      "yes", "Yes", "NO", "on", "Off", "y", "n", "~", "null", "true", "TRUE", "010", "0o17",
      "0x1F", "1_000", "1:20", "+12", ".5", "1e3", "0b101", "-.inf", ".NaN", "=",
      "yesterday", "onion", "nothing", "12abc", "2001-12-14", "a much longer plain word"};
  const qf::ScalarTag str_tag = std::string_view("tag:yaml.org,2002:str");
  for (const std::string& w : words) {
    struct Form {
      std::string text;
      qf::ScalarStyle style;
      qf::ScalarTag tag;
    };
    for (const Form& f : {Form{w, qf::ScalarStyle::Plain, std::nullopt},
                          Form{"'" + w + "'", qf::ScalarStyle::SingleQuoted, std::nullopt},
                          Form{"\"" + w + "\"", qf::ScalarStyle::DoubleQuoted, std::nullopt},
                          Form{"!!str " + w, qf::ScalarStyle::Plain, str_tag}}) {
      const size_t expected =
          qf::yaml11_ambiguity(ResolverMode::Yaml11, w, f.style, f.tag).has_value() ? 1 : 0;
      for (const std::string& text : {"k: " + f.text + "\n", f.text + ": v\n", "- " + f.text + "\n",
                                      "[" + f.text + "]\n", f.text + "\n"}) {
        DecodedStream out = load(text, s);
        ASSERT_TRUE(out.ok()) << text;
        EXPECT_EQ(out.warnings.size(), expected) << text;
      }
    }
  }
}

// ---- anchors and aliases ----

TEST(Anchors, Aliases) {
  run_table({
      {"a: &x 1\nb: *x\n", "{\"a\": 1, \"b\": 1}"},
      {"- &x [a, {b: c}]\n- *x\n", "[[\"a\", {\"b\": \"c\"}], [\"a\", {\"b\": \"c\"}]]"},
      {"- &x a\n- &x b\n- *x\n", "[\"a\", \"b\", \"b\"]"},
      {"- &x a\n- &x [*x]\n- *x\n", "[\"a\", [\"a\"], [\"a\"]]"},
      {"a: &x\nb: *x\n", "{\"a\": null, \"b\": null}"},
      {"- &x !t a\n- *x\n", "[!t(\"a\"), !t(\"a\")]"},
      {"- &x !t [a]\n- *x\n", "[!t([\"a\"]), !t([\"a\"])]"},
      {"- &x\n  - &y [1]\n  - *y\n- *x\n- *y\n", "[[[1], [1]], [[1], [1]], [1]]"},
      {"&a [&b [&c [1]]]\n", "[[[1]]]"},
      {"? &k [1]\n: *k\n", "{[1]: [1]}"},
  });
}

TEST(Anchors, Errors) {
  run_table({
      {"- *x\n- &x a\n", "ERR: unknown alias: *x @1:3"},
      {"&x [*x]\n", "ERR: unknown alias: *x @1:5"},
      {"&a &b x\n", "ERR: a node cannot have two anchors @1:4"},
      {"- &x a\n- &y *x\n", "ERR: an alias node cannot have an anchor or tag @2:6"},
      {"- &x a\n- !t *x\n", "ERR: an alias node cannot have an anchor or tag @2:6"},
      {"a: &x 1\n---\nb: *x\n", "ERR: unknown alias: *x @3:4"},
  });
}

TEST(Limits, AliasBudgetIsExact) {
  // An anchored sequence of 99 scalars counts 100 nodes; 100,000 aliases to it
  // expand to exactly 10,000,000 nodes.
  std::string text = "- &a [";
  for (int i = 0; i < 99; ++i) text += i ? ",1" : "1";
  text += "]\n";
  std::string ok = text + "- [";
  for (int i = 0; i < 100000; ++i) ok += i ? ",*a" : "*a";
  ok += "]\n";
  DecodedStream out = load(ok);
  ASSERT_TRUE(out.ok()) << out.error->message;
  out.documents.clear();
  std::string over = text + "- [";
  for (int i = 0; i < 100001; ++i) over += i ? ",*a" : "*a";
  over += "]\n";
  out = load(over);
  ASSERT_FALSE(out.ok());
  EXPECT_EQ(out.error->message, "document expands to too many nodes (possible alias bomb)");
  EXPECT_EQ(out.error->span.line, 1u);
  EXPECT_EQ(out.error->span.column, 3u + 3u * 100000u);
}

TEST(Limits, AliasChargesByNodeCount) {
  // A scalar charges 1, a custom-tagged scalar 2, a mapping of two scalar
  // pairs 5, a tagged sequence of a scalar and a tagged scalar 5: 13 in all.
  // Scalar aliases fill the rest of the budget exactly; one more fails.
  const uint64_t probes = 1 + 2 + 5 + 5;
  std::string head = "- &s x\n- &k [";
  for (int i = 0; i < 999; ++i) head += i ? ",1" : "1";
  head += "]\n- &v1 a\n- &v2 !t a\n- &v5 {a: 1, b: 2}\n- &w5 !t [1, !u 2]\n- [*v1, *v2, *v5, *w5";
  auto build = [&](uint64_t fill) {
    std::string t = head;
    for (uint64_t i = 0; i < fill / 1000; ++i) t += ", *k";
    for (uint64_t i = 0; i < fill % 1000; ++i) t += ", *s";
    t += "]\n";
    return t;
  };
  EXPECT_TRUE(load(build(10'000'000 - probes)).ok());
  DecodedStream out = load(build(10'000'000 - probes + 1));
  ASSERT_FALSE(out.ok());
  EXPECT_EQ(out.error->message, "document expands to too many nodes (possible alias bomb)");
}

TEST(Limits, AliasBudgetSpansDocuments) {
  // 6,000,000 nodes per document: the second document crosses the budget.
  std::string doc = "- &a [";
  for (int i = 0; i < 999; ++i) doc += i ? ",1" : "1";
  doc += "]\n- [";
  for (int i = 0; i < 6000; ++i) doc += i ? ",*a" : "*a";
  doc += "]\n";
  DecodedStream out = load(doc + "---\n" + doc);
  ASSERT_FALSE(out.ok());
  EXPECT_EQ(out.error->message, "document expands to too many nodes (possible alias bomb)");
  EXPECT_EQ(out.error->span.line, 4u);
}

TEST(Limits, NestingDepth) {
  auto nested = [](int depth) {
    std::string t;
    for (int i = 1; i < depth; ++i) t += "[";
    t += "x";
    for (int i = 1; i < depth; ++i) t += "]";
    return t;
  };
  EXPECT_TRUE(load(nested(1000)).ok());
  // Block nesting reaches the decoder's own limit.
  std::string block;
  for (int i = 0; i < 1000; ++i) block += std::string(size_t(i), ' ') + "k:\n";
  block += std::string(1000, ' ') + "v\n";
  EXPECT_EQ(docs(block).substr(0, 44), "ERR: maximum nesting depth (1000) exceeded @");
  std::string fits;
  for (int i = 0; i < 999; ++i) fits += std::string(size_t(i), ' ') + "k:\n";
  EXPECT_TRUE(load(fits).ok());
}

// Nested anchors used to copy every anchored subtree at registration, so
// memory grew with anchors times size.
TEST(SoundBehaviour, NestedAnchorsDoNotMultiplyWork) {
  std::string text;
  for (int i = 0; i < 900; ++i) text += "&a" + std::to_string(i) + " [";
  text += "[";
  for (int i = 0; i < 200000; ++i) text += i ? ",1" : "1";
  text += "]";
  text += std::string(900, ']');
  auto t0 = std::chrono::steady_clock::now();
  DecodedStream out = load(text);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  ASSERT_TRUE(out.ok()) << out.error->message;
  EXPECT_LT(ms, 3000);
}

// A chain of anchors, each nesting the previous one 900 levels deeper, makes a
// value tree about 90,000 levels deep from a small text; copying, merging,
// key identity and release must not recurse.
std::string deep_alias_chain(int links, int depth_per_link, bool as_keys) {
  std::string t = "- &a0 x\n";
  for (int i = 1; i <= links; ++i) {
    t += "- &a" + std::to_string(i) + " " + std::string(size_t(depth_per_link), '[') + "*a" +
         std::to_string(i - 1) + std::string(size_t(depth_per_link), ']') + "\n";
  }
  if (as_keys) {
    std::string last = "*a" + std::to_string(links);
    t += "- {" + last + " : 1, <<: {k: v}}\n";
  }
  return t;
}

struct ThreadResult {
  bool ok = false;
  bool merged = false;
  bool dup_found = false;
};

void* deep_worker(void* arg) {
  auto* r = static_cast<ThreadResult*>(arg);
  DecodeSettings s;
  s.dup_error = true;
  {
    // The decoder's own recursion at its nesting limit.
    std::string block;
    for (int i = 0; i < 999; ++i) block += std::string(size_t(i), ' ') + "k:\n";
    if (!qf::decode_documents(block, s).ok()) return nullptr;
  }
  {
    DecodedStream out = qf::decode_documents(deep_alias_chain(100, 900, true), s);
    r->ok = out.ok();
    if (r->ok) {
      const qf::Value& last = out.documents[0].items().back();
      r->merged = last.is(qf::ValueKind::Mapping) && last.pairs().size() == 2;
      // Fingerprints and copies of the deep key must not recurse either.
      std::string fp = qf::duplicate_key_fingerprint(last.pairs()[0].key);
      qf::Value copy = qf::deep_copy_value(out.documents[0]);
      std::string canon;
      qf::write_canonical_value_key(canon, copy);
      qf::strip_merge_markers(copy);
      qf::apply_merge_keys(copy);
    }
  }
  {
    // A duplicate deep key: fingerprint and debug text of the message.
    std::string t = deep_alias_chain(100, 900, false) + "- {*a100 : 1, *a100 : 2}\n";
    DecodedStream out = qf::decode_documents(t, s);
    r->dup_found = !out.ok() && out.error->kind == LoadErrorKind::DuplicateKey &&
                   out.error->message.starts_with("duplicate mapping key: Sequence([Sequence([");
  }
  return nullptr;
}

TEST(SoundBehaviour, DeepAliasChainsOnSmallStack) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 256 * 1024);
  ThreadResult result;
  pthread_t th;
  ASSERT_EQ(pthread_create(&th, &attr, deep_worker, &result), 0);
  pthread_join(th, nullptr);
  pthread_attr_destroy(&attr);
  EXPECT_TRUE(result.ok);
  EXPECT_TRUE(result.merged);
  EXPECT_TRUE(result.dup_found);
}

// ---- key policies ----

DecodeSettings dup_error() {
  DecodeSettings s;
  s.dup_error = true;
  return s;
}
DecodeSettings dup_warn() {
  DecodeSettings s;
  s.dup_warn = true;
  return s;
}

TEST(KeyPolicies, DuplicateErrors) {
  run_table(
      {
          {"a: 1\na: 2\n", "ERR: duplicate mapping key: a @2:1"},
          {"true: 1\n1: 2\n", "ERR: duplicate mapping key: Int(1) @2:1"},
          {"0: a\nfalse: b\n", "ERR: duplicate mapping key: Bool(false) @2:1"},
          {"1: a\n1.0: b\n", "ERR: duplicate mapping key: Float(1.0) @2:1"},
          {"0.0: a\n-0.0: b\n", "ERR: duplicate mapping key: Float(-0.0) @2:1"},
          {"0.5: a\n0.5: b\n", "ERR: duplicate mapping key: Float(0.5) @2:1"},
          {".nan: a\n.nan: b\n", "ERR: duplicate mapping key: Float(NaN) @2:1"},
          {"'<<': a\n'<<': b\n", "ERR: duplicate mapping key: << @2:1"},
          {"[a, 1]: x\n[a, 1.0]: y\n", "ERR: duplicate mapping key: Sequence([String(\"a\"), Float(1.0)]) @2:1"},
          {"? [[a, 1]]\n: x\n? {a: 1}\n: y\n", "ERR: duplicate mapping key: Mapping([(String(\"a\"), Int(1))]) @3:1"},
          {"!t a: 1\n!t a: 2\n", "ERR: duplicate mapping key: Tagged(\"!t\", String(\"a\")) @2:1"},
          // Integers of any size and integral floats meet as the host's dict sees them.
          {"9223372036854775808: a\n+9223372036854775808: b\n",
           "ERR: duplicate mapping key: BigInt(\"9223372036854775808\") @2:1"},
          {"0x10000000000000000: a\n18446744073709551616: b\n",
           "ERR: duplicate mapping key: BigInt(\"18446744073709551616\") @2:1"},
          {"1e20: a\n100000000000000000000: b\n", "ERR: duplicate mapping key: BigInt(\"100000000000000000000\") @2:1"},
          {"-9223372036854775808: a\n-9.223372036854775808e18: b\n",
           "ERR: duplicate mapping key: Float(-9.223372036854776e18) @2:1"},
      },
      dup_error());
  run_table({{"9_223_372_036_854_775_808: a\n9223372036854775808: b\n",
              "ERR: duplicate mapping key: BigInt(\"9223372036854775808\") @2:1"}},
            DecodeSettings{ResolverMode::Yaml11, true});
}

TEST(KeyPolicies, NotDuplicates) {
  run_table(
      {
          {"1: a\n'1': b\n", "{1: \"a\", \"1\": \"b\"}"},
          {"a: {x: 1}\nb: {x: 2}\nx: 3\n", "{\"a\": {\"x\": 1}, \"b\": {\"x\": 2}, \"x\": 3}"},
          {"1e20: a\n100000000000000000001: b\n", "{1e+20f: \"a\", big(100000000000000000001): \"b\"}"},
          {"!t \"a:s:1:b\": 1\n!t:s:7:a b: 2\n", "{!t(\"a:s:1:b\"): 1, !t:s:7:a(\"b\"): 2}"},
          {"<<: {a: 1}\n<<: {b: 2}\n", "{\"a\": 1, \"b\": 2}"},
          {"[a, b]: 1\n[b, a]: 2\n", "{[\"a\", \"b\"]: 1, [\"b\", \"a\"]: 2}"},
          {"[a: 1, a: 2]", "[{\"a\": 1}, {\"a\": 2}]"},
      },
      dup_error());
  // Aware timestamps compare by their instant, naive ones and dates apart.
  DecodeSettings ts = dup_error();
  ts.timestamps = true;
  run_table({{"2001-01-01T00:00:00: a\n2001-01-01 00:00:00: b\n",
              "ERR: duplicate mapping key: Timestamp(DateTime { year: 2001, month: 1, day: 1, hour: 0, "
              "minute: 0, second: 0, microsecond: 0, offset_minutes: None }) @2:1"},
             {"2001-01-01T01:00:00+01:00: a\n2001-01-01T00:00:00Z: b\n",
              "ERR: duplicate mapping key: Timestamp(DateTime { year: 2001, month: 1, day: 1, hour: 0, "
              "minute: 0, second: 0, microsecond: 0, offset_minutes: Some(0) }) @2:1"},
             {"2001-01-01: a\n2001-01-01T00:00:00: b\n2001-01-01T00:00:00Z: c\n",
              "{ts(2001-01-01): \"a\", ts(2001-01-01T00:00:00): \"b\", ts(2001-01-01T00:00:00+00:00): \"c\"}"}},
            ts);
  run_table({{"2001-01-01T00:00:00: a\n2001-01-01 00:00:00: b\n",
              "{\"2001-01-01T00:00:00\": \"a\", \"2001-01-01 00:00:00\": \"b\"}"}},
            dup_error());
}

TEST(KeyPolicies, DuplicateWarnings) {
  DecodedStream out = load("a: 1\na: 2\n{b: 1, b: 2}: x\n", dup_warn());
  ASSERT_TRUE(out.ok());
  ASSERT_EQ(out.warnings.size(), 2u);
  EXPECT_EQ(out.warnings[0], "duplicate mapping key 'a' at line 2, column 1; keeping the last value");
  EXPECT_EQ(out.warnings[1], "duplicate mapping key 'b' at line 3, column 8; keeping the last value");
  EXPECT_EQ(render(out.documents[0]), "{\"a\": 1, \"a\": 2, {\"b\": 1, \"b\": 2}: \"x\"}");
  // Warnings from the inner mapping come first: it is decoded before the outer pair is added.
  out = load("x: {b: 1, b: 2}\nx: 3\n", dup_warn());
  ASSERT_EQ(out.warnings.size(), 2u);
  EXPECT_EQ(out.warnings[0], "duplicate mapping key 'b' at line 1, column 11; keeping the last value");
  EXPECT_EQ(out.warnings[1], "duplicate mapping key 'x' at line 2, column 1; keeping the last value");
  // Error wins when both are set.
  DecodeSettings both = dup_warn();
  both.dup_error = true;
  out = load("a: 1\na: 2\n", both);
  ASSERT_FALSE(out.ok());
  EXPECT_EQ(out.error->kind, LoadErrorKind::DuplicateKey);
  // No policy: both pairs kept, nothing reported.
  out = load("a: 1\na: 2\n");
  ASSERT_TRUE(out.ok());
  EXPECT_TRUE(out.warnings.empty());
}

TEST(KeyPolicies, ComplexKeys) {
  DecodeSettings s;
  s.reject_complex_keys = true;
  run_table(
      {
          {"[a]: 1\n", "ERR: complex mapping key (a sequence used as a key) @1:1"},
          {"x: 0\n{a: b}: 1\n", "ERR: complex mapping key (a mapping used as a key) @2:1"},
          {"? [a]\n: 1\n", "ERR: complex mapping key (a sequence used as a key) @1:1"},
          {"- [[a]: 1]\n", "ERR: complex mapping key (a sequence used as a key) @1:4"},
          {"- [? [a] : 1]\n", "ERR: complex mapping key (a sequence used as a key) @1:4"},
          {"!t [a]: 1\n", "{!t([\"a\"]): 1}"},
          {": 1\n", "{null: 1}"},
      },
      s);
  DecodedStream out = load("[a]: 1\n", s);
  ASSERT_FALSE(out.ok());
  EXPECT_EQ(out.error->kind, LoadErrorKind::ComplexKey);
  run_table({{"[a]: 1\n", "{[\"a\"]: 1}"}});
}

TEST(KeyPolicies, BlockCollectionKey) {
  run_table({
      {"a: 1\n? - x\n: 1\n", "{\"a\": 1, [\"x\"]: 1}"},
  });
}

// When the host drops custom tags, keys equal but for their tags are one key
// there, so they are one key for the duplicate and merge rules too.
TEST(KeyPolicies, DroppedTags) {
  DecodeSettings s = dup_error();
  s.custom_tags_dropped = true;
  run_table(
      {
          {"!t a: 1\na: 2\n", "ERR: duplicate mapping key: a @2:1"},
          {"a: 1\n!t a: 2\n", "ERR: duplicate mapping key: a @2:1"},
          {"!t a: 1\n!u a: 2\n", "ERR: duplicate mapping key: a @2:1"},
          {"[a]: 1\n[!t a]: 2\n", "ERR: duplicate mapping key: Sequence([Tagged(\"!t\", String(\"a\"))]) @2:1"},
          {"!t a: 1\nb: 2\n", "{!t(\"a\"): 1, \"b\": 2}"},
      },
      s);
  DecodeSettings merge;
  merge.custom_tags_dropped = true;
  run_table({{"x:\n  !t a: 2\n  <<: {a: 1}\n", "{\"x\": {!t(\"a\"): 2}}"},
             {"x:\n  <<: {!t a: 1}\n  a: 2\n", "{\"x\": {!t(\"a\"): 2}}"}},
            merge);
  // Kept tags keep the keys apart.
  run_table({{"x:\n  !t a: 2\n  <<: {a: 1}\n", "{\"x\": {!t(\"a\"): 2, \"a\": 1}}"}});
  run_table({{"!t a: 1\na: 2\n", "{!t(\"a\"): 1, \"a\": 2}"}}, dup_error());
  // A merge marker inside a key is the "<<" it becomes.
  run_table({{"[<<]: 1\n['<<']: 2\n", "ERR: duplicate mapping key: Sequence([String(\"<<\")]) @2:1"}},
            dup_error());
}

// An explicit key whose content is a block sequence at the column of its "?".
TEST(KeyPolicies, ExplicitKeyIndentlessSequence) {
  run_table({
      {"?\n- a\n- b\n: x\n", "{[\"a\", \"b\"]: \"x\"}"},
      {"?\n- a\n", "{[\"a\"]: null}"},
      {"x:\n  ?\n  - a\n  : y\n", "{\"x\": {[\"a\"]: \"y\"}}"},
      {"---\n?\n- a\n- b\n:\n- c\n- d\n", "{[\"a\", \"b\"]: [\"c\", \"d\"]}"},
  });
  DecodeSettings s;
  s.reject_complex_keys = true;
  run_table({{"?\n- a\n: x\n", "ERR: complex mapping key (a sequence used as a key) @1:1"}}, s);
}

// ---- merge keys ----

TEST(MergeKeys, Precedence) {
  run_table({
      {"base: &b {a: 1, b: 2}\nm:\n  <<: *b\n  b: 3\n", "{\"base\": {\"a\": 1, \"b\": 2}, \"m\": {\"a\": 1, \"b\": 3}}"},
      {"base: &b {a: 1, b: 2}\nm:\n  b: 3\n  <<: *b\n", "{\"base\": {\"a\": 1, \"b\": 2}, \"m\": {\"b\": 3, \"a\": 1}}"},
      {"- &x {c: 1}\n- &y {c: 2, d: 2}\n- <<: [*x, *y]\n", "[{\"c\": 1}, {\"c\": 2, \"d\": 2}, {\"c\": 1, \"d\": 2}]"},
      {"<<: {a: 1}\n<<: {a: 2, b: 2}\n", "{\"a\": 1, \"b\": 2}"},
      {"x: 0\n<<: {a: 1, a: 2, b: 3}\n", "{\"x\": 0, \"a\": 2, \"b\": 3}"},
      {"a: 1\na: 2\n<<: {c: 3}\n", "{\"a\": 2, \"c\": 3}"},
      {"- &m {a: 1, <<: {z: 0}}\n- <<: *m\n  b: 2\n", "[{\"a\": 1, \"z\": 0}, {\"a\": 1, \"z\": 0, \"b\": 2}]"},
      // The host folds 1, 1.0 and true into one key: an explicit 1 keeps its value.
      {"1: a\n<<: {true: b}\n", "{1: \"a\"}"},
      {"<<: {true: b}\n1: a\n", "{true: \"a\"}"},
      {"1: a\n1.5: c\n<<: {1.0: b, 2: d}\n", "{1: \"a\", 1.5f: \"c\", 2: \"d\"}"},
  });
}

TEST(MergeKeys, Leftovers) {
  run_table({
      {"<<: 5\n", "{\"<<\": 5}"},
      {"<<: 5\n<<: 6\n", "{\"<<\": [5, 6]}"},
      {"- &m {a: 1}\n- <<: [*m, 7]\n", "[{\"a\": 1}, {\"a\": 1, \"<<\": [7]}]"},
      {"<<:\n", "{}"},
      {"<<: null\na: 1\n", "{\"a\": 1}"},
      {"<<: [[{a: 1}, 2], 3]\n", "{\"a\": 1, \"<<\": [[2], 3]}"},
      {"<<: !t {a: 1}\n", "{\"<<\": !t({\"a\": 1})}"},
      {"'<<': x\n<<: 5\n", "{\"<<\": \"x\"}"},
      {"<<: 5\n'<<': x\n", "{\"<<\": \"x\"}"},
      {"a: <<\n", "{\"a\": \"<<\"}"},
      {"- <<\n", "[\"<<\"]"},
      {"<<\n", "\"<<\""},
      {"\"<<\": {a: 1}\n", "{\"<<\": {\"a\": 1}}"},
      {"? [<<]\n: 1\n", "{[\"<<\"]: 1}"},
      {"? {<<: {a: 1}}\n: 1\n", "{{\"<<\": {\"a\": 1}}: 1}"},
  });
}

TEST(MergeKeys, CanonicalKeyText) {
  auto canon = [](std::string_view yaml) {
    DecodedStream out = load(yaml);
    std::string s;
    qf::write_canonical_value_key(s, out.documents.at(0));
    return s;
  };
  EXPECT_EQ(canon("[~, true, 1, a, !t x]"), "7:5:0112:1;5:1:a6:2:!t5:1:x");
  EXPECT_EQ(canon("{a: 1.5}"), "8:1:5:1:a4:4609434218613702656;");
  EXPECT_NE(canon("!t \"a:s:1:b\""), canon("!t:s:7:a b"));
}

}  // namespace

namespace {

// Per-document state is reset for every document: one document with many
// anchors must not make every later document pay for its table.
TEST(Anchors, ManyDocumentsAfterOneWithManyAnchors) {
  std::string text = "[";
  for (int i = 0; i < 100000; ++i) text += (i ? ",&a" : "&a") + std::to_string(i) + " x";
  text += "]\n";
  for (int i = 0; i < 150000; ++i) text += "--- &b y\n";
  auto t0 = std::chrono::steady_clock::now();
  DecodedStream out = load(text);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  ASSERT_TRUE(out.ok());
  EXPECT_EQ(out.documents.size(), 150001u);
  // Linear work is well under a second even under the sanitizers; clearing the
  // whole table per document would be 1.5e10 steps, far beyond this bound on
  // any machine, so a busy one cannot fail it.
  EXPECT_LT(ms, 10000);
}

}  // namespace
