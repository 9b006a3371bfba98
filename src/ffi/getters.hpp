// Simple field getters: each returns a new host object built from one stored
// field. Use in a PyGetSetDef table:
//   {"tag", qf::py::get_field<&TagObject::tag, qf::py::Borrow::Shared>, nullptr, nullptr, nullptr}
// Borrow::Shared takes the object's shared borrow (its `borrow` member) for
// the read; Borrow::None reads directly (immutable classes).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ffi/borrow.hpp"
#include "ffi/frame.hpp"
#include "ffi/py.hpp"

namespace qf::py {

// Conversions of stored fields to new host objects (nullptr on failure).
inline PyObject* to_py(const std::string& s) {
  return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "surrogateescape");
}
inline PyObject* to_py(std::string_view s) {
  return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "surrogateescape");
}
inline PyObject* to_py(const std::optional<std::string>& s) { return s ? to_py(*s) : Py_NewRef(Py_None); }
inline PyObject* to_py(const char* fixed) { return fixed ? PyUnicode_FromString(fixed) : Py_NewRef(Py_None); }
inline PyObject* to_py(uint32_t v) { return PyLong_FromUnsignedLong(v); }
inline PyObject* to_py(uint64_t v) { return PyLong_FromUnsignedLongLong(v); }
inline PyObject* to_py(bool v) { return PyBool_FromLong(v); }
// A stored host object is returned itself (None when empty).
inline PyObject* to_py(PyObject* o) { return Py_NewRef(o ? o : Py_None); }

enum class Borrow { None, Shared };

namespace detail {
template <class M>
struct member_traits;
template <class C, class T>
struct member_traits<T C::*> {
  using object = C;
  using field = T;
};
}  // namespace detail

template <auto Member, Borrow B = Borrow::None>
PyObject* get_field(PyObject* self, void*) {
  using Obj = typename detail::member_traits<decltype(Member)>::object;
  return guarded([&]() -> PyObject* {
    auto* o = reinterpret_cast<Obj*>(self);
    if constexpr (B == Borrow::Shared) {
      SharedBorrow b(o->borrow);
      if (!b) return nullptr;
      return to_py(o->*Member);
    } else {
      return to_py(o->*Member);
    }
  });
}

}  // namespace qf::py
