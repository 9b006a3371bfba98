#include "encode/scalar_safety.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include "resolver/timestamp.hpp"

namespace qf {

namespace {

// First bytes that make a plain scalar unsafe: blanks and the indicators.
constexpr std::array<bool, 256> make_first_byte_table() {
  std::array<bool, 256> t{};
  for (unsigned char c : std::string_view("\t !\"#%&'*,-:>?@[]`{|}")) t[c] = true;
  return t;
}
constexpr auto kBadFirstByte = make_first_byte_table();

// Bytes the inner scan of needs_quotes must look at: '#', ':', C0 controls,
// DEL and the lead bytes of the non-printable multi-byte characters.
constexpr std::array<bool, 256> make_inner_table() {
  std::array<bool, 256> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = true;
  t['#'] = true;
  t[':'] = true;
  t[0x7F] = true;
  t[0xC2] = true;
  t[0xEF] = true;
  return t;
}
constexpr auto kInnerSpecial = make_inner_table();

inline bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// Against a literal: the length is a constant, so the comparison compiles to
// a few loads instead of strlen and memcmp calls.
template <size_t N>
inline bool eq(std::string_view a, const char (&b)[N]) {
  return a.size() == N - 1 && std::memcmp(a.data(), b, N - 1) == 0;
}

// Non-printable multi-byte character starting at i (only 0xC2 and 0xEF leads
// can start one): C1 controls except NEL, U+FFFE, U+FFFF.
inline bool nonprintable_multibyte_at(const unsigned char* p, size_t n, size_t i) {
  if (p[i] == 0xC2) return i + 1 < n && p[i + 1] >= 0x80 && p[i + 1] <= 0x9F && p[i + 1] != 0x85;
  if (p[i] == 0xEF) return i + 2 < n && p[i + 1] == 0xBF && (p[i + 2] == 0xBE || p[i + 2] == 0xBF);
  return false;
}

// Bytes that can start a reserved word.
constexpr std::array<bool, 256> make_reserved_first_table() {
  std::array<bool, 256> t{};
  for (unsigned char c : std::string_view("~yYnNoO<.tTfF-+")) t[c] = true;
  return t;
}
constexpr auto kReservedFirst = make_reserved_first_table();

bool is_reserved_word(std::string_view t, ResolverMode mode) {
  if (!kReservedFirst[static_cast<unsigned char>(t[0])]) return false;
  switch (t.size()) {
    case 1:
      if (t[0] == '~') return true;
      return mode == ResolverMode::Yaml11 && (t[0] == 'y' || t[0] == 'Y' || t[0] == 'n' || t[0] == 'N');
    case 2:
      return eq(t, "no") || eq(t, "No") || eq(t, "NO") || eq(t, "on") || eq(t, "On") ||
             eq(t, "ON") || eq(t, "<<");
    case 3:
      return eq(t, "yes") || eq(t, "Yes") || eq(t, "YES") || eq(t, "off") || eq(t, "Off") ||
             eq(t, "OFF") || eq(t, "...");
    case 4:
      return eq(t, "null") || eq(t, "Null") || eq(t, "NULL") || eq(t, "true") || eq(t, "True") ||
             eq(t, "TRUE") || eq(t, ".inf") || eq(t, ".Inf") || eq(t, ".INF") || eq(t, ".nan") ||
             eq(t, ".NaN") || eq(t, ".NAN");
    case 5:
      return eq(t, "false") || eq(t, "False") || eq(t, "FALSE") || eq(t, "-.inf") ||
             eq(t, "-.Inf") || eq(t, "-.INF") || eq(t, "+.inf") || eq(t, "+.Inf") || eq(t, "+.INF");
    default:
      return false;
  }
}

inline bool is_number_kind(ResolvedKind k) {
  return k == ResolvedKind::Int || k == ResolvedKind::BigInt || k == ResolvedKind::Float;
}

}  // namespace

bool has_nonprintable_char(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = p[i];
    if (c < 0x20 || c == 0x7F) return true;
    if ((c == 0xC2 || c == 0xEF) && nonprintable_multibyte_at(p, n, i)) return true;
  }
  return false;
}

bool is_yaml11_number(std::string_view text, ResolverMode mode) {
  Resolution r = resolve_yaml11(mode == ResolverMode::KestilCompat, text, ScalarStyle::Plain);
  return is_number_kind(r.kind);
}

bool two_digits_at(std::string_view t, size_t p) {
  return p + 1 < t.size() && is_digit(t[p]) && is_digit(t[p + 1]);
}

std::pair<bool, size_t> one_or_two_digits_at(std::string_view t, size_t p) {
  if (p >= t.size() || !is_digit(t[p])) return {false, p};
  if (p + 1 >= t.size() || !is_digit(t[p + 1])) return {true, p + 1};
  return {true, p + 2};
}

