#include "ffi/args.hpp"

#include <cstring>
#include <string_view>

namespace qf::py {

namespace {

// 'a' / 'a' and 'b' / 'a', 'b' and 'c'
std::string quoted_list(const char* const* names, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    if (i > 0) out += (i + 1 == n) ? " and " : ", ";
    out += '\'';
    out += names[i];
    out += '\'';
  }
  return out;
}

bool too_many_positional(const ArgSpec& s, Py_ssize_t given) {
  const char* verb = given == 1 ? "was" : "were";
  if (s.n_required < s.n_positional)
    PyErr_Format(PyExc_TypeError, "%s takes from %d to %d positional arguments but %zd %s given", s.fn_name,
                 int(s.n_required), int(s.n_positional), given, verb);
  else
    PyErr_Format(PyExc_TypeError, "%s takes %d positional arguments but %zd %s given", s.fn_name,
                 int(s.n_positional), given, verb);
  return false;
}

// Matches one keyword (by its UTF-8 name) against the description.
// Returns false with TypeError set on an unexpected or repeated keyword;
// collects positional-only names given by keyword in `posonly_hits`.
bool place_keyword(const ArgSpec& s, PyObject* key, PyObject* value, CallArgs& out, const char** posonly_hits,
                   size_t& n_hits) {
  Py_ssize_t len = 0;
  const char* k = PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, &len) : nullptr;
  if (!k) {
    PyErr_Clear();
    PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'", s.fn_name, key);
    return false;
  }
  std::string_view name(k, static_cast<size_t>(len));
  const size_t total = size_t{s.n_positional} + s.n_kwonly;
  for (size_t i = s.n_positional; i < total; ++i) {
    if (name == s.params[i]) {
      out.v[i] = value;
      return true;
    }
  }
  for (size_t i = 0; i < s.n_positional; ++i) {
    if (name != s.params[i]) continue;
    if (i < s.n_posonly) {
      posonly_hits[n_hits++] = s.params[i];
      return true;
    }
    if (out.v[i]) {
      PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", s.fn_name, s.params[i]);
      return false;
    }
    out.v[i] = value;
    return true;
  }
  PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'", s.fn_name, key);
  return false;
}

bool finish(const ArgSpec& s, CallArgs& out, const char** posonly_hits, size_t n_hits) {
  if (n_hits > 0) {
    std::string names = quoted_list(posonly_hits, n_hits);
    PyErr_Format(PyExc_TypeError, "%s got some positional-only arguments passed as keyword arguments: %s",
                 s.fn_name, names.c_str());
    return false;
  }
  const char* missing[kMaxParams];
  size_t n_missing = 0;
  for (size_t i = 0; i < s.n_required; ++i)
    if (!out.v[i]) missing[n_missing++] = s.params[i];
  if (n_missing > 0) {
    std::string names = quoted_list(missing, n_missing);
    PyErr_Format(PyExc_TypeError, "%s missing %zu required positional %s: %s", s.fn_name, n_missing,
                 n_missing == 1 ? "argument" : "arguments", names.c_str());
    return false;
  }
  return true;
}

}  // namespace

bool parse_args(const ArgSpec& s, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames, CallArgs& out) {
  Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
  if (nargs > s.n_positional) return too_many_positional(s, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) out.v[i] = args[i];
  const char* hits[kMaxParams];
  size_t n_hits = 0;
  if (kwnames) {
    Py_ssize_t nk = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t j = 0; j < nk; ++j) {
      if (!place_keyword(s, PyTuple_GET_ITEM(kwnames, j), args[nargs + j], out, hits, n_hits)) return false;
      if (n_hits == kMaxParams) break;
    }
  }
  return finish(s, out, hits, n_hits);
}

bool parse_args(const ArgSpec& s, PyObject* args, PyObject* kwargs, CallArgs& out) {
  Py_ssize_t nargs = args ? PyTuple_GET_SIZE(args) : 0;
  if (nargs > s.n_positional) return too_many_positional(s, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) out.v[i] = PyTuple_GET_ITEM(args, i);
  const char* hits[kMaxParams];
  size_t n_hits = 0;
  if (kwargs) {
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      if (!place_keyword(s, key, value, out, hits, n_hits)) return false;
      if (n_hits == kMaxParams) break;
    }
  }
  return finish(s, out, hits, n_hits);
}

