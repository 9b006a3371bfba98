// QuillfernDocumentView (a live proxy onto a nested node of a document) and
// QuillfernNode (a handle onto any single node). No host constructors; each
// carries a borrow flag. The document classes add the node handle (a path
// and a reference to the document) and the members.
#pragma once
#include "ffi/py.hpp"
#include "ffi/type_cell.hpp"
#include "support/borrow_flag.hpp"

namespace qf::py {

struct DocumentViewObject {
  PyObject_HEAD
  BorrowFlag borrow;
};

struct NodeObject {
  PyObject_HEAD
  BorrowFlag borrow;
};

TypeCell& document_view_type_cell();
TypeCell& node_type_cell();

}  // namespace qf::py
