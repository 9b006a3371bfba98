#include "encode/scalar_text.hpp"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace qf {
namespace {

TEST(FormatYamlFloat, Table) {
  struct Case {
    double x;
    const char* text;
  } cases[] = {
      {1.0, "1.0"},
      {100.0, "100.0"},
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {0.1, "0.1"},
      {-2.5, "-2.5"},
      {0.0001, "0.0001"},
      {0.00001, "1.0e-05"},
      {1e15, "1000000000000000.0"},
      {1e16, "1.0e+16"},
      {1.5e300, "1.5e+300"},
      {123456.789, "123456.789"},
      {1.5e-7, "1.5e-07"},
      {-1.5e-7, "-1.5e-07"},
      {1.7976931348623157e308, "1.7976931348623157e+308"},
      {5e-324, "5.0e-324"},
      {9007199254740993.0, "9007199254740992.0"},
      {123456789012345678.0, "1.2345678901234568e+17"},
      {std::numeric_limits<double>::infinity(), ".inf"},
      {-std::numeric_limits<double>::infinity(), "-.inf"},
      {std::numeric_limits<double>::quiet_NaN(), ".nan"},
      {-std::numeric_limits<double>::quiet_NaN(), ".nan"},
  };
  for (const auto& c : cases) EXPECT_EQ(format_yaml_float(c.x), c.text) << c.x;
}

// Every finite double reads back exactly, and the text always has a "."
// (so no YAML reader takes it for an integer) and a signed exponent.
TEST(FormatYamlFloat, RoundTripsRandomBitPatterns) {
  std::mt19937_64 rng(12345);
  for (int i = 0; i < 200000; ++i) {
    uint64_t bits = rng();
    double x;
    std::memcpy(&x, &bits, sizeof x);
    if (!std::isfinite(x)) continue;
    std::string s = format_yaml_float(x);
    ASSERT_NE(s.find('.'), std::string::npos) << s;
    size_t e = s.find('e');
    if (e != std::string::npos) {
      ASSERT_TRUE(s[e + 1] == '+' || s[e + 1] == '-') << s;
      ASSERT_GE(s.size() - e - 2, 2u) << s;
    }
    double back = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), back);
    ASSERT_EQ(r.ec, std::errc()) << s;
    ASSERT_EQ(std::memcmp(&back, &x, sizeof x), 0) << s;
  }
}

TEST(AppendInt64, FullRange) {
  std::string s;
  append_int64(s, INT64_MIN);
  EXPECT_EQ(s, "-9223372036854775808");
  s.clear();
  append_int64(s, INT64_MAX);
  EXPECT_EQ(s, "9223372036854775807");
  s.clear();
  append_int64(s, -1);
  append_int64(s, 0);
  EXPECT_EQ(s, "-10");
}

TEST(EscapeDoubleQuoted, Table) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"plain text", "plain text"},
      {std::string("a\0b", 3), "a\\0b"},
      {"\t\n\r", "\\t\\n\\r"},
      {"say \"hi\" \\ ok", "say \\\"hi\\\" \\\\ ok"},
      {"\x07\x1b\x7f", "\\x07\\x1b\\x7f"},
      {"\x0b\x0c\x01", "\\x0b\\x0c\\x01"},
      {"a\xc2\x85" "b", "a\xc2\x85" "b"},           // NEL unchanged
      {"\xc2\x80\xc2\x9f", "\\x80\\x9f"},            // C1 controls
      {"\xc2\xa0\xc3\xa9", "\xc2\xa0\xc3\xa9"},      // NBSP, e-acute unchanged
      {"\xe2\x80\xa8\xe2\x80\xa9", "\xe2\x80\xa8\xe2\x80\xa9"},  // LS, PS unchanged
      {"\xef\xbf\xbe\xef\xbf\xbf", "\\ufffe\\uffff"},
      {"\xef\xbf\xbd\xef\xbb\xbf", "\xef\xbf\xbd\xef\xbb\xbf"},  // U+FFFD, BOM unchanged
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(escape_double_quoted(c.in), c.out) << c.in;
}

