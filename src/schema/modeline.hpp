// The schema modeline: a comment among the leading comment lines reading
// "# yaml-language-server: $schema=<reference>".
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace qf {

// The reference of the first modeline among the leading blank and comment
// lines of `text`, trimmed of white space; nothing when the first other line
// comes first. One leading U+FEFF is skipped, so files saved with a
// byte-order mark are read like the same file without one.
std::optional<std::string> find_schema_modeline(std::string_view text);

}  // namespace qf
