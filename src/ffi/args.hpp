// Argument extraction for module functions, methods and constructors, with
// the interpreter's own error texts, and the converters that add the note
// "while processing '{}'" to a failed conversion.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "ffi/py.hpp"
#include "ffi/pyref.hpp"

namespace qf::py {

inline constexpr size_t kMaxParams = 12;

// The fixed description of one entry. `params` lists the positional
// parameters first, then the keyword-only ones.
struct ArgSpec {
  const char* fn_name;  // "loads()" or "QuillfernTag.__new__()"
  const char* const* params;
  uint8_t n_positional;  // of which the first n_posonly are positional-only
  uint8_t n_posonly;
  uint8_t n_required;  // required positional parameters (keyword-only ones are all optional)
  uint8_t n_kwonly;
};

// The parsed arguments: borrowed references in parameter order, nullptr for
// a parameter not given.
struct CallArgs {
  PyObject* v[kMaxParams];
  CallArgs() noexcept : v{} {}
  // Nothing set: for a caller that sets every parameter of its entry itself.
  struct Unset {};
  explicit CallArgs(Unset) noexcept {}
  PyObject* operator[](size_t i) const noexcept { return v[i]; }
};

// Vectorcall form (METH_FASTCALL | METH_KEYWORDS). False with TypeError set
// when the call does not match the description.
bool parse_args(const ArgSpec& spec, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames, CallArgs& out);
// Tuple and dict form (tp_new).
bool parse_args(const ArgSpec& spec, PyObject* args, PyObject* kwargs, CallArgs& out);

// `None` and a parameter not given both mean absent.
inline bool is_absent(PyObject* o) noexcept { return o == nullptr || o == Py_None; }

// Adds the note "while processing '{name}'" to the pending exception; if the
// note cannot be added the exception stays as it was.
void add_processing_note(const char* name) noexcept;

// Converters: true on success; false with the conversion's exception set and
// noted with the parameter's name.
//
// Unsigned 64-bit: an int directly, anything else through __index__;
// OverflowError outside 0..2**64-1, TypeError without __index__.
bool arg_u64(PyObject* o, const char* name, uint64_t& out);
// Unsigned 32-bit: as arg_u64, OverflowError above 2**32-1.
bool arg_u32(PyObject* o, const char* name, uint32_t& out);
// The `option` word: absent or None is 0 (inline: most calls give none).
inline bool arg_option(PyObject* o, uint64_t& out) {
  if (is_absent(o)) {
    out = 0;
    return true;
  }
  return arg_u64(o, "option", out);
}
// A path: absent or None gives none; otherwise os.fspath(o) must be a str,
// which is kept in the file system encoding (bytes, as the OS takes them).
bool arg_path(PyObject* o, const char* name, std::optional<std::string>& out);
// A str (or subclass) as UTF-8.
bool arg_str(PyObject* o, const char* name, std::string& out);
// Absent or None gives none, else as arg_str.
bool arg_opt_str(PyObject* o, const char* name, std::optional<std::string>& out);
// Absent or None gives none; True/False (and numpy booleans through their
// truth value); any other type is a TypeError.
bool arg_opt_bool(PyObject* o, const char* name, std::optional<bool>& out);
// Absent or None gives an empty reference, else a new strong reference.
inline PyRef arg_object(PyObject* o) { return is_absent(o) ? PyRef() : PyRef::borrow(o); }

// TypeError "'{type}' object is not an instance of '{class}'", for methods
// called with a foreign self. Returns false when raised.
bool check_instance(PyObject* self, PyTypeObject* type, const char* class_name);

}  // namespace qf::py
