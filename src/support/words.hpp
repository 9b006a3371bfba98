// Words of a directive line (%YAML, %TAG), split at Unicode White_Space as
// the loaders read them.
#pragma once
#include <cstddef>
#include <string_view>

namespace qf {

// Byte length of the Unicode White_Space character at `pos`, or 0.
size_t white_space_len(std::string_view s, size_t pos);

// The first `max` words of the text into `words`; returns how many.
size_t split_words(std::string_view s, std::string_view* words, size_t max);

// A %YAML version word: two non-empty runs of ASCII digits joined by one ".".
bool valid_yaml_version(std::string_view v);

}  // namespace qf
