// Byte classes shared by the resolvers.
#pragma once
#include <array>
#include <cstdint>
#include <string_view>

namespace qf::resolver_detail {

inline constexpr bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// Digit value of a byte (0..35 for 0-9, a-z, A-Z), 0xFF otherwise.
inline constexpr std::array<uint8_t, 256> kDigitValue = [] {
  std::array<uint8_t, 256> t{};
  for (auto& v : t) v = 0xFF;
  for (int c = '0'; c <= '9'; ++c) t[c] = static_cast<uint8_t>(c - '0');
  for (int c = 'a'; c <= 'z'; ++c) t[c] = static_cast<uint8_t>(c - 'a' + 10);
  for (int c = 'A'; c <= 'Z'; ++c) t[c] = static_cast<uint8_t>(c - 'A' + 10);
  return t;
}();

inline constexpr unsigned digit_value(char c) noexcept {
  return kDigitValue[static_cast<unsigned char>(c)];
}

inline constexpr bool all_digits_of(std::string_view s, unsigned radix) noexcept {
  for (char c : s)
    if (digit_value(c) >= radix) return false;
  return true;
}

// The core tags that steer resolution. Recognised by exact bytes in the short
// ("!!int") and long ("tag:yaml.org,2002:int") forms.
enum class CoreTag : uint8_t { None, Null, Bool, Int, Float, Merge, Other };

inline CoreTag classify_tag(std::string_view tag) noexcept {
  constexpr std::string_view kLong = "tag:yaml.org,2002:";
  std::string_view suffix;
  if (tag.size() > 2 && tag[0] == '!' && tag[1] == '!')
    suffix = tag.substr(2);
  else if (tag.size() > kLong.size() && tag.substr(0, kLong.size()) == kLong)
    suffix = tag.substr(kLong.size());
  else
    return CoreTag::Other;
  switch (suffix.size()) {
    case 3:
      if (suffix == "int") return CoreTag::Int;
      break;
    case 4:
      if (suffix == "null") return CoreTag::Null;
      if (suffix == "bool") return CoreTag::Bool;
      break;
    case 5:
      if (suffix == "float") return CoreTag::Float;
      if (suffix == "merge") return CoreTag::Merge;
      break;
    default:
      break;
  }
  return CoreTag::Other;
}

// "", "~", "null", "Null", "NULL" (the null words of both rule sets).
inline bool is_null_word(std::string_view s) noexcept {
  switch (s.size()) {
    case 0:
      return true;
    case 1:
      return s[0] == '~';
    case 4:
      return s == "null" || s == "Null" || s == "NULL";
    default:
      return false;
  }
}

// "true"/"True"/"TRUE" -> 1, "false"/"False"/"FALSE" -> 0, else -1.
inline int yaml12_bool_word(std::string_view s) noexcept {
  if (s.size() == 4) {
    if (s == "true" || s == "True" || s == "TRUE") return 1;
  } else if (s.size() == 5) {
    if (s == "false" || s == "False" || s == "FALSE") return 0;
  }
  return -1;
}

}  // namespace qf::resolver_detail
