// YAML timestamp grammar, calendar check and canonical text.
#include "resolver/timestamp.hpp"

#include <charconv>

namespace qf {

namespace {

inline bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }
inline bool is_blank(char c) noexcept { return c == ' ' || c == '\t'; }

// A cursor over the text; every routine leaves pos unchanged on failure.
struct Cursor {
  std::string_view text;
  size_t pos = 0;

  bool at_end() const noexcept { return pos >= text.size(); }
  char peek() const noexcept { return pos < text.size() ? text[pos] : '\0'; }
  bool eat(char c) noexcept {
    if (pos < text.size() && text[pos] == c) {
      ++pos;
      return true;
    }
    return false;
  }
  void skip_blanks() noexcept {
    while (pos < text.size() && is_blank(text[pos])) ++pos;
  }
};

// A run of at least min_count and at most max_count digits (max_count 0 means
// unbounded); returns the run.
std::optional<std::string_view> timestamp_digit_run(Cursor& c, size_t min_count, size_t max_count) {
  size_t start = c.pos, end = start;
  while (end < c.text.size() && is_digit(c.text[end]) && (max_count == 0 || end - start < max_count))
    ++end;
  if (end - start < min_count) return std::nullopt;
  c.pos = end;
  return c.text.substr(start, end - start);
}

unsigned digits_value(std::string_view d) noexcept {
  unsigned v = 0;
  for (char ch : d) v = v * 10 + static_cast<unsigned>(ch - '0');
  return v;
}

// One or two digits (two when the byte after the first is a digit).
std::optional<std::string_view> timestamp_short_field(Cursor& c) {
  return timestamp_digit_run(c, 1, 2);
}

// 'T', 't', or a run of blanks.
bool timestamp_separator(Cursor& c) noexcept {
  if (c.eat('T') || c.eat('t')) return true;
  if (c.at_end() || !is_blank(c.peek())) return false;
  c.skip_blanks();
  return true;
}

constexpr uint8_t kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

}  // namespace

bool is_valid_date(int32_t year, uint32_t month, uint32_t day) noexcept {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  uint32_t days = kMonthDays[month - 1];
  if (month == 2 && year % 4 == 0 && (year % 100 != 0 || year % 400 == 0)) days = 29;
  return day <= days;
}

std::optional<YamlTimestamp> parse_timestamp(std::string_view text) noexcept {
  // Cheap rejection: every timestamp starts with four digits and '-'.
  if (text.size() < 8 || !is_digit(text[0]) || text[4] != '-') return std::nullopt;
  Cursor c{text, 0};
  auto year = timestamp_digit_run(c, 4, 4);
  if (!year || !c.eat('-')) return std::nullopt;
  auto month = timestamp_short_field(c);
  if (!month || !c.eat('-')) return std::nullopt;
  auto day = timestamp_short_field(c);
  if (!day) return std::nullopt;
  const int32_t y = static_cast<int32_t>(digits_value(*year));
  const unsigned mo = digits_value(*month), d = digits_value(*day);

  if (c.at_end()) {
    if (month->size() != 2 || day->size() != 2 || !is_valid_date(y, mo, d)) return std::nullopt;
    return YamlTimestamp::date(y, static_cast<uint8_t>(mo), static_cast<uint8_t>(d));
  }

  if (!timestamp_separator(c)) return std::nullopt;
  auto hour = timestamp_short_field(c);
  if (!hour || !c.eat(':')) return std::nullopt;
  auto minute = timestamp_digit_run(c, 2, 2);
  if (!minute || !c.eat(':')) return std::nullopt;
  auto second = timestamp_digit_run(c, 2, 2);
  if (!second) return std::nullopt;

  uint32_t microsecond = 0;
  if (c.eat('.')) {
    auto frac = timestamp_digit_run(c, 0, 0);
    std::string_view f = *frac;
    for (size_t i = 0; i < 6; ++i) microsecond = microsecond * 10 + (i < f.size() ? static_cast<uint32_t>(f[i] - '0') : 0);
  }

  c.skip_blanks();
  std::optional<int32_t> offset;
  if (!c.at_end()) {
    char z = c.peek();
    if (z == 'Z' || z == 'z') {
      ++c.pos;
      offset = 0;
    } else if (z == '+' || z == '-') {
      ++c.pos;
      auto oh = timestamp_short_field(c);
      if (!oh) return std::nullopt;
      int32_t minutes = 0;
      if (c.eat(':')) {
        auto om = timestamp_digit_run(c, 2, 2);
        if (!om) return std::nullopt;
        minutes = static_cast<int32_t>(digits_value(*om));
      }
      int32_t total = static_cast<int32_t>(digits_value(*oh)) * 60 + minutes;
      offset = z == '-' ? -total : total;
    } else {
      return std::nullopt;
    }
    c.skip_blanks();
    if (!c.at_end()) return std::nullopt;
  }

  const unsigned h = digits_value(*hour), mi = digits_value(*minute), s = digits_value(*second);
  if (!is_valid_date(y, mo, d) || h > 23 || mi > 59 || s > 59) return std::nullopt;
  if (offset && (*offset > 1439 || *offset < -1439)) return std::nullopt;
  return YamlTimestamp::date_time(y, static_cast<uint8_t>(mo), static_cast<uint8_t>(d),
                                  static_cast<uint8_t>(h), static_cast<uint8_t>(mi),
                                  static_cast<uint8_t>(s), microsecond, offset);
}

namespace {

void append_padded(std::string& out, int64_t v, int width) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v < 0 ? -v : v);
  if (v < 0) out.push_back('-');
  for (int n = static_cast<int>(end - buf); n < width; ++n) out.push_back('0');
  out.append(buf, end);
}

}  // namespace

void append_timestamp_text(const YamlTimestamp& ts, std::string& out) {
  append_padded(out, ts.year, 4);
  out.push_back('-');
  append_padded(out, ts.month, 2);
  out.push_back('-');
  append_padded(out, ts.day, 2);
  if (ts.kind == YamlTimestamp::Kind::Date) return;
  out.push_back('T');
  append_padded(out, ts.hour, 2);
  out.push_back(':');
  append_padded(out, ts.minute, 2);
  out.push_back(':');
  append_padded(out, ts.second, 2);
  if (ts.microsecond != 0) {
    out.push_back('.');
    append_padded(out, ts.microsecond, 6);
  }
  if (ts.offset_minutes) {
    int32_t off = *ts.offset_minutes;
    out.push_back(off < 0 ? '-' : '+');
    int64_t mag = off < 0 ? -static_cast<int64_t>(off) : off;
    append_padded(out, mag / 60, 2);
    out.push_back(':');
    append_padded(out, mag % 60, 2);
  }
}

std::string format_timestamp(const YamlTimestamp& ts) {
  std::string out;
  out.reserve(32);
  append_timestamp_text(ts, out);
  return out;
}

}  // namespace qf
