// Addressing nodes of source trees by path: the steps a handle records and
// resolves again on every access, key membership, positions and the walk
// of scalar leaves. Core only: host keys are converted by the callers.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "roundtrip/ast.hpp"

namespace qf {

class AnchorResolver;

struct PathSegment {
  enum class Kind : uint8_t { Key = 0, Index = 1, KeyNode = 2 };
  Kind kind = Kind::Index;
  std::string key;     // Key, KeyNode: the key scalar's text
  uint64_t index = 0;  // Index

  static PathSegment key_step(std::string text) { return {Kind::Key, std::move(text), 0}; }
  static PathSegment key_node_step(std::string text) { return {Kind::KeyNode, std::move(text), 0}; }
  static PathSegment index_step(uint64_t i) { return {Kind::Index, {}, i}; }
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
