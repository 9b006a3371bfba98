// Item assignment and deletion of QuillfernDocument and
// QuillfernDocumentView, and QuillfernDocument.to_tree(). Every error is
// found before the tree changes: a refused edit leaves the document (and
// its rendering) exactly as it was.
#pragma once
#include "ffi/convert/to_node.hpp"
#include "ffi/py.hpp"
#include "roundtrip/document.hpp"
#include "roundtrip/edit.hpp"

namespace qf::py {

// Raises the host exception of a refused edit; returns -1.
int raise_edit_error(const EditError& e);

// How host values become nodes in this document.
inline ToNodeSettings to_node_settings(const RoundTripDocument& d) {
  return ToNodeSettings{d.prefer_double_quotes, d.resolver_mode, d.resolve_timestamps};
}

// The mp_ass_subscript slots: `value` nullptr deletes. 0, or -1 with the
// host exception set.
int document_set_or_delete_item(PyObject* document, PyObject* key, PyObject* value);
int view_set_or_delete_item(PyObject* view, PyObject* key, PyObject* value);

// QuillfernDocument.to_tree(): the snapshot of the single document, None for
// an empty stream, ValueError for several documents.
PyObject* document_to_tree(PyObject* document, PyObject* unused);

}  // namespace qf::py
