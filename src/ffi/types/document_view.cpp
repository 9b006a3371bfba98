#include "ffi/types/document_view.hpp"

#include <memory>

namespace qf::py {

namespace {

template <class T>
void plain_dealloc(PyObject* self) {
  PyTypeObject* tp = Py_TYPE(self);
  std::destroy_at(&reinterpret_cast<T*>(self)->borrow);
  tp->tp_free(self);
  Py_DECREF(tp);
}

PyType_Slot view_slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "A live proxy onto a nested node of a [`QuillfernDocument`], addressed by path.\n\n"
                    "Every access resolves the path again, so the view follows edits of the document.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(plain_dealloc<DocumentViewObject>)},
    {0, nullptr},
};
PyType_Spec view_spec = {"QuillfernDocumentView", sizeof(DocumentViewObject), 0,
                         Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, view_slots};

PyType_Slot node_slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "A metadata-bearing handle onto a single node of a [`QuillfernDocument`].\n\n"
                    "It exposes the node's value, position, comments, style, anchor and tag, and\n"
                    "resolves its path again on every access.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(plain_dealloc<NodeObject>)},
    {0, nullptr},
};
PyType_Spec node_spec = {"QuillfernNode", sizeof(NodeObject), 0,
                         Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, node_slots};

}  // namespace

TypeCell& document_view_type_cell() {
  static TypeCell cell(&view_spec);
  return cell;
}

TypeCell& node_type_cell() {
  static TypeCell cell(&node_spec);
  return cell;
}

}  // namespace qf::py
