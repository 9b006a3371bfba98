// What the first byte of an untagged plain scalar says under each rule set:
// most texts (keys above all) are strings by that byte alone, so callers
// can take them without a call into the resolver. A test holds these tables
// to the resolvers' full rules.
#pragma once
#include <array>
#include <cstdint>

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

}  // namespace qf::resolver_detail
