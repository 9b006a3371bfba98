// QuillfernAnnotatedDict and QuillfernAnnotatedList: dict and list
// subclasses carrying where a node came from. Each instance holds an
// AnnotatedRecord (borrow flag + NodeAnnotation), reached through
// annotated_record(); the dict keeps it at a fixed position after the dict,
// the list after the list (relative to the base where the interpreter
// supports it).
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "ffi/py.hpp"
#include "ffi/type_cell.hpp"
#include "support/borrow_flag.hpp"

namespace qf::py {

// Lines and columns counted from 1, offsets from 0. A new instance has every
// text absent and every number 0.
struct NodeAnnotation {
  uint32_t line = 0;
  uint32_t column = 0;
  std::optional<std::string> file;
  uint32_t end_line = 0;
  uint32_t end_column = 0;
  std::optional<std::string> source_tag;
  std::optional<std::string> source_target;
  uint64_t offset = 0;
  uint64_t end_offset = 0;
};

struct AnnotatedRecord {
  BorrowFlag borrow;
  NodeAnnotation annotation;
};

TypeCell& annotated_dict_type_cell();
TypeCell& annotated_list_type_cell();

// The record of an instance of either class (or of a subclass).
AnnotatedRecord* annotated_record(PyObject* self);

// A new empty instance of the class (dict or list) with `annotation`.
// nullptr with the host exception set on failure.
PyObject* new_annotated_dict(NodeAnnotation annotation);
PyObject* new_annotated_list(NodeAnnotation annotation);

}  // namespace qf::py
