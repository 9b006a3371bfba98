// Turning input bytes into UTF-8 text: detection of UTF-8, UTF-16 and UTF-32
// from byte-order marks and zero bytes, and the three decoders. A byte-order
// mark is decoded like any other character and stays at the start of the text.
#pragma once
#include <string>
#include <string_view>

namespace qf {

enum class InputEncoding { Utf8, Utf16BE, Utf16LE, Utf32BE, Utf32LE };

// The encoding of a byte input, chosen from its first four bytes.
InputEncoding detect_input_encoding(std::string_view bytes) noexcept;

// Each decoder appends the text to `out` and returns true, or returns false
// with the error message in `error` ("invalid UTF-8: ...", "invalid UTF-16:
// ...", "invalid UTF-32: ...").
bool decode_input_bytes(std::string_view bytes, std::string& out, std::string& error);
bool decode_utf16_input(std::string_view bytes, bool big_endian, std::string& out, std::string& error);
bool decode_utf32_input(std::string_view bytes, bool big_endian, std::string& out, std::string& error);

// Checks UTF-8 input without copying it; on failure fills `error` with the
// "invalid UTF-8: ..." message.
bool validate_utf8_input(std::string_view bytes, std::string& error);

}  // namespace qf
