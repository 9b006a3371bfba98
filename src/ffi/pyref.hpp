// PyRef: an owning reference to a host object. Moves transfer ownership; the
// destructor releases it. Must only be destroyed with the interpreter lock
// held (or attached, on free-threaded builds).
#pragma once
#include <utility>

#include "ffi/py.hpp"

namespace qf::py {

class PyRef {
 public:
  PyRef() noexcept = default;
  PyRef(std::nullptr_t) noexcept {}
  PyRef(const PyRef& o) noexcept : p_(o.p_) { Py_XINCREF(p_); }
  PyRef(PyRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ~PyRef() { Py_XDECREF(p_); }
  PyRef& operator=(PyRef o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }

  // Adopts a new reference (as returned by most C API calls).
  static PyRef steal(PyObject* p) noexcept { return PyRef(p); }
  // Takes an additional reference to a borrowed object.
  static PyRef borrow(PyObject* p) noexcept {
    Py_XINCREF(p);
    return PyRef(p);
  }

  PyObject* get() const noexcept { return p_; }
  // Gives up ownership: the caller now owns the reference.
  PyObject* release() noexcept { return std::exchange(p_, nullptr); }
  void reset() noexcept { Py_CLEAR(p_); }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 private:
  explicit PyRef(PyObject* p) noexcept : p_(p) {}
  PyObject* p_ = nullptr;
};

}  // namespace qf::py
