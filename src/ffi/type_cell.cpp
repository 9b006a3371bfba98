#include "ffi/type_cell.hpp"

#include <atomic>
#include <cstring>
#include <string>

#include "ffi/pyref.hpp"
#include "support/internal_error.hpp"

namespace qf::py {

namespace {

// A type whose name has no module part makes the interpreter warn with a
// DeprecationWarning (an error under -W error). Silence exactly that warning
// while the type is built.
PyObject* create_quietly(PyType_Spec* spec, PyObject* bases) {
  if (std::strchr(spec->name, '.')) return PyType_FromSpecWithBases(spec, bases);
  PyRef warnings = PyRef::steal(PyImport_ImportModule("warnings"));
  if (!warnings) return nullptr;
  PyRef cm = PyRef::steal(PyObject_CallMethod(warnings.get(), "catch_warnings", nullptr));
  if (!cm) return nullptr;
  PyRef entered = PyRef::steal(PyObject_CallMethod(cm.get(), "__enter__", nullptr));
  if (!entered) return nullptr;
  std::string pattern = std::string("builtin type ") + spec->name + " has no __module__ attribute";
  PyRef filt = PyRef::steal(PyObject_CallMethod(warnings.get(), "filterwarnings", "ssO", "ignore",
                                                pattern.c_str(), PyExc_DeprecationWarning));
  PyObject* type = filt ? PyType_FromSpecWithBases(spec, bases) : nullptr;
  PyObject* pending = take_raised_exception();
  PyRef exited = PyRef::steal(PyObject_CallMethod(cm.get(), "__exit__", "OOO", Py_None, Py_None, Py_None));
  if (!exited) {
    Py_XDECREF(pending);
    Py_XDECREF(type);
    return nullptr;
  }
  restore_raised_exception(pending);
  return type;
}

}  // namespace

PyTypeObject* TypeCell::get() noexcept {
  auto* cell = &type_;
  if (PyTypeObject* t = cell->load(std::memory_order_acquire)) return t;
  PyObject* bases = base_ ? reinterpret_cast<PyObject*>(base_) : nullptr;
  PyObject* created = create_quietly(spec_, bases);
  if (!created) return nullptr;
  if (vectorcall_) reinterpret_cast<PyTypeObject*>(created)->tp_vectorcall = vectorcall_;
  PyTypeObject* expected = nullptr;
  if (!cell->compare_exchange_strong(expected, reinterpret_cast<PyTypeObject*>(created), std::memory_order_acq_rel)) {
    Py_DECREF(created);  // another thread stored one first
    return expected;
  }
  return reinterpret_cast<PyTypeObject*>(created);
}

PyTypeObject* TypeCell::require() {
  if (PyTypeObject* t = get()) return t;
  PyErr_WriteUnraisable(nullptr);
  const char* name = std::strrchr(spec_->name, '.');
  name = name ? name + 1 : spec_->name;
  throw InternalError(std::string("failed to create type object for `") + name + "`");
}

}  // namespace qf::py
