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
  PyRef keepalive_;
  std::string owned_;
  std::string_view view_;
};

// Accepts a str (its UTF-8 form), bytes, bytearray or any object with a
// buffer of single unsigned bytes, and decodes UTF-8, UTF-16 or UTF-32.
// False with the host exception set: TypeError "loads() requires str,
// bytes, bytearray, or a buffer (e.g. memoryview)" for other objects,
// QuillfernDecodeError for bytes that do not decode, the interpreter's
// UnicodeEncodeError for a str with lone surrogates.
bool extract_input_text(PyObject* data, InputText& out);

}  // namespace qf::py
