// Document order over a source tree, with the moment each node is complete:
// the order in which anchors take effect (a definition binds once its node
// is complete) and aliases are met.
#pragma once
#include <cstddef>
#include <vector>

#include "roundtrip/ast.hpp"

namespace qf {

// `enter(node)` before the node's children (keys before values), `leave(node)`
// after them. Iterative, so trees of any depth are safe.
template <class Enter, class Leave>
void walk_document(const YamlNode& root, Enter&& enter, Leave&& leave) {
  struct Frame {
    const YamlNode* node;
    size_t next;  // next child slot: items, or 2 per pair (key, value)
  };
  std::vector<Frame> stack;
  enter(root);
  stack.push_back({&root, 0});
  while (!stack.empty()) {
    Frame& f = stack.back();
    const YamlNode& n = *f.node;
    size_t count = n.items.size() + 2 * n.pairs.size();
    if (f.next >= count) {
      leave(n);
      stack.pop_back();
      continue;
    }
    size_t slot = f.next++;
    const YamlNode* child;
    if (slot < n.items.size()) child = &n.items[slot];
    else {
      const MappingEntry& e = n.pairs[(slot - n.items.size()) / 2];
      child = (slot - n.items.size()) % 2 == 0 ? &e.key : &e.value;
    }
    enter(*child);
    stack.push_back({child, 0});
  }
}

}  // namespace qf
