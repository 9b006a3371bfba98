// The host-call frame around every native entry (module function, method,
// special method, getter): the implementation runs inside a region that turns
// every C++ exception into a host exception, so none ever crosses into the
// interpreter.
//
// Inside the frame an implementation reports failure in one of these ways:
//   - return nullptr (or -1) with a host exception set;
//   - throw qf::py::Error (a lazy or captured exception, errors.hpp);
//   - throw qf::py::ErrorAlreadySet{} after setting a host exception (handy
//     deep inside recursive walks);
//   - throw qf::InternalError for a broken invariant: raised as the
//     internal-error exception (a BaseException subclass);
//   - std::bad_alloc becomes MemoryError; any other C++ exception is an
//     internal failure.
#pragma once
#include <string_view>
#include <type_traits>

#include "ffi/py.hpp"
#include "support/internal_error.hpp"

namespace qf::py {

// Thrown after a host exception has been set.
struct ErrorAlreadySet {};

// The internal-error exception class ("quillfern.QuillfernInternalError",
// derived directly from BaseException), created once per process. Borrowed;
// nullptr with an exception set only when it cannot be created.
PyObject* internal_error_class() noexcept;

// Raises the internal-error exception with `message` (a fixed default text
// when empty), replacing any pending exception.
void raise_internal_error(std::string_view message) noexcept;

// Where the system calls back into host code: when the callback raised the
// internal-error exception, it becomes an internal failure of this call
// (thrown as qf::InternalError with the same message). Any other pending
// exception is left alone.
void rethrow_if_internal_error();

// Turns the C++ exception being handled into a host exception. Call only
// from a catch block.
void set_error_from_current_exception() noexcept;

namespace detail {
void check_result_consistency(bool failed) noexcept;
}

// Runs an implementation returning a new reference (nullptr on failure).
template <class F>
PyObject* guarded(F&& fn) noexcept {
  try {
    PyObject* r = std::forward<F>(fn)();
    if (!r || PyErr_Occurred()) [[unlikely]] {
      detail::check_result_consistency(r == nullptr);
      Py_XDECREF(r);
      return nullptr;
    }
    return r;
  } catch (...) {
    set_error_from_current_exception();
    return nullptr;
  }
}

// Runs an implementation returning an int-like status (-1 on failure), as
// __len__, __contains__, __setitem__ and setters do.
template <class R = int, class F>
R guarded_status(F&& fn) noexcept {
  try {
    R r = std::forward<F>(fn)();
    if (r == R(-1) || PyErr_Occurred()) [[unlikely]] {
      detail::check_result_consistency(r == R(-1));
      return R(-1);
    }
    return r;
  } catch (...) {
    set_error_from_current_exception();
    return R(-1);
  }
}

}  // namespace qf::py
