#include "encode/datetime_text.hpp"

#include <gtest/gtest.h>

namespace qf {
namespace {

constexpr IsoformatOptions kNone{};
constexpr IsoformatOptions kOmit{true, false, false};
constexpr IsoformatOptions kNaive{false, true, false};
constexpr IsoformatOptions kZ{false, false, true};
constexpr IsoformatOptions kNaiveZ{false, true, true};
constexpr IsoformatOptions kAll{true, true, true};

TEST(IsoformatText, RewritesByOption) {
  struct Case {
    const char* iso;
    const char *none, *omit, *naive, *z, *naive_z;
  } cases[] = {
      {"2024-05-06T07:08:09.123456", "2024-05-06T07:08:09.123456", "2024-05-06T07:08:09",
       "2024-05-06T07:08:09.123456+00:00", "2024-05-06T07:08:09.123456",
       "2024-05-06T07:08:09.123456Z"},
      {"2024-05-06T07:08:09.123456+00:00", "2024-05-06T07:08:09.123456+00:00",
       "2024-05-06T07:08:09+00:00", "2024-05-06T07:08:09.123456+00:00",
       "2024-05-06T07:08:09.123456Z", "2024-05-06T07:08:09.123456Z"},
      {"2024-05-06T07:08:09+02:00", "2024-05-06T07:08:09+02:00", "2024-05-06T07:08:09+02:00",
       "2024-05-06T07:08:09+02:00", "2024-05-06T07:08:09+02:00", "2024-05-06T07:08:09+02:00"},
      {"2024-05-06", "2024-05-06", "2024-05-06", "2024-05-06", "2024-05-06", "2024-05-06"},
      {"07:08:09.123456", "07:08:09.123456", "07:08:09", "07:08:09.123456", "07:08:09.123456",
       "07:08:09.123456"},
      {"07:08:09+00:00", "07:08:09+00:00", "07:08:09+00:00", "07:08:09+00:00", "07:08:09Z",
       "07:08:09Z"},
      {"2024-05-06T07:08:09-00:00", "2024-05-06T07:08:09-00:00", "2024-05-06T07:08:09-00:00",
       "2024-05-06T07:08:09-00:00", "2024-05-06T07:08:09-00:00", "2024-05-06T07:08:09-00:00"},
      // Offsets with seconds (and microseconds) are offsets: never dropped by
      // omitting microseconds, never doubled by naive_utc.
      {"2024-05-06T07:08:09.5+05:30:15", "2024-05-06T07:08:09.5+05:30:15",
       "2024-05-06T07:08:09+05:30:15", "2024-05-06T07:08:09.5+05:30:15",
       "2024-05-06T07:08:09.5+05:30:15", "2024-05-06T07:08:09.5+05:30:15"},
      {"2024-05-06T07:08:09+05:30:15.000250", "2024-05-06T07:08:09+05:30:15.000250",
       "2024-05-06T07:08:09+05:30:15.000250", "2024-05-06T07:08:09+05:30:15.000250",
       "2024-05-06T07:08:09+05:30:15.000250", "2024-05-06T07:08:09+05:30:15.000250"},
      {"", "", "", "", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(rewrite_isoformat_text(c.iso, kNone), c.none) << c.iso;
    EXPECT_EQ(rewrite_isoformat_text(c.iso, kOmit), c.omit) << c.iso;
    EXPECT_EQ(rewrite_isoformat_text(c.iso, kNaive), c.naive) << c.iso;
    EXPECT_EQ(rewrite_isoformat_text(c.iso, kZ), c.z) << c.iso;
    EXPECT_EQ(rewrite_isoformat_text(c.iso, kNaiveZ), c.naive_z) << c.iso;
  }
  EXPECT_EQ(rewrite_isoformat_text("2024-05-06T07:08:09.123456", kAll), "2024-05-06T07:08:09Z");
  EXPECT_EQ(rewrite_isoformat_text("2024-05-06T07:08:09Z", kOmit), "2024-05-06T07:08:09Z");
}

TEST(IsoformatText, OffsetLength) {
  EXPECT_EQ(isoformat_offset_length("12:00Z"), 1u);
  EXPECT_EQ(isoformat_offset_length("12:00+01:00"), 6u);
  EXPECT_EQ(isoformat_offset_length("12:00-01:00:30"), 9u);
  EXPECT_EQ(isoformat_offset_length("12:00-01:00:30.123456"), 16u);
  EXPECT_EQ(isoformat_offset_length("12:00:00"), 0u);
  EXPECT_EQ(isoformat_offset_length("2024-05-06"), 0u);
  EXPECT_EQ(isoformat_offset_length("+01:00"), 6u);
}

}  // namespace
}  // namespace qf
