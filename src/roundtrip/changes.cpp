#include "roundtrip/changes.hpp"

#include "roundtrip/walk.hpp"

namespace qf {

namespace {

// A marked node at or below `start`, passing by every node with a directive
// record below it.
bool marked_below(const YamlNode& start) {
  return !walk_tree(start, [&](const YamlNode& n) {
    if (&n != &start && n.source()) return Walk::Over;
    return n.comments().modified ? Walk::Stop : Walk::Into;
  });
}

}  // namespace

bool node_has_local_change(const YamlNode& node) { return !node.source() && marked_below(node); }

bool pair_has_local_change(const MappingEntry& pair) {
  return node_has_local_change(pair.key) || node_has_local_change(pair.value);
}

bool roots_have_local_change(const std::vector<YamlNode>& roots) {
  for (const YamlNode& r : roots)
    if (node_has_local_change(r)) return true;
  return false;
}

bool included_root_changed(const YamlNode& root) { return marked_below(root); }

}  // namespace qf