bool looks_like_timestamp(std::string_view t) {
  const size_t n = t.size();
  if (n < 5 || !is_digit(t[0]) || !is_digit(t[1]) || !is_digit(t[2]) || !is_digit(t[3]) || t[4] != '-')
    return false;
  if (n == 10 && is_digit(t[5]) && is_digit(t[6]) && t[7] == '-' && is_digit(t[8]) && is_digit(t[9]))
    return true;
  auto [month_ok, p] = one_or_two_digits_at(t, 5);
  if (!month_ok || p >= n || t[p] != '-') return false;
  auto [day_ok, q] = one_or_two_digits_at(t, p + 1);
  if (!day_ok || q >= n) return false;
  p = q;
  if (t[p] == 'T' || t[p] == 't') {
    ++p;
  } else if (t[p] == ' ' || t[p] == '\t') {
    while (p < n && (t[p] == ' ' || t[p] == '\t')) ++p;
  } else {
    return false;
  }
  auto [hour_ok, h] = one_or_two_digits_at(t, p);
  if (!hour_ok) return false;
  p = h;
  if (p >= n || t[p] != ':' || !two_digits_at(t, p + 1)) return false;
  p += 3;
  if (p >= n || t[p] != ':' || !two_digits_at(t, p + 1)) return false;
  p += 3;
  if (p < n && t[p] == '.') {
    ++p;
    while (p < n && is_digit(t[p])) ++p;
    if (p == n) return true;
  }
  if (p == n) return true;
  while (p < n && (t[p] == ' ' || t[p] == '\t')) ++p;
  if (p == n) return true;
  // Both cases of the UTC designator: the timestamp parser accepts "z" too.
  if ((t[p] == 'Z' || t[p] == 'z') && p + 1 == n) return true;
  if (t[p] == '+' || t[p] == '-') {
    auto [zh_ok, z] = one_or_two_digits_at(t, p + 1);
    if (!zh_ok) return false;
    if (z == n) return true;
    return t[z] == ':' && two_digits_at(t, z + 1) && z + 3 == n;
  }
  return false;
}

bool needs_quotes(std::string_view text, ResolverMode mode) {
  const size_t n = text.size();
  if (n == 0) return true;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) return true;
  if (n <= 5 && is_reserved_word(text, mode)) return true;
  if (n >= 4 && p[0] == '.' && p[1] == '.' && p[2] == '.' && (p[3] == ' ' || p[3] == '\t')) return true;
  if (kBadFirstByte[p[0]]) return true;
  if (p[n - 1] == ' ' || p[n - 1] == '\t') return true;
  // One pass for " #", ": ", a final ":" and the non-printable characters.
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = p[i];
    if (!kInnerSpecial[c]) continue;
    if (c == '#') {
      if (i >= 1 && p[i - 1] == ' ') return true;
    } else if (c == ':') {
      if (i >= 1 && (i + 1 == n || p[i + 1] == ' ')) return true;
    } else if (c < 0x20 || c == 0x7F) {
      return true;
    } else if (nonprintable_multibyte_at(p, n, i)) {
      return true;
    }
  }
  unsigned char first = p[0];
  bool numeric_start = is_digit(first) || first == '+' || first == '.' ||
                       (first == '_' && mode != ResolverMode::Yaml12);
  if (!numeric_start) return false;
  if (is_number_kind(resolve_yaml12(text, ScalarStyle::Plain).kind)) return true;
  if (mode != ResolverMode::Yaml12) {
    if (is_yaml11_number(text, mode)) return true;
    return looks_like_timestamp(text) || parse_timestamp(text).has_value();
  }
  if (text.find(':') != std::string_view::npos) return false;
  return is_number_kind(resolve_yaml11(false, text, ScalarStyle::Plain).kind);
}

// Line breaks are C0 controls, so the same scan rules them out.
bool is_single_line_printable(std::string_view text) { return !has_nonprintable_char(text); }

bool fits_literal_block(std::string_view text) {
  // Most texts are short and single-line: a plain loop beats a memchr call.
  if (text.size() <= 32 ? std::find(text.begin(), text.end(), '\n') == text.end()
                        : text.find('\n') == std::string_view::npos)
    return false;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = p[i];
    if (c == '\t' || c == '\n') continue;
    if (c < 0x20 || c == 0x7F) return false;
    if ((c == 0xC2 || c == 0xEF) && nonprintable_multibyte_at(p, n, i)) return false;
  }
  size_t i = 0;
  while (i < n && text[i] == '\n') ++i;
  if (i == n) return true;
  return text[i] != ' ' && text[i] != '\t';
}

bool has_single_inner_space(std::string_view t) {
  for (size_t j = 1; j + 1 < t.size(); ++j)
    if (t[j] == ' ' && t[j - 1] != ' ' && t[j + 1] != ' ') return true;
  return false;
}

}  // namespace qf