TEST(QuotedWriters, SingleAndDouble) {
  std::string out;
  write_single_quoted(out, "it's 'x'");
  EXPECT_EQ(out, "'it''s ''x'''");
  out.clear();
  write_single_quoted(out, "");
  EXPECT_EQ(out, "''");
  out.clear();
  write_double_quoted(out, "a\"b\n");
  EXPECT_EQ(out, "\"a\\\"b\\n\"");
}

TEST(WriteWrappedText, Table) {
  struct Case {
    std::string prefix, body;
    uint64_t indent, width;
    std::string expected;  // whole buffer after the call
  } cases[] = {
      // First word always written; each later word that does not fit moves.
      {"xxxxx", "aaa bbb ccc", 5, 10, "xxxxxaaa\n     bbb\n     ccc"},
      {"", "aaa bbb ccc", 2, 7, "aaa bbb\n  ccc"},
      {"", "aaa bbb ccc", 2, 11, "aaa bbb ccc"},
      // The width counts from the last line feed already in the buffer.
      {"k:\n  \"", "one two three", 3, 10, "k:\n  \"one two\n   three"},
      // Runs of spaces and spaces at the ends are not break points.
      {"", "aa  bb", 0, 1, "aa  bb"},
      {"", " aa bb ", 1, 3, " aa\n bb "},
      // A word longer than the width is never split.
      {"", "abcdefghijkl mn", 1, 5, "abcdefghijkl\n mn"},
      // A space next to a tab is no break point: the fold would drop the tab.
      {"", "aa\t bb cc", 1, 4, "aa\t bb\n cc"},
      {"", "aa \tbb cc", 1, 4, "aa \tbb\n cc"},
      {"", "", 1, 4, ""},
  };
  for (const auto& c : cases) {
    std::string out = c.prefix;
    write_wrapped_text(out, c.body, c.indent, c.width);
    EXPECT_EQ(out, c.expected) << "body=" << c.body << " width=" << c.width;
  }
}

TEST(BlockScalar, HeaderChomping) {
  struct Case {
    std::string text, header;
  } cases[] = {
      {"a\n", "|"}, {"a", "|-"}, {"a\n\n", "|+"}, {"\n", "|+"}, {"\n\n", "|+"}, {"a\nb", "|-"},
  };
  for (const auto& c : cases) {
    std::string out;
    write_block_scalar_header(out, c.text, '|');
    EXPECT_EQ(out, c.header) << c.text;
  }
  std::string out;
  write_block_scalar_header(out, "a\n", '>');
  EXPECT_EQ(out, ">");
}

TEST(BlockScalar, Body) {
  struct Case {
    std::string text;
    uint64_t indent;
    std::string body;
  } cases[] = {
      {"a\n\nb", 2, "\n  a\n\n  b\n"},
      {"a\nb\n", 4, "\n    a\n    b\n"},
      {"a\n\n\n", 2, "\n  a\n\n\n"},
      {"\n", 2, "\n\n"},
      {"\n\n", 2, "\n\n\n"},
      {"x\n  y\n", 1, "\n x\n   y\n"},
      {"a\tb\n\tc", 2, "\n  a\tb\n  \tc\n"},
  };
  for (const auto& c : cases) {
    std::string out;
    write_block_scalar_body(out, c.text, c.indent);
    EXPECT_EQ(out, c.body) << c.text;
  }
}

TEST(CurrentLineLength, CountsBytesAfterLastLineFeed) {
  EXPECT_EQ(current_line_length(""), 0u);
  EXPECT_EQ(current_line_length("abc"), 3u);
  EXPECT_EQ(current_line_length("abc\n"), 0u);
  EXPECT_EQ(current_line_length("a\n\xc3\xa9x"), 3u);
}

}  // namespace
}  // namespace qf
