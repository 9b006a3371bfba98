// The one include for Python in the module frame, with the small shims that
// let the rest of src/ffi/ use one API on 3.11 and later interpreters.
#pragma once
#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace qf::py {

// Takes the raised exception (normalized) out of the thread state, or
// nullptr when none is set. New reference.
inline PyObject* take_raised_exception() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
  return PyErr_GetRaisedException();
#else
  PyObject *type, *value, *tb;
  PyErr_Fetch(&type, &value, &tb);
  if (!type) return nullptr;
  PyErr_NormalizeException(&type, &value, &tb);
  if (tb && value) PyException_SetTraceback(value, tb);
  Py_XDECREF(type);
  Py_XDECREF(tb);
  return value;
#endif
}

// Makes `exc` (a new reference, stolen) the raised exception again.
inline void restore_raised_exception(PyObject* exc) noexcept {
#if PY_VERSION_HEX >= 0x030C0000
  PyErr_SetRaisedException(exc);
#else
  if (!exc) return;
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(exc));
  Py_INCREF(type);
  PyErr_Restore(type, exc, PyException_GetTraceback(exc));
#endif
}

}  // namespace qf::py
