// Number routines shared by the rule sets: special floats, the decimal float
// grammar (locale-free, over non-terminated text), radix integers and
// underscore stripping.
#include "resolver/numbers.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "resolver/char_class.hpp"
#include "resolver/resolver.hpp"

namespace qf {

using resolver_detail::digit_value;
using resolver_detail::is_digit;

namespace resolver_detail {

std::optional<uint64_t> parse_magnitude(std::string_view digits, unsigned radix) noexcept {
  if (digits.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : digits) {
    unsigned d = digit_value(c);
    if (d >= radix) return std::nullopt;
    // value * radix + d must stay <= 2**63.
    if (value > (kMaxMagnitude - d) / radix) return std::nullopt;
    value = value * radix + d;
  }
  return value;
}

}  // namespace resolver_detail

std::optional<int64_t> parse_unsigned_radix(std::string_view text, unsigned radix) noexcept {
  auto m = resolver_detail::parse_magnitude(text, radix);
  if (!m || *m >= resolver_detail::kMaxMagnitude) return std::nullopt;
  return static_cast<int64_t>(*m);
}

std::optional<double> parse_special_float(std::string_view t) noexcept {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  if (t.size() == 4) {
    if (t == ".inf" || t == ".Inf" || t == ".INF") return kInf;
    if (t == ".nan" || t == ".NaN" || t == ".NAN") return std::numeric_limits<double>::quiet_NaN();
  } else if (t.size() == 5 && (t[0] == '+' || t[0] == '-')) {
    std::string_view r = t.substr(1);
    if (r == ".inf" || r == ".Inf" || r == ".INF") return t[0] == '-' ? -kInf : kInf;
  }
  return std::nullopt;
}

namespace {

bool ascii_iequal(std::string_view s, std::string_view lower) noexcept {
  if (s.size() != lower.size()) return false;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

}  // namespace

std::optional<double> parse_decimal_float(std::string_view t) noexcept {
  const size_t n = t.size();
  size_t i = 0;
  bool negative = false;
  if (i < n && (t[i] == '+' || t[i] == '-')) {
    negative = t[i] == '-';
    ++i;
  }
  if (i == n) return std::nullopt;

  if (!is_digit(t[i]) && t[i] != '.') {
    std::string_view word = t.substr(i);
    if (ascii_iequal(word, "inf") || ascii_iequal(word, "infinity")) {
      constexpr double kInf = std::numeric_limits<double>::infinity();
      return negative ? -kInf : kInf;
    }
    if (ascii_iequal(word, "nan")) {
      double nan = std::numeric_limits<double>::quiet_NaN();
      return negative ? -nan : nan;
    }
    return std::nullopt;
  }

  // Grammar: digits [ '.' digits ] [ (e|E) [sign] digits ], at least one
  // mantissa digit.
  const size_t int_start = i;
  while (i < n && is_digit(t[i])) ++i;
  const size_t int_end = i;
  size_t frac_start = i, frac_end = i;
  if (i < n && t[i] == '.') {
    frac_start = ++i;
    while (i < n && is_digit(t[i])) ++i;
    frac_end = i;
  }
  if (int_end == int_start && frac_end == frac_start) return std::nullopt;
  int64_t exponent = 0;
  if (i < n && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    bool exp_negative = false;
    if (i < n && (t[i] == '+' || t[i] == '-')) {
      exp_negative = t[i] == '-';
      ++i;
    }
    const size_t exp_start = i;
    while (i < n && is_digit(t[i])) {
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (t[i] - '0');
      ++i;
    }
    if (i == exp_start) return std::nullopt;
    if (exp_negative) exponent = -exponent;
  }
  if (i != n) return std::nullopt;

  // from_chars takes a '-' but not a '+'.
  const char* first = t.data() + (t[0] == '+' ? 1 : 0);
  const char* last = t.data() + n;
  double value = 0.0;
  auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
  if (ec == std::errc() && ptr == last) return value;
  if (ec != std::errc::result_out_of_range) return std::nullopt;

  // Out of range: decide overflow against underflow from the position of the
  // first significant digit.
  int64_t magnitude = 0;
  size_t k = int_start;
  while (k < int_end && t[k] == '0') ++k;
  if (k < int_end) {
    magnitude = static_cast<int64_t>(int_end - k) + exponent;
  } else {
    size_t z = frac_start;
    while (z < frac_end && t[z] == '0') ++z;
    if (z == frac_end) return negative ? -0.0 : 0.0;
    magnitude = exponent - static_cast<int64_t>(z - frac_start);
  }
  if (magnitude > 0) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    return negative ? -kInf : kInf;
  }
  return negative ? -0.0 : 0.0;
}

std::string_view strip_underscores(std::string_view text, std::string& storage) {
  if (text.find('_') == std::string_view::npos) return text;
  storage.clear();
  storage.reserve(text.size());
  for (char c : text)
    if (c != '_') storage.push_back(c);
  return storage;
}

}  // namespace qf
