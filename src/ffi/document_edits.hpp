// Item assignment and deletion of QuillfernDocument and
// QuillfernDocumentView, and QuillfernDocument.to_tree(). Every error is
// found before the tree changes: a refused edit leaves the document (and
// its rendering) exactly as it was.
#pragma once
#include "ffi/py.hpp"

namespace qf::py {

// The mp_ass_subscript slots: `value` nullptr deletes. 0, or -1 with the
// host exception set.
int document_set_or_delete_item(PyObject* document, PyObject* key, PyObject* value);
int view_set_or_delete_item(PyObject* view, PyObject* key, PyObject* value);

// QuillfernDocument.to_tree(): the snapshot of the single document, None for
// an empty stream, ValueError for several documents.
PyObject* document_to_tree(PyObject* document, PyObject* unused);

}  // namespace qf::py
