// QuillfernDocument: a structure-preserving document returned by
// loads(..., OPT_ROUND_TRIP). No host constructor; carries a borrow flag.
// The document classes add the RoundTripDocument contents and members.
#pragma once
#include "ffi/py.hpp"
#include "ffi/type_cell.hpp"
#include "support/borrow_flag.hpp"

namespace qf::py {

struct DocumentObject {
  PyObject_HEAD
  BorrowFlag borrow;
};

TypeCell& document_type_cell();

}  // namespace qf::py
