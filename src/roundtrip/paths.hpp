// Addressing nodes of source trees by path: the steps a handle records and
// resolves again on every access, key membership, positions and the walk
// of scalar leaves. Core only: host keys are converted by the callers.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "roundtrip/ast.hpp"

namespace qf {

class AnchorResolver;

// How a mapping key was written: keys spelled alike but written differently
// (1 and "1", or 1 and !!str 1) are different entries.
struct KeyForm {
  bool quoted = false;             // any scalar style but plain
  std::optional<std::string> tag;  // as written
  static KeyForm of(const YamlNode& key) { return {key.scalar_style != ScalarStyle::Plain, key.tag()}; }
  bool matches(const YamlNode& key) const {
    return quoted == (key.scalar_style != ScalarStyle::Plain) && tag == key.tag();
  }
  friend bool operator==(const KeyForm&, const KeyForm&) = default;
};

struct PathSegment {
  enum class Kind : uint8_t { Key = 0, Index = 1, KeyNode = 2 };
  Kind kind = Kind::Index;
  std::string key;     // Key, KeyNode: the key scalar's text
  uint64_t index = 0;  // Index
  // Key, KeyNode: the form the key must also have; unset: any form (a
  // host str given as a path step).
  std::optional<KeyForm> form;

  static PathSegment key_step(std::string text) { return {Kind::Key, std::move(text), 0, {}}; }
  static PathSegment key_node_step(std::string text) { return {Kind::KeyNode, std::move(text), 0, {}}; }
  static PathSegment index_step(uint64_t i) { return {Kind::Index, {}, i, {}}; }
  // The step to the value (or, with key_node, to the key) of the entry whose
  // key is this scalar node, its form included.
  static PathSegment key_step_for(const YamlNode& key, bool key_node = false) {
    return {key_node ? Kind::KeyNode : Kind::Key, key.text.str(), 0, KeyForm::of(key)};
  }
  // A scalar key this Key/KeyNode step selects.
  bool selects_key(const YamlNode& k) const { return k.is_scalar() && k.text == key && (!form || form->matches(k)); }
  friend bool operator==(const PathSegment&, const PathSegment&) = default;
};

using NodePath = std::vector<PathSegment>;

// One step down: Key/KeyNode on a mapping take the last entry whose key is a
// scalar with exactly that text (its value / the key node itself); Index on a
// sequence the item. Anything else: nullptr. Never follows aliases.
const YamlNode* child_by_segment(const YamlNode& node, const PathSegment& segment);
YamlNode* child_by_segment(YamlNode& node, const PathSegment& segment);

// Resolves a path from the root of document `doc_index` (0 by default);
// nullptr when there is no such document or a step finds nothing. With a
// resolver, an alias met before the last step is replaced by the node it
// refers to in its own document, so a path can continue below "key: *base".
const YamlNode* lookup_path(const std::vector<YamlNode>& roots, const NodePath& path, size_t doc_index = 0,
                            const AnchorResolver* follow_aliases = nullptr);
YamlNode* lookup_path(std::vector<YamlNode>& roots, const NodePath& path, size_t doc_index = 0);

// Some entry of the mapping has a scalar key with exactly this text.
bool mapping_has_str_key(const YamlNode& node, std::string_view text);

// 1-based (line, column, end line, end column).
struct NodeRange {
  uint32_t line = 0, column = 0, end_line = 0, end_column = 0;
  friend bool operator==(const NodeRange&, const NodeRange&) = default;
};
NodeRange node_range(const YamlNode& node);

// A step of a walk path: an item index, or the key node of a mapping entry.
struct WalkStep {
  bool is_index = false;
  uint64_t index = 0;
  const YamlNode* key = nullptr;
};

// Depth-first in document order: every leaf (scalar, null, alias) under the
// node with the steps from the node to it. Entries whose key is not a scalar
// are skipped with their values; empty collections give nothing. The visitor
// returns false to stop the walk; the result is false then.
bool walk_scalar_leaves(const YamlNode& node,
                        const std::function<bool(const std::vector<WalkStep>&, const YamlNode&)>& visit);

}  // namespace qf
