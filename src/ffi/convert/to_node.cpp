#include "ffi/convert/to_node.hpp"

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "encode/scalar_safety.hpp"
#include "encode/scalar_text.hpp"
#include "ffi/frame.hpp"
#include "ffi/pyref.hpp"
#include "resolver/timestamp.hpp"
#include "support/stack_guard.hpp"

namespace qf::py {

namespace {

[[noreturn]] void throw_pending() { throw ErrorAlreadySet{}; }

YamlNode plain_scalar(std::string text) { return YamlNode::scalar(std::move(text), ScalarStyle::Plain); }

// numpy.bool_ (and numpy.bool on numpy 2) by name, without importing numpy.
bool is_numpy_bool(PyObject* value) {
  PyTypeObject* tp = Py_TYPE(value);
  std::string_view name = tp->tp_name;  // "numpy.bool" / "numpy.bool_" for heap types is the qualified name
  if (name != "numpy.bool_" && name != "numpy.bool") {
    // Heap types may report only the bare name; check __module__ then.
    if (name != "bool_" && name != "bool") return false;
    PyRef mod = PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(tp), "__module__"));
    if (!mod) {
      PyErr_Clear();
      return false;
    }
    const char* m = PyUnicode_Check(mod.get()) ? PyUnicode_AsUTF8(mod.get()) : nullptr;
    if (!m) {
      PyErr_Clear();
      return false;
    }
    return std::string_view(m) == "numpy";
  }
  return true;
}

[[noreturn]] void cannot_convert(PyObject* value) {
  PyRef r = PyRef::steal(PyObject_Repr(value));
  if (!r) throw_pending();
  PyErr_Format(PyExc_TypeError, "cannot convert %U to a YAML node", r.get());
  throw_pending();
}

YamlNode convert(PyObject* value, const ToNodeSettings& s, uint32_t depth);

YamlNode convert_level(PyObject* value, const ToNodeSettings& s, uint32_t depth) {
  if (depth > kMaxAssignDepth) {
    PyErr_SetString(PyExc_ValueError, "value is too deeply nested to assign (possible self-reference)");
    throw_pending();
  }
  // None
  if (value == Py_None) {
    YamlNode n;
    n.kind = NodeKind::Null;
    n.synthetic = true;
    return n;
  }
  // Booleans: the host's own, or numpy's, through their truth value.
  if (PyBool_Check(value)) return plain_scalar(value == Py_True ? "true" : "false");
  if (is_numpy_bool(value)) {
    int t = PyObject_IsTrue(value);
    if (t >= 0) return plain_scalar(t ? "true" : "false");
    PyErr_Clear();
  }
  // Integers: anything with an index conversion. One too wide for 64 bits
  // is written with all its digits (never through a double).
  if (PyLong_Check(value) || PyIndex_Check(value)) {
    PyRef i = PyRef::steal(PyNumber_Index(value));
    if (i) {
      int overflow = 0;
      long long v = PyLong_AsLongLongAndOverflow(i.get(), &overflow);
      if (!(v == -1 && PyErr_Occurred())) {
        if (!overflow) {
          std::string text;
          append_int64(text, v);
          return plain_scalar(std::move(text));
        }
        PyRef digits = PyRef::steal(PyObject_Str(i.get()));
        if (digits) {
          Py_ssize_t n = 0;
          const char* d = PyUnicode_AsUTF8AndSize(digits.get(), &n);
          if (d) return plain_scalar(std::string(d, size_t(n)));
        }
      }
    }
    PyErr_Clear();
  }
  // Floats, and anything with a float conversion (Decimal).
  if (PyFloat_Check(value)) return plain_scalar(format_yaml_float(PyFloat_AS_DOUBLE(value)));
  if (PyNumberMethods* nm = Py_TYPE(value)->tp_as_number; nm && (nm->nb_float || nm->nb_index)) {
    double d = PyFloat_AsDouble(value);
    if (!(d == -1.0 && PyErr_Occurred())) return plain_scalar(format_yaml_float(d));
    PyErr_Clear();
  }
  // Strings that encode as UTF-8 (no lone surrogates).
  if (PyUnicode_Check(value)) {
    Py_ssize_t n = 0;
    const char* p = PyUnicode_AsUTF8AndSize(value, &n);
    if (p) {
      std::string_view text(p, size_t(n));
      return YamlNode::scalar(std::string(text),
                              scalar_style_for_assigned_str(text, s.prefer_double_quotes, s.mode, s.timestamps));
    }
    PyErr_Clear();
    cannot_convert(value);
  }
  // Lists: the items are held while converting, so host code run by a
  // conversion (__index__, __float__) cannot pull one out from under us.
  if (PyList_Check(value)) {
    std::vector<PyRef> items;
    Py_ssize_t count = PyList_GET_SIZE(value);
    items.reserve(size_t(count));
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(value); ++i) items.push_back(PyRef::borrow(PyList_GET_ITEM(value, i)));
    YamlNode seq = YamlNode::sequence();
    seq.items.reserve(items.size());
    for (const PyRef& item : items) seq.items.push_back(convert(item.get(), s, depth + 1));
    return seq;
  }
  if (PyDict_Check(value)) {
    std::vector<std::pair<PyRef, PyRef>> entries;
    entries.reserve(size_t(PyDict_Size(value)));
    Py_ssize_t pos = 0;
    PyObject *k, *v;
    while (PyDict_Next(value, &pos, &k, &v)) entries.emplace_back(PyRef::borrow(k), PyRef::borrow(v));
    YamlNode map = YamlNode::mapping();
    map.pairs.reserve(entries.size());
    for (const auto& [key, val] : entries) {
      YamlNode kn = convert(key.get(), s, depth + 1);
      YamlNode vn = convert(val.get(), s, depth + 1);
      map.pairs.push_back(MappingEntry{std::move(kn), std::move(vn)});
    }
    return map;
  }
  cannot_convert(value);
}

YamlNode convert(PyObject* value, const ToNodeSettings& s, uint32_t depth) {
  return ensure_stack([&]() { return convert_level(value, s, depth); });
}

}  // namespace

ScalarStyle scalar_style_for_assigned_str(std::string_view text, bool prefer_double_quotes, ResolverMode mode,
                                          bool timestamps) {
  if (!needs_quotes(text, mode) && !(timestamps && parse_timestamp(text))) return ScalarStyle::Plain;
  if (prefer_double_quotes) return ScalarStyle::DoubleQuoted;
  if (text.find('\'') != std::string_view::npos) return ScalarStyle::DoubleQuoted;
  return is_single_line_printable(text) ? ScalarStyle::SingleQuoted : ScalarStyle::DoubleQuoted;
}

YamlNode python_to_node(PyObject* value, const ToNodeSettings& settings, uint32_t depth) {
  return convert(value, settings, depth);
}

}  // namespace qf::py
