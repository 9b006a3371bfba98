// One pre-order walk over a source tree, without recursion (trees can be as
// deep as expansion and host values allow).
#pragma once
#include <cstdint>
#include <type_traits>
#include <vector>

#include "roundtrip/ast.hpp"

namespace qf {

enum class Walk : uint8_t {
  Into,  // visit the node's children next
  Over,  // pass its children by
  Stop,  // end the walk
};

// Visits `root` and the nodes below it in source order: sequence items in
// turn, each pair's key then its value. `visit` takes the node, or the node
// and its depth below `root`, and returns a Walk (or nothing, for Into).
// Returns false when a visit stopped the walk.
template <class Node, class F>
bool walk_tree(Node& root, F&& visit) {
  struct Frame {
    Node* node;
    uint32_t depth;
  };
  std::vector<Frame> stack{{&root, 0}};
  while (!stack.empty()) {
    const Frame f = stack.back();
    stack.pop_back();
    Walk w = Walk::Into;
    if constexpr (std::is_invocable_v<F&, Node&, uint32_t>) {
      if constexpr (std::is_void_v<std::invoke_result_t<F&, Node&, uint32_t>>) visit(*f.node, f.depth);
      else w = visit(*f.node, f.depth);
    } else {
      if constexpr (std::is_void_v<std::invoke_result_t<F&, Node&>>) visit(*f.node);
      else w = visit(*f.node);
    }
    if (w == Walk::Stop) return false;
    if (w == Walk::Over) continue;
    Node& n = *f.node;
    for (size_t i = n.pairs.size(); i-- > 0;) {
      stack.push_back({&n.pairs[i].value, f.depth + 1});
      stack.push_back({&n.pairs[i].key, f.depth + 1});
    }
    for (size_t i = n.items.size(); i-- > 0;) stack.push_back({&n.items[i], f.depth + 1});
  }
  return true;
}

// Whether `pred` holds for `root` or any node below it.
template <class F>
bool any_in_tree(const YamlNode& root, F&& pred) {
  return !walk_tree(root, [&](const YamlNode& n) { return pred(n) ? Walk::Stop : Walk::Into; });
}

}  // namespace qf
