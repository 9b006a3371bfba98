// Integers outside the signed 64-bit range, kept as canonical text in the
// radix they were written in. Converting a long hex/octal/binary literal to
// decimal is quadratic, so the text stays in its radix and the consumer (the
// host int constructor, which is linear for power-of-two radixes) converts.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qf {

// Canonical big-integer text: an optional leading '-', then one or more
// digits of `radix` (2, 8, 10 or 16) with no '+', no '_', no radix prefix, no
// leading zeros, hex digits in lower case. Two texts denote the same integer
// exactly when (text, radix) are equal, and for equal radix when the texts are
// equal; across radixes compare big_int_magnitude.
struct BigIntText {
  std::string text;
  uint8_t radix = 10;

  friend bool operator==(const BigIntText&, const BigIntText&) = default;
};

// The canonical form of an integer scalar text: optional sign, underscores
// anywhere after it, and the prefixes "0x"/"0X" (16), "0o"/"0O" (8),
// "0b"/"0B" (2), a leading '0' followed only by decimal digits (8), or plain
// decimal digits. Nothing when the text is not of that shape (for example a
// base-60 text). Used for the BigInt kind, whose texts always have this shape.
std::optional<BigIntText> big_int_text(std::string_view scalar_text);

// Radix forms converted to plain decimal digits (with '-' when negative);
// nothing for plain decimal forms, whose text the caller keeps. Quadratic in
// the digit count: for writers, not for the load path.
std::optional<std::string> big_int_decimal_text(std::string_view scalar_text);

// Decimal text (with '-' when negative) of a canonical big-integer text.
std::string big_int_to_decimal(std::string_view text, uint8_t radix);

// Little-endian 64-bit limbs of |value| without high zero limbs (empty for
// zero); the sign is the text's leading '-'. Linear for radixes 2, 8, 16.
std::vector<uint64_t> big_int_magnitude(std::string_view text, uint8_t radix);

// The double equal to the integer when it is exactly representable (so an
// integral float at or beyond 2**63 can be matched against it), else nothing.
std::optional<double> big_int_exact_double(std::string_view text, uint8_t radix);

}  // namespace qf
