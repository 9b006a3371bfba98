// Directive provenance of a node: the tag that says where its content came
// from. Shared by the node handles and the annotated results.
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

// One of the five include directives (exact, case-sensitive).
inline bool is_include_tag(std::optional<std::string_view> tag) noexcept {
  if (!tag) return false;
  return *tag == "!include" || *tag == "!include_dir_list" || *tag == "!include_dir_named" ||
         *tag == "!include_dir_merge_list" || *tag == "!include_dir_merge_named";
}

// The directive that produced the node when one did; otherwise its custom
// tag as written. A standard tag names the node's type, not where it came
// from, and gives nothing.
inline std::optional<std::string_view> effective_source_tag(const YamlNode& node) noexcept {
  if (node.source()) return std::string_view(node.source()->tag);
  if (!node.tag() || is_standard_tag(*node.tag())) return std::nullopt;
  return std::string_view(*node.tag());
}

// The directive's argument; none for a node no directive produced.
inline std::optional<std::string_view> effective_source_target(const YamlNode& node) noexcept {
  if (node.source()) return std::string_view(node.source()->target);
  return std::nullopt;
}

}  // namespace qf
