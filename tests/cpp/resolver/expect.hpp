// Expected resolutions for the resolver tables.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "resolver/resolver.hpp"

namespace qf::test {

struct Expect {
  ResolvedKind kind = ResolvedKind::Str;
  bool truth = false;
  int64_t i = 0;
  double f = 0.0;
  const char* big = nullptr;
  uint8_t radix = 10;
};

inline Expect N() { return {ResolvedKind::Null}; }
inline Expect B(bool b) { return {ResolvedKind::Bool, b}; }
inline Expect I(int64_t v) { return {ResolvedKind::Int, false, v}; }
inline Expect F(double d) { return {ResolvedKind::Float, false, 0, d}; }
inline Expect S() { return {ResolvedKind::Str}; }
inline Expect M() { return {ResolvedKind::Merge}; }
inline Expect Big(const char* text, uint8_t radix = 10) {
  return {ResolvedKind::BigInt, false, 0, 0.0, text, radix};
}
inline const double kInf = std::numeric_limits<double>::infinity();
inline const double kNaN = std::numeric_limits<double>::quiet_NaN();

inline std::string describe(ResolverMode mode, std::string_view text, ScalarStyle style, ScalarTag tag) {
  std::string s = "mode=" + std::to_string(static_cast<int>(mode)) + " text=\"" + std::string(text) + "\"";
  if (style != ScalarStyle::Plain) s += " style=" + std::to_string(static_cast<int>(style));
  if (tag) s += " tag=" + std::string(*tag);
  return s;
}

// Checks the borrowed and the owned results against one expectation.
inline void expect_resolves(ResolverMode mode, std::string_view text, const Expect& e,
                            ScalarStyle style = ScalarStyle::Plain, ScalarTag tag = std::nullopt) {
  SCOPED_TRACE(describe(mode, text, style, tag));
  Resolution r = resolve_scalar(mode, text, style, tag);
  ASSERT_EQ(static_cast<int>(r.kind), static_cast<int>(e.kind));
  switch (e.kind) {
    case ResolvedKind::Bool:
      EXPECT_EQ(r.truth, e.truth);
      break;
    case ResolvedKind::Int:
      EXPECT_EQ(r.int_value, e.i);
      break;
    case ResolvedKind::Float:
      if (std::isnan(e.f)) {
        EXPECT_TRUE(std::isnan(r.float_value));
        EXPECT_EQ(std::signbit(r.float_value), std::signbit(e.f));
      } else {
        EXPECT_EQ(r.float_value, e.f);
        EXPECT_EQ(std::signbit(r.float_value), std::signbit(e.f));
      }
      break;
    default:
      break;
  }
  ResolvedScalar owned = resolve_scalar_owned(mode, text, style, tag);
  if (e.kind == ResolvedKind::Merge) {
    EXPECT_EQ(owned.kind, ResolvedKind::Str);
    EXPECT_EQ(owned.text, "<<");
  } else {
    EXPECT_EQ(owned.kind, e.kind);
  }
  if (e.kind == ResolvedKind::Str) {
    EXPECT_EQ(owned.text, text);
  }
  if (e.kind == ResolvedKind::BigInt) {
    EXPECT_EQ(owned.text, e.big);
    EXPECT_EQ(owned.radix, e.radix);
  }
}

}  // namespace qf::test
