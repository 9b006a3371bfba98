// What the first byte of an untagged plain scalar says under each rule set:
// most texts (keys above all) are strings by that byte alone, or by it and
// their length, so callers can take them without a call into the resolver.
// The resolvers dispatch on the same tables.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "resolver/resolver.hpp"

namespace qf::resolver_detail {

// kFirstStr: the text is a string. kFirstWord: it may be a null, a bool or
// the merge key. kFirstNumber: it may be a number.
enum : uint8_t { kFirstStr = 0, kFirstWord = 1, kFirstNumber = 2 };

inline constexpr std::array<uint8_t, 256> kPlainFirstByte12 = [] {
  std::array<uint8_t, 256> t{};
  for (char c : {'~', 'n', 'N', 't', 'T', 'f', 'F', '<'}) t[static_cast<unsigned char>(c)] = kFirstWord;
  for (int c = '0'; c <= '9'; ++c) t[c] = kFirstNumber;
  for (char c : {'+', '-', '.'}) t[static_cast<unsigned char>(c)] = kFirstNumber;
  return t;
}();

// Both 1.1 rule sets, strict and lenient.
inline constexpr std::array<uint8_t, 256> kPlainFirstByte11 = [] {
  std::array<uint8_t, 256> t{};
  for (char c : {'~', 'n', 'N', 't', 'T', 'f', 'F', '<', 'y', 'Y', 'o', 'O'})
    t[static_cast<unsigned char>(c)] = kFirstWord;
  for (int c = '0'; c <= '9'; ++c) t[c] = kFirstNumber;
  for (char c : {'+', '-', '.', '_'}) t[static_cast<unsigned char>(c)] = kFirstNumber;
  return t;
}();

inline const uint8_t* plain_first_byte_table(ResolverMode mode) noexcept {
  return mode == ResolverMode::Yaml12 ? kPlainFirstByte12.data() : kPlainFirstByte11.data();
}

// The longest null, bool or merge word of any rule set ("false").
inline constexpr size_t kMaxPlainWord = 5;

// Whether `text`, at most kMaxPlainWord bytes after a word's first byte, is
// none of the 1.2 rule set's null, bool and merge words. Short keys such as
// "name" or "type" are common, so this is cheaper than the resolver's call.
inline bool not_a_yaml12_word(std::string_view text) noexcept {
  switch (text.size()) {
    case 1:
      return text[0] != '~';
    case 2:
      return text != "<<";
    case 4:
      return text != "null" && text != "Null" && text != "NULL" && text != "true" &&
             text != "True" && text != "TRUE";
    case 5:
      return text != "false" && text != "False" && text != "FALSE";
    default:
      return true;
  }
}

// Whether the non-empty untagged plain `text` is a string by its first byte
// under `table` (one of the above), or by its length after a word's first
// byte, or (under the 1.2 table) by not being one of its words.
[[gnu::always_inline]] inline bool plain_is_string_early(const uint8_t* table, std::string_view text) noexcept {
  const uint8_t c = table[static_cast<unsigned char>(text[0])];
  if (c == kFirstStr) return true;
  if (c != kFirstWord) return false;
  return text.size() > kMaxPlainWord ||
         (table == kPlainFirstByte12.data() && not_a_yaml12_word(text));
}

}  // namespace qf::resolver_detail
