#include "encode/scalar_safety.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "resolver/resolver.hpp"
#include "resolver/timestamp.hpp"

namespace qf {
namespace {

constexpr ResolverMode kModes[] = {ResolverMode::Yaml12, ResolverMode::Yaml11, ResolverMode::KestilCompat};

const char* mode_name(ResolverMode m) {
  switch (m) {
    case ResolverMode::Yaml12: return "Yaml12";
    case ResolverMode::Yaml11: return "Yaml11";
    default: return "KestilCompat";
  }
}

struct QuoteCase {
  std::string text;
  bool yaml12, yaml11, compat;
};

TEST(NeedsQuotes, TablePerMode) {
  const QuoteCase cases[] = {
      {"", true, true, true},
      {"null", true, true, true},
      {"Null", true, true, true},
      {"nULL", false, false, false},
      {"~", true, true, true},
      {"yes", true, true, true},
      {"On", true, true, true},
      {"OFF", true, true, true},
      {"oFF", false, false, false},
      {"y", false, true, false},
      {"N", false, true, false},
      {"true", true, true, true},
      {"FALSE", true, true, true},
      {".inf", true, true, true},
      {"-.Inf", true, true, true},
      {"+.INF", true, true, true},
      {".NaN", true, true, true},
      {"inf", false, false, false},
      {"nan", false, false, false},
      {"=", false, false, false},
      {"abc", false, false, false},
      {"a b", false, false, false},
      {"a: b", true, true, true},
      {"a:b", false, false, false},
      {"a #b", true, true, true},
      {"a#b", false, false, false},
      {"key:", true, true, true},
      {" a", true, true, true},
      {"a ", true, true, true},
      {"a\t", true, true, true},
      {"-a", true, true, true},
      {"-1", true, true, true},
      {":a", true, true, true},
      {"?x", true, true, true},
      {"%x", true, true, true},
      {"@x", true, true, true},
      {"`x", true, true, true},
      {"!x", true, true, true},
      {"&x", true, true, true},
      {"*x", true, true, true},
      {"|x", true, true, true},
      {">x", true, true, true},
      {"[x", true, true, true},
      {"}x", true, true, true},
      {"'x", true, true, true},
      {"\"x", true, true, true},
      {"#x", true, true, true},
      {",x", true, true, true},
      {"123", true, true, true},
      {"1.5", true, true, true},
      {"1e3", true, true, true},
      {"+1", true, true, true},
      {".5", true, true, true},
      {"0x1F", true, true, true},
      {"0o17", true, true, true},
      {"0777", true, true, true},
      {"0b101", true, true, true},
      {"1_000", true, true, true},
      {"1:30", false, true, true},
      {"2001-12-14", false, true, true},
      {"2001-12-14 21:59:43.10 -5", false, true, true},
      {"2001-12-14t21:59:43.10Z", false, true, true},
      {"2001-12-15T02:59:43.1z", false, true, true},
      {"2001-1-2", false, false, false},
      {"_1", false, true, false},  // lenient 1.1 ignores underscores, even first
      {"...", true, true, true},
      {"...x", false, false, false},
      {"... x", true, true, true},
      {"...\tx", true, true, true},
      {"<<", true, true, true},
      {"<x", false, false, false},
      {"a\tb", true, true, true},
      {"a\nb", true, true, true},
      {"a\rb", true, true, true},
      {"a\x7f", true, true, true},
      {"a\xc2\x85" "b", false, false, false},   // NEL
      {"a\xc2\x9f" "b", true, true, true},      // C1 control
      {"a\xef\xbf\xbe", true, true, true},      // U+FFFE
      {"\xef\xbb\xbf" "a", true, true, true},   // leading BOM
      {"a\xef\xbb\xbf", false, false, false},   // inner BOM
      {"caf\xc3\xa9", false, false, false},
      {"\xe2\x80\xa8", false, false, false},    // LS
  };
  for (const auto& c : cases) {
    EXPECT_EQ(needs_quotes(c.text, ResolverMode::Yaml12), c.yaml12) << "Yaml12: " << c.text;
    EXPECT_EQ(needs_quotes(c.text, ResolverMode::Yaml11), c.yaml11) << "Yaml11: " << c.text;
    EXPECT_EQ(needs_quotes(c.text, ResolverMode::KestilCompat), c.compat) << "Compat: " << c.text;
  }
}

TEST(LooksLikeTimestamp, Shapes) {
  struct Case {
    const char* text;
    bool expected;
  } cases[] = {
      {"2001-12-14", true},
      {"2001-1-2", false},
      {"2001-12-14T21:59:43", true},
      {"2001-12-14t21:59:43.10Z", true},
      {"2001-12-14t21:59:43.10z", true},
      {"2001-12-14 21:59:43.10 -5", true},
      {"2001-12-14  \t 1:59:43", true},
      {"2001-12-14T21:59:43+05:30", true},
      {"2001-12-14T21:59:43+05:3", false},
      {"2001-12-14T21:59:43Zx", false},
      {"2001-12-14T21:59", false},
      {"2001-12-14X21:59:43", false},
      {"2001-12-14T21:59:43.", true},
      {"2001-12-14T21:59:43   ", true},
      {"2001/12/14", false},
      {"200-12-14", false},
      {"2001-", false},
  };
  for (const auto& c : cases) EXPECT_EQ(looks_like_timestamp(c.text), c.expected) << c.text;
}

TEST(DigitHelpers, Positions) {
  EXPECT_TRUE(two_digits_at("a12", 1));
  EXPECT_FALSE(two_digits_at("a1", 1));
  EXPECT_EQ(one_or_two_digits_at("a12b", 1), (std::pair<bool, size_t>{true, 3}));
  EXPECT_EQ(one_or_two_digits_at("a1b", 1), (std::pair<bool, size_t>{true, 2}));
  EXPECT_EQ(one_or_two_digits_at("a1", 1), (std::pair<bool, size_t>{true, 2}));
  EXPECT_EQ(one_or_two_digits_at("ab", 1), (std::pair<bool, size_t>{false, 1}));
  EXPECT_EQ(one_or_two_digits_at("a", 5), (std::pair<bool, size_t>{false, 5}));
}

TEST(FitsLiteralBlock, Table) {
  struct Case {
    std::string text;
    bool expected;
  } cases[] = {
      {"a\nb", true},        {"a", false},           {" a\nb", false},     {"\n a", false},
      {"\n\n", true},        {"a\r\nb", false},      {"a\tb\n", true},     {"a\xc2\x85\n", true},
      {"\ta\nb", false},     {"a\n b", true},        {"a\x01\n", false},   {"a\xc2\x80\n", false},
      {"a\xef\xbf\xbf\n", false}, {"\n\na", true},
  };
  for (const auto& c : cases) EXPECT_EQ(fits_literal_block(c.text), c.expected) << c.text;
}

TEST(IsSingleLinePrintable, Table) {
  EXPECT_FALSE(is_single_line_printable("a\tb"));
  EXPECT_FALSE(is_single_line_printable("a\nb"));
  EXPECT_FALSE(is_single_line_printable("a\x7f"));
  EXPECT_FALSE(is_single_line_printable("\xc2\x84"));
  EXPECT_FALSE(is_single_line_printable("\xef\xbf\xbe"));
  EXPECT_TRUE(is_single_line_printable("a\xe2\x80\xa8" "b"));
  EXPECT_TRUE(is_single_line_printable("\xc2\x85"));
  EXPECT_TRUE(is_single_line_printable("it's"));
  EXPECT_TRUE(is_single_line_printable(""));
}

TEST(HasSingleInnerSpace, Table) {
  EXPECT_TRUE(has_single_inner_space("a b"));
  EXPECT_FALSE(has_single_inner_space("a  b"));
  EXPECT_FALSE(has_single_inner_space(" ab"));
  EXPECT_FALSE(has_single_inner_space("ab "));
  EXPECT_FALSE(has_single_inner_space(" "));
  EXPECT_FALSE(has_single_inner_space(""));
  EXPECT_TRUE(has_single_inner_space("aa  b c"));
}

TEST(HasNonprintableChar, Table) {
  EXPECT_TRUE(has_nonprintable_char(std::string("\0", 1)));
  EXPECT_TRUE(has_nonprintable_char("\t"));
  EXPECT_TRUE(has_nonprintable_char("\xc2\x86"));
  EXPECT_FALSE(has_nonprintable_char("\xc2\x85\xc2\xa0"));
  EXPECT_FALSE(has_nonprintable_char("\xe2\x80\xa9"));
}

// ---- read-back property ----

// A plain scalar that needs_quotes lets through must read back, under the
// same mode, as the same string: the resolver gives Str, and the 1.1 modes
// (which may resolve timestamps) do not take it for a timestamp.
void expect_plain_reads_back(const std::string& text) {
  for (ResolverMode m : kModes) {
    if (needs_quotes(text, m)) continue;
    Resolution r = resolve_scalar(m, text, ScalarStyle::Plain);
    EXPECT_EQ(r.kind, ResolvedKind::Str) << mode_name(m) << " plain text resolves to "
                                         << resolved_kind_name(r.kind) << ": '" << text << "'";
    if (m != ResolverMode::Yaml12) {
      EXPECT_FALSE(parse_timestamp(text).has_value())
          << mode_name(m) << " plain text reads as a timestamp: '" << text << "'";
    }
  }
}

std::vector<std::string> awkward_strings() {
  std::vector<std::string> v = {
      // reserved words of every mode, in every case form
      "null", "Null", "NULL", "~", "true", "True", "TRUE", "false", "False", "FALSE", "yes", "Yes",
      "YES", "no", "No", "NO", "on", "On", "ON", "off", "Off", "OFF", "y", "Y", "n", "N", "<<",
      ".inf", ".Inf", ".INF", "-.inf", "+.inf", ".nan", ".NaN", ".NAN", "inf", "nan", "Infinity",
      "-inf", "+nan", "NaN",
      // numbers of every mode
      "0", "-0", "+0", "00", "007", "0777", "08", "09", "0o17", "0O17", "0x1F", "0X1f", "0xg",
      "0b101", "0B101", "0b", "0x", "0o", "1_000", "1__0", "_1", "_", "1_", "+1_0", "1.5", "1.",
      ".5", "1e3", "1E3", "1e+3", "1.0e+3", "1.0e3", "-1.5e-3", "1e", "e3", "1.2.3", "1..2",
      "12:30", "1:30", "1:30.5", "-1:30", "190:20:30", "1:60", "1:2:3:4", "0:0", "1_0:3_0",
      "9223372036854775807", "9223372036854775808", "-9223372036854775809",
      "123456789012345678901234567890", "0x123456789abcdef0123", "+.5", "+", ".", "..", "._1",
      "1.5_0", "1_000.5", "._", "0.", "+0.", "0b1_0", "0x_1", "0_7", "+_1",
      // timestamps
      "2001-12-14", "2001-12-14t21:59:43.10-05:00", "2001-12-14 21:59:43.10 -5",
      "2001-12-15T02:59:43.1Z", "2001-12-15T02:59:43.1z", "2001-12-15 2:59:43.10",
      "2001-1-5T01:02:03", "2001-12-14T21:59:43.", "2001-12-14T21:59:43   ", "2002-2-2",
      "2001-12-14T21:59:43+05:30", "2001-13-01", "2001-02-29", "9999-12-31", "0000-01-01",
      // indicators and structure
      "-", "--", "---", "--- x", "...", "... x", "...x", "? x", "?", ":", "::", "a:", "a: b",
      "a:b", "a :b", "a #b", "a#b", "#", "- x", "-x", "[a]", "{a}", "a,b", "a, b", "&a", "*a",
      "!a", "!!str", "|", ">", "'", "\"", "%YAML", "@a", "`a", "a]", "a}", "=", "<", "<<<",
      "http://example.com/a#b", "a: ", "a:\tb",
      // blanks at the ends and inside
      " ", "  ", " a", "a ", "\ta", "a\t", "a  b", "a \t b",
      // control characters and line breaks
      std::string("a\0b", 3), "a\x01", "a\x1b", "a\x7f", "a\nb", "a\r\nb", "\n", "a\n", "\r",
      "a\xc2\x85" "b", "a\xc2\x80", "a\xe2\x80\xa8" "b", "a\xe2\x80\xa9", "\xef\xbb\xbf" "a",
      "a\xef\xbf\xbe", "a\xef\xbf\xbf",
      // unicode
      "caf\xc3\xa9", "\xe6\x97\xa5\xe6\x9c\xac", "\xf0\x9f\x98\x80", "\xc2\xa0", "a\xc2\xa0",
      "\xef\xbc\x91",
  };
  // Signs and prefixes combined with the number and word fragments.
  std::vector<std::string> base(v.begin(), v.end());
  for (const std::string& b : base) {
    if (b.size() > 12) continue;
    for (const char* pre : {"+", "-", ".", "_", "0", " "}) v.push_back(pre + b);
    for (const char* post : {"_", ".", "0", ":", "e1", " "}) v.push_back(b + post);
  }
  return v;
}

TEST(NeedsQuotesProperty, PlainScalarsReadBackAsStrings) {
  for (const std::string& t : awkward_strings()) expect_plain_reads_back(t);
}

// Random texts over an alphabet of number, word and timestamp fragments.
TEST(NeedsQuotesProperty, RandomFragments) {
  const char* fragments[] = {"0", "1", "7", "9", "_", ".", "e", "E", "+", "-", ":", "x", "o", "b",
                             "inf", "nan", "Inf", "NaN", "y", "n", "yes", "no", "on", "off",
                             "true", "null", "~", " ", "#", "T", "t", "Z", "z", "2001-12-14", "12",
                             "59", "a", "<<", "0x", "0o", "0b"};
  std::mt19937 rng(4242);
  std::uniform_int_distribution<size_t> pick(0, std::size(fragments) - 1);
  std::uniform_int_distribution<int> count(1, 6);
  for (int i = 0; i < 100000; ++i) {
    std::string t;
    int k = count(rng);
    for (int j = 0; j < k; ++j) t += fragments[pick(rng)];
    expect_plain_reads_back(t);
  }
}

}  // namespace
}  // namespace qf
