#include "ffi/document_edits.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ffi/borrow.hpp"
#include "ffi/convert/roundtrip_values.hpp"
#include "ffi/convert/to_node.hpp"
#include "ffi/frame.hpp"
#include "ffi/pyref.hpp"
#include "ffi/types/document.hpp"
#include "ffi/types/document_access.hpp"
#include "ffi/types/document_view.hpp"
#include "ffi/types/tree_node.hpp"
#include "roundtrip/comment_text.hpp"
#include "roundtrip/composer.hpp"
#include "roundtrip/edit.hpp"

namespace qf::py {

int raise_edit_error(const EditError& e) {
  PyObject* cls = PyExc_ValueError;
  switch (e.kind) {
    case EditErrorKind::TypeError: cls = PyExc_TypeError; break;
    case EditErrorKind::IndexError: cls = PyExc_IndexError; break;
    case EditErrorKind::KeyError: cls = PyExc_KeyError; break;
    case EditErrorKind::ValueError: cls = PyExc_ValueError; break;
  }
  PyErr_SetString(cls, e.message.c_str());
  return -1;
}

namespace {

// KeyError whose single argument is the key object itself (a tuple key is
// not unpacked into several arguments).
int raise_key_error(PyObject* key) {
  PyRef exc = PyRef::steal(PyObject_CallOneArg(PyExc_KeyError, key));
  if (!exc) return -1;
  PyErr_SetObject(PyExc_KeyError, exc.get());
  return -1;
}

// The key as an unsigned 64-bit index by the host's integer conversion; its
// own error (TypeError, OverflowError) is left raised.
std::optional<uint64_t> index_from_key(PyObject* key) {
  PyRef i = PyRef::steal(PyNumber_Index(key));
  if (!i) return std::nullopt;
  unsigned long long v = PyLong_AsUnsignedLongLong(i.get());
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return std::nullopt;
  return v;
}

// The converted value counts its levels from where it is put, so that the
// edited document stays within the loader's nesting limit and reloads.
static_assert(kMaxAssignDepth + 1 == kMaxComposeDepth);

// Assignment (value) or deletion (nullptr) under `key` of `node`, a node
// inside the tree of `root`.
int edit_at_node(RoundTripDocument& d, YamlNode& root, YamlNode& node, PyObject* key, PyObject* value) {
  const ValueSettings vs = value_settings(d);
  // The depth of the node's children, where the new nodes go.
  const uint32_t depth = &node == &root ? 1 : node_depth(root, node).value_or(0) + 1;
  if (node.is_sequence()) {
    std::optional<uint64_t> index = index_from_key(key);
    if (!index) return -1;
    if (*index >= node.items.size()) {
      PyErr_SetString(PyExc_IndexError, "index out of range");
      return -1;
    }
    std::optional<EditError> err;
    if (value) {
      YamlNode fresh = python_to_node(value, to_node_settings(d), depth);
      err = assign_sequence_item(root, node, *index, std::move(fresh), d.resolver_mode);
    } else {
      err = delete_sequence_item(root, node, *index);
    }
    return err ? raise_edit_error(*err) : 0;
  }
  if (node.is_mapping()) {
    if (value) {
      YamlNode fresh = python_to_node(value, to_node_settings(d), depth);
      std::optional<size_t> hit;
      {
        AliasScope scope(root);
        KeyMatcher matches(key, vs, scope);
        hit = find_last_matching_entry(node, std::ref(matches));
      }
      if (hit) {
        auto err = assign_mapping_value(root, node, *hit, std::move(fresh), d.resolver_mode);
        return err ? raise_edit_error(*err) : 0;
      }
      YamlNode key_node = python_to_node(key, to_node_settings(d), depth);
      append_mapping_entry(node, std::move(key_node), std::move(fresh));
      return 0;
    }
    std::vector<size_t> hits;
    {
      AliasScope scope(root);
      KeyMatcher matches(key, vs, scope);
      hits = find_matching_entries(node, std::ref(matches));
    }
    if (hits.empty()) return raise_key_error(key);
    auto err = delete_mapping_entries(root, node, hits);
    return err ? raise_edit_error(*err) : 0;
  }
  PyErr_SetString(PyExc_TypeError, "node is not a mapping or sequence");
  return -1;
}

}  // namespace

int document_set_or_delete_item(PyObject* document, PyObject* key, PyObject* value) {
  return guarded_status([&]() -> int {
    ExclusiveBorrow b(document_borrow(document));
    if (!b) return -1;
    RoundTripDocument& d = document_content(document);
    if (d.docs.size() == 1) return edit_at_node(d, d.docs[0], d.docs[0], key, value);
    // No document or several: the key is a document index.
    std::optional<uint64_t> index = index_from_key(key);
    if (!index) return -1;
    if (*index >= d.docs.size()) {
      PyErr_SetString(PyExc_IndexError, "index out of range");
      return -1;
    }
    std::optional<EditError> err;
    if (value) {
      YamlNode fresh = python_to_node(value, to_node_settings(d));
      err = replace_document(d.docs, *index, std::move(fresh));
    } else {
      err = delete_document(d, *index);
    }
    return err ? raise_edit_error(*err) : 0;
  });
}

int view_set_or_delete_item(PyObject* view, PyObject* key, PyObject* value) {
  return guarded_status([&]() -> int {
    auto* v = reinterpret_cast<DocumentViewObject*>(view);
    ExclusiveBorrow vb(v->borrow);
    if (!vb) return -1;
    PyObject* document = v->handle.document;
    ExclusiveBorrow db(document_borrow(document));
    if (!db) return -1;
    RoundTripDocument& d = document_content(document);
    const YamlNode* found;
    {
      AliasScope scope(handle_root(d, v->handle.root));
      found = resolve_handle(d, v->handle.root, v->handle.path, scope);
    }
    if (!found) {
      PyErr_SetString(PyExc_KeyError, "stale view");
      return -1;
    }
    // The node lies inside the tree of its root document (an alias on the
    // way resolves within that document), which this edit holds exclusively.
    YamlNode& node = const_cast<YamlNode&>(*found);
    return edit_at_node(d, d.docs[v->handle.root], node, key, value);
  });
}

PyObject* document_to_tree(PyObject* document, PyObject*) {
  return with_shared_borrow(document_borrow(document), [&]() -> PyObject* {
    const RoundTripDocument& d = document_content(document);
    if (d.docs.size() > 1) {
      PyErr_SetString(PyExc_ValueError, "to_tree() requires one document; use loads_all(option=OPT_ROUND_TRIP)");
      return nullptr;
    }
    if (d.docs.empty()) Py_RETURN_NONE;
    const YamlNode& root = d.docs[0];
    return snapshot_node(root, value_settings(d), head_comment_text(root.comments().head, HeadCommentFilter::All));
  });
}

}  // namespace qf::py
