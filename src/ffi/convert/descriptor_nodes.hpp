// Descriptors returned by a represent callback, and converted scalar values,
// to source nodes: the automatic style, the explicit style checks, the tag
// shorthand, and where descriptor comments may stand.
#pragma once
#include <span>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "decode/value.hpp"
#include "ffi/convert/represent.hpp"
#include "ffi/py.hpp"
#include "roundtrip/ast.hpp"

namespace qf::py {

// A QuillfernScalar, QuillfernSequence or QuillfernMapping as a node; the
// entries of a collection descriptor go through represent_object. TypeError
// for any other object.
YamlNode node_from_descriptor(RepresentState& s, PyObject* descriptor, uint32_t depth, bool in_flow, bool is_key);

// A converted value as a node; `key_or_flow` turns literal strings into
// double-quoted ones.
YamlNode value_to_node(const RepresentState& s, Value value, bool key_or_flow);

// The automatic style of a string: literal blocks become double-quoted as
// keys and in flow collections.
ScalarStyle represented_str_style(const RepresentState& s, std::string_view text, bool key_or_flow);

// Head, inline and foot comments from a descriptor. comment_after stands
// only on the root or a non-empty block collection (ValueError otherwise).
void attach_descriptor_comments(YamlNode& node, const std::optional<std::string>& before,
                                const std::optional<std::string>& inline_comment,
                                const std::optional<std::string>& after, bool is_root);

// A mapping key keeps to one line: no inline or foot comment on it and no
// comment anywhere below it (ValueError).
void check_key_comments(const YamlNode& key);

// Head comments of the last pair's value move above its key.
void hoist_value_comments(std::span<MappingEntry> pairs);

// Fresh nodes of this road, all marked synthetic.
inline YamlNode synthetic_scalar(std::string_view text, ScalarStyle style) {
  YamlNode n = YamlNode::scalar(text, style);
  n.synthetic = true;
  return n;
}
// A fresh scalar whose longer text is copied into the call's arena and
// viewed there.
inline YamlNode represented_scalar(const RepresentState& s, std::string_view text, ScalarStyle style) {
  YamlNode n;
  n.kind = NodeKind::Scalar;
  if (text.size() <= NodeText::kInline || text.size() > TextArena::kLargest || !s.texts)
    n.text = NodeText(text);
  else
    n.text = NodeText::view(s.texts->copy(text));
  n.scalar_style = style;
  n.synthetic = true;
  return n;
}
inline YamlNode synthetic_null() {
  YamlNode n;
  n.kind = NodeKind::Null;
  n.synthetic = true;
  return n;
}
inline YamlNode synthetic_alias(std::string_view name) {
  YamlNode n = YamlNode::alias(name);
  n.synthetic = true;
  return n;
}
inline YamlNode synthetic_collection(bool mapping, bool flow) {
  const CollectionStyle style = flow ? CollectionStyle::Flow : CollectionStyle::Block;
  YamlNode n = mapping ? YamlNode::mapping(style) : YamlNode::sequence(style);
  n.synthetic = true;
  return n;
}

}  // namespace qf::py
