// Lazily created heap types: one run-once cell per native class, filled on
// first use and kept for the life of the process (shared by every import).
#pragma once
#include <atomic>

#include "ffi/py.hpp"

namespace qf::py {

class TypeCell {
 public:
  // `base` is the single base class, or nullptr for object. `vectorcall`,
  // when given, makes calls of the class skip the tuple and dict of tp_new
  // (no type slot sets it).
  TypeCell(PyType_Spec* spec, PyTypeObject* base = nullptr, vectorcallfunc vectorcall = nullptr) noexcept
      : spec_(spec), base_(base), vectorcall_(vectorcall) {}

  // The type object, created on first use; nullptr with the host exception
  // set when it cannot be created (module_exec reports that as the import's
  // failure).
  PyTypeObject* get() noexcept;
  // As get(), but a creation failure is written as unraisable and thrown as
  // qf::InternalError "failed to create type object for `{}`".
  PyTypeObject* require();
  // The type object when it has been created, else nullptr; never creates it.
  PyTypeObject* made() const noexcept { return type_.load(std::memory_order_acquire); }

 private:
  PyType_Spec* spec_;
  PyTypeObject* base_;
  vectorcallfunc vectorcall_;
  std::atomic<PyTypeObject*> type_{nullptr};
};

}  // namespace qf::py
