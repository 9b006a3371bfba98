#include "ffi/dumps_roundtrip.hpp"

#include <string>

#include "ffi/borrow.hpp"
#include "ffi/types/document.hpp"
#include "ffi/types/document_view.hpp"
#include "roundtrip/emit.hpp"

namespace qf::py {

namespace {

// The object's own to_dict (looked up by name, so overrides count).
bool replace_by_to_dict(PyObject*& obj, PyRef& holder) {
  PyRef plain = PyRef::steal(PyObject_CallMethod(obj, "to_dict", nullptr));
  if (!plain) return false;
  holder = std::move(plain);
  obj = holder.get();
  return true;
}

}  // namespace

bool dumps_round_trip_object(PyObject*& obj, PyRef& holder, PyRef& rendered) {
  if (is_document_object(obj)) {
    SharedBorrow b(document_borrow(obj));
    if (!b) return false;
    std::string text = render_document(document_content(obj));
    rendered = PyRef::steal(PyBytes_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    return bool(rendered);
  }
  if (is_document_view_object(obj)) return replace_by_to_dict(obj, holder);
  return true;
}

bool to_json_round_trip_object(PyObject*& obj, PyRef& holder, PyRef& rendered) {
  if (is_document_object(obj)) {
    bool empty;
    {
      SharedBorrow b(document_borrow(obj));
      if (!b) return false;
      empty = document_content(obj).docs.empty();
    }
    if (empty) {
      rendered = PyRef::steal(PyBytes_FromStringAndSize("null", 4));
      return bool(rendered);
    }
    return replace_by_to_dict(obj, holder);
  }
  if (is_document_view_object(obj)) return replace_by_to_dict(obj, holder);
  return true;
}

}  // namespace qf::py