void add_processing_note(const char* name) noexcept {
  PyObject* exc = take_raised_exception();
  if (!exc) return;
  PyObject* note = PyUnicode_FromFormat("while processing '%s'", name);
  if (note) {
    PyObject* r = PyObject_CallMethod(exc, "add_note", "O", note);
    Py_XDECREF(r);
    Py_DECREF(note);
  }
  PyErr_Clear();  // a failed note leaves the exception as it was
  restore_raised_exception(exc);
}

bool arg_u64(PyObject* o, const char* name, uint64_t& out) {
  unsigned long long v;
  if (PyLong_Check(o)) {
    v = PyLong_AsUnsignedLongLong(o);
  } else {
    PyObject* idx = PyNumber_Index(o);
    if (!idx) {
      add_processing_note(name);
      return false;
    }
    v = PyLong_AsUnsignedLongLong(idx);
    Py_DECREF(idx);
  }
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    add_processing_note(name);
    return false;
  }
  out = v;
  return true;
}

bool arg_u32(PyObject* o, const char* name, uint32_t& out) {
  uint64_t v = 0;
  if (!arg_u64(o, name, v)) return false;
  if (v > UINT32_MAX) {
    PyErr_SetString(PyExc_OverflowError, "int too big to convert to a 32-bit unsigned integer");
    add_processing_note(name);
    return false;
  }
  out = static_cast<uint32_t>(v);
  return true;
}

static bool type_mismatch(PyObject* o, const char* target, const char* name) {
  PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to '%s'", Py_TYPE(o)->tp_name, target);
  add_processing_note(name);
  return false;
}

bool arg_path(PyObject* o, const char* name, std::optional<std::string>& out) {
  if (is_absent(o)) {
    out.reset();
    return true;
  }
  PyRef fs = PyRef::steal(PyOS_FSPath(o));
  if (!fs) {
    add_processing_note(name);
    return false;
  }
  if (!PyUnicode_Check(fs.get())) return type_mismatch(fs.get(), "str", name);
  PyRef bytes = PyRef::steal(PyUnicode_EncodeFSDefault(fs.get()));
  if (!bytes) {
    add_processing_note(name);
    return false;
  }
  out.emplace(PyBytes_AS_STRING(bytes.get()), static_cast<size_t>(PyBytes_GET_SIZE(bytes.get())));
  return true;
}

bool arg_str(PyObject* o, const char* name, std::string& out) {
  if (!PyUnicode_Check(o)) return type_mismatch(o, "str", name);
  Py_ssize_t n = 0;
  const char* u = PyUnicode_AsUTF8AndSize(o, &n);
  if (!u) {
    add_processing_note(name);
    return false;
  }
  out.assign(u, static_cast<size_t>(n));
  return true;
}

bool arg_opt_str(PyObject* o, const char* name, std::optional<std::string>& out) {
  if (is_absent(o)) {
    out.reset();
    return true;
  }
  // Filled in place: no second string to move from.
  if (!arg_str(o, name, out.emplace())) {
    out.reset();
    return false;
  }
  return true;
}

bool arg_opt_bool(PyObject* o, const char* name, std::optional<bool>& out) {
  if (is_absent(o)) {
    out.reset();
    return true;
  }
  if (o == Py_True || o == Py_False) {
    out = (o == Py_True);
    return true;
  }
  // numpy.bool_ (and numpy.bool in numpy 2) convert through their truth value.
  const char* tn = Py_TYPE(o)->tp_name;
  if (std::strcmp(tn, "numpy.bool_") == 0 || std::strcmp(tn, "numpy.bool") == 0) {
    int t = PyObject_IsTrue(o);
    if (t < 0) {
      add_processing_note(name);
      return false;
    }
    out = t == 1;
    return true;
  }
  return type_mismatch(o, "bool", name);
}

bool check_instance(PyObject* self, PyTypeObject* type, const char* class_name) {
  if (PyObject_TypeCheck(self, type)) return true;
  PyErr_Format(PyExc_TypeError, "'%s' object is not an instance of '%s'", Py_TYPE(self)->tp_name, class_name);
  return false;
}

}  // namespace qf::py
