// Random texts through every entry point, the decimal float parser against
// the C library as an oracle, and the no-allocation promise of the hot path.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string>

#include "resolver/big_int.hpp"
#include "resolver/resolver.hpp"
#include "resolver/timestamp.hpp"

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

void* operator new(std::size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace qf {
namespace {

constexpr ResolverMode kModes[] = {ResolverMode::Yaml12, ResolverMode::Yaml11, ResolverMode::KestilCompat};

TEST(ResolverRobustness, RandomTextsKeepTheInvariants) {
  const std::string alphabet = "0123456789+-._:eExXoObB~<yYnNtTfFaAlLsSuU \t9Zz";
  std::mt19937_64 rng(12345);
  for (int iter = 0; iter < 200'000; ++iter) {
    std::string text;
    size_t len = rng() % 14;
    for (size_t i = 0; i < len; ++i) text.push_back(alphabet[rng() % alphabet.size()]);
    // Resolve a copy in a buffer exactly as long as the text, so reading past
    // the end would show up under the address sanitizer.
    std::unique_ptr<char[]> exact(new char[len ? len : 1]);
    std::memcpy(exact.get(), text.data(), len);
    std::string_view view(exact.get(), len);
    for (ResolverMode mode : kModes) {
      Resolution r = resolve_scalar(mode, view, ScalarStyle::Plain);
      ResolvedScalar owned = resolve_scalar_owned(mode, view, ScalarStyle::Plain);
      ASSERT_NE(owned.kind, ResolvedKind::Merge);
      if (r.kind == ResolvedKind::BigInt) {
        auto big = big_int_text(view);
        ASSERT_TRUE(big.has_value()) << text;
        ASSERT_EQ(owned.text, big->text);
        ASSERT_FALSE(big->text.empty());
        ASSERT_NE(big->text[0], '+');
        ASSERT_EQ(big->text.find('_'), std::string::npos);
      }
      if (r.kind == ResolvedKind::Int && mode == ResolverMode::Yaml12) {
        ASSERT_EQ(yaml12_int_value(view), r.int_value) << text;
      }
      if (r.kind == ResolvedKind::Str) {
        ASSERT_EQ(owned.text, view);
      }
      if (auto pair = yaml11_ambiguity(mode, view, ScalarStyle::Plain)) {
        ASSERT_NE(pair->mode_kind, pair->yaml12_kind);
        ASSERT_NE(pair->mode_kind, "str");
      }
    }
    if (auto ts = parse_timestamp(view)) {
      ASSERT_TRUE(is_valid_date(ts->year, ts->month, ts->day)) << text;
    }
  }
}

TEST(ResolverRobustness, DecimalFloatsMatchTheCLibrary) {
  std::mt19937_64 rng(777);
  for (int iter = 0; iter < 200'000; ++iter) {
    std::string text;
    if (rng() % 4 == 0) text.push_back(rng() % 2 ? '-' : '+');
    size_t int_digits = rng() % 25;
    for (size_t i = 0; i < int_digits; ++i) text.push_back(static_cast<char>('0' + rng() % 10));
    size_t frac_digits = rng() % 25;
    if (frac_digits || rng() % 2) {
      text.push_back('.');
      for (size_t i = 0; i < frac_digits; ++i) text.push_back(static_cast<char>('0' + rng() % 10));
    }
    if (int_digits + frac_digits == 0) text.push_back('7');
    if (rng() % 2) {
      text.push_back(rng() % 2 ? 'e' : 'E');
      if (rng() % 2) text.push_back(rng() % 2 ? '-' : '+');
      int exp = static_cast<int>(rng() % 700);
      text += std::to_string(exp);
    }
    auto mine = parse_decimal_float(text);
    ASSERT_TRUE(mine.has_value()) << text;
    errno = 0;
    double expected = std::strtod(text.c_str(), nullptr);
    ASSERT_EQ(std::memcmp(&*mine, &expected, sizeof expected), 0)
        << text << " gave " << *mine << " expected " << expected;
  }
}

TEST(ResolverRobustness, HotPathDoesNotAllocate) {
  const char* texts[] = {"name", "a longer plain string value that is not short", "12345", "-42", "3.14159",
                         "1e10", "true", "yes", "null", "~", "", "<<", "0x1F", "0o17", "017", "12:30",
                         "1:30.5", ".inf", "-.NaN", "9223372036854775808", "2001-12-14T21:59:43.10-05:00"};
  long before = g_allocations.load();
  for (const char* t : texts) {
    for (ResolverMode mode : kModes) {
      (void)resolve_scalar(mode, t, ScalarStyle::Plain);
      (void)resolve_scalar(mode, t, ScalarStyle::DoubleQuoted);
      (void)resolve_scalar(mode, t, ScalarStyle::Plain, std::string_view("!!float"));
      (void)yaml11_ambiguity(mode, t, ScalarStyle::Plain);
    }
    (void)parse_timestamp(t);
  }
  EXPECT_EQ(g_allocations.load() - before, 0);
}

}  // namespace
}  // namespace qf
