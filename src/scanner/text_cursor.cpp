#include "scanner/text_cursor.hpp"

namespace qf {

char32_t TextCursor::current() const noexcept {
  if (position >= length) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(text + position);
  const uint64_t left = length - position;
  unsigned char b = p[0];
  if (b < 0x80) return b;
  if (b >= 0xC0 && b < 0xE0 && left >= 2) return (char32_t(b & 0x1F) << 6) | (p[1] & 0x3F);
  if (b >= 0xE0 && b < 0xF0 && left >= 3)
    return (char32_t(b & 0x0F) << 12) | (char32_t(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
  if (b >= 0xF0 && left >= 4)
    return (char32_t(b & 0x07) << 18) | (char32_t(p[1] & 0x3F) << 12) |
           (char32_t(p[2] & 0x3F) << 6) | (p[3] & 0x3F);
  return 0xFFFD;
}

}  // namespace qf
