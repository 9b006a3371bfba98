#include "support/input_decode.hpp"

#include <cstdint>

#include "support/utf8.hpp"

namespace qf {

InputEncoding detect_input_encoding(std::string_view bytes) noexcept {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  if (n >= 4 && b[0] == 0x00 && b[1] == 0x00 && b[2] == 0xFE && b[3] == 0xFF) return InputEncoding::Utf32BE;
  if (n >= 4 && b[0] == 0xFF && b[1] == 0xFE && b[2] == 0x00 && b[3] == 0x00) return InputEncoding::Utf32LE;
  if (n >= 2 && b[0] == 0xFE && b[1] == 0xFF) return InputEncoding::Utf16BE;
  if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) return InputEncoding::Utf16LE;
  if (n >= 4 && b[0] == 0 && b[1] == 0 && b[2] == 0) return InputEncoding::Utf32BE;
  if (n >= 4 && b[1] == 0 && b[2] == 0 && b[3] == 0) return InputEncoding::Utf32LE;
  if (n >= 2 && b[0] == 0) return InputEncoding::Utf16BE;
  if (n >= 2 && b[1] == 0) return InputEncoding::Utf16LE;
  return InputEncoding::Utf8;
}

bool validate_utf8_input(std::string_view bytes, std::string& error) {
  Utf8Check c = check_utf8(bytes);
  if (c.ok) return true;
  error = "invalid UTF-8: " + describe_utf8_error(c);
  return false;
}

bool decode_utf16_input(std::string_view bytes, bool big_endian, std::string& out, std::string& error) {
  const size_t n = bytes.size();
  if (n % 2 != 0) {
    error = "invalid UTF-16: byte count is not a multiple of 2";
    return false;
  }
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t units = n / 2;
  out.reserve(out.size() + units + units / 2);
  auto unit = [&](size_t i) -> char32_t {
    return big_endian ? (char32_t(b[2 * i]) << 8) | b[2 * i + 1] : (char32_t(b[2 * i + 1]) << 8) | b[2 * i];
  };
  for (size_t i = 0; i < units; ++i) {
    char32_t u = unit(i);
    if (u < 0x80) {
      out.push_back(static_cast<char>(u));
      continue;
    }
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 < units) {
        char32_t v = unit(i + 1);
        if (v >= 0xDC00 && v <= 0xDFFF) {
          append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
          ++i;
          continue;
        }
      }
      error = "invalid UTF-16: unpaired surrogate";
      return false;
    }
    if (u >= 0xDC00 && u <= 0xDFFF) {
      error = "invalid UTF-16: unpaired surrogate";
      return false;
    }
    append_utf8(out, u);
  }
  return true;
}

bool decode_utf32_input(std::string_view bytes, bool big_endian, std::string& out, std::string& error) {
  const size_t n = bytes.size();
  if (n % 4 != 0) {
    error = "invalid UTF-32: byte count is not a multiple of 4";
    return false;
  }
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  out.reserve(out.size() + n / 4);
  for (size_t i = 0; i < n; i += 4) {
    uint32_t u = big_endian ? (uint32_t(b[i]) << 24) | (uint32_t(b[i + 1]) << 16) | (uint32_t(b[i + 2]) << 8) | b[i + 3]
                            : (uint32_t(b[i + 3]) << 24) | (uint32_t(b[i + 2]) << 16) | (uint32_t(b[i + 1]) << 8) | b[i];
    if (u > 0x10FFFF || (u >= 0xD800 && u <= 0xDFFF)) {
      error = "invalid UTF-32: not a Unicode scalar value";
      return false;
    }
    append_utf8(out, u);
  }
  return true;
}

bool decode_input_bytes(std::string_view bytes, std::string& out, std::string& error) {
  switch (detect_input_encoding(bytes)) {
    case InputEncoding::Utf32BE: return decode_utf32_input(bytes, true, out, error);
    case InputEncoding::Utf32LE: return decode_utf32_input(bytes, false, out, error);
    case InputEncoding::Utf16BE: return decode_utf16_input(bytes, true, out, error);
    case InputEncoding::Utf16LE: return decode_utf16_input(bytes, false, out, error);
    case InputEncoding::Utf8: break;
  }
  if (!validate_utf8_input(bytes, error)) return false;
  out.append(bytes);
  return true;
}

}  // namespace qf
