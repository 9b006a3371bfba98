// Words of a directive line (%YAML, %TAG), split at Unicode White_Space as
// the loaders read them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qf {

// Byte length of the Unicode White_Space character at `pos`, or 0.
size_t white_space_len(std::string_view s, size_t pos);

// The first `max` words of the text into `words`; returns how many.
size_t split_words(std::string_view s, std::string_view* words, size_t max);

// What a directive's text declares, as every reader checks it.
struct DirectiveWords {
  enum class Kind : uint8_t {
    Yaml,     // %YAML with a version word, then nothing or a comment
    BadYaml,  // %YAML otherwise
    Tag,      // %TAG with a named handle ("!", "!!", "!e!") and a prefix
    Other,    // reserved, or a %TAG without both: ignored
  };
  Kind kind = Kind::Other;
  std::string_view handle, prefix;  // of a Tag
};
DirectiveWords read_directive(std::string_view text);
// The error one directive of a group makes, as every reader reports it, or
// nullopt. `yaml_seen` carries whether the group had a %YAML directive
// before; `handle_known`, whether a %TAG's handle was declared before in it.
std::optional<std::string> directive_error(const DirectiveWords& w, bool& yaml_seen, bool handle_known);

}  // namespace qf
