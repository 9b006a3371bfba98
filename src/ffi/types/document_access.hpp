// Reading services shared by the document and view classes: resolving a
// handle, item access by host key, key lists, membership, walks and ranges.
// Callers hold the document's borrow for the whole call.
#pragma once
#include <cstdint>
#include <span>
#include <string_view>

#include "ffi/convert/roundtrip_values.hpp"
#include "ffi/errors.hpp"
#include "ffi/frame.hpp"
#include "ffi/py.hpp"
#include "roundtrip/document.hpp"
#include "roundtrip/paths.hpp"

namespace qf::py {

inline ValueSettings value_settings(const RoundTripDocument& d) {
  return ValueSettings{d.resolver_mode, d.resolve_timestamps};
}

// The node a handle designates: from root number `root`, one step per
// segment; an alias met on the way stands for the node it refers to in its
// own document, and so does one at the end unless `follow_last` is false (a
// node handle can designate an alias). nullptr when the path does not
// resolve.
const YamlNode* resolve_handle(const RoundTripDocument& d, uint64_t root, std::span<const PathSegment> path,
                               AliasScope& scope, bool follow_last = true);

// The root a handle starts at, or nullptr when the stream has no such
// document.
inline const YamlNode* handle_root(const RoundTripDocument& d, uint64_t root) {
  return root < d.docs.size() ? &d.docs[root] : nullptr;
}

// IndexError "index out of range" under a sequence, else KeyError whose one
// argument is str(key). Returns nullptr.
PyObject* missing_child_error(NodeKind parent, PyObject* key);

// A non-negative 64-bit integer (anything with __index__, bool included)
// gives Index; else a str gives Key; else TypeError "mapping keys must be
// str or int". False with the exception set.
bool path_segment_from_py(PyObject* key, PathSegment& out);

// Matches mapping key nodes against one host key by host equality of the
// key node's plain value. A str key against an untagged scalar is decided on
// the text without making objects. An error while comparing counts as a
// mismatch.
class KeyMatcher {
 public:
  KeyMatcher(PyObject* key, const ValueSettings& s, AliasScope& scope);
  bool operator()(const YamlNode& k) const;

 private:
  PyObject* key_;
  const ValueSettings& s_;
  AliasScope& scope_;
  std::string_view text_;
  bool is_str_ = false;
};

// Item access on `node`, which (root, path) designates: a new view for a
// collection child, the plain value otherwise; KeyError / IndexError /
// TypeError as the classes document.
PyObject* child_for_key(PyObject* document, uint64_t root, const NodePath& path, const YamlNode& node,
                        PyObject* key, AliasScope& scope, const ValueSettings& s);
// A view for a collection (or an alias of one), the plain value otherwise.
PyObject* make_document_view(PyObject* document, uint64_t root, NodePath path, const YamlNode& node,
                             AliasScope& scope, const ValueSettings& s);

// The plain values of the distinct keys of a mapping, in source order.
PyObject* distinct_keys_to_py(const YamlNode& mapping, const ValueSettings& s, AliasScope& scope);
// Their number; -1 with the exception set on failure.
Py_ssize_t distinct_key_count(const YamlNode& mapping, const ValueSettings& s, AliasScope& scope);
// len() of a node: distinct keys, items, or 1.
Py_ssize_t node_length(const YamlNode& node, const ValueSettings& s, AliasScope& scope);

// `in`: the key is a str equal to the text of one of the scalar keys.
bool contains_str_key(const YamlNode& node, PyObject* key);

// A list of (path tuple, value) for every leaf under the node.
PyObject* walk_to_py(const YamlNode& node, const ValueSettings& s, AliasScope& scope);

// (line, column, end line, end column), 1-based.
PyObject* range_to_py(const YamlNode& node);

const char* node_kind_name(NodeKind kind);

// get(key, default): the result of `access`, or `default` (None when None)
// in place of any error value. Internal failures are not caught.
template <class F>
PyObject* item_or_default(F&& access, PyObject* dflt);

void rethrow_internal_or_clear();

template <class F>
PyObject* item_or_default(F&& access, PyObject* dflt) {
  PyObject* r = nullptr;
  try {
    r = access();
  } catch (Error&) {
    r = nullptr;
    PyErr_Clear();
  } catch (ErrorAlreadySet&) {
    r = nullptr;
  }
  if (r) return r;
  rethrow_internal_or_clear();
  return Py_NewRef(dflt ? dflt : Py_None);
}

}  // namespace qf::py
