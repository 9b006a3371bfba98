#include "schema/number_text.hpp"

#include <charconv>
#include <cmath>

namespace qf {

std::string format_schema_number(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  if (value == 0) return std::signbit(value) ? "-0" : "0";
  // Fixed notation of the largest double has 309 digits, of the smallest
  // 324 fraction digits after "0.".
  char buf[400];
  std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  return std::string(buf, r.ptr);
}

}  // namespace qf
