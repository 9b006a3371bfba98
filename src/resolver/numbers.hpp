// Internal number helpers shared by the YAML 1.2 and 1.1 rule sets.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

namespace qf::resolver_detail {

inline constexpr uint64_t kMaxMagnitude = uint64_t{1} << 63;  // |INT64_MIN|

// Digits of `radix` (no sign, at least one digit) as a magnitude of at most
// 2**63; nothing on an invalid digit, an empty text or a larger value.
std::optional<uint64_t> parse_magnitude(std::string_view digits, unsigned radix) noexcept;

// `t` without a leading '+' or '-'; `negative` tells which it was.
inline std::string_view split_sign(std::string_view t, bool& negative) noexcept {
  negative = !t.empty() && t[0] == '-';
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) t.remove_prefix(1);
  return t;
}

// Applies the sign to a magnitude: positive up to 2**63-1, negative down to
// -2**63 (the one value whose magnitude needs the 64th bit).
inline std::optional<int64_t> signed_from_magnitude(bool negative, uint64_t magnitude) noexcept {
  if (negative) {
    if (magnitude > kMaxMagnitude) return std::nullopt;
    return static_cast<int64_t>(0 - magnitude);  // two's complement; -2**63 included
  }
  if (magnitude >= kMaxMagnitude) return std::nullopt;
  return static_cast<int64_t>(magnitude);
}

}  // namespace qf::resolver_detail
