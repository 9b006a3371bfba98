// Dump-side tags raised as host errors. The checks and message texts are the
// core's (encode/dump_tag.hpp): primary (!suffix), secondary (!!suffix) and
// verbatim (!<uri>) tags, without white space, control characters or (in
// shorthand tags) the closing flow indicators.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "decode/value.hpp"

namespace qf::py {

// nullopt when the tag may be written, else the QuillfernEncodeError text.
std::optional<std::string> dump_tag_problem(std::string_view tag);

// Throws QuillfernEncodeError when dump_tag_problem finds one.
void validate_dump_tag(std::string_view tag);

// Tagged(tag, inner); QuillfernEncodeError "cannot attach a tag to a value
// that already carries a tag" when `inner` is Tagged (both are released).
Value attach_dump_tag(std::string tag, Value inner);

// The two fixed errors, thrown.
[[noreturn]] void throw_already_tagged();
[[noreturn]] void throw_serializer_result_error();

// The double-quoted, escaped form of a tag used in the messages.
std::string quote_tag_for_message(std::string_view tag);

}  // namespace qf::py
