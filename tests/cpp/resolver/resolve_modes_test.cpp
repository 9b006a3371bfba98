// Untagged plain scalars under the three rule sets, one row per text.
#include <gtest/gtest.h>

#include "expect.hpp"

namespace qf::test {
namespace {

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

struct Row {
  const char* text;
  Expect y12, y11, kc;
};

void run_rows(const std::vector<Row>& rows) {
  for (const Row& r : rows) {
    expect_resolves(ResolverMode::Yaml12, r.text, r.y12);
    expect_resolves(ResolverMode::Yaml11, r.text, r.y11);
    expect_resolves(ResolverMode::KestilCompat, r.text, r.kc);
  }
}

TEST(ResolveModes, NullsAndMerge) {
  run_rows({
      {"", N(), N(), N()},
      {"~", N(), N(), N()},
      {"null", N(), N(), N()},
      {"Null", N(), N(), N()},
      {"NULL", N(), N(), N()},
      {"nULL", S(), S(), S()},
      {"NULL ", S(), S(), S()},
      {"None", S(), S(), S()},
      {"~~", S(), S(), S()},
      {"<<", M(), M(), M()},
      {"<", S(), S(), S()},
      {"<<<", S(), S(), S()},
  });
}

TEST(ResolveModes, Booleans) {
  run_rows({
      {"true", B(true), B(true), B(true)},
      {"True", B(true), B(true), B(true)},
      {"TRUE", B(true), B(true), B(true)},
      {"false", B(false), B(false), B(false)},
      {"False", B(false), B(false), B(false)},
      {"FALSE", B(false), B(false), B(false)},
      {"tRUE", S(), S(), S()},
      {"y", S(), B(true), S()},
      {"Y", S(), B(true), S()},
      {"n", S(), B(false), S()},
      {"N", S(), B(false), S()},
      {"yes", S(), B(true), B(true)},
      {"Yes", S(), B(true), B(true)},
      {"YES", S(), B(true), B(true)},
      {"no", S(), B(false), B(false)},
      {"NO", S(), B(false), B(false)},
      {"on", S(), B(true), B(true)},
      {"On", S(), B(true), B(true)},
      {"ON", S(), B(true), B(true)},
      {"off", S(), B(false), B(false)},
      {"OFF", S(), B(false), B(false)},
      {"yEs", S(), S(), S()},
      {"oN", S(), S(), S()},
      {"nO", S(), S(), S()},
      {"o", S(), S(), S()},
  });
}

TEST(ResolveModes, Integers) {
  run_rows({
      {"0", I(0), I(0), I(0)},
      {"-0", I(0), I(0), I(0)},
      {"+0", I(0), I(0), I(0)},
      {"00", S(), I(0), I(0)},
      {"42", I(42), I(42), I(42)},
      {"-17", I(-17), I(-17), I(-17)},
      {"0o17", I(15), S(), S()},
      {"0O17", I(15), S(), S()},
      {"-0o17", I(-15), S(), S()},
      {"0x1F", I(31), I(31), I(31)},
      {"0X1f", I(31), I(31), I(31)},
      {"+0x1F", I(31), I(31), I(31)},
      {"0x", S(), S(), S()},
      {"0o", S(), S(), S()},
      {"0b", S(), S(), S()},
      {"0xG", S(), S(), S()},
      {"0x+1", S(), S(), S()},
      {"0x_1", S(), I(1), I(1)},
      {"0x_1F", S(), I(31), I(31)},
      {"0b1010", S(), I(10), I(10)},
      {"-0b11", S(), I(-3), I(-3)},
      {"0b102", S(), S(), S()},
      {"010", S(), I(8), I(8)},
      {"+017", S(), I(15), I(15)},
      {"09", S(), S(), S()},
      {"0123", S(), I(83), I(83)},
      {"1_000", S(), I(1000), I(1000)},
      {"1_", S(), I(1), I(1)},
      {"_1", S(), I(1), S()},
      {"+_1", S(), I(1), S()},
      {"-_1", S(), I(-1), S()},
      {"1,000", S(), S(), S()},
      {"++1", S(), S(), S()},
      {"+-1", S(), S(), S()},
      {"-", S(), S(), S()},
      {"+", S(), S(), S()},
      {"_", S(), S(), S()},
      {"1 000", S(), S(), S()},
  });
}

TEST(ResolveModes, BaseSixtyIntegers) {
  run_rows({
      {"12:30", S(), I(750), I(750)},
      {"190:20:30", S(), I(685230), I(685230)},
      {"-1:30", S(), I(-90), I(-90)},
      {"1_0:30", S(), I(630), I(630)},
      {"1:05", S(), I(65), I(65)},
      {"0:30", S(), S(), S()},
      {"1:60", S(), S(), S()},
      {"1:123", S(), S(), S()},
      {"1:", S(), S(), S()},
      {":30", S(), S(), S()},
      {"1::30", S(), S(), S()},
      // Beyond 64 bits a base-60 text is no integer syntax, so it is a string.
      {"99999999999999999999:00", S(), S(), S()},
  });
}

TEST(ResolveModes, IntegerRangeAndBigInts) {
  run_rows({
      {"9223372036854775807", I(kMax), I(kMax), I(kMax)},
      {"-9223372036854775807", I(-kMax), I(-kMax), I(-kMax)},
      // -2**63 fits a signed 64-bit integer in every mode.
      {"-9223372036854775808", I(kMin), I(kMin), I(kMin)},
      {"-0x8000000000000000", I(kMin), I(kMin), I(kMin)},
      {"-0b1000000000000000000000000000000000000000000000000000000000000000", S(), I(kMin), I(kMin)},
      {"-01000000000000000000000", S(), I(kMin), I(kMin)},
      {"-0o1000000000000000000000", I(kMin), S(), S()},
      {"-9_223_372_036_854_775_808", S(), I(kMin), I(kMin)},
      {"-2562047788015215:30:08", S(), I(kMin), I(kMin)},
      {"2562047788015215:30:08", S(), S(), S()},
      {"9223372036854775808", Big("9223372036854775808"), Big("9223372036854775808"),
       Big("9223372036854775808")},
      // Canonical text: no '+', no '_', so equal integers have equal texts.
      {"+9223372036854775808", Big("9223372036854775808"), Big("9223372036854775808"),
       Big("9223372036854775808")},
      {"9_223_372_036_854_775_808", S(), Big("9223372036854775808"), Big("9223372036854775808")},
      {"-9223372036854775809", Big("-9223372036854775809"), Big("-9223372036854775809"),
       Big("-9223372036854775809")},
      {"0x8000000000000000", Big("8000000000000000", 16), Big("8000000000000000", 16),
       Big("8000000000000000", 16)},
      {"0xFFFF_FFFF_FFFF_FFFF", S(), Big("ffffffffffffffff", 16), Big("ffffffffffffffff", 16)},
      {"-0x00FFFFFFFFFFFFFFFF", Big("-ffffffffffffffff", 16), Big("-ffffffffffffffff", 16),
       Big("-ffffffffffffffff", 16)},
      {"0o1000000000000000000000", Big("1000000000000000000000", 8), S(), S()},
      {"01000000000000000000000", S(), Big("1000000000000000000000", 8), Big("1000000000000000000000", 8)},
      {"0b10000000000000000000000000000000000000000000000000000000000000000", S(),
       Big("10000000000000000000000000000000000000000000000000000000000000000", 2),
       Big("10000000000000000000000000000000000000000000000000000000000000000", 2)},
      {"0x000000000000000000000001", I(1), I(1), I(1)},
  });
}

TEST(ResolveModes, Floats) {
  run_rows({
      {"1.5", F(1.5), F(1.5), F(1.5)},
      {"+.5", F(0.5), F(0.5), F(0.5)},
      {"-.5", F(-0.5), F(-0.5), F(-0.5)},
      {"-0.0", F(-0.0), F(-0.0), F(-0.0)},
      {"1e3", F(1000.0), F(1000.0), S()},
      {"1E3", F(1000.0), F(1000.0), S()},
      {"1.0e3", F(1000.0), F(1000.0), S()},
      {"1.0e+3", F(1000.0), F(1000.0), F(1000.0)},
      {"1.0E-3", F(0.001), F(0.001), F(0.001)},
      {"1.5e", S(), S(), S()},
      {"1.e5", F(1e5), F(1e5), S()},
      {"1.", F(1.0), F(1.0), F(1.0)},
      {"08.5", F(8.5), F(8.5), F(8.5)},
      {"0123.5", F(123.5), F(123.5), F(123.5)},
      {"1_000.5", S(), F(1000.5), F(1000.5)},
      {"._5", S(), F(0.5), F(0.5)},
      {"1_0.5", S(), F(10.5), F(10.5)},
      {".", S(), S(), S()},
      {"1e", S(), S(), S()},
      {"1.5.5", S(), S(), S()},
      {"e3", S(), S(), S()},
      {".e3", S(), S(), S()},
      {"1e3.5", S(), S(), S()},
      {"0x1p3", S(), S(), S()},
      {"1.5 ", S(), S(), S()},
      {"3.141592653589793", F(3.141592653589793), F(3.141592653589793), F(3.141592653589793)},
      {"0.1", F(0.1), F(0.1), F(0.1)},
      {"2.2250738585072014e-308", F(2.2250738585072014e-308), F(2.2250738585072014e-308),
       F(2.2250738585072014e-308)},
      {"4.9e-324", F(4.9e-324), F(4.9e-324), F(4.9e-324)},
      {"1.7976931348623157e308", F(1.7976931348623157e308), F(1.7976931348623157e308), S()},
      {"1.7976931348623157e+308", F(1.7976931348623157e308), F(1.7976931348623157e308),
       F(1.7976931348623157e308)},
  });
}

TEST(ResolveModes, FloatOverflowAndUnderflowSaturate) {
  run_rows({
      {"1e400", F(kInf), F(kInf), S()},
      {"1.0e+400", F(kInf), F(kInf), F(kInf)},
      {"-1.0e+400", F(-kInf), F(-kInf), F(-kInf)},
      {"1.8e308", F(kInf), F(kInf), S()},
      {"1.0e-400", F(0.0), F(0.0), F(0.0)},
      {"-1.0e-400", F(-0.0), F(-0.0), F(-0.0)},
      {"0.000000000000000000001e-320", F(0.0), F(0.0), F(0.0)},
      {"123456789.0e-340", F(0.0), F(0.0), F(0.0)},
      {"1e99999999999999999999", F(kInf), F(kInf), S()},
      {"1.0e-99999999999999999999", F(0.0), F(0.0), F(0.0)},
      {"0.0e99999", F(0.0), F(0.0), S()},
      {"0.0e+99999", F(0.0), F(0.0), F(0.0)},
  });
}

TEST(ResolveModes, SpecialFloats) {
  run_rows({
      {".inf", F(kInf), F(kInf), F(kInf)},
      {".Inf", F(kInf), F(kInf), F(kInf)},
      {".INF", F(kInf), F(kInf), F(kInf)},
      {"+.inf", F(kInf), F(kInf), F(kInf)},
      {"+.Inf", F(kInf), F(kInf), F(kInf)},
      {"-.inf", F(-kInf), F(-kInf), F(-kInf)},
      {"-.Inf", F(-kInf), F(-kInf), F(-kInf)},
      {"-.INF", F(-kInf), F(-kInf), F(-kInf)},
      {".nan", F(kNaN), F(kNaN), F(kNaN)},
      {".NaN", F(kNaN), F(kNaN), F(kNaN)},
      {".NAN", F(kNaN), F(kNaN), F(kNaN)},
      {"-.nan", S(), S(), S()},
      {"+.nan", S(), S(), S()},
      {".iNf", S(), S(), S()},
      {"inf", S(), S(), S()},
      {"+inf", S(), S(), S()},
      {"nan", S(), S(), S()},
      {"-Infinity", S(), S(), S()},
      {".infinity", S(), S(), S()},
  });
}

TEST(ResolveModes, BaseSixtyFloats) {
  run_rows({
      {"1:30.5", S(), F(90.5), F(90.5)},
      {"190:20:30.15", S(), F(685230.15), F(685230.15)},
      {"0:30.5", S(), F(30.5), F(30.5)},
      {"1:+30.5", S(), F(90.5), F(90.5)},
      {"-1:30.5", S(), F(-90.5), F(-90.5)},
      {"1:60.5", S(), S(), S()},
      {"1.5:30", S(), S(), S()},
      {"1:30.5.5", S(), S(), S()},
      // The leading part must be decimal digits.
      {"1e3:30.5", S(), S(), S()},
      {"1E3:30.5", S(), S(), S()},
      {"+1e3:30.5", S(), S(), S()},
      {"inf:30.5", S(), S(), S()},
      {"1:30e1", S(), S(), S()},
  });
}

TEST(ResolveModes, NonPlainStylesAreStrings) {
  for (ScalarStyle style : {ScalarStyle::SingleQuoted, ScalarStyle::DoubleQuoted, ScalarStyle::Literal,
                            ScalarStyle::Folded}) {
    for (const char* text : {"123", "<<", "", "~", "null", "true", "yes", "1.5", ".inf", "0x1F", "1:30"}) {
      for (ResolverMode mode : {ResolverMode::Yaml12, ResolverMode::Yaml11, ResolverMode::KestilCompat})
        expect_resolves(mode, text, S(), style);
    }
  }
}

TEST(ResolveModes, KindNames) {
  EXPECT_EQ(resolved_kind_name(ResolvedKind::Null), "null");
  EXPECT_EQ(resolved_kind_name(ResolvedKind::Bool), "bool");
  EXPECT_EQ(resolved_kind_name(ResolvedKind::Int), "int");
  EXPECT_EQ(resolved_kind_name(ResolvedKind::BigInt), "int");
  EXPECT_EQ(resolved_kind_name(ResolvedKind::Float), "float");
  EXPECT_EQ(resolved_kind_name(ResolvedKind::Str), "str");
  EXPECT_EQ(resolved_kind_name(ResolvedKind::Merge), "merge");
}

TEST(ResolveModes, DirectEntryPointsAgreeWithDispatch) {
  for (const char* text : {"y", "1e3", "_1", "0o17", "12:30", "yes", "1.0e+3"}) {
    EXPECT_EQ(resolve_yaml11(false, text, ScalarStyle::Plain).kind,
              resolve_scalar(ResolverMode::Yaml11, text, ScalarStyle::Plain).kind);
    EXPECT_EQ(resolve_yaml11(true, text, ScalarStyle::Plain).kind,
              resolve_scalar(ResolverMode::KestilCompat, text, ScalarStyle::Plain).kind);
    EXPECT_EQ(resolve_yaml12(text, ScalarStyle::Plain).kind,
              resolve_scalar(ResolverMode::Yaml12, text, ScalarStyle::Plain).kind);
  }
  ResolvedScalar owned = resolve_yaml11_owned(true, "0xFFFF_FFFF_FFFF_FFFF", ScalarStyle::Plain);
  EXPECT_EQ(owned.kind, ResolvedKind::BigInt);
  EXPECT_EQ(owned.text, "ffffffffffffffff");
  EXPECT_EQ(owned.radix, 16);
}

}  // namespace
}  // namespace qf::test
