// Reading the %YAML directive from the leading lines of a text without
// scanning it.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

namespace qf {

struct YamlVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  friend bool operator==(const YamlVersion&, const YamlVersion&) = default;
};

// The version named by a %YAML directive among the leading lines of `text`
// (blank lines, comments and other directives may come before it), or none.
// Lines end at LF, CR or CR LF. Reads only up to the first line that is not
// blank, a comment or a directive; never allocates.
std::optional<YamlVersion> sniff_yaml_directive(std::string_view text) noexcept;

}  // namespace qf
