// Timestamp grammar, calendar bounds and the canonical text.
#include <gtest/gtest.h>

#include "resolver/timestamp.hpp"

namespace qf {
namespace {

using TS = YamlTimestamp;

TEST(ParseTimestamp, Accepted) {
  struct Case {
    const char* text;
    TS expected;
  };
  const Case cases[] = {
      {"2001-12-14", TS::date(2001, 12, 14)},
      {"2000-02-29", TS::date(2000, 2, 29)},
      {"9999-12-31", TS::date(9999, 12, 31)},
      {"0001-01-01", TS::date(1, 1, 1)},
      {"2001-12-14t21:59:43.10-05:00", TS::date_time(2001, 12, 14, 21, 59, 43, 100000, -300)},
      {"2001-12-14 21:59:43.10 -5", TS::date_time(2001, 12, 14, 21, 59, 43, 100000, -300)},
      {"2001-12-14\t\t21:59:43", TS::date_time(2001, 12, 14, 21, 59, 43, 0, std::nullopt)},
      {"2001-12-15T02:59:43.1Z", TS::date_time(2001, 12, 15, 2, 59, 43, 100000, 0)},
      {"2001-12-15T02:59:43.1z", TS::date_time(2001, 12, 15, 2, 59, 43, 100000, 0)},
      {"2001-12-15 2:59:43.10", TS::date_time(2001, 12, 15, 2, 59, 43, 100000, std::nullopt)},
      {"2001-1-5T01:02:03", TS::date_time(2001, 1, 5, 1, 2, 3, 0, std::nullopt)},
      {"2001-12-14T21:59:43.", TS::date_time(2001, 12, 14, 21, 59, 43, 0, std::nullopt)},
      {"2001-12-14T21:59:43.1234567", TS::date_time(2001, 12, 14, 21, 59, 43, 123456, std::nullopt)},
      {"2001-12-14T21:59:43.000005", TS::date_time(2001, 12, 14, 21, 59, 43, 5, std::nullopt)},
      {"2001-12-14T21:59:43   ", TS::date_time(2001, 12, 14, 21, 59, 43, 0, std::nullopt)},
      {"2001-12-14T21:59:43Z  ", TS::date_time(2001, 12, 14, 21, 59, 43, 0, 0)},
      {"2001-12-14T21:59:43+05:30", TS::date_time(2001, 12, 14, 21, 59, 43, 0, 330)},
      {"2001-12-14T21:59:43+23:59", TS::date_time(2001, 12, 14, 21, 59, 43, 0, 1439)},
      {"2001-12-14T21:59:43-23:59", TS::date_time(2001, 12, 14, 21, 59, 43, 0, -1439)},
      {"2001-12-14T21:59:43+05:99", TS::date_time(2001, 12, 14, 21, 59, 43, 0, 399)},
      {"2001-12-14T23:59:59", TS::date_time(2001, 12, 14, 23, 59, 59, 0, std::nullopt)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto ts = parse_timestamp(c.text);
    ASSERT_TRUE(ts.has_value());
    EXPECT_EQ(*ts, c.expected);
  }
}

TEST(ParseTimestamp, Refused) {
  for (const char* text : {
           "2001-1-1", "2001-01-1", "2001-1-01", "2001-12-14 ", "20011-12-14", "2001/12/14", "201-12-14",
           "1900-02-29", "2001-02-29", "2001-04-31", "2001-13-01", "2001-00-10", "2001-01-00",
           "0000-01-01", "2001-12-14Z", "2001-12-14T", "2001-12-14T21:59", "2001-12-14T21:59:4",
           "2001-12-14T24:00:00", "2001-12-14T23:60:00", "2001-12-14T23:59:60", "2001-12-14T1:5:00",
           "2001-12-14 T21:59:43", "2001-12-14T21:59:43Zx", "2001-12-14T21:59:43+0530",
           "2001-12-14T21:59:43+05:3", "2001-12-14T21:59:43+123", "2001-12-14T21:59:43+",
           "2001-12-14T21:59:43+24:00", "2001-12-14T21:59:43 x", "2001-12-14T21:59:43.5.5",
           "2001-12-14T21:59:43,5", "2001-012-14", "2001-12-014", "2001-12-14T123:00:00", "", "2001",
           "abcd-ef-gh", "2001-12-14TT21:59:43", "2001-12-14T21:59:43Z Z"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(parse_timestamp(text).has_value());
  }
}

TEST(ParseTimestamp, CalendarRules) {
  EXPECT_TRUE(is_valid_date(2000, 2, 29));
  EXPECT_TRUE(is_valid_date(2004, 2, 29));
  EXPECT_FALSE(is_valid_date(2100, 2, 29));
  EXPECT_FALSE(is_valid_date(2001, 2, 29));
  EXPECT_TRUE(is_valid_date(2001, 12, 31));
  EXPECT_FALSE(is_valid_date(2001, 11, 31));
  EXPECT_FALSE(is_valid_date(10000, 1, 1));
  EXPECT_FALSE(is_valid_date(0, 1, 1));
  EXPECT_FALSE(is_valid_date(2001, 0, 1));
  EXPECT_FALSE(is_valid_date(2001, 1, 0));
}

TEST(ParseTimestamp, ReadsOnlyTheGivenBytes) {
  const char buf[] = "2001-12-14T21:59:43Zjunk";
  auto ts = parse_timestamp(std::string_view(buf, 20));
  ASSERT_TRUE(ts);
  EXPECT_EQ(ts->offset_minutes, 0);
}

TEST(FormatTimestamp, CanonicalText) {
  struct Case {
    TS ts;
    const char* text;
  };
  const Case cases[] = {
      {TS::date(2001, 2, 3), "2001-02-03"},
      {TS::date(1, 1, 1), "0001-01-01"},
      {TS::date_time(2001, 2, 3, 4, 5, 6, 0, std::nullopt), "2001-02-03T04:05:06"},
      {TS::date_time(2001, 2, 3, 4, 5, 6, 5, std::nullopt), "2001-02-03T04:05:06.000005"},
      {TS::date_time(2001, 2, 3, 4, 5, 6, 100000, std::nullopt), "2001-02-03T04:05:06.100000"},
      {TS::date_time(2001, 2, 3, 4, 5, 6, 0, -90), "2001-02-03T04:05:06-01:30"},
      {TS::date_time(2001, 2, 3, 4, 5, 6, 0, 0), "2001-02-03T04:05:06+00:00"},
      {TS::date_time(2001, 2, 3, 4, 5, 6, 0, 1439), "2001-02-03T04:05:06+23:59"},
  };
  for (const Case& c : cases) EXPECT_EQ(format_timestamp(c.ts), c.text);

  // Parsing then formatting normalises the text.
  EXPECT_EQ(format_timestamp(*parse_timestamp("2001-12-14 21:59:43.10 -5")),
            "2001-12-14T21:59:43.100000-05:00");
  EXPECT_EQ(format_timestamp(*parse_timestamp("2001-12-15T02:59:43.1Z")), "2001-12-15T02:59:43.100000+00:00");
}

}  // namespace
}  // namespace qf
