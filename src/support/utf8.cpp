#include "support/utf8.hpp"

#include <cstring>

namespace qf {

// Checks follow the Unicode Standard's table of well-formed byte sequences;
// the reported error length is the maximal ill-formed subpart.
Utf8Check check_utf8(const char* data, size_t size) noexcept {
  const auto* s = reinterpret_cast<const unsigned char*>(data);
  size_t i = 0;
  while (i < size) {
    // ASCII fast path, eight bytes at a time.
    while (i + 8 <= size) {
      uint64_t w;
      std::memcpy(&w, s + i, 8);
      if (w & 0x8080808080808080ull) break;
      i += 8;
    }
    if (i >= size) break;
    unsigned char b0 = s[i];
    if (b0 < 0x80) {
      ++i;
      continue;
    }
    Utf8Check bad{false, i, 1};
    unsigned need;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      need = 1;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      need = 2;
      if (b0 == 0xE0) lo = 0xA0;
      if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      need = 3;
      if (b0 == 0xF0) lo = 0x90;
      if (b0 == 0xF4) hi = 0x8F;
    } else {
      return bad;
    }
    for (unsigned k = 1; k <= need; ++k) {
      if (i + k >= size) return Utf8Check{false, i, 0};
      unsigned char b = s[i + k];
      unsigned char l = k == 1 ? lo : 0x80, h = k == 1 ? hi : 0xBF;
      if (b < l || b > h) {
        bad.error_len = static_cast<uint8_t>(k);
        return bad;
      }
    }
    i += need + 1;
  }
  return Utf8Check{true, size, 0};
}

std::string describe_utf8_error(const Utf8Check& check) {
  if (check.error_len == 0)
    return "incomplete utf-8 byte sequence from index " + std::to_string(check.valid_up_to);
  return "invalid utf-8 sequence of " + std::to_string(check.error_len) + " bytes from index " +
         std::to_string(check.valid_up_to);
}

}  // namespace qf
