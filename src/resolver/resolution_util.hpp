// Constructors of borrowed results and the integer scans used by both rule
// sets.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

#include "resolver/numbers.hpp"
#include "resolver/resolver.hpp"

namespace qf::resolver_detail {

inline Resolution kind_only(ResolvedKind k) noexcept {
  Resolution r;
  r.kind = k;
  return r;
}
inline Resolution str_result() noexcept { return kind_only(ResolvedKind::Str); }
inline Resolution null_result() noexcept { return kind_only(ResolvedKind::Null); }
inline Resolution bool_result(bool b) noexcept {
  Resolution r;
  r.kind = ResolvedKind::Bool;
  r.truth = b;
  return r;
}
inline Resolution int_result(int64_t v) noexcept {
  Resolution r;
  r.kind = ResolvedKind::Int;
  r.int_value = v;
  return r;
}
inline Resolution float_result(double d) noexcept {
  Resolution r;
  r.kind = ResolvedKind::Float;
  r.float_value = d;
  return r;
}

// Outcome of reading an integer text: whether it has the syntax, and its
// value when that fits a signed 64-bit integer.
struct IntScan {
  bool matches = false;
  bool fits = false;
  int64_t value = 0;

  Resolution result() const noexcept {
    if (fits) return int_result(value);
    return kind_only(matches ? ResolvedKind::BigInt : ResolvedKind::Str);
  }
  // Records the value of a matching text when its magnitude fits.
  void take_magnitude(bool negative, std::optional<uint64_t> magnitude) noexcept {
    if (!magnitude) return;
    if (auto v = signed_from_magnitude(negative, *magnitude)) {
      fits = true;
      value = *v;
    }
  }
  std::optional<int64_t> fitting_value() const noexcept {
    if (!fits) return std::nullopt;
    return value;
  }
};

IntScan scan_yaml12_int(std::string_view text) noexcept;
IntScan scan_yaml11_int(std::string_view text) noexcept;

inline bool has_float_marker(std::string_view s) noexcept {
  for (char c : s)
    if (c == '.' || c == 'e' || c == 'E') return true;
  return false;
}

}  // namespace qf::resolver_detail
