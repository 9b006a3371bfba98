#include "support/utf8.hpp"

#include <gtest/gtest.h>

#include <string>

using qf::check_utf8;
using qf::describe_utf8_error;

TEST(Utf8, ValidatesWellFormedText) {
  EXPECT_TRUE(check_utf8("").ok);
  EXPECT_TRUE(check_utf8("plain ascii that is longer than eight bytes").ok);
  EXPECT_TRUE(check_utf8("\xC2\x85 \xE2\x80\xA8 \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF").ok);
}

TEST(Utf8, ReportsMaximalSubpartAndIndex) {
  struct Case {
    std::string in;
    const char* message;
  } cases[] = {
      {"ab\xFF", "invalid utf-8 sequence of 1 bytes from index 2"},
      {"\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"\xC0\x80", "invalid utf-8 sequence of 1 bytes from index 0"},             // overlong lead
      {"\xE0\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},         // overlong 3-byte
      {"\xED\xA0\x80", "invalid utf-8 sequence of 1 bytes from index 0"},         // surrogate
      {"\xF4\x90\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},     // above U+10FFFF
      {"\xE2\x82x", "invalid utf-8 sequence of 2 bytes from index 0"},
      {"12345678\xF0\x9F\x98x", "invalid utf-8 sequence of 3 bytes from index 8"},
      {"a\xE2\x82", "incomplete utf-8 byte sequence from index 1"},
      {"\xF0", "incomplete utf-8 byte sequence from index 0"},
  };
  for (const auto& c : cases) {
    auto r = check_utf8(c.in);
    ASSERT_FALSE(r.ok) << c.message;
    EXPECT_EQ(describe_utf8_error(r), c.message);
  }
}

TEST(Utf8, WhiteSpaceSetHasExactly25CodePoints) {
  int count = 0;
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) count += qf::is_white_space(cp);
  EXPECT_EQ(count, 25);
  std::string s;
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    s.clear();
    qf::append_utf8(s, cp);
    EXPECT_EQ(qf::white_space_length(s.data(), s.data() + s.size()), qf::is_white_space(cp) ? s.size() : 0u) << static_cast<uint32_t>(cp);
    unsigned len;
    EXPECT_EQ(qf::decode_utf8(s.data(), s.data() + s.size(), &len), cp);
    EXPECT_EQ(len, s.size());
  }
}
