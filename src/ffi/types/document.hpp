// QuillfernDocument: a structure-preserving document returned by
// loads(..., OPT_ROUND_TRIP). No host constructor; carries a borrow flag and
// owns its RoundTripDocument (source trees, tables, kept text, settings).
#pragma once
#include <atomic>
#include <cstdint>

#include "ffi/py.hpp"
#include "ffi/type_cell.hpp"
#include "roundtrip/document.hpp"
#include "support/borrow_flag.hpp"

namespace qf::py {

struct DocumentObject {
  PyObject_HEAD
  BorrowFlag borrow;
  RoundTripDocument* content;  // owned; never null once created
  // borrow.exclusive_releases() + 1 when no node of the content was found
  // to carry an edit mark; 0 when not known. Every edit holds the exclusive
  // borrow, so the finding holds until the count moves.
  std::atomic<uint64_t> unmarked_at;
};

TypeCell& document_type_cell();

// A new document object owning `content`; nullptr with the host exception
// set when it cannot be made (the content is then released).
PyObject* new_document_object(RoundTripDocument&& content);

// Instance test (subclasses included). Throws qf::InternalError when the
// type object cannot be created.
bool is_document_object(PyObject* o);

inline RoundTripDocument& document_content(PyObject* doc) {
  return *reinterpret_cast<DocumentObject*>(doc)->content;
}
inline BorrowFlag& document_borrow(PyObject* doc) { return reinterpret_cast<DocumentObject*>(doc)->borrow; }

}  // namespace qf::py
