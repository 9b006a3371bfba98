#include "roundtrip/changes.hpp"

#include <vector>

namespace qf {

namespace {

// A marked node at or below `start`, passing by every node with a directive
// record below it (but for an edit of its directive). Any order finds one:
// leaves are looked at in place and only collections wait on the stack, as an
// unchanged document is read whole on every render.
bool marked_below(const YamlNode& start) {
  if (start.comments().modified) return true;
  std::vector<const YamlNode*> pending;
  const YamlNode* cur = &start;
  auto marked = [&pending](const YamlNode& n) {
    if (n.has_extra()) {
      if (n.source()) return directive_fields_edited(n);
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

bool same_comments(const Comments& a, const Comments& b) {
  if (a.modified == b.modified) return a == b;
  Comments c = b;
  c.modified = a.modified;
  return a == c;
}

}  // namespace

bool directive_fields_edited(const YamlNode& node) {
  // Every edit sets the mark: an unmarked node keeps the fields it was given.
  if (!node.comments().modified || !node.source() || !node.source()->directive_fields) return false;
  const IncludedRootFields& f = *node.source()->directive_fields;
  return node.anchor() != f.anchor || !same_comments(node.comments(), f.comments) ||
         node.explicit_start != f.explicit_start || node.explicit_end != f.explicit_end ||
         node.leading_bom != f.leading_bom || node.directives() != f.directives ||
         node.empty_documents_before() != f.empty_documents_before ||
         node.empty_documents_after() != f.empty_documents_after;
}

bool node_has_local_change(const YamlNode& node) {
  return node.source() ? directive_fields_edited(node) : marked_below(node);
}

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
