#include "ffi/input_text.hpp"

#include <cstring>

#include "ffi/errors.hpp"
#include "support/input_decode.hpp"

namespace qf::py {

namespace {

bool refuse() {
  PyErr_SetString(PyExc_TypeError, "loads() requires str, bytes, bytearray, or a buffer (e.g. memoryview)");
  return false;
}

// "B" or "c", alone or after one prefix that means the machine's own order.
bool is_unsigned_byte_format(const char* f) {
  if (!f) return true;
  if (*f == '@' || *f == '=') {
    ++f;
  } else if (*f == '<' || *f == '>') {
    bool little = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
    if ((*f == '<') != little) return false;
    ++f;
  }
  return (f[0] == 'B' || f[0] == 'c') && f[1] == '\0';
}

// Decodes bytes into `owned`; false with QuillfernDecodeError raised.
bool decode_into(std::string_view bytes, std::string& owned) {
  std::string error;
  owned.clear();
  if (!decode_input_bytes(bytes, owned, error)) {
    raise(decode_error_from_message(error));
    return false;
  }
  return true;
}

// Checks text that is already UTF-8 where it lies; false with
// QuillfernDecodeError raised.
bool validate_in_place(std::string_view bytes) {
  std::string error;
  if (validate_utf8_input(bytes, error)) return true;
  raise(decode_error_from_message(error));
  return false;
}

}  // namespace

std::string InputText::into_string() && {
  std::string s = keepalive_ ? std::string(view_) : std::move(owned_);
  keepalive_.reset();
  view_ = {};
  owned_.clear();
  return s;
}

bool extract_input_text_general(PyObject* data, InputText& out) {
  out = InputText();
  if (PyUnicode_Check(data)) {
    Py_ssize_t n = 0;
    const char* u = PyUnicode_AsUTF8AndSize(data, &n);
    if (!u) return false;
    out.keepalive_ = PyRef::borrow(data);
    out.view_ = std::string_view(u, static_cast<size_t>(n));
    return true;
  }
  if (PyBytes_Check(data)) {
    std::string_view bytes(PyBytes_AS_STRING(data), static_cast<size_t>(PyBytes_GET_SIZE(data)));
    if (detect_input_encoding(bytes) == InputEncoding::Utf8) {
      // Immutable and already UTF-8: validate in place, no copy.
      if (!validate_in_place(bytes)) return false;
      out.keepalive_ = PyRef::borrow(data);
      out.view_ = bytes;
      return true;
    }
    return decode_into(bytes, out.owned_);
  }
  if (PyByteArray_Check(data)) {
    // Mutable: decode into an owned copy.
    std::string_view bytes(PyByteArray_AS_STRING(data), static_cast<size_t>(PyByteArray_GET_SIZE(data)));
    return decode_into(bytes, out.owned_);
  }
  Py_buffer view;
  if (PyObject_GetBuffer(data, &view, PyBUF_FULL_RO) < 0) {
    PyErr_Clear();
    return refuse();
  }
  if (!view.shape || !view.strides || view.itemsize != 1 || !is_unsigned_byte_format(view.format)) {
    PyBuffer_Release(&view);
    return refuse();
  }
  std::string copy(static_cast<size_t>(view.len), '\0');
  int rc = PyBuffer_ToContiguous(copy.data(), &view, view.len, 'C');
  PyBuffer_Release(&view);
  if (rc < 0) return false;
  if (detect_input_encoding(copy) == InputEncoding::Utf8) {
    // The copy is already the text once it validates.
    if (!validate_in_place(copy)) return false;
    out.owned_ = std::move(copy);
    return true;
  }
  return decode_into(copy, out.owned_);
}

}  // namespace qf::py
