// Where a node came from: the configuration directive that produced it, or
// else its own custom tag. Read by the annotated results and the node cursor.
#pragma once
#include <optional>
#include <string_view>

#include "roundtrip/ast.hpp"

namespace qf {

// A tag that names the node's type ("!!int", "tag:yaml.org,2002:str") rather
// than where it came from. "!" alone and every other tag are custom.
inline bool is_standard_tag(std::string_view tag) noexcept {
  return tag.starts_with("!!") || tag.starts_with("tag:yaml.org,2002:");
}

// Exactly one of the five include directive tags (whole text, case-sensitive).
inline bool is_include_tag(std::optional<std::string_view> tag) noexcept {
  if (!tag) return false;
  return *tag == "!include" || *tag == "!include_dir_list" || *tag == "!include_dir_named" ||
         *tag == "!include_dir_merge_list" || *tag == "!include_dir_merge_named";
}

// The directive's tag when a directive produced the node; otherwise the
// node's own tag unless it is absent or standard.
inline std::optional<std::string_view> effective_source_tag(const YamlNode& n) noexcept {
  if (n.source) return std::string_view(n.source->tag);
  if (n.tag && !is_standard_tag(*n.tag)) return std::string_view(*n.tag);
  return std::nullopt;
}

// The directive's argument; none for a node no directive produced.
inline std::optional<std::string_view> effective_source_target(const YamlNode& n) noexcept {
  if (n.source) return std::string_view(n.source->target);
  return std::nullopt;
}

}  // namespace qf
