// How a string may be written so that it reads back as the same string:
// whether it may stay plain under a resolver mode, be single-quoted, be a
// literal block scalar, or be folded when quoted. Pure predicates over the
// text: no allocation, no host object, never fail. Shared by the value
// writer and the round-trip emitter.
#pragma once
#include <cstddef>
#include <string_view>
#include <utility>

#include "resolver/resolver.hpp"

namespace qf {

// True when the text must not be written as a plain scalar: it would read
// back as something else (null, bool, number, timestamp, merge key, document
// marker) or not parse as one plain scalar (indicator first, blanks at an
// end, " #", ": " or a final ":", non-printable characters). Refuses more
// than the mode's resolver would misread: every mode's number forms and the
// yes/no/on/off words are quoted also for YAML 1.2 output.
bool needs_quotes(std::string_view text, ResolverMode mode);

// U+0000..U+001F (tab and line breaks included), U+007F..U+0084,
// U+0086..U+009F, U+FFFE, U+FFFF. NEL, LS and PS count as printable.
bool has_nonprintable_char(std::string_view text);

// The YAML 1.1 resolver (strict exactly for KestilCompat) reads the text,
// as an untagged plain scalar, as an integer or a float.
bool is_yaml11_number(std::string_view text, ResolverMode mode);

// The text has the shape of a YAML 1.1 timestamp ("Z" or "z" zone).
bool looks_like_timestamp(std::string_view text);
bool two_digits_at(std::string_view text, size_t pos);
// (matched, position after the one or two digits); (false, pos) when none.
std::pair<bool, size_t> one_or_two_digits_at(std::string_view text, size_t pos);

// May be single-quoted on one line: no line feed, carriage return, C0
// control (tab included), DEL, C1 control other than NEL, U+FFFE, U+FFFF.
bool is_single_line_printable(std::string_view text);

// May be a literal block scalar without an indentation indicator: contains a
// line feed, only printable characters besides tab and line feed, and its
// first non-empty line does not start with a blank.
bool fits_literal_block(std::string_view text);

// Some space has a non-space byte on each side.
bool has_single_inner_space(std::string_view text);

}  // namespace qf
