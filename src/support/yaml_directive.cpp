#include "support/yaml_directive.hpp"

#include <emmintrin.h>

#include <cstring>

#include "support/utf8.hpp"

namespace qf {

namespace {

const char* skip_white(const char* p, const char* end) noexcept {
  while (size_t n = white_space_length(p, end)) p += n;
  return p;
}

const char* skip_word(const char* p, const char* end) noexcept {
  while (p < end && white_space_length(p, end) == 0) {
    size_t n = utf8_sequence_length(static_cast<unsigned char>(*p));
    p = n < static_cast<size_t>(end - p) ? p + n : end;
  }
  return p;
}

bool parse_u32(std::string_view digits, uint32_t& out) noexcept {
  if (digits.empty()) return false;
  uint64_t v = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
    if (v > UINT32_MAX) return false;
  }
  out = static_cast<uint32_t>(v);
  return true;
}

// Judges the version word of a %YAML line.
std::optional<YamlVersion> parse_version(std::string_view word) noexcept {
  if (word.empty() || word.front() == '#') return std::nullopt;
  size_t dot = word.find('.');
  if (dot == std::string_view::npos) return std::nullopt;
  YamlVersion v;
  if (!parse_u32(word.substr(0, dot), v.major) || !parse_u32(word.substr(dot + 1), v.minor)) return std::nullopt;
  return v;
}

// First LF or CR in [p, end), or end. Leading comment blocks (licence
// headers) are a sixth of some real files, so they are crossed 16 bytes at a
// time for both breaks at once.
const char* find_line_break(const char* p, const char* end) noexcept {
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i cr = _mm_set1_epi8('\r');
  for (; end - p >= 16; p += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const unsigned mask =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr))));
    if (mask != 0) return p + __builtin_ctz(mask);
  }
  while (p < end && *p != '\n' && *p != '\r') ++p;
  return p;
}

}  // namespace

namespace yaml_directive_detail {

std::optional<YamlVersion> sniff_lines(std::string_view text) noexcept {
  // A text of up to 64 KiB without a '%' has no directive: one search beats
  // the line walk over a leading comment block (a licence header), while on
  // larger texts the walk stops at the first content line long before a
  // search would end.
  constexpr size_t kWholeTextSearch = 64 * 1024;
  if (text.size() <= kWholeTextSearch && !std::memchr(text.data(), '%', text.size())) return std::nullopt;

  const char* p = text.data();
  const char* end = p + text.size();
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") p += 3;
  while (p < end) {
    // One line: [p, eol), the break after it skipped below.
    const char* eol = find_line_break(p, end);
    const char* next = eol;
    if (next < end) next += (*next == '\r' && next + 1 < end && next[1] == '\n') ? 2 : 1;

    const char* q = skip_white(p, eol);
    if (q == eol || *q == '#') {
      p = next;
      continue;
    }
    if (*q != '%') return std::nullopt;
    const char* w1 = skip_white(q + 1, eol);
    const char* w1_end = skip_word(w1, eol);
    if (std::string_view(w1, static_cast<size_t>(w1_end - w1)) != "YAML") {
      p = next;
      continue;
    }
    const char* w2 = skip_white(w1_end, eol);
    const char* w2_end = skip_word(w2, eol);
    return parse_version(std::string_view(w2, static_cast<size_t>(w2_end - w2)));
  }
  return std::nullopt;
}

}  // namespace yaml_directive_detail

}  // namespace qf
