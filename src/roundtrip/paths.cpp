#include "roundtrip/paths.hpp"

#include "roundtrip/anchors.hpp"

namespace qf {

namespace {

template <class Node>
Node* step(Node& node, const PathSegment& s) {
  switch (s.kind) {
    case PathSegment::Kind::Key:
    case PathSegment::Kind::KeyNode:
      if (!node.is_mapping()) return nullptr;
      for (size_t i = node.pairs.size(); i-- > 0;) {
        auto& e = node.pairs[i];
        if (s.selects_key(e.key))
          return s.kind == PathSegment::Kind::Key ? &e.value : &e.key;
      }
      return nullptr;
    case PathSegment::Kind::Index:
      if (!node.is_sequence() || s.index >= node.items.size()) return nullptr;
      return &node.items[s.index];
  }
  return nullptr;
}

}  // namespace

const YamlNode* child_by_segment(const YamlNode& node, const PathSegment& segment) { return step(node, segment); }
YamlNode* child_by_segment(YamlNode& node, const PathSegment& segment) { return step(node, segment); }

const YamlNode* lookup_path(const std::vector<YamlNode>& roots, const NodePath& path, size_t doc_index,
                            const AnchorResolver* follow_aliases) {
  if (doc_index >= roots.size()) return nullptr;
  const YamlNode* n = &roots[doc_index];
  for (const PathSegment& s : path) {
    if (follow_aliases && n->is_alias()) {
      n = follow_aliases->final_target(*n);
      if (!n) return nullptr;
    }
    n = step(*n, s);
    if (!n) return nullptr;
  }
  return n;
}

YamlNode* lookup_path(std::vector<YamlNode>& roots, const NodePath& path, size_t doc_index) {
  if (doc_index >= roots.size()) return nullptr;
  YamlNode* n = &roots[doc_index];
  for (const PathSegment& s : path) {
    n = step(*n, s);
    if (!n) return nullptr;
  }
  return n;
}

bool mapping_has_str_key(const YamlNode& node, std::string_view text) {
  if (!node.is_mapping()) return false;
  for (const MappingEntry& e : node.pairs)
    if (e.key.is_scalar() && e.key.text == text) return true;
  return false;
}

NodeRange node_range(const YamlNode& n) {
  return NodeRange{n.span.line + 1, n.span.column + 1, n.end_line + 1, n.end_column + 1};
}

bool walk_scalar_leaves(const YamlNode& node,
                        const std::function<bool(const std::vector<WalkStep>&, const YamlNode&)>& visit) {
  // Frames of an explicit stack: the collection and the next child to visit.
  struct Frame {
    const YamlNode* node;
    size_t next;
  };
  std::vector<WalkStep> path;
  std::vector<Frame> stack;
  auto enter = [&](const YamlNode& n) -> bool {
    if (n.is_collection()) {
      stack.push_back({&n, 0});
      return true;
    }
    return visit(path, n);
  };
  if (!enter(node)) return false;
  while (!stack.empty()) {
    Frame& f = stack.back();
    const YamlNode& n = *f.node;
    if (f.next > 0) path.pop_back();
    if (n.is_sequence()) {
      if (f.next >= n.items.size()) {
        stack.pop_back();
        continue;
      }
      size_t i = f.next++;
      path.push_back(WalkStep{true, i, nullptr});
      if (!enter(n.items[i])) return false;
    } else {
      while (f.next < n.pairs.size() && !n.pairs[f.next].key.is_scalar()) ++f.next;
      if (f.next >= n.pairs.size()) {
        stack.pop_back();
        continue;
      }
      size_t i = f.next++;
      path.push_back(WalkStep{false, 0, &n.pairs[i].key});
      if (!enter(n.pairs[i].value)) return false;
    }
  }
  return true;
}

}  // namespace qf
