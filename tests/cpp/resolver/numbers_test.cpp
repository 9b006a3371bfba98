// The shared number routines and big-integer texts.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <string>

#include "resolver/big_int.hpp"
#include "resolver/resolver.hpp"

namespace qf {
namespace {

TEST(DecimalFloat, GrammarAndValues) {
  struct Case {
    const char* text;
    bool ok;
    double value;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {"1", true, 1.0},         {"1.", true, 1.0},          {".5", true, 0.5},
      {"+1.5", true, 1.5},      {"-1.5e-3", true, -0.0015}, {"1E+2", true, 100.0},
      {"INF", true, inf},       {"-infinity", true, -inf},  {"+Inf", true, inf},
      {".", false, 0},          {"+", false, 0},            {"", false, 0},
      {"1e", false, 0},         {"e5", false, 0},           {"1e+", false, 0},
      {"0x1p3", false, 0},      {" 1", false, 0},           {"1 ", false, 0},
      {"1_0", false, 0},        {"--1", false, 0},          {"infin", false, 0},
      {"nan(1)", false, 0},     {"1.5f", false, 0},         {"1e5.0", false, 0},
      // Ties to even: 2**53 + 1 is halfway between two doubles.
      {"9007199254740993", true, 9007199254740992.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto r = parse_decimal_float(c.text);
    ASSERT_EQ(r.has_value(), c.ok);
    if (c.ok) {
      EXPECT_EQ(*r, c.value);
    }
  }
  auto nan = parse_decimal_float("nAn");
  ASSERT_TRUE(nan);
  EXPECT_TRUE(std::isnan(*nan));
}

TEST(DecimalFloat, ReadsOnlyTheGivenBytes) {
  // Text that is not NUL-terminated: digits right after the view must not
  // be read.
  const char buf[] = "1.25999";
  auto r = parse_decimal_float(std::string_view(buf, 4));
  ASSERT_TRUE(r);
  EXPECT_EQ(*r, 1.25);
  const char exp[] = "1e3999";
  r = parse_decimal_float(std::string_view(exp, 3));
  ASSERT_TRUE(r);
  EXPECT_EQ(*r, 1000.0);
}

TEST(IntegerRoutines, RadixAndUnderscores) {
  EXPECT_EQ(parse_unsigned_radix("777", 8), 511);
  EXPECT_EQ(parse_unsigned_radix("7fffffffffffffff", 16), std::numeric_limits<int64_t>::max());
  EXPECT_FALSE(parse_unsigned_radix("8000000000000000", 16));
  EXPECT_FALSE(parse_unsigned_radix("+1", 10));
  EXPECT_FALSE(parse_unsigned_radix("-1", 10));
  EXPECT_FALSE(parse_unsigned_radix("19", 8));
  EXPECT_FALSE(parse_unsigned_radix("", 10));

  std::string storage;
  std::string_view plain = "12345";
  EXPECT_EQ(strip_underscores(plain, storage).data(), plain.data());  // no copy
  EXPECT_EQ(strip_underscores("1_2__3_", storage), "123");

  EXPECT_TRUE(yaml12_int_matches("-0"));
  EXPECT_FALSE(yaml12_int_matches("0123"));
  EXPECT_TRUE(yaml12_int_matches("99999999999999999999"));
  EXPECT_FALSE(yaml12_int_value("99999999999999999999"));
  EXPECT_TRUE(yaml11_int_matches("0777"));
  EXPECT_FALSE(yaml11_int_matches("12:30"));  // base 60 is a value, not BigInt syntax
  EXPECT_EQ(yaml11_int_value("12:30"), 750);
  EXPECT_FALSE(yaml11_int_value("0x"));
  EXPECT_EQ(yaml11_base60_float("1:30.5"), 90.5);
  EXPECT_FALSE(yaml11_base60_float("1.5"));
  EXPECT_FALSE(yaml11_base60_float("1e3:30.5"));
  EXPECT_EQ(yaml11_bool("Y", false), true);
  EXPECT_FALSE(yaml11_bool("Y", true));
}

TEST(BigIntText, CanonicalForms) {
  struct Case {
    const char* scalar;
    const char* text;  // nullptr: not integer syntax
    uint8_t radix;
  };
  const Case cases[] = {
      {"9223372036854775808", "9223372036854775808", 10},
      {"+9223372036854775808", "9223372036854775808", 10},
      {"+9_223_372_036_854_775_808", "9223372036854775808", 10},
      {"-9223372036854775809", "-9223372036854775809", 10},
      {"0xDEAD_beef_0000_0000_0", "deadbeef000000000", 16},
      {"-0X00ff", "-ff", 16},
      {"0o777", "777", 8},
      {"0777", "777", 8},
      {"0b0101", "101", 2},
      {"-0x0", "0", 16},
      {"0x", nullptr, 0},
      {"0b2", nullptr, 0},
      {"089", nullptr, 0},
      {"12:30", nullptr, 0},
      {"1.5", nullptr, 0},
      {"-", nullptr, 0},
      {"", nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scalar);
    auto big = big_int_text(c.scalar);
    if (!c.text) {
      EXPECT_FALSE(big.has_value());
      continue;
    }
    ASSERT_TRUE(big.has_value());
    EXPECT_EQ(big->text, c.text);
    EXPECT_EQ(big->radix, c.radix);
  }
}

TEST(BigIntText, DecimalConversions) {
  EXPECT_EQ(big_int_to_decimal("8000000000000000", 16), "9223372036854775808");
  EXPECT_EQ(big_int_to_decimal("-8000000000000000", 16), "-9223372036854775808");
  EXPECT_EQ(big_int_to_decimal("ffffffffffffffffffffffffffffffff", 16),
            "340282366920938463463374607431768211455");
  EXPECT_EQ(big_int_to_decimal("1000000000000000000000", 8), "9223372036854775808");
  EXPECT_EQ(big_int_to_decimal("123", 10), "123");
  // The conversion keeps zero chunks in the middle.
  EXPECT_EQ(big_int_to_decimal("3782dace9d90000000000000000000000", 16),
            "1180591620717411303424000000000000000000");

  EXPECT_EQ(big_int_decimal_text("0x8000000000000000"), "9223372036854775808");
  EXPECT_EQ(big_int_decimal_text("-0x8000000000000000"), "-9223372036854775808");
  EXPECT_EQ(big_int_decimal_text("0xFFFF_FFFF_FFFF_FFFF"), "18446744073709551615");
  EXPECT_FALSE(big_int_decimal_text("9223372036854775808"));  // decimal forms keep their text
  EXPECT_FALSE(big_int_decimal_text("+9223372036854775808"));
}

TEST(BigIntText, MagnitudeAgreesAcrossRadixes) {
  auto dec = big_int_magnitude("340282366920938463463374607431768211455", 10);
  auto hex = big_int_magnitude("ffffffffffffffffffffffffffffffff", 16);
  auto oct = big_int_magnitude("3777777777777777777777777777777777777777777", 8);
  auto bin = big_int_magnitude(std::string(128, '1'), 2);
  EXPECT_EQ(dec, hex);
  EXPECT_EQ(oct, hex);
  EXPECT_EQ(bin, hex);
  EXPECT_EQ(hex.size(), 2u);
  EXPECT_TRUE(big_int_magnitude("0", 10).empty());
}

TEST(BigIntText, ExactDouble) {
  EXPECT_EQ(big_int_exact_double("9223372036854775808", 10), 9223372036854775808.0);
  EXPECT_EQ(big_int_exact_double("-8000000000000000", 16), -9223372036854775808.0);
  EXPECT_EQ(big_int_exact_double("100000000000000000000", 10), 1e20);
  EXPECT_FALSE(big_int_exact_double("9223372036854775809", 10));  // needs 64 significant bits
  // 2**1023 is a double; 2**1024 is not.
  std::string p1023 = "1" + std::string(1023, '0');
  std::string p1024 = "1" + std::string(1024, '0');
  EXPECT_EQ(big_int_exact_double(p1023, 2), std::ldexp(1.0, 1023));
  EXPECT_FALSE(big_int_exact_double(p1024, 2));
}

TEST(BigIntText, LongRadixLiteralsStayLinear) {
  // A million hex digits resolve and canonicalise without any radix
  // conversion.
  std::string text = "0x" + std::string(1'000'000, 'F');
  auto start = std::chrono::steady_clock::now();
  ResolvedScalar r = resolve_scalar_owned(ResolverMode::Yaml12, text, ScalarStyle::Plain);
  auto magnitude = big_int_magnitude(r.text, r.radix);
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r.kind, ResolvedKind::BigInt);
  EXPECT_EQ(r.radix, 16);
  EXPECT_EQ(r.text.size(), 1'000'000u);
  EXPECT_EQ(magnitude.size(), 1'000'000u / 16);
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 1000);
}

}  // namespace
}  // namespace qf
