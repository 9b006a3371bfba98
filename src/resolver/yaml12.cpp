// YAML 1.2 core schema resolution.

#include "resolver/char_class.hpp"
#include "resolver/numbers.hpp"
#include "resolver/plain_first_byte.hpp"
#include "resolver/resolution_util.hpp"
#include "resolver/resolver.hpp"

namespace qf {

using namespace resolver_detail;

namespace resolver_detail {

IntScan scan_yaml12_int(std::string_view t) noexcept {
  IntScan out;
  bool negative = false;
  const std::string_view rest = split_sign(t, negative);
  if (rest.empty()) return out;
  std::string_view digits;
  unsigned radix = 10;
  if (rest[0] == '0') {
    if (rest.size() == 1) {
      out.matches = out.fits = true;
      out.value = 0;
      return out;
    }
    char p = rest[1];
    if (p == 'x' || p == 'X')
      radix = 16;
    else if (p == 'o' || p == 'O')
      radix = 8;
    else
      return out;  // "0123", "00"
    digits = rest.substr(2);
  } else if (is_digit(rest[0])) {
    digits = rest;
  } else {
    return out;
  }
  if (digits.empty() || !all_digits_of(digits, radix)) return out;
  out.matches = true;
  out.take_magnitude(negative, parse_magnitude(digits, radix));
  return out;
}

}  // namespace resolver_detail

bool yaml12_int_matches(std::string_view text) noexcept { return scan_yaml12_int(text).matches; }

std::optional<int64_t> yaml12_int_value(std::string_view text) noexcept {
  return scan_yaml12_int(text).fitting_value();
}

namespace {

Resolution resolve_yaml12_tagged(std::string_view text, std::string_view tag) noexcept {
  switch (classify_tag(tag)) {
    case CoreTag::Null:
      return is_null_word(text) ? null_result() : str_result();
    case CoreTag::Bool: {
      int b = yaml12_bool_word(text);
      return b < 0 ? str_result() : bool_result(b == 1);
    }
    case CoreTag::Int:
      return scan_yaml12_int(text).result();
    case CoreTag::Float:
      if (auto f = parse_special_float(text)) return float_result(*f);
      if (auto f = parse_decimal_float(text)) return float_result(*f);
      return str_result();
    default:
      return str_result();
  }
}

}  // namespace

Resolution resolve_yaml12(std::string_view text, ScalarStyle style, ScalarTag tag) noexcept {
  if (tag) return resolve_yaml12_tagged(text, *tag);
  if (style != ScalarStyle::Plain) return str_result();
  if (text.empty()) return null_result();
  switch (resolver_detail::kPlainFirstByte12[static_cast<unsigned char>(text[0])]) {
    case resolver_detail::kFirstWord: {
      if (is_null_word(text)) return null_result();
      int b = yaml12_bool_word(text);
      if (b >= 0) return bool_result(b == 1);
      if (text.size() == 2 && text[0] == '<' && text[1] == '<') return kind_only(ResolvedKind::Merge);
      return str_result();
    }
    case resolver_detail::kFirstNumber: {
      IntScan s = scan_yaml12_int(text);
      if (s.matches) return s.result();
      if (text.size() <= 5) {
        if (auto f = parse_special_float(text)) return float_result(*f);
      }
      if (has_float_marker(text)) {
        if (auto f = parse_decimal_float(text)) return float_result(*f);
      }
      return str_result();
    }
    default:
      return str_result();
  }
}

}  // namespace qf
