// Character cursor over a UTF-8 text: byte offset plus line and column, where
// columns count characters and CR, LF and CR LF are the only line breaks.
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "scanner/token.hpp"

namespace qf {

struct TextCursor {
  const char* text = nullptr;
  uint64_t length = 0;
  uint64_t position = 0;
  uint32_t line = 0;
  uint32_t column = 0;
  uint32_t file_id = 0;
  bool has_bom = false;

  TextCursor() = default;
  explicit TextCursor(std::string_view t) : text(t.data()), length(t.size()) {
    if (length >= 3 && static_cast<unsigned char>(text[0]) == 0xEF &&
        static_cast<unsigned char>(text[1]) == 0xBB &&
        static_cast<unsigned char>(text[2]) == 0xBF) {
      has_bom = true;
      position = 3;
    }
  }

  bool at_end() const noexcept { return position >= length; }
  // Byte at `position + k`, or 0 past the end.
  unsigned char byte_at(uint64_t k) const noexcept {
    return position + k < length ? static_cast<unsigned char>(text[position + k]) : 0;
  }
  unsigned char cur() const noexcept { return byte_at(0); }

  // Unicode scalar value at `position`; U+0000 at the end of input.
  char32_t current() const noexcept;
  // The character one (or three) characters after the current one.
  std::optional<char32_t> peek_next() const noexcept { return peek(1); }
  std::optional<char32_t> peek_third() const noexcept { return peek(3); }
  // First character at or after `position` that is neither TAB nor SPACE.
  std::optional<char32_t> first_non_blank() const noexcept {
    uint64_t p = position;
    while (p < length && (text[p] == ' ' || text[p] == '\t')) ++p;
    if (p >= length) return std::nullopt;
    return TextCursor(*this, p).current();
  }
  bool starts_with3(const char* p) const noexcept {
    return length - position >= 3 && text[position] == p[0] &&
           text[position + 1] == p[1] && text[position + 2] == p[2];
  }

  // Moves past one character.
  void advance() noexcept {
    if (position >= length) return;
    unsigned char c = static_cast<unsigned char>(text[position]);
    position += c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (position > length) position = length;
    ++column;
  }
  void advance3() noexcept {
    advance();
    advance();
    advance();
  }
  // Moves past `n` ASCII bytes known to be on the current line.
  void advance_ascii(uint32_t n) noexcept {
    position += n;
    column += n;
  }
  void consume_line_break() noexcept {
    unsigned char c = cur();
    if (c == '\r') {
      ++position;
      if (cur() == '\n') ++position;
    } else if (c == '\n') {
      ++position;
    } else {
      return;
    }
    ++line;
    column = 0;
  }
  void skip_blanks() noexcept {
    for (;;) {
      skip_spaces();
      if (position >= length || text[position] != '\t') return;
      ++position;
      ++column;
    }
  }
  // Indentation runs are often long: eight bytes at a time, the first
  // non-SPACE byte found from the lowest set bit of the XOR. (GCC warns on
  // the guarded 8-byte read when it sees a shorter constant text.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
  void skip_spaces() noexcept {
    uint64_t p = position;
    if constexpr (std::endian::native == std::endian::little) {
      while (p + 8 <= length) {
        uint64_t w;
        std::memcpy(&w, text + p, 8);
        w ^= 0x2020202020202020ULL;
        if (w != 0) {
          p += static_cast<uint64_t>(std::countr_zero(w)) >> 3;
          column += static_cast<uint32_t>(p - position);
          position = p;
          return;
        }
        p += 8;
      }
    }
    while (p < length && text[p] == ' ') ++p;
    column += static_cast<uint32_t>(p - position);
    position = p;
  }
#pragma GCC diagnostic pop
  bool is_document_marker() const noexcept {
    if (column != 0 || !(starts_with3("---") || starts_with3("..."))) return false;
    if (position + 3 >= length) return true;
    unsigned char c = static_cast<unsigned char>(text[position + 3]);
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
  }

  Span span() const noexcept { return Span{file_id, line, column, position}; }

 private:
  TextCursor(const TextCursor& other, uint64_t at) noexcept : TextCursor(other) { position = at; }
  std::optional<char32_t> peek(int n) const noexcept {
    TextCursor c(*this, position);
    for (int i = 0; i < n; ++i) {
      if (c.at_end()) return std::nullopt;
      c.advance();
    }
    if (c.at_end()) return std::nullopt;
    return c.current();
  }
};

}  // namespace qf
