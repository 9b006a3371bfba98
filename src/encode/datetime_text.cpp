#include "encode/datetime_text.hpp"

namespace qf {

namespace {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// sign, two digits, ':', two digits at s[p..p+6)
inline bool offset_hhmm_at(std::string_view s, size_t p) {
  return p + 6 <= s.size() && (s[p] == '+' || s[p] == '-') && is_digit(s[p + 1]) &&
         is_digit(s[p + 2]) && s[p + 3] == ':' && is_digit(s[p + 4]) && is_digit(s[p + 5]);
}

}  // namespace

size_t isoformat_offset_length(std::string_view s) {
  const size_t n = s.size();
  if (n == 0) return 0;
  if (s[n - 1] == 'Z') return 1;
  // +HH:MM:SS.ffffff
  if (n >= 16 && offset_hhmm_at(s, n - 16) && s[n - 10] == ':' && is_digit(s[n - 9]) &&
      is_digit(s[n - 8]) && s[n - 7] == '.') {
    bool digits = true;
    for (size_t i = n - 6; i < n; ++i) digits = digits && is_digit(s[i]);
    if (digits) return 16;
  }
  // +HH:MM:SS
  if (n >= 9 && offset_hhmm_at(s, n - 9) && s[n - 3] == ':' && is_digit(s[n - 2]) &&
      is_digit(s[n - 1]))
    return 9;
  if (n >= 6 && offset_hhmm_at(s, n - 6)) return 6;
  return 0;
}

void append_isoformat_text(std::string& out, std::string_view iso, const IsoformatOptions& opts) {
  size_t suffix_len = isoformat_offset_length(iso);
  std::string_view body = iso.substr(0, iso.size() - suffix_len);
  std::string_view suffix = iso.substr(iso.size() - suffix_len);
  bool is_datetime = body.find('T') != std::string_view::npos;
  if (opts.omit_microseconds) {
    size_t dot = body.find('.');
    if (dot != std::string_view::npos) body = body.substr(0, dot);
  }
  if (opts.naive_utc && suffix.empty() && is_datetime) suffix = "+00:00";
  if (opts.utc_z && suffix == "+00:00") suffix = "Z";
  out.append(body);
  out.append(suffix);
}

std::string rewrite_isoformat_text(std::string_view iso, const IsoformatOptions& opts) {
  std::string s;
  s.reserve(iso.size() + 6);
  append_isoformat_text(s, iso, opts);
  return s;
}

}  // namespace qf
