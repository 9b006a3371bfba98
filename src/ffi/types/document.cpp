#include "ffi/types/document.hpp"

#include <memory>

namespace qf::py {

namespace {

void document_dealloc(PyObject* self) {
  PyTypeObject* tp = Py_TYPE(self);
  std::destroy_at(&reinterpret_cast<DocumentObject*>(self)->borrow);
  tp->tp_free(self);
  Py_DECREF(tp);
}

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "A structure-preserving YAML document returned by `loads(..., OPT_ROUND_TRIP)`.\n\n"
                    "It holds the source tree (comments, styles, anchors, include boundaries) and,\n"
                    "when loaded with includes, the file-id to source-path table used for write-back.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(document_dealloc)},
    {0, nullptr},
};

PyType_Spec spec = {"QuillfernDocument", sizeof(DocumentObject), 0,
                    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots};

}  // namespace

TypeCell& document_type_cell() {
  static TypeCell cell(&spec);
  return cell;
}

}  // namespace qf::py
