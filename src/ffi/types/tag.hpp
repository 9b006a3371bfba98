// QuillfernTag(tag, value): a custom-tagged value. Carries a borrow flag;
// takes part in cycle collection so that a tag inside its own value is freed.
#pragma once
#include <string>

#include "ffi/py.hpp"
#include "ffi/type_cell.hpp"
#include "support/borrow_flag.hpp"

namespace qf::py {

struct TagObject {
  PyObject_HEAD
  BorrowFlag borrow;
  std::string tag;
  PyObject* value;  // owned
};

TypeCell& tag_type_cell();

// A new QuillfernTag holding `tag` and a new reference to `value`. nullptr
// with the host exception set on failure.
PyObject* new_tag(std::string tag, PyObject* value);

}  // namespace qf::py
