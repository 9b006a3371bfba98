// YAML 1.1 resolution, lenient (Yaml11) and strict (KestilCompat).
#include <string>

#include "resolver/char_class.hpp"
#include "resolver/numbers.hpp"
#include "resolver/plain_first_byte.hpp"
#include "resolver/resolution_util.hpp"
#include "resolver/resolver.hpp"

namespace qf {

using namespace resolver_detail;

std::optional<bool> yaml11_bool(std::string_view s, bool strict) noexcept {
  switch (s.size()) {
    case 1:
      if (strict) return std::nullopt;
      if (s[0] == 'y' || s[0] == 'Y') return true;
      if (s[0] == 'n' || s[0] == 'N') return false;
      return std::nullopt;
    case 2:
      if (s == "on" || s == "On" || s == "ON") return true;
      if (s == "no" || s == "No" || s == "NO") return false;
      return std::nullopt;
    case 3:
      if (s == "yes" || s == "Yes" || s == "YES") return true;
      if (s == "off" || s == "Off" || s == "OFF") return false;
      return std::nullopt;
    case 4:
      if (s == "true" || s == "True" || s == "TRUE") return true;
      return std::nullopt;
    case 5:
      if (s == "false" || s == "False" || s == "FALSE") return false;
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

namespace {

// Base-60 integer body ("190:20:30"): the first part any length without a
// leading zero, later parts one or two digits up to 59.
std::optional<uint64_t> base60_int_magnitude(std::string_view body) noexcept {
  uint64_t value = 0;
  size_t start = 0;
  bool first = true;
  while (true) {
    size_t colon = body.find(':', start);
    std::string_view part =
        body.substr(start, colon == std::string_view::npos ? std::string_view::npos : colon - start);
    if (part.empty() || !all_digits_of(part, 10)) return std::nullopt;
    uint64_t pv;
    if (first) {
      if (part[0] == '0') return std::nullopt;
      auto m = parse_magnitude(part, 10);
      if (!m) return std::nullopt;
      pv = *m;
      value = pv;
      first = false;
    } else {
      if (part.size() > 2) return std::nullopt;
      pv = static_cast<uint64_t>(part[0] - '0');
      if (part.size() == 2) pv = pv * 10 + static_cast<uint64_t>(part[1] - '0');
      if (pv > 59) return std::nullopt;
      if (value > (kMaxMagnitude - pv) / 60) return std::nullopt;
      value = value * 60 + pv;
    }
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  return value;
}

}  // namespace

namespace resolver_detail {

IntScan scan_yaml11_int(std::string_view t) noexcept {
  IntScan out;
  bool negative = false;
  const std::string_view rest = split_sign(t, negative);
  if (rest.empty()) return out;
  std::string storage;
  std::string_view body = strip_underscores(rest, storage);
  if (body.empty()) return out;

  std::optional<uint64_t> magnitude;
  if (body[0] == '0' && body.size() >= 2 && (body[1] == 'x' || body[1] == 'X')) {
    std::string_view digits = body.substr(2);
    out.matches = !digits.empty() && all_digits_of(digits, 16);
    if (out.matches) magnitude = parse_magnitude(digits, 16);
  } else if (body[0] == '0' && body.size() >= 2 && (body[1] == 'b' || body[1] == 'B')) {
    std::string_view digits = body.substr(2);
    out.matches = !digits.empty() && all_digits_of(digits, 2);
    if (out.matches) magnitude = parse_magnitude(digits, 2);
  } else if (body[0] == '0') {
    std::string_view digits = body.substr(1);
    out.matches = all_digits_of(digits, 8);
    if (out.matches) magnitude = digits.empty() ? std::optional<uint64_t>(0) : parse_magnitude(digits, 8);
  } else if (body.find(':') != std::string_view::npos) {
    magnitude = base60_int_magnitude(body);  // value only: base 60 is no BigInt syntax
  } else {
    out.matches = all_digits_of(body, 10);
    if (out.matches) magnitude = parse_magnitude(body, 10);
  }
  out.take_magnitude(negative, magnitude);
  return out;
}

}  // namespace resolver_detail

bool yaml11_int_matches(std::string_view text) noexcept { return scan_yaml11_int(text).matches; }

std::optional<int64_t> yaml11_int_value(std::string_view text) noexcept {
  return scan_yaml11_int(text).fitting_value();
}

std::optional<double> yaml11_base60_float(std::string_view s) noexcept {
  bool negative = false;
  s = split_sign(s, negative);
  if (s.empty()) return std::nullopt;
  size_t last_colon = s.rfind(':');
  if (last_colon == std::string_view::npos) return std::nullopt;

  double value = 0.0;
  size_t start = 0;
  bool first = true;
  while (true) {
    size_t colon = s.find(':', start);
    const bool last = colon == std::string_view::npos;
    std::string_view part = s.substr(start, last ? std::string_view::npos : colon - start);
    size_t dot = part.find('.');
    if (!last && dot != std::string_view::npos) return std::nullopt;
    if (first) {
      // The leading part is plain decimal digits: "1e3:30.5" and "inf:30.5"
      // are not sexagesimal numbers.
      if (part.empty() || !all_digits_of(part, 10)) return std::nullopt;
    } else {
      std::string_view head = part.substr(0, dot);
      if (!head.empty() && head[0] == '+') head.remove_prefix(1);
      if (head.empty() || !all_digits_of(head, 10)) return std::nullopt;
      unsigned hv = 0;
      for (char c : head) {
        hv = hv * 10 + static_cast<unsigned>(c - '0');
        if (hv > 59) return std::nullopt;
      }
    }
    auto pv = parse_decimal_float(part);
    if (!pv) return std::nullopt;
    value = first ? *pv : value * 60.0 + *pv;
    first = false;
    if (last) break;
    start = colon + 1;
  }
  return negative ? -value : value;
}

namespace {

Resolution tagged_float11(std::string_view text) noexcept {
  if (auto f = parse_special_float(text)) return float_result(*f);
  std::string storage;
  std::string_view s = strip_underscores(text, storage);
  std::optional<double> f = s.find(':') != std::string_view::npos ? yaml11_base60_float(s)
                                                                  : parse_decimal_float(s);
  return f ? float_result(*f) : str_result();
}

Resolution resolve_yaml11_tagged(bool strict, std::string_view text, std::string_view tag) noexcept {
  switch (classify_tag(tag)) {
    case CoreTag::Null:
      return is_null_word(text) ? null_result() : str_result();
    case CoreTag::Bool: {
      auto b = yaml11_bool(text, strict);
      return b ? bool_result(*b) : str_result();
    }
    case CoreTag::Int:
      return scan_yaml11_int(text).result();
    case CoreTag::Float:
      return tagged_float11(text);
    case CoreTag::Merge:
      return kind_only(ResolvedKind::Merge);
    default:
      return str_result();
  }
}

Resolution resolve_number11(bool strict, std::string_view text) noexcept {
  if (strict) {
    size_t i = (text[0] == '+' || text[0] == '-') ? 1 : 0;
    if (i < text.size() && text[i] == '_') return str_result();
  }
  IntScan is = scan_yaml11_int(text);
  if (is.matches || is.fits) return is.result();
  if (text.size() <= 5) {
    if (auto f = parse_special_float(text)) return float_result(*f);
  }
  std::string storage;
  std::string_view s = strip_underscores(text, storage);
  bool dot = false, exp = false, colon = false;
  size_t exp_pos = 0;
  for (size_t k = 0; k < s.size(); ++k) {
    char c = s[k];
    if (c == '.') {
      dot = true;
    } else if (c == 'e' || c == 'E') {
      if (!exp) exp_pos = k;
      exp = true;
    } else if (c == ':') {
      colon = true;
    }
  }
  if (!dot && !exp) return str_result();
  if (colon && dot) {
    auto f = yaml11_base60_float(s);
    return f ? float_result(*f) : str_result();
  }
  if (strict) {
    if (!dot) return str_result();
    if (exp && (exp_pos + 1 >= s.size() || (s[exp_pos + 1] != '+' && s[exp_pos + 1] != '-')))
      return str_result();
  }
  auto f = parse_decimal_float(s);
  return f ? float_result(*f) : str_result();
}

}  // namespace

Resolution resolve_yaml11(bool strict, std::string_view text, ScalarStyle style,
                          ScalarTag tag) noexcept {
  if (tag) return resolve_yaml11_tagged(strict, text, *tag);
  if (style != ScalarStyle::Plain) return str_result();
  if (text.empty()) return null_result();
  switch (resolver_detail::kPlainFirstByte11[static_cast<unsigned char>(text[0])]) {
    case resolver_detail::kFirstWord: {
      if (is_null_word(text)) return null_result();
      if (text.size() == 2 && text[0] == '<' && text[1] == '<') return kind_only(ResolvedKind::Merge);
      if (auto b = yaml11_bool(text, strict)) return bool_result(*b);
      return str_result();
    }
    case resolver_detail::kFirstNumber:
      return resolve_number11(strict, text);
    default:
      return str_result();
  }
}

}  // namespace qf
