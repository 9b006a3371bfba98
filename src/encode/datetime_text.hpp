// The text of a host date or time as the encoder writes it: the object's
// isoformat text rewritten by the time options (drop the fraction of a
// second, mark a naive date-time as UTC, write a UTC offset as "Z").
#pragma once
#include <string>
#include <string_view>

namespace qf {

struct IsoformatOptions {
  bool omit_microseconds = false;
  bool naive_utc = false;
  bool utc_z = false;
};

// Splits `iso` into body and offset suffix ("Z", "+HH:MM", "+HH:MM:SS" or
// "+HH:MM:SS.ffffff", either sign) and appends the rewritten text: the body
// cut at its first "." when omitting microseconds, "+00:00" added to a naive
// date-time (a body with a "T") under naive_utc, and "+00:00" written as "Z"
// under utc_z. The offset forms with seconds count as offsets, so no option
// drops an offset or appends a second one.
void append_isoformat_text(std::string& out, std::string_view iso, const IsoformatOptions& opts);
std::string rewrite_isoformat_text(std::string_view iso, const IsoformatOptions& opts);

// Length of the offset suffix at the end of an isoformat text, 0 if none.
size_t isoformat_offset_length(std::string_view iso);

}  // namespace qf
