// UTF-8 helpers shared by every subsystem: validation with the position of the
// first ill-formed sequence, code point decoding and encoding, and the Unicode
// White_Space property.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace qf {

// Result of validating a byte string as UTF-8. When `ok` is false,
// `valid_up_to` counts the well-formed bytes before the bad sequence and
// `error_len` is the length (1 to 3) of its maximal ill-formed subpart, or 0
// when the input ends inside a sequence that is well-formed so far.
struct Utf8Check {
  bool ok = true;
  size_t valid_up_to = 0;
  uint8_t error_len = 0;
};

Utf8Check check_utf8(const char* data, size_t size) noexcept;
inline Utf8Check check_utf8(std::string_view s) noexcept { return check_utf8(s.data(), s.size()); }

// Describes a failed check: "invalid utf-8 sequence of {} bytes from index {}"
// or "incomplete utf-8 byte sequence from index {}".
std::string describe_utf8_error(const Utf8Check& check);

// Whether every byte is below 0x80: eight bytes a time, the tail in one
// overlapping word when there are at least eight.
inline bool is_ascii(const char* p, size_t n) noexcept {
  constexpr uint64_t kHigh = 0x8080808080808080ull;
  uint64_t acc = 0, w;
  if (n >= 8) {
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
      std::memcpy(&w, p + i, 8);
      acc |= w;
    }
    std::memcpy(&w, p + n - 8, 8);
    return ((acc | w) & kHigh) == 0;
  }
  for (size_t i = 0; i < n; ++i) acc |= static_cast<unsigned char>(p[i]);
  return (acc & 0x80) == 0;
}

// Number of bytes of the UTF-8 sequence led by `lead` (1 for ASCII and for
// bytes that cannot lead a sequence).
inline unsigned utf8_sequence_length(unsigned char lead) noexcept {
  if (lead < 0xC0) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return 4;
}

// Decodes the code point at p (which must be well-formed UTF-8 and before
// end); stores its byte length in *len.
inline char32_t decode_utf8(const char* p, const char* end, unsigned* len) noexcept {
  auto b0 = static_cast<unsigned char>(p[0]);
  unsigned n = utf8_sequence_length(b0);
  if (n > static_cast<size_t>(end - p)) n = 1;
  *len = n;
  switch (n) {
    case 1: return b0;
    case 2: return ((b0 & 0x1Fu) << 6) | (static_cast<unsigned char>(p[1]) & 0x3Fu);
    case 3:
      return ((b0 & 0x0Fu) << 12) | ((static_cast<unsigned char>(p[1]) & 0x3Fu) << 6) |
             (static_cast<unsigned char>(p[2]) & 0x3Fu);
    default:
      return ((b0 & 0x07u) << 18) | ((static_cast<unsigned char>(p[1]) & 0x3Fu) << 12) |
             ((static_cast<unsigned char>(p[2]) & 0x3Fu) << 6) | (static_cast<unsigned char>(p[3]) & 0x3Fu);
  }
}

// Appends the UTF-8 form of a Unicode scalar value.
inline void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    char b[2] = {static_cast<char>(0xC0 | (cp >> 6)), static_cast<char>(0x80 | (cp & 0x3F))};
    out.append(b, 2);
  } else if (cp < 0x10000) {
    char b[3] = {static_cast<char>(0xE0 | (cp >> 12)), static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
                 static_cast<char>(0x80 | (cp & 0x3F))};
    out.append(b, 3);
  } else {
    char b[4] = {static_cast<char>(0xF0 | (cp >> 18)), static_cast<char>(0x80 | ((cp >> 12) & 0x3F)),
                 static_cast<char>(0x80 | ((cp >> 6) & 0x3F)), static_cast<char>(0x80 | (cp & 0x3F))};
    out.append(b, 4);
  }
}

// The 25 code points with the Unicode White_Space property: TAB, LF, VT, FF,
// CR, space, U+0085, U+00A0, U+1680, U+2000..U+200A, U+2028, U+2029, U+202F,
// U+205F, U+3000.
inline bool is_white_space(char32_t cp) noexcept {
  if (cp < 0x80) return cp == 0x20 || (cp >= 0x09 && cp <= 0x0D);
  switch (cp) {
    case 0x85: case 0xA0: case 0x1680: case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
      return true;
    default:
      return cp >= 0x2000 && cp <= 0x200A;
  }
}

// Byte length of the White_Space character at p in well-formed UTF-8, or 0
// when the character there is not White_Space (or p == end).
inline size_t white_space_length(const char* p, const char* end) noexcept {
  if (p >= end) return 0;
  auto b = static_cast<unsigned char>(*p);
  if (b < 0x80) return (b == 0x20 || (b >= 0x09 && b <= 0x0D)) ? 1 : 0;
  // Every non-ASCII White_Space character starts with C2, E1, E2 or E3.
  if (b != 0xC2 && (b < 0xE1 || b > 0xE3)) return 0;
  unsigned len;
  char32_t cp = decode_utf8(p, end, &len);
  return is_white_space(cp) ? len : 0;
}

}  // namespace qf
