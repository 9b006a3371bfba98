// JSON text of a Value tree for to_json: compact or indented, object keys
// optionally sorted, every key turned into a string, timestamps as strings,
// tags dropped, non-finite floats as null. Pure C++: runs without the
// interpreter lock and touches no host object.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "decode/value.hpp"
#include "encode/settings.hpp"

namespace qf {

// The only failure: a collection used as an object key (at any depth, also
// behind tags). On failure the buffer holds a partial text to discard.
inline constexpr std::string_view kJsonCollectionKeyError = "a collection cannot be a JSON object key";

struct JsonWriteError {
  std::string message;
};

// Appends v at `depth` (which only scales the indentation). No final line
// break. Returns the error, or nothing on success.
std::optional<JsonWriteError> write_json_value(std::string& out, const Value& v,
                                               const JsonSettings& settings, uint64_t depth = 0);

// A JSON string literal: \b \t \n \f \r \" \\, other C0 controls as \u00XX,
// U+2028/U+2029 as \u2028/\u2029, everything else (DEL, "/") unchanged.
void write_json_string(std::string& out, std::string_view text);

// A finite double as format_yaml_float writes it (a valid JSON number);
// "null" for infinities and NaN.
void write_json_float(std::string& out, double x);

}  // namespace qf
