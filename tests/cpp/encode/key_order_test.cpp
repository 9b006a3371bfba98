#include "encode/key_order.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "value_builders.hpp"

namespace qf {
namespace {

using namespace qf::test;

double nan_with(uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

// A pool of keys that stresses every comparison: integers around 2**53 and
// 2**63 that round to the same double, big integers on both sides of the
// 64-bit range (also in other radixes), zeros of every kind, infinities,
// NaNs of both signs and payloads, texts, timestamps and collections.
std::vector<Value> key_pool() {
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<Value> v;
  v.push_back(N());
  v.push_back(N());
  v.push_back(B(false));
  v.push_back(B(true));
  for (int64_t i : {int64_t{0}, int64_t{1}, int64_t{-1}, int64_t{2}, (int64_t{1} << 53),
                    (int64_t{1} << 53) + 1, (int64_t{1} << 53) - 1, -(int64_t{1} << 53) - 1,
                    INT64_MAX, INT64_MAX - 1, INT64_MIN, INT64_MIN + 1})
    v.push_back(I(i));
  for (double d : {0.0, -0.0, 0.5, -0.5, 1.0, 2.0, 1.5, 9007199254740992.0, 9007199254740994.0,
                   9223372036854775808.0, -9223372036854775808.0, 18446744073709551616.0,
                   1e30, -1e30, 1e300, 5e-324, inf, -inf})
    v.push_back(F(d));
  for (uint64_t bits : {0x7FF8000000000000ull, 0x7FF8000000000001ull, 0x7FF0000000000001ull,
                        0xFFF8000000000000ull, 0xFFF0000000000001ull})
    v.push_back(F(nan_with(bits)));
  v.push_back(Big("9223372036854775808"));
  v.push_back(Big("9223372036854775809"));
  v.push_back(Big("-9223372036854775809"));
  v.push_back(Big("18446744073709551616"));
  v.push_back(Big("10000000000000000", 16));  // 2**64 again, in hex
  v.push_back(Big("1000000000000000000000000000000"));
  v.push_back(Big("1000000000000000019884624838656"));  // exactly 1e30 as a double
  v.push_back(Big("-1000000000000000019884624838656"));
  v.push_back(Big("not a number"));
  v.push_back(S(""));
  v.push_back(S("a"));
  v.push_back(S("ab"));
  v.push_back(S("b"));
  v.push_back(S("\xc3\xa9"));
  v.push_back(S("2001-12-14"));
  v.push_back(S("2001-12-15"));
  v.push_back(Value::timestamp(YamlTimestamp::date(2001, 12, 14)));
  v.push_back(Value::timestamp(YamlTimestamp::date(2001, 12, 14)));
  v.push_back(Value::timestamp(YamlTimestamp::date_time(2001, 12, 14, 1, 2, 3, 0, 0)));
  v.push_back(Seq(I(1)));
  v.push_back(Map());
  v.push_back(T("!t", I(0)));
  return v;
}

// Irreflexive, transitive, and incomparability transitive: what a sort needs.
TEST(CompareSortKeys, IsAStrictWeakOrdering) {
  std::vector<Value> pool = key_pool();
  const size_t n = pool.size();
  std::vector<std::vector<char>> lt(n, std::vector<char>(n));
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < n; ++j) lt[i][j] = compare_sort_keys(pool[i], pool[j]);
  for (size_t i = 0; i < n; ++i) {
    ASSERT_FALSE(lt[i][i]) << value_debug_text(pool[i]);
    for (size_t j = 0; j < n; ++j) {
      ASSERT_FALSE(lt[i][j] && lt[j][i]) << value_debug_text(pool[i]) << " / " << value_debug_text(pool[j]);
      for (size_t k = 0; k < n; ++k) {
        if (lt[i][j] && lt[j][k]) {
          ASSERT_TRUE(lt[i][k]) << value_debug_text(pool[i]) << " < " << value_debug_text(pool[j]) << " < "
                                << value_debug_text(pool[k]);
        }
        bool eq_ij = !lt[i][j] && !lt[j][i];
        bool eq_jk = !lt[j][k] && !lt[k][j];
        if (eq_ij && eq_jk) {
          ASSERT_TRUE(!lt[i][k] && !lt[k][i]) << value_debug_text(pool[i]) << " ~ " << value_debug_text(pool[j])
                                              << " ~ " << value_debug_text(pool[k]);
        }
      }
    }
  }
}

TEST(CompareSortKeys, ExactNumbers) {
  // Rounding to double would make these equal.
  EXPECT_TRUE(compare_sort_keys(F(9007199254740992.0), I((int64_t{1} << 53) + 1)));
  EXPECT_TRUE(compare_sort_keys(I(INT64_MAX), F(9223372036854775808.0)));
  EXPECT_TRUE(compare_sort_keys(F(9223372036854775808.0), Big("9223372036854775809")));
  EXPECT_FALSE(compare_sort_keys(F(9223372036854775808.0), Big("9223372036854775808")));
  EXPECT_FALSE(compare_sort_keys(Big("9223372036854775808"), F(9223372036854775808.0)));
  EXPECT_TRUE(compare_sort_keys(Big("-9223372036854775809"), I(INT64_MIN)));
  EXPECT_TRUE(compare_sort_keys(I(1), F(1.5)));
  EXPECT_TRUE(compare_sort_keys(F(1.5), I(2)));
  EXPECT_FALSE(compare_sort_keys(I(2), F(2.0)));
  EXPECT_FALSE(compare_sort_keys(F(2.0), I(2)));
  EXPECT_EQ(compare_numbers(Big("18446744073709551616"), Big("10000000000000000", 16)), 0);
  // IEEE total order at the edges: -NaN < -inf, -0.0 < 0 == +0.0, +inf < +NaN.
  EXPECT_TRUE(compare_sort_keys(F(-std::numeric_limits<double>::quiet_NaN()), F(-INFINITY)));
  EXPECT_TRUE(compare_sort_keys(F(-0.0), I(0)));
  EXPECT_TRUE(compare_sort_keys(F(-0.0), F(0.0)));
  EXPECT_FALSE(compare_sort_keys(I(0), F(0.0)));
  EXPECT_TRUE(compare_sort_keys(F(INFINITY), F(std::numeric_limits<double>::quiet_NaN())));
  EXPECT_TRUE(compare_sort_keys(Big("1000000000000000000000000000000"), F(INFINITY)));
}

TEST(CompareSortKeys, RanksAndTexts) {
  EXPECT_TRUE(compare_sort_keys(N(), B(false)));
  EXPECT_TRUE(compare_sort_keys(B(false), B(true)));
  EXPECT_TRUE(compare_sort_keys(B(true), I(-5)));
  EXPECT_TRUE(compare_sort_keys(F(1e300), S("")));
  EXPECT_TRUE(compare_sort_keys(S("a"), S("ab")));
  EXPECT_TRUE(compare_sort_keys(S("b"), S("\xc3\xa9")));  // byte-wise, unsigned
  EXPECT_TRUE(compare_sort_keys(S("zz"), Seq()));
  EXPECT_FALSE(compare_sort_keys(Seq(I(1)), Map()));
  EXPECT_FALSE(compare_sort_keys(T("!a", I(0)), Seq()));
  // A timestamp sorts as its canonical text among the strings.
  EXPECT_TRUE(compare_sort_keys(S("2001-12-13"), Value::timestamp(YamlTimestamp::date(2001, 12, 14))));
  EXPECT_TRUE(compare_sort_keys(Value::timestamp(YamlTimestamp::date(2001, 12, 14)), S("2001-12-15")));
}

TEST(MappingEntryOrder, StableAndSortedOnlyWhenAsked) {
  Value m = Map(P(I(2), S("x")), P(S("b"), S("y")), P(F(2.0), S("z")), P(N(), S("w")), P(Seq(), S("v")),
                P(Map(), S("u")));
  auto unsorted = mapping_entry_order(m.pairs(), false);
  for (size_t i = 0; i < unsorted.size(); ++i) EXPECT_EQ(unsorted[i], &m.pairs()[i]);
  auto sorted = mapping_entry_order(m.pairs(), true);
  std::vector<std::string> values;
  for (const ValuePair* p : sorted) values.emplace_back(p->value.as_string());
  EXPECT_EQ(values, (std::vector<std::string>{"w", "x", "z", "y", "v", "u"}));
}

// Random keys sorted stably agree with a reference built from the pool's
// pairwise order: every adjacent pair is in order, equal keys keep order.
TEST(MappingEntryOrder, RandomMappingsSortConsistently) {
  std::vector<Value> pool = key_pool();
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    PairList pairs;
    std::uniform_int_distribution<size_t> pick(0, pool.size() - 1);
    for (int i = 0; i < 40; ++i) pairs.emplace_back(deep_copy_value(pool[pick(rng)]), I(i));
    auto order = mapping_entry_order(pairs, true);
    for (size_t i = 1; i < order.size(); ++i) {
      ASSERT_FALSE(compare_sort_keys(order[i]->key, order[i - 1]->key));
      if (!compare_sort_keys(order[i - 1]->key, order[i]->key)) {
        ASSERT_LT(order[i - 1]->value.as_int(), order[i]->value.as_int());
      }
    }
  }
}

}  // namespace
}  // namespace qf
