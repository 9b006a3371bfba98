// QuillfernTreeNode: an owned, immutable node snapshot (no host
// constructor, no borrow flag). Snapshots are built by the document classes
// with new_tree_node().
#pragma once
#include <optional>
#include <string>

#include "ffi/convert/roundtrip_values.hpp"
#include "ffi/py.hpp"
#include "ffi/type_cell.hpp"
#include "roundtrip/ast.hpp"

namespace qf::py {

struct TreeNodeObject {
  PyObject_HEAD
  const char* kind;   // fixed text, e.g. "mapping"
  const char* style;  // fixed text
  std::optional<std::string> tag;
  std::optional<std::string> anchor;
  std::optional<std::string> comment;
  std::optional<std::string> comment_before;
  std::optional<std::string> comment_after;
  bool is_merge_key;
  PyObject* value;  // owned
};

TypeCell& tree_node_type_cell();

// A new snapshot with the given fields; `value` is a new reference that the
// snapshot takes over. nullptr with the host exception set on failure (the
// value is then released).
struct TreeNodeFields {
  const char* kind = "";
  const char* style = "";
  std::optional<std::string> tag, anchor, comment, comment_before, comment_after;
  bool is_merge_key = false;
};
PyObject* new_tree_node(TreeNodeFields fields, PyObject* value);

// The snapshot of a whole tree, built in one pass: scalar values resolved
// with the settings, aliases and merge keys kept as written, and the
// comment lines above each node as its parent sees them. `comment_before`
// is the text for the root itself. nullptr with the host exception set.
PyObject* snapshot_node(const YamlNode& node, const ValueSettings& settings,
                        std::optional<std::string> comment_before);

}  // namespace qf::py
