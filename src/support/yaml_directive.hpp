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
namespace yaml_directive_detail {
// Everything but the first byte's answer, out of line.
std::optional<YamlVersion> sniff_lines(std::string_view text) noexcept;
}  // namespace yaml_directive_detail

inline std::optional<YamlVersion> sniff_yaml_directive(std::string_view text) noexcept {
  // A text whose first byte cannot begin a BOM, blank, comment or directive
  // starts with content (most texts, or "---"): answered inline.
  if (text.empty()) return std::nullopt;
  const auto b = static_cast<unsigned char>(text.front());
  if (b < 0x80 && b != '%' && b != '#' && b != ' ' && (b < 0x09 || b > 0x0D)) return std::nullopt;
  return yaml_directive_detail::sniff_lines(text);
}

}  // namespace qf
