// Numbers as schema messages write them.
#pragma once
#include <string>

namespace qf {

// The shortest decimal that reads back as the same double, never with an
// exponent and without a fraction when integral ("5", "2.5", "0.0001",
// "100000000000000000000"); "inf", "-inf", "NaN" and "-0" for the special
// values.
std::string format_schema_number(double value);

}  // namespace qf
