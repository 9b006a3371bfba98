// PyRef: an owning reference to a host object. Moves transfer ownership; the
// destructor releases it. Must only be destroyed with the interpreter lock
// held (or attached, on free-threaded builds).
#pragma once
#include <utility>
#include <vector>

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

// A new tuple or list of `items`, taking their references over. Made once
// every item is, and filled with no call in between, so that no host code
// (a collector pass, an import hook) ever meets it with empty slots. On
// failure the items stay with the caller.
inline PyObject* tuple_of(std::vector<PyRef>& items) {
  PyObject* t = PyTuple_New(static_cast<Py_ssize_t>(items.size()));
  if (!t) return nullptr;
  for (size_t i = 0; i < items.size(); ++i) PyTuple_SET_ITEM(t, static_cast<Py_ssize_t>(i), items[i].release());
  return t;
}

inline PyObject* list_of(std::vector<PyRef>& items) {
  PyObject* l = PyList_New(static_cast<Py_ssize_t>(items.size()));
  if (!l) return nullptr;
  for (size_t i = 0; i < items.size(); ++i) PyList_SET_ITEM(l, static_cast<Py_ssize_t>(i), items[i].release());
  return l;
}

}  // namespace qf::py
