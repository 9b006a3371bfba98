// YAML timestamps: the shared date/date-time value, its parser and its one
// canonical text (used wherever a timestamp is written or compared as text).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qf {

// A date, or a date-time with an optional fixed UTC offset. Plain value, no
// heap data. Values from parse_timestamp always hold: year 1..9999, a valid
// Gregorian date, hour 0..23, minute and second 0..59, microsecond
// 0..999999, |offset_minutes| <= 1439.
struct YamlTimestamp {
  enum class Kind : uint8_t { Date = 0, DateTime = 1 };

  // Wider fields first: 24 bytes, so a timestamp fits a value tree node.
  int32_t year = 1;
  uint32_t microsecond = 0;  // DateTime only (zero for a Date), as are hour..second
  // Minutes east of UTC; absent means a naive time ("Z" is 0).
  std::optional<int32_t> offset_minutes;
  Kind kind = Kind::Date;
  uint8_t month = 1;
  uint8_t day = 1;
  uint8_t hour = 0;
  uint8_t minute = 0;
  uint8_t second = 0;

  static constexpr YamlTimestamp date(int32_t y, uint8_t m, uint8_t d) noexcept {
    YamlTimestamp t;
    t.kind = Kind::Date;
    t.year = y;
    t.month = m;
    t.day = d;
    return t;
  }
  static constexpr YamlTimestamp date_time(int32_t y, uint8_t m, uint8_t d, uint8_t hh, uint8_t mm,
                                           uint8_t ss, uint32_t us,
                                           std::optional<int32_t> offset) noexcept {
    YamlTimestamp t;
    t.kind = Kind::DateTime;
    t.year = y;
    t.month = m;
    t.day = d;
    t.hour = hh;
    t.minute = mm;
    t.second = ss;
    t.microsecond = us;
    t.offset_minutes = offset;
    return t;
  }

  bool is_date() const noexcept { return kind == Kind::Date; }
  bool is_date_time() const noexcept { return kind == Kind::DateTime; }

  friend bool operator==(const YamlTimestamp&, const YamlTimestamp&) = default;
};

// The timestamp the whole text denotes, or nothing. Never fails otherwise.
std::optional<YamlTimestamp> parse_timestamp(std::string_view text) noexcept;

// Gregorian calendar check: year 1..9999, month 1..12, day within the month.
bool is_valid_date(int32_t year, uint32_t month, uint32_t day) noexcept;

// "2001-02-03" for a date; a date-time adds "T21:59:43", ".000005" when the
// microsecond is not zero, and "+HH:MM"/"-HH:MM" when an offset is present.
std::string format_timestamp(const YamlTimestamp& ts);
void append_timestamp_text(const YamlTimestamp& ts, std::string& out);

}  // namespace qf
