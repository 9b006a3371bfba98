#include "roundtrip/changes.hpp"

#include "roundtrip/walk.hpp"

namespace qf {

namespace {

// A marked node at or below `start`, passing by every node with a directive
// record below it (but for an edit of its directive).
bool marked_below(const YamlNode& start) {
  return !walk_tree(start, [&](const YamlNode& n) {
    if (&n != &start && n.source()) return directive_fields_edited(n) ? Walk::Stop : Walk::Over;
    return n.comments().modified ? Walk::Stop : Walk::Into;
  });
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
