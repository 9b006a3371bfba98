// QuillfernDocumentView (a live proxy onto a nested node of a document) and
// QuillfernNode (a handle onto any single node). No host constructors; each
// carries a borrow flag and a node handle: a reference to the document, the
// index of the document (root) the path starts at, and the path itself,
// resolved again on every access.
#pragma once
#include <cstdint>
#include <memory>

#include "ffi/py.hpp"
#include "ffi/type_cell.hpp"
#include "roundtrip/paths.hpp"
#include "support/borrow_flag.hpp"

namespace qf::py {

struct NodeHandle {
  PyObject* document = nullptr;  // strong reference to a QuillfernDocument
  uint64_t root = 0;             // which document of the stream
  NodePath path;
};

struct DocumentViewObject {
  PyObject_HEAD
  BorrowFlag borrow;
  NodeHandle handle;
};

struct NodeObject {
  PyObject_HEAD
  BorrowFlag borrow;
  NodeHandle handle;
};

// tp_dealloc of both classes: they reference only the document, which holds
// no host objects, so neither takes part in garbage collection.
template <class T>
void handle_dealloc(PyObject* self) {
  PyTypeObject* tp = Py_TYPE(self);
  T* o = reinterpret_cast<T*>(self);
  Py_CLEAR(o->handle.document);
  std::destroy_at(&o->handle);
  std::destroy_at(&o->borrow);
  tp->tp_free(self);
  Py_DECREF(tp);
}

TypeCell& document_view_type_cell();
TypeCell& node_type_cell();

// New objects holding a new reference to `document`; nullptr with the host
// exception set on failure.
PyObject* new_document_view(PyObject* document, uint64_t root, NodePath path);
PyObject* new_node_object(PyObject* document, uint64_t root, NodePath path);

bool is_document_view_object(PyObject* o);

}  // namespace qf::py
