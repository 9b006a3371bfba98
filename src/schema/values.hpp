// What the comparing keywords (enum, const, uniqueItems) and the numeric
// keywords need of Values: equality, a hash that agrees with it, and numbers
// read from any numeric kind.
//
// Equality is an equivalence: numbers compare by exact value whatever their
// kind (an Int, an integral Float and a BigInt in any radix can be equal),
// sequences item by item, mappings under a one-to-one pairing of equal pairs,
// texts byte for byte; a Bool is never a number.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

#include "decode/value.hpp"

namespace qf {

// "null", "boolean", "integer", "number", "string", "array", "object".
std::string_view json_type_name(const Value& value) noexcept;

// The value as a double (Int, Float, BigInt correctly rounded); nothing for
// other kinds.
std::optional<double> numeric_value(const Value& value);
// The value as a 128-bit integer (Int, BigInt when it fits); nothing for
// other kinds, Float included.
std::optional<__int128> integer_value(const Value& value);

// Double nearest to a canonical big-integer text (linear in its length).
double big_int_to_double(std::string_view text, uint8_t radix);
// The integer of a canonical big-integer text when it fits 128 bits.
std::optional<__int128> big_int_to_int128(std::string_view text, uint8_t radix);

bool values_equal(const Value& a, const Value& b);
// Whether a NaN lies anywhere in the value (then it equals nothing).
bool holds_nan(const Value& value);
// Equal values hash equal. Iterative over nested collections via recursion
// under the stack guard.
uint64_t value_hash(const Value& value);

}  // namespace qf
