// Which file an edit belongs to. Edits set the `modified` mark on the nodes
// they touch and marks never propagate upward, so a change is found by
// searching below a node. A node with a directive record (`source`) stands
// for content of another file (or of none): the searches stop there, so each
// file counts only its own edits. The node's own anchor, comments and
// document markers are the directive's, in the including file: an edit of
// those counts there.
#pragma once
#include <vector>

#include "roundtrip/ast.hpp"

namespace qf {

// The anchor, comments or document markers that a node with a directive
// record carries for its directive differ from those loaded.
bool directive_fields_edited(const YamlNode& node);

// Content of the node's own file was edited at or below it. At a node with
// a directive record: its directive's fields were.
bool node_has_local_change(const YamlNode& node);
bool pair_has_local_change(const MappingEntry& pair);
// Any root's own content changed (a root that is itself an include counts
// for the included file, but for an edit of its directive's fields).
bool roots_have_local_change(const std::vector<YamlNode>& roots);

// The included file's own content changed: as node_has_local_change, but
// the root's own record does not stop the search.
bool included_root_changed(const YamlNode& root);

}  // namespace qf
