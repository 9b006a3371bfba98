#include "roundtrip/changes.hpp"

#include <vector>

namespace qf {

namespace {

// A marked node at or below `start`, passing by every node with a directive
// record below it. (Any order finds one: leaves are looked at in place and
// only collections wait on the stack, as an unchanged document is read whole
// on every render.)
bool marked_below(const YamlNode& start) {
  if (start.comments().modified) return true;
  std::vector<const YamlNode*> pending;
  const YamlNode* cur = &start;
  auto marked = [&pending](const YamlNode& n) {
    if (n.has_extra()) {
      if (n.source()) return false;
      if (n.comments().modified) return true;
    }
    if (!n.items.empty() || !n.pairs.empty()) pending.push_back(&n);
    return false;
  };
  for (;;) {
    for (const YamlNode& item : cur->items)
      if (marked(item)) return true;
    for (const MappingEntry& e : cur->pairs)
      if (marked(e.key) || marked(e.value)) return true;
    if (pending.empty()) return false;
    cur = pending.back();
    pending.pop_back();
  }
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
