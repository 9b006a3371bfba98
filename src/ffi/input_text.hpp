// The `data` argument of every loading entry (loads, loads_all, yaml_version,
// schema_ref) as UTF-8 text.
#pragma once
#include <string>
#include <string_view>

#include "ffi/py.hpp"
#include "ffi/pyref.hpp"

namespace qf::py {

// The input as UTF-8. Text from an immutable host object (str, bytes holding
// UTF-8) is a view into that object, kept alive by a reference that this
// value holds, so nothing is copied; everything else is decoded into an
// owned string. Either way the text stays valid and unchanged while the
// interpreter lock is released. Release only with the lock held.
class InputText {
 public:
  InputText() = default;
  std::string_view view() const noexcept { return keepalive_ ? view_ : std::string_view(owned_); }
  size_t size() const noexcept { return view().size(); }
  // An owned copy (moved out when the text is already owned).
  std::string into_string() &&;

 private:
  friend bool extract_input_text(PyObject* data, InputText& out);
  friend bool extract_input_text_general(PyObject* data, InputText& out);
  PyRef keepalive_;
  std::string owned_;
  std::string_view view_;
};

// The road of every input but an exact str of ASCII characters.
bool extract_input_text_general(PyObject* data, InputText& out);

// Accepts a str (its UTF-8 form), bytes, bytearray or any object with a
// buffer of single unsigned bytes, and decodes UTF-8, UTF-16 or UTF-32.
// False with the host exception set: TypeError "loads() requires str,
// bytes, bytearray, or a buffer (e.g. memoryview)" for other objects,
// QuillfernDecodeError for bytes that do not decode, the interpreter's
// UnicodeEncodeError for a str with lone surrogates. An exact str of ASCII
// characters (most calls) is its own UTF-8, viewed where it lies, inline
// (a view wins over anything `out` owned before).
inline bool extract_input_text(PyObject* data, InputText& out) {
  if (PyUnicode_CheckExact(data) && PyUnicode_IS_COMPACT_ASCII(data)) [[likely]] {
    out.keepalive_ = PyRef::borrow(data);
    out.view_ = std::string_view(reinterpret_cast<const char*>(reinterpret_cast<PyASCIIObject*>(data) + 1),
                                 static_cast<size_t>(PyUnicode_GET_LENGTH(data)));
    return true;
  }
  return extract_input_text_general(data, out);
}

}  // namespace qf::py
