// Canonical big-integer texts and the few conversions their consumers need.
#include "resolver/big_int.hpp"

#include <algorithm>
#include <cmath>

#include "resolver/char_class.hpp"
#include "resolver/numbers.hpp"

namespace qf {

using resolver_detail::all_digits_of;
using resolver_detail::digit_value;

std::optional<BigIntText> big_int_text(std::string_view t) {
  bool negative = false;
  t = resolver_detail::split_sign(t, negative);
  if (t.empty()) return std::nullopt;

  std::string body;
  body.reserve(t.size());
  for (char c : t)
    if (c != '_') body.push_back(c);
  if (body.empty()) return std::nullopt;

  uint8_t radix = 10;
  size_t start = 0;
  if (body.size() >= 2 && body[0] == '0') {
    char p = body[1];
    if (p == 'x' || p == 'X') {
      radix = 16;
      start = 2;
    } else if (p == 'o' || p == 'O') {
      radix = 8;
      start = 2;
    } else if (p == 'b' || p == 'B') {
      radix = 2;
      start = 2;
    } else {
      radix = 8;  // leading-zero octal
      start = 1;
    }
  }
  std::string_view digits = std::string_view(body).substr(start);
  if (digits.empty() || !all_digits_of(digits, radix)) return std::nullopt;
  size_t nz = digits.find_first_not_of('0');
  digits = nz == std::string_view::npos ? std::string_view("0") : digits.substr(nz);

  BigIntText out;
  out.radix = radix;
  bool zero = digits == "0";
  out.text.reserve(digits.size() + 1);
  if (negative && !zero) out.text.push_back('-');
  for (char c : digits) out.text.push_back(c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c);
  return out;
}

std::vector<uint64_t> big_int_magnitude(std::string_view text, uint8_t radix) {
  if (!text.empty() && text[0] == '-') text.remove_prefix(1);
  std::vector<uint64_t> limbs;
  if (radix == 2 || radix == 8 || radix == 16) {
    const unsigned bits = radix == 2 ? 1 : radix == 8 ? 3 : 4;
    limbs.reserve(text.size() * bits / 64 + 1);
    unsigned __int128 acc = 0;
    unsigned acc_bits = 0;
    for (size_t i = text.size(); i-- > 0;) {
      acc |= static_cast<unsigned __int128>(digit_value(text[i]) & (radix - 1)) << acc_bits;
      acc_bits += bits;
      if (acc_bits >= 64) {
        limbs.push_back(static_cast<uint64_t>(acc));
        acc >>= 64;
        acc_bits -= 64;
      }
    }
    if (acc_bits > 0) limbs.push_back(static_cast<uint64_t>(acc));
  } else {
    // Decimal: multiply-add in chunks of 19 digits (quadratic, as any
    // schoolbook decimal conversion).
    limbs.reserve(text.size() / 19 + 1);
    size_t first = text.size() % 19;
    if (first == 0) first = 19;
    for (size_t i = 0; i < text.size();) {
      const size_t len = i == 0 ? first : 19;
      uint64_t chunk = 0, mul = 1;
      for (size_t k = 0; k < len; ++k) {
        chunk = chunk * 10 + static_cast<uint64_t>(text[i + k] - '0');
        mul *= 10;
      }
      unsigned __int128 carry = chunk;
      for (auto& limb : limbs) {
        unsigned __int128 cur = static_cast<unsigned __int128>(limb) * mul + carry;
        limb = static_cast<uint64_t>(cur);
        carry = cur >> 64;
      }
      if (carry) limbs.push_back(static_cast<uint64_t>(carry));
      i += len;
    }
  }
  while (!limbs.empty() && limbs.back() == 0) limbs.pop_back();
  return limbs;
}

std::string big_int_to_decimal(std::string_view text, uint8_t radix) {
  if (radix == 10) return std::string(text);
  const bool negative = !text.empty() && text[0] == '-';
  std::vector<uint64_t> limbs = big_int_magnitude(text, radix);
  if (limbs.empty()) return "0";
  constexpr uint64_t kChunk = 10'000'000'000'000'000'000ull;  // 10**19
  std::vector<uint64_t> chunks;  // little-endian base 10**19
  while (!limbs.empty()) {
    unsigned __int128 rem = 0;
    for (size_t i = limbs.size(); i-- > 0;) {
      unsigned __int128 cur = (rem << 64) | limbs[i];
      limbs[i] = static_cast<uint64_t>(cur / kChunk);
      rem = cur % kChunk;
    }
    chunks.push_back(static_cast<uint64_t>(rem));
    while (!limbs.empty() && limbs.back() == 0) limbs.pop_back();
  }
  std::string out;
  out.reserve(chunks.size() * 19 + 1);
  if (negative) out.push_back('-');
  out += std::to_string(chunks.back());
  for (size_t i = chunks.size() - 1; i-- > 0;) {
    std::string part = std::to_string(chunks[i]);
    out.append(19 - part.size(), '0');
    out += part;
  }
  return out;
}

std::optional<std::string> big_int_decimal_text(std::string_view scalar_text) {
  auto big = big_int_text(scalar_text);
  if (!big) return std::nullopt;
  // Plain decimal forms keep the caller's text.
  std::string_view t = scalar_text;
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) t.remove_prefix(1);
  size_t first = t.find_first_not_of('_');
  if (first == std::string_view::npos || t[first] != '0') return std::nullopt;
  size_t second = t.find_first_not_of('_', first + 1);
  if (second == std::string_view::npos) return std::nullopt;  // "0": decimal form
  return big_int_to_decimal(big->text, big->radix);
}

std::optional<double> big_int_exact_double(std::string_view text, uint8_t radix) {
  const bool negative = !text.empty() && text[0] == '-';
  std::vector<uint64_t> limbs = big_int_magnitude(text, radix);
  if (limbs.empty()) return 0.0;
  const size_t top_bits = 64 - static_cast<size_t>(__builtin_clzll(limbs.back()));
  const size_t bit_length = (limbs.size() - 1) * 64 + top_bits;
  if (bit_length > 1024) return std::nullopt;
  size_t low_zero = 0;
  for (uint64_t limb : limbs) {
    if (limb == 0) {
      low_zero += 64;
      continue;
    }
    low_zero += static_cast<size_t>(__builtin_ctzll(limb));
    break;
  }
  if (bit_length - low_zero > 53) return std::nullopt;
  // The significant bits fit in 53: gather them from at most two limbs.
  const size_t shift = low_zero;
  const size_t li = shift / 64, bi = shift % 64;
  unsigned __int128 window = limbs[li];
  if (li + 1 < limbs.size()) window |= static_cast<unsigned __int128>(limbs[li + 1]) << 64;
  const uint64_t mantissa = static_cast<uint64_t>(window >> bi);
  double value = std::ldexp(static_cast<double>(mantissa), static_cast<int>(shift));
  return negative ? -value : value;
}

}  // namespace qf
