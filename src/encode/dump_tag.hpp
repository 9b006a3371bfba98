// Tags that dumps may write. No %TAG directive is ever emitted, so a tag
// must be primary (!suffix), secondary (!!suffix) or verbatim (!<uri>), and
// may hold no white space or control character (nor, in the shorthand forms,
// the flow indicators "," "]" "}"). Pure text checks, shared by the plain
// and the represent roads of dumps.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace qf {

inline constexpr std::string_view kAlreadyTaggedError = "cannot attach a tag to a value that already carries a tag";
inline constexpr std::string_view kSerializerResultError =
    "a tags callback must return a QuillfernTag or a (tag, value) tuple";

// Nothing when the tag may be written as it stands, else the error message
// (raised as QuillfernEncodeError), for example
//   invalid tag "x": a tag must start with '!'
//   invalid tag "!a b": a tag cannot contain whitespace or control characters (found ' ')
std::optional<std::string> validate_dump_tag(std::string_view tag);

// The text in double quotes with \" \\ \t \r \n \0 escapes and \u{hex} for
// other non-printable characters (as the tag messages show a tag).
void append_quoted_for_message(std::string& out, std::string_view text);

}  // namespace qf
