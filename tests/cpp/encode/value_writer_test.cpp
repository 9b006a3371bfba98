#include "encode/value_writer.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "value_builders.hpp"

namespace qf {
namespace {

using namespace qf::test;
using namespace qf::dump_option;

std::string dump(const Value& v, uint64_t option = 0, uint64_t width = 0) {
  return dump_value_to_yaml(v, emit_settings_from_options(option, width));
}

TEST(ValueWriterRoot, ScalarsAndEmptyCollections) {
  EXPECT_EQ(dump(N()), "null\n");
  EXPECT_EQ(dump(N(), kNullAsTilde), "~\n");
  EXPECT_EQ(dump(N(), kNullAsKeyword), "null\n");
  EXPECT_EQ(dump(B(true)), "true\n");
  EXPECT_EQ(dump(I(1)), "1\n");
  EXPECT_EQ(dump(F(0.5)), "0.5\n");
  EXPECT_EQ(dump(S("abc")), "abc\n");
  EXPECT_EQ(dump(S("")), "\"\"\n");
  EXPECT_EQ(dump(S(""), kSingleQuotes), "''\n");
  EXPECT_EQ(dump(Map()), "{}\n");
  EXPECT_EQ(dump(Seq()), "[]\n");
  EXPECT_EQ(dump(Map(), kFlowStyle), "{}\n");
}

TEST(ValueWriterRoot, LiteralRoots) {
  EXPECT_EQ(dump(S("a\nb\n")), "|\n  a\n  b\n");
  EXPECT_EQ(dump(S("a\nb\n"), kIndent4), "|\n    a\n    b\n");
  EXPECT_EQ(dump(S("a\nb")), "|-\n  a\n  b\n");
  EXPECT_EQ(dump(S("a\n\n")), "|+\n  a\n\n");
  // A leading blank cannot stay in a literal block: double-quoted instead.
  EXPECT_EQ(dump(S(" a\nb")), "\" a\\nb\"\n");
  EXPECT_EQ(dump(S("a\r\nb")), "\"a\\r\\nb\"\n");
}

TEST(ValueWriterRoot, ExplicitStartAndEnd) {
  EXPECT_EQ(dump(I(1), kExplicitStart | kExplicitEnd), "---\n1\n...\n");
  EXPECT_EQ(dump(Map(P(S("a"), I(1))), kExplicitStart), "---\na: 1\n");
  EXPECT_EQ(dump(Seq(I(1)), kExplicitEnd), "- 1\n...\n");
}

TEST(ValueWriterRoot, TaggedRoots) {
  EXPECT_EQ(dump(T("!t", S("x"))), "!t x\n");
  EXPECT_EQ(dump(T("!t", Seq(I(1)))), "!t\n  - 1\n");
  // At the root the inner sequence follows the ordinary sequence rule.
  EXPECT_EQ(dump(T("!t", Seq(I(1))), kIndentlessSequences), "!t\n- 1\n");
  EXPECT_EQ(dump(T("!t", S("a\nb\n"))), "!t |\n  a\n  b\n");
  EXPECT_EQ(dump(T("!t", Map(P(S("a"), I(1))))), "!t\n  a: 1\n");
  EXPECT_EQ(dump(T("!t", N())), "!t\n");
  EXPECT_EQ(dump(T("!t", N()), kNullAsKeyword), "!t null\n");
  EXPECT_EQ(dump(T("!t", Seq(I(1))), kFlowStyle), "!t [1]\n");
}

TEST(ValueWriterNulls, PerNullStyle) {
  struct Case {
    uint64_t option;
    const char *map, *seq, *flow;
  } cases[] = {
      {0, "a:\n", "-\n", "{a: null}\n"},
      {kNullAsKeyword, "a: null\n", "- null\n", "{a: null}\n"},
      {kNullAsTilde, "a: ~\n", "- ~\n", "{a: ~}\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(dump(Map(P(S("a"), N())), c.option), c.map);
    EXPECT_EQ(dump(Seq(N()), c.option), c.seq);
    EXPECT_EQ(dump(Map(P(S("a"), N())), c.option | kFlowStyle), c.flow);
  }
  // A null key is always written inline.
  EXPECT_EQ(dump(Map(P(N(), I(1)))), "null: 1\n");
  EXPECT_EQ(dump(Map(P(N(), I(1))), kNullAsTilde), "~: 1\n");
  // Inside a flow collection Default writes "null".
  EXPECT_EQ(dump(Map(P(S("a"), Seq(N(), I(1)))), kFlowStyle), "{a: [null, 1]}\n");
}

TEST(ValueWriterSequences, BlockIndentlessAndNested) {
  EXPECT_EQ(dump(Map(P(S("a"), Seq(I(1), I(2))))), "a:\n  - 1\n  - 2\n");
  EXPECT_EQ(dump(Map(P(S("a"), Seq(I(1), I(2)))), kIndentlessSequences), "a:\n- 1\n- 2\n");
  EXPECT_EQ(dump(Map(P(S("a"), Seq(I(1), I(2)))), kIndent4), "a:\n    - 1\n    - 2\n");
  EXPECT_EQ(dump(Seq(Seq(I(1), I(2)), I(3))), "-\n  - 1\n  - 2\n- 3\n");
  EXPECT_EQ(dump(Seq(Seq(I(1), I(2)), I(3)), kIndent4 | kIndentlessSequences), "-\n  - 1\n  - 2\n- 3\n");
  EXPECT_EQ(dump(Seq(Seq(), Map())), "- []\n- {}\n");
  EXPECT_EQ(dump(Seq(S("a\nb"))), "- |-\n  a\n  b\n");
  EXPECT_EQ(dump(Map(P(S("k"), Seq(S("a\nb\n"))))), "k:\n  - |\n    a\n    b\n");
}

TEST(ValueWriterMappings, CompactAndNested) {
  EXPECT_EQ(dump(Seq(Map(P(S("a"), I(1)), P(S("b"), I(2))))), "- a: 1\n  b: 2\n");
  EXPECT_EQ(dump(Seq(Map(P(S("a"), I(1)), P(S("b"), I(2)))), kIndent4), "- a: 1\n  b: 2\n");
  EXPECT_EQ(dump(Seq(Map(P(S("a"), Map(P(S("b"), I(1))))))), "- a:\n    b: 1\n");
  EXPECT_EQ(dump(Seq(Map(P(S("a"), Map(P(S("b"), I(1)))))), kIndent4), "- a:\n      b: 1\n");
  EXPECT_EQ(dump(Map(P(S("a"), Map(P(S("b"), Map(P(S("c"), I(1)))))))), "a:\n  b:\n    c: 1\n");
  EXPECT_EQ(dump(Map(P(S("k"), S("a\nb\n")))), "k: |\n  a\n  b\n");
  EXPECT_EQ(dump(Seq(Map(P(S("a"), Seq(I(1)))))), "- a:\n    - 1\n");
  EXPECT_EQ(dump(Seq(Map(P(S("a"), Seq(I(1))))), kIndentlessSequences), "- a:\n  - 1\n");
}

TEST(ValueWriterMappings, CollectionKeysAreFlow) {
  EXPECT_EQ(dump(Map(P(Seq(I(1), I(2)), S("x")))), "[1, 2]: x\n");
  EXPECT_EQ(dump(Map(P(Map(P(S("a"), I(1))), S("x")))), "{a: 1}: x\n");
  EXPECT_EQ(dump(Map(P(Seq(), I(1)))), "[]: 1\n");
}

TEST(ValueWriterTags, ValuesAndKeys) {
  EXPECT_EQ(dump(Map(P(S("k"), T("!t", Seq(I(1)))))), "k: !t\n  - 1\n");
  EXPECT_EQ(dump(Map(P(S("k"), T("!t", Seq(I(1))))), kIndentlessSequences), "k: !t\n  - 1\n");
  EXPECT_EQ(dump(Map(P(S("k"), T("!t", S("v"))))), "k: !t v\n");
  EXPECT_EQ(dump(Map(P(S("k"), T("!t", Map(P(S("a"), I(1))))))), "k: !t\n  a: 1\n");
  EXPECT_EQ(dump(Map(P(S("k"), T("!t", N())))), "k: !t\n");
  EXPECT_EQ(dump(Seq(T("!t", Seq(I(1))))), "- !t\n  - 1\n");
  EXPECT_EQ(dump(Seq(T("!t", S("v")))), "- !t v\n");
  EXPECT_EQ(dump(Seq(T("!t", Map(P(S("a"), I(1)))))), "- !t\n  a: 1\n");
  EXPECT_EQ(dump(Seq(T("!t", S("a\nb\n")))), "- !t |\n  a\n  b\n");
  // A tagged key after the first pair takes the explicit form.
  EXPECT_EQ(dump(Map(P(S("a"), I(1)), P(T("!t", S("b")), I(2)))), "a: 1\n? !t b\n: 2\n");
  EXPECT_EQ(dump(Map(P(T("!t", S("b")), I(2)), P(S("a"), I(1)))), "!t b: 2\na: 1\n");
  EXPECT_EQ(dump(Seq(Map(P(S("a"), I(1)), P(T("!t", S("b")), Seq(I(1)))))),
            "- a: 1\n  ? !t b\n  :\n    - 1\n");
  EXPECT_EQ(dump(Map(P(S("a"), T("!t", I(1)))), kFlowStyle), "{a: !t 1}\n");
  EXPECT_EQ(dump(Map(P(S("x"), T("!<tag:a,b>", S("v"))))), "x: !<tag:a,b> v\n");
}

TEST(ValueWriterFlow, FlowStyle) {
  EXPECT_EQ(dump(Map(P(S("a"), Seq(I(1), Map(P(S("b"), I(2)))))), kFlowStyle), "{a: [1, {b: 2}]}\n");
  EXPECT_EQ(dump(Seq(I(1), S("a, b"), S("[x]"), S("{"), S("x}")), kFlowStyle),
            "[1, \"a, b\", \"[x]\", \"{\", \"x}\"]\n");
  EXPECT_EQ(dump(Seq(S("a, b"))), "- a, b\n");
  EXPECT_EQ(dump(Seq(S("a, b")), kFlowStyle | kSingleQuotes), "['a, b']\n");
}

TEST(ValueWriterScalars, NumbersAndText) {
  EXPECT_EQ(dump(Seq(I(std::numeric_limits<int64_t>::min()), I(std::numeric_limits<int64_t>::max()), I(0))),
            "- -9223372036854775808\n- 9223372036854775807\n- 0\n");
  EXPECT_EQ(dump(Seq(Big("-9223372036854775809"), Big("18446744073709551616"))),
            "- -9223372036854775809\n- 18446744073709551616\n");
  // A big integer kept in another radix is written in decimal.
  EXPECT_EQ(dump(Big("10000000000000000", 16)), "18446744073709551616\n");
  EXPECT_EQ(dump(Seq(F(1.0), F(-0.0), F(1e16), F(1.5e-7), F(std::numeric_limits<double>::infinity()),
                     F(-std::numeric_limits<double>::infinity()), F(std::nan("")))),
            "- 1.0\n- -0.0\n- 1.0e+16\n- 1.5e-07\n- .inf\n- -.inf\n- .nan\n");
  EXPECT_EQ(dump(Seq(S("yes"), S("1.5"), S("a: b"), S("it's"), S("'q"), S("tab\there"))),
            "- \"yes\"\n- \"1.5\"\n- \"a: b\"\n- it's\n- \"'q\"\n- \"tab\\there\"\n");
  EXPECT_EQ(dump(Seq(S("yes"), S("'q"), S("tab\there")), kSingleQuotes),
            "- 'yes'\n- \"'q\"\n- \"tab\\there\"\n");
  EXPECT_EQ(dump(Map(P(S("a\nb"), I(1)))), "\"a\\nb\": 1\n");
  EXPECT_EQ(dump(Seq(S("y"), S("2001-12-14"), S("1:30"))), "- y\n- 2001-12-14\n- 1:30\n");
  EXPECT_EQ(dump(Seq(S("y"), S("2001-12-14"), S("1:30")), kYaml11),
            "- \"y\"\n- \"2001-12-14\"\n- \"1:30\"\n");
  EXPECT_EQ(dump(Seq(S("y"), S("n")), kKestilCompat), "- y\n- n\n");
}

TEST(ValueWriterScalars, Timestamps) {
  Value v = Seq(Value::timestamp(YamlTimestamp::date(2001, 12, 14)),
                Value::timestamp(YamlTimestamp::date_time(2001, 12, 14, 21, 59, 43, 100000, -300)));
  EXPECT_EQ(dump(v), "- 2001-12-14\n- 2001-12-14T21:59:43.100000-05:00\n");
  EXPECT_EQ(dump(v, kYaml11), "- \"2001-12-14\"\n- \"2001-12-14T21:59:43.100000-05:00\"\n");
}

TEST(ValueWriterWidth, QuotedStringsFold) {
  EXPECT_EQ(dump(Map(P(S("key"), S("aaaa bbbb cccc dddd eeee"))), 0, 20),
            "key: \"aaaa bbbb cccc\n     dddd eeee\"\n");
  EXPECT_EQ(dump(Map(P(S("key"), S("aaaa bbbb cccc dddd eeee"))), kSingleQuotes, 20),
            "key: 'aaaa bbbb cccc\n     dddd eeee'\n");
  // Fits: stays plain. No single inner space: stays plain, however long.
  EXPECT_EQ(dump(Map(P(S("key"), S("aaaa bbbb"))), 0, 20), "key: aaaa bbbb\n");
  EXPECT_EQ(dump(Map(P(S("key"), S("aaaaaaaaaaaaaaaaaaaaaaaaa"))), 0, 20), "key: aaaaaaaaaaaaaaaaaaaaaaaaa\n");
  EXPECT_EQ(dump(Map(P(S("key"), S("aaaaaaaaaaaa  bbbbbbbbbbbbb"))), 0, 20),
            "key: aaaaaaaaaaaa  bbbbbbbbbbbbb\n");
  // Keys are never folded.
  EXPECT_EQ(dump(Map(P(S("aaaa bbbb cccc dddd eeee"), I(1))), 0, 10), "aaaa bbbb cccc dddd eeee: 1\n");
  // A root string folds at column 1 at least.
  EXPECT_EQ(dump(S("aaaa bbbb cccc"), 0, 8), "\"aaaa\n bbbb\n cccc\"\n");
  // Quoted because it must be, then folded with its escapes intact.
  EXPECT_EQ(dump(Map(P(S("k"), S("a: b\tc d e"))), 0, 8), "k: \"a:\n   b\\tc\n   d e\"\n");
}

TEST(ValueWriterWidth, FlowCollectionsBreakAtCommas) {
  EXPECT_EQ(dump(Seq(I(1), I(2), I(3), I(4), I(5), I(6)), kFlowStyle, 10), "[1, 2, 3, 4,\n  5, 6]\n");
  EXPECT_EQ(dump(Map(P(S("k"), Seq(I(1), I(2), I(3), I(4), I(5), I(6)))), kFlowStyle, 10),
            "{k: [1, 2,\n  3, 4, 5,\n  6]}\n");
  EXPECT_EQ(dump(Map(P(S("key"), Seq(I(1), I(2), I(3), I(4), I(5)))), kFlowStyle | kIndent4, 10),
            "{key: [1, 2,\n    3, 4, 5]}\n");
  // Continuation lines sit at the opening line's indentation plus the step,
  // also for nested collections.
  EXPECT_EQ(dump(Map(P(S("a"), Map(P(S("k"), Seq(I(1), I(2), I(3), I(4), I(5), I(6)))))), kFlowStyle, 12),
            "{a: {k: [1, 2,\n  3, 4, 5, 6]}}\n");
  // Inside a key no line is broken.
  EXPECT_EQ(dump(Map(P(Seq(I(1), I(2), I(3), I(4), I(5), I(6)), I(0))), 0, 5), "[1, 2, 3, 4, 5, 6]: 0\n");
}

TEST(ValueWriterSortKeys, RanksAndStability) {
  Value v = Map(P(S("a"), I(1)), P(Seq(I(1)), I(2)), P(F(1.5), I(3)), P(I(2), I(4)), P(B(true), I(5)),
                P(N(), I(6)));
  EXPECT_EQ(dump(v, kSortKeys), "null: 6\ntrue: 5\n1.5: 3\n2: 4\na: 1\n[1]: 2\n");
  EXPECT_EQ(dump(v), "a: 1\n[1]: 2\n1.5: 3\n2: 4\ntrue: 5\nnull: 6\n");
  // 2 and 2.0 are equal keys and keep their order; "1" (text) after numbers.
  Value eq = Map(P(F(2.0), S("f")), P(S("1"), S("s")), P(I(2), S("i")), P(I(1), S("one")));
  EXPECT_EQ(dump(eq, kSortKeys), "1: one\n2.0: f\n2: i\n\"1\": s\n");
  EXPECT_EQ(dump(Map(P(S("b"), I(1)), P(S("a"), Map(P(S("d"), I(1)), P(S("c"), I(2))))), kSortKeys | kFlowStyle),
            "{a: {c: 2, d: 1}, b: 1}\n");
  EXPECT_EQ(dump(Seq(Map(P(S("b"), I(1)), P(S("a"), I(2)))), kSortKeys), "- a: 2\n  b: 1\n");
}

// The writer has no depth limit of its own; deep trees must not overflow
// the stack (the recursion moves to fresh stacks).
TEST(ValueWriterDepth, VeryDeepTreesDoNotOverflow) {
  Value v = I(1);
  for (int i = 0; i < 200000; ++i) v = (i % 2) ? Seq(std::move(v)) : Map(P(S("k"), std::move(v)));
  std::string flow = dump(v, kFlowStyle);
  EXPECT_EQ(flow.substr(0, 8), "[{k: [{k");
  EXPECT_NE(flow.find("[{k: 1}]}]"), std::string::npos);
  EXPECT_EQ(flow.substr(flow.size() - 4), "]}]\n");
  Value t = I(7);
  for (int i = 0; i < 200000; ++i) t = T("!t", Seq(std::move(t)));
  EXPECT_EQ(dump(t, kFlowStyle).substr(0, 12), "!t [!t [!t [");
  // Block layout indents every level: a few thousand levels are enough.
  Value b = S("x");
  for (int i = 0; i < 3000; ++i) b = (i % 2) ? Seq(std::move(b)) : Map(P(S("k"), std::move(b)));
  std::string block = dump(b);
  EXPECT_EQ(block.substr(0, 23), "- k:\n    - k:\n        -");
  EXPECT_EQ(block.back(), '\n');
}

}  // namespace
}  // namespace qf
