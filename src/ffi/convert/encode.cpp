#include "ffi/convert/encode.hpp"

#include <atomic>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

#include "encode/datetime_text.hpp"
#include "encode/settings.hpp"
#include "ffi/borrow.hpp"
#include "ffi/convert/dump_tag.hpp"
#include "ffi/errors.hpp"
#include "ffi/frame.hpp"
#include "ffi/types/tag.hpp"
#include "support/stack_guard.hpp"
#include "support/utf8.hpp"

namespace qf::py {

namespace {

[[noreturn]] void throw_pending() { throw ErrorAlreadySet{}; }

[[noreturn]] void throw_too_deep() {
  throw Error::lazy(ExcClass::EncodeError, "object is too deeply nested to serialize (possible self-reference)");
}

// Attribute names used on the fallback road, interned once.
struct Names {
  PyObject* isoformat;
  PyObject* value;
  PyObject* dataclass_fields;
  PyObject* fspath;
  PyObject* tolist;
  PyObject* item;
  PyObject* is_finite;
  PyObject* format;
  PyObject* module;
  PyObject* f;

  Names() {
    isoformat = intern("isoformat");
    value = intern("value");
    dataclass_fields = intern("__dataclass_fields__");
    fspath = intern("__fspath__");
    tolist = intern("tolist");
    item = intern("item");
    is_finite = intern("is_finite");
    format = intern("__format__");
    module = intern("__module__");
    f = intern("f");
  }

  static PyObject* intern(const char* s) {
    PyObject* o = PyUnicode_InternFromString(s);
    if (!o) throw ErrorAlreadySet{};  // the static is initialised again next time
    return o;
  }
};

const Names& names() {
  static const Names n;  // kept for the life of the process
  return n;
}

// getattr that treats a missing attribute as absent; other errors are thrown.
PyRef optional_attr(PyObject* obj, PyObject* name) {
#if PY_VERSION_HEX >= 0x030D0000
  PyObject* r = nullptr;
  if (PyObject_GetOptionalAttr(obj, name, &r) < 0) throw_pending();
  return PyRef::steal(r);
#else
  PyObject* r = PyObject_GetAttr(obj, name);
  if (!r) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_pending();
    PyErr_Clear();
  }
  return PyRef::steal(r);
#endif
}

// UTF-8 view of a str (the host's conversion; errors thrown).
std::string_view str_view(PyObject* s) {
  Py_ssize_t n = 0;
  const char* u = PyUnicode_AsUTF8AndSize(s, &n);
  if (!u) throw_pending();
  return {u, static_cast<size_t>(n)};
}

// UTF-8 of a str, or nullopt (host error discarded) when it cannot be encoded.
std::optional<std::string_view> str_view_or_none(PyObject* s) {
  Py_ssize_t n = 0;
  const char* u = PyUnicode_AsUTF8AndSize(s, &n);
  if (!u) {
    PyErr_Clear();
    return std::nullopt;
  }
  return std::string_view(u, static_cast<size_t>(n));
}

// The unqualified __name__ of a type, as a new str.
PyRef type_name(PyTypeObject* tp) {
  PyRef n = PyRef::steal(PyType_GetName(tp));
  if (!n) throw_pending();
  return n;
}

bool name_is(PyObject* name, std::string_view expected) {
  if (!PyUnicode_Check(name)) return false;
  return str_view(name) == expected;
}

// The text of a type's __module__; a value that is not text is an error.
std::string type_module_name(PyTypeObject* tp) {
  PyRef m = PyRef::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(tp), names().module));
  if (!m) throw_pending();
  if (!PyUnicode_Check(m.get())) {
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'str'", Py_TYPE(m.get())->tp_name);
    throw_pending();
  }
  return std::string(str_view(m.get()));
}

PyTypeObject* tag_type() { return tag_type_cell().require(); }

// ---- scalars ----

Value encode_int(PyObject* o) {
  int overflow = 0;
  long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
  if (overflow == 0) {
    if (v == -1 && PyErr_Occurred()) throw_pending();
    return Value::integer(v);
  }
  PyRef as_int = PyRef::steal(PyObject_CallOneArg(reinterpret_cast<PyObject*>(&PyLong_Type), o));
  if (!as_int) throw_pending();
  PyRef text = PyRef::steal(PyObject_Str(as_int.get()));
  if (!text) throw_pending();
  return Value::big_int(str_view(text.get()), 10);
}

[[noreturn]] void throw_surrogate() {
  throw Error::lazy(ExcClass::EncodeError,
                    "cannot serialize a str containing unpaired surrogates; convert it to valid Unicode (or "
                    "recover the original bytes and handle them explicitly) before dumping");
}

template <class Ch>
size_t utf8_from_wide(const Ch* src, Py_ssize_t n, char* dst) {
  char* d = dst;
  for (Py_ssize_t i = 0; i < n; ++i) {
    uint32_t c = src[i];
    if (c < 0x80) {
      *d++ = static_cast<char>(c);
    } else if (c < 0x800) {
      *d++ = static_cast<char>(0xC0 | (c >> 6));
      *d++ = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      if (c >= 0xD800 && c <= 0xDFFF) throw_surrogate();
      *d++ = static_cast<char>(0xE0 | (c >> 12));
      *d++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *d++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *d++ = static_cast<char>(0xF0 | (c >> 18));
      *d++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *d++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *d++ = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return static_cast<size_t>(d - dst);
}

// ---- collections ----

// Entries of a collection built in this call, for the expansion budget.
inline void count_entries(const EncodeContext& ctx, size_t n) {
  if (ctx.shared) ctx.shared->produced += n;
}

// python_to_value of an object that our own snapshot holds one reference to.
Value snapshot_item_to_value(PyObject* obj, const EncodeContext& ctx);

// Converts the scalars that cannot run host code (None, exact str, int,
// float, bool) into `out`; false for anything else.
inline bool try_plain_scalar(PyObject* o, Value& out) {
  PyTypeObject* tp = Py_TYPE(o);
  if (tp == &PyUnicode_Type) {
    out = encode_str(o);
  } else if (tp == &PyLong_Type) {
    out = encode_int(o);
  } else if (tp == &PyFloat_Type) {
    out = Value::floating(PyFloat_AS_DOUBLE(o));
  } else if (o == Py_None) {
    out = Value::null();
  } else if (tp == &PyBool_Type) {
    out = Value::boolean(o == Py_True);
  } else {
    return false;
  }
  return true;
}

// Strong references released together.
class RefList {
 public:
  RefList() = default;
  RefList(const RefList&) = delete;
  RefList& operator=(const RefList&) = delete;
  ~RefList() {
    for (PyObject* p : refs_) Py_DECREF(p);
  }
  void reserve(size_t n) { refs_.reserve(n); }
  void push(PyObject* borrowed) {
    refs_.push_back(borrowed);
    Py_INCREF(borrowed);
  }
  size_t size() const { return refs_.size(); }
  PyObject* operator[](size_t i) const { return refs_[i]; }

 private:
  std::vector<PyObject*> refs_;
};

// A list's items. Leading items that cannot run host code are converted
// straight from the list; as soon as one could (a collection, a callback),
// the rest of the list is first taken as strong references, so host code
// run by any child cannot change which items are converted or free them.
Value encode_list(PyObject* list, const EncodeContext& child) {
  Py_ssize_t n = PyList_GET_SIZE(list);
  if (n > 0 && child.depth >= kMaxEncodeDepth) throw_too_deep();
  count_entries(child, static_cast<size_t>(n));
  ValueList items;
  items.reserve(static_cast<size_t>(n));
  Py_ssize_t i = 0;
#ifndef Py_GIL_DISABLED
  for (; i < n; ++i) {
    Value v;
    if (!try_plain_scalar(PyList_GET_ITEM(list, i), v)) break;
    items.push_back(std::move(v));
  }
  if (i == n) return Value::sequence(std::move(items));
#endif
  RefList rest;
  rest.reserve(static_cast<size_t>(n - i));
  for (Py_ssize_t j = i; j < n; ++j) rest.push(PyList_GET_ITEM(list, j));
  for (size_t j = 0; j < rest.size(); ++j) items.push_back(snapshot_item_to_value(rest[j], child));
  return Value::sequence(std::move(items));
}

// An exact tuple is immutable and kept alive by our caller: its items need no
// snapshot.
Value encode_tuple(PyObject* tuple, const EncodeContext& child) {
  Py_ssize_t n = PyTuple_GET_SIZE(tuple);
  if (n > 0 && child.depth >= kMaxEncodeDepth) throw_too_deep();
  count_entries(child, static_cast<size_t>(n));
  ValueList items;
  items.reserve(static_cast<size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* o = PyTuple_GET_ITEM(tuple, i);
    Value v;
    if (!try_plain_scalar(o, v)) v = python_to_value(o, child);
    items.push_back(std::move(v));
  }
  return Value::sequence(std::move(items));
}

// The stored pairs of a dict or dict subclass, in insertion order, from its
// own storage (overridden item access of a subclass is not used). Snapshot
// discipline as for lists.
Value encode_dict(PyObject* dict, const EncodeContext& child) {
  Py_ssize_t n = PyDict_GET_SIZE(dict);
  if (n > 0 && child.depth >= kMaxEncodeDepth) throw_too_deep();
  count_entries(child, 2 * static_cast<size_t>(n));
  PairList pairs;
  pairs.reserve(static_cast<size_t>(n));
  Py_ssize_t pos = 0;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  bool pending = false;  // key/value hold a pair not converted yet
#ifndef Py_GIL_DISABLED
  while (PyDict_Next(dict, &pos, &key, &value)) {
    Value k, v;
    if (!try_plain_scalar(key, k) || !try_plain_scalar(value, v)) {
      pending = true;
      break;
    }
    pairs.emplace_back(std::move(k), std::move(v));
  }
  if (!pending) return Value::mapping(std::move(pairs));
#endif
  RefList rest;
  rest.reserve(2 * (static_cast<size_t>(n) - pairs.size()));
  if (pending) {
    rest.push(key);
    rest.push(value);
  }
  while (PyDict_Next(dict, &pos, &key, &value)) {
    rest.push(key);
    rest.push(value);
  }
  for (size_t j = 0; j < rest.size(); j += 2) {
    Value k = snapshot_item_to_value(rest[j], child);
    Value v = snapshot_item_to_value(rest[j + 1], child);
    pairs.emplace_back(std::move(k), std::move(v));
  }
  return Value::mapping(std::move(pairs));
}

// Items of any iterable, converted as they are produced.
Value encode_iterable(PyObject* obj, const EncodeContext& child) {
  PyRef it = PyRef::steal(PyObject_GetIter(obj));
  if (!it) throw_pending();
  ValueList items;
  // Only sets report a size that cannot lie; other iterables just grow.
  if (PyAnySet_Check(obj)) items.reserve(static_cast<size_t>(PySet_GET_SIZE(obj)));
  for (;;) {
    PyRef item = PyRef::steal(PyIter_Next(it.get()));
    if (!item) {
      if (PyErr_Occurred()) throw_pending();
      break;
    }
    items.push_back(python_to_value(item.get(), child));
  }
  count_entries(child, items.size());
  return Value::sequence(std::move(items));
}

// ---- tags ----

Value encode_tag_object(PyObject* obj, const EncodeContext& child) {
  auto [tag, value] = read_tag_object(obj);
  validate_dump_tag(tag);
  Value inner = python_to_value(value.get(), child);
  return attach_dump_tag(std::move(tag), std::move(inner));
}

Value encode_serializer_result(PyObject* r, const EncodeContext& child) {
  if (PyObject_TypeCheck(r, tag_type())) return encode_tag_object(r, child);
  if (PyTuple_Check(r) && PyTuple_GET_SIZE(r) == 2) {
    std::string tag = serializer_tuple_tag(PyTuple_GET_ITEM(r, 0));
    validate_dump_tag(tag);
    Value inner = python_to_value(PyTuple_GET_ITEM(r, 1), child);
    return attach_dump_tag(std::move(tag), std::move(inner));
  }
  throw_serializer_result_error();
}

// ---- fallback types ----

Value encode_decimal(PyObject* x) {
  const Names& nm = names();
  PyRef finite = PyRef::steal(PyObject_CallMethodNoArgs(x, nm.is_finite));
  if (!finite) throw_pending();
  int is_finite = PyObject_IsTrue(finite.get());
  if (is_finite < 0) throw_pending();
  if (!is_finite) {
    PyRef f = PyRef::steal(PyNumber_Float(x));
    if (!f) {
      PyErr_Clear();  // a signalling NaN
      return Value::floating(std::numeric_limits<double>::quiet_NaN());
    }
    return Value::floating(PyFloat_AS_DOUBLE(f.get()));
  }
  PyRef fixed = PyRef::steal(PyObject_CallMethodOneArg(x, nm.format, nm.f));
  if (!fixed) throw_pending();
  if (!PyUnicode_Check(fixed.get())) {
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'str'", Py_TYPE(fixed.get())->tp_name);
    throw_pending();
  }
  std::string s(str_view(fixed.get()));
  if (s.find('.') == std::string::npos) return Value::big_int(s, 10);
  PyRef f = PyRef::steal(PyNumber_Float(x));
  if (!f) {
    PyErr_Clear();
    return Value::string(s);
  }
  double fv = PyFloat_AS_DOUBLE(f.get());
  PyRef shortest = PyRef::steal(PyObject_Repr(f.get()));
  if (!shortest) throw_pending();
  PyRef back = PyRef::steal(PyObject_CallOneArg(reinterpret_cast<PyObject*>(Py_TYPE(x)), shortest.get()));
  if (!back) throw_pending();
  int eq = PyObject_RichCompareBool(x, back.get(), Py_EQ);
  if (eq < 0) throw_pending();
  if (eq) return Value::floating(fv);
  return Value::string(s);
}

// numpy's ndarray and generic, looked up at first use; both null when numpy
// is unavailable. Never retried.
struct NumpyTypes {
  PyObject* ndarray = nullptr;
  PyObject* generic = nullptr;
};

NumpyTypes g_numpy;
std::atomic<int> g_numpy_state{0};  // 0 empty, 1 being filled, 2 filled
std::atomic<unsigned long> g_numpy_filler{0};

const NumpyTypes* load_numpy_types() {
  int state = g_numpy_state.load(std::memory_order_acquire);
  if (state == 2) [[likely]]
    return &g_numpy;
  int expected = 0;
  if (g_numpy_state.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
    g_numpy_filler.store(PyThread_get_thread_ident(), std::memory_order_relaxed);
    PyObject* saved = take_raised_exception();
    if (PyRef mod = PyRef::steal(PyImport_ImportModule("numpy"))) {
      PyRef nd = PyRef::steal(PyObject_GetAttrString(mod.get(), "ndarray"));
      PyRef gen = nd ? PyRef::steal(PyObject_GetAttrString(mod.get(), "generic")) : PyRef();
      if (nd && gen) {
        g_numpy.ndarray = nd.release();
        g_numpy.generic = gen.release();
      }
    }
    PyErr_Clear();
    restore_raised_exception(saved);
    g_numpy_state.store(2, std::memory_order_release);
    g_numpy_state.notify_all();
    return &g_numpy;
  }
  if (expected == 1) {
    // Re-entered from the import itself: numpy is not usable yet.
    if (g_numpy_filler.load(std::memory_order_relaxed) == PyThread_get_thread_ident()) return nullptr;
    Py_BEGIN_ALLOW_THREADS
    while (g_numpy_state.load(std::memory_order_acquire) == 1) g_numpy_state.wait(1, std::memory_order_acquire);
    Py_END_ALLOW_THREADS
  }
  return &g_numpy;
}

}  // namespace

void throw_callback_error() {
  rethrow_if_internal_error();
  throw ErrorAlreadySet{};
}

Value encode_str(PyObject* s) {
#if PY_VERSION_HEX < 0x030C0000
  if (PyUnicode_READY(s) < 0) throw_pending();
#endif
  Py_ssize_t n = PyUnicode_GET_LENGTH(s);
  if (PyUnicode_IS_ASCII(s))
    return Value::string(std::string_view(static_cast<const char*>(PyUnicode_DATA(s)), static_cast<size_t>(n)));
  std::string out;
  int kind = PyUnicode_KIND(s);
  const void* data = PyUnicode_DATA(s);
  size_t len = 0;
  if (kind == PyUnicode_1BYTE_KIND) {
    out.resize(static_cast<size_t>(n) * 2);
    len = utf8_from_wide(static_cast<const Py_UCS1*>(data), n, out.data());
  } else if (kind == PyUnicode_2BYTE_KIND) {
    out.resize(static_cast<size_t>(n) * 3);
    len = utf8_from_wide(static_cast<const Py_UCS2*>(data), n, out.data());
  } else {
    out.resize(static_cast<size_t>(n) * 4);
    len = utf8_from_wide(static_cast<const Py_UCS4*>(data), n, out.data());
  }
  out.resize(len);
  return Value::string(out);
}

EncodeContext encode_context_from_options(uint64_t option, PyObject* default_fn, PyObject* serializers) {
  EncodeContext c;
  c.default_fn = default_fn;
  c.serializers = serializers;
  c.serialize_numpy = (option & dump_option::kSerializeNumpy) != 0;
  c.passthrough_datetime = (option & dump_option::kPassthroughDatetime) != 0;
  c.passthrough_dataclass = (option & dump_option::kPassthroughDataclass) != 0;
  c.omit_microseconds = (option & dump_option::kOmitMicroseconds) != 0;
  c.naive_utc = (option & dump_option::kNaiveUtc) != 0;
  c.utc_z = (option & dump_option::kUtcZ) != 0;
  return c;
}

Handled encode_datetime(PyObject* obj, const EncodeContext& ctx) {
  PyRef iso = PyRef::steal(PyObject_GetAttr(obj, names().isoformat));
  if (!iso) {
    PyErr_Clear();
    return std::nullopt;
  }
  if (ctx.passthrough_datetime) return std::nullopt;
  PyRef text = PyRef::steal(PyObject_CallNoArgs(iso.get()));
  if (!text) throw_callback_error();
  if (!PyUnicode_Check(text.get())) return std::nullopt;
  auto view = str_view_or_none(text.get());
  if (!view) return std::nullopt;
  IsoformatOptions opts{ctx.omit_microseconds, ctx.naive_utc, ctx.utc_z};
  return Value::string(rewrite_isoformat_text(*view, opts));
}

bool is_enum_member(PyObject* obj) {
  PyRef meta_name = type_name(Py_TYPE(reinterpret_cast<PyObject*>(Py_TYPE(obj))));
  return name_is(meta_name.get(), "EnumType") || name_is(meta_name.get(), "EnumMeta");
}

PyRef numpy_to_plain(PyObject* obj) {
  const NumpyTypes* np = load_numpy_types();
  if (!np || !np->ndarray) return {};
  int is_np = PyObject_IsInstance(obj, np->ndarray);
  if (is_np < 0) throw_pending();
  if (!is_np) {
    is_np = PyObject_IsInstance(obj, np->generic);
    if (is_np < 0) throw_pending();
  }
  if (!is_np) return {};
  const Names& nm = names();
  PyRef plain = PyRef::steal(PyObject_CallMethodNoArgs(obj, nm.tolist));
  if (plain) return plain;
  PyErr_Clear();
  plain = PyRef::steal(PyObject_CallMethodNoArgs(obj, nm.item));
  if (!plain) PyErr_Clear();
  return plain;
}

std::pair<std::string, PyRef> read_tag_object(PyObject* obj) {
  auto* t = reinterpret_cast<TagObject*>(obj);
  SharedBorrow b(t->borrow);
  if (!b) throw_pending();
  return {t->tag, PyRef::borrow(t->value ? t->value : Py_None)};
}

std::string serializer_tuple_tag(PyObject* tag_obj) {
  if (!PyUnicode_Check(tag_obj)) {
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'str'", Py_TYPE(tag_obj)->tp_name);
    throw_pending();
  }
  return std::string(str_view(tag_obj));
}

PyRef find_serializer(PyObject* serializers, PyObject* obj) {
  if (!serializers) return {};
  PyObject* fn = PyDict_GetItemWithError(serializers, reinterpret_cast<PyObject*>(Py_TYPE(obj)));
  if (!fn && PyErr_Occurred()) throw_pending();
  return PyRef::borrow(fn);
}

std::optional<PairRefs> dataclass_field_pairs(PyObject* obj) {
  PyRef fields = optional_attr(obj, names().dataclass_fields);
  if (!fields || PyType_Check(obj)) return std::nullopt;
  PyRef it = PyRef::steal(PyObject_GetIter(fields.get()));
  if (!it) throw_pending();
  PairRefs pairs;
  for (;;) {
    PyRef key = PyRef::steal(PyIter_Next(it.get()));
    if (!key) {
      if (PyErr_Occurred()) throw_pending();
      break;
    }
    if (!PyUnicode_Check(key.get())) {
      PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'str'", Py_TYPE(key.get())->tp_name);
      throw_pending();
    }
    PyRef field = PyRef::steal(PyObject_GetAttr(obj, key.get()));
    if (!field) throw_pending();
    pairs.emplace_back(std::move(key), std::move(field));
  }
  return pairs;
}

Handled encode_fallback(PyObject* obj, const EncodeContext& ctx) {
  if (Handled dt = encode_datetime(obj, ctx)) return dt;
  const Names& nm = names();
  PyTypeObject* tp = Py_TYPE(obj);
  PyRef name = type_name(tp);

  if (is_enum_member(obj)) {
    PyRef v = PyRef::steal(PyObject_GetAttr(obj, nm.value));
    if (!v) throw_pending();
    return python_to_value(v.get(), ctx);
  }

  if (!ctx.passthrough_dataclass) {
    if (std::optional<PairRefs> fields = dataclass_field_pairs(obj)) {
      PairList pairs;
      pairs.reserve(fields->size());
      for (const auto& [key, field] : *fields) {
        Value k = Value::string(str_view(key.get()));
        Value v = python_to_value(field.get(), ctx);
        pairs.emplace_back(std::move(k), std::move(v));
      }
      count_entries(ctx, 2 * pairs.size());
      return Value::mapping(std::move(pairs));
    }
  }

  if (ctx.serialize_numpy) {
    if (PyRef plain = numpy_to_plain(obj)) return python_to_value(plain.get(), ctx);
  }

  if (name_is(name.get(), "UUID") && type_module_name(tp) == "uuid") {
    PyRef text = PyRef::steal(PyObject_Str(obj));
    if (!text) throw_pending();
    return Value::string(str_view(text.get()));
  }
  if (name_is(name.get(), "Decimal") && type_module_name(tp) == "decimal") return encode_decimal(obj);

  if (PyRef fspath = optional_attr(obj, nm.fspath)) {
    PyRef path = PyRef::steal(PyObject_CallNoArgs(fspath.get()));
    if (!path) throw_callback_error();
    if (PyUnicode_Check(path.get())) {
      if (auto view = str_view_or_none(path.get())) return Value::string(*view);
    }
    return std::nullopt;
  }
  return std::nullopt;
}

namespace {

// Everything but the five commonest scalars.
Value convert_object(PyObject* obj, const EncodeContext& ctx) {
  PyTypeObject* tp = Py_TYPE(obj);
  const EncodeContext child = ctx.child();
  if (tp == &PyList_Type) return encode_list(obj, child);
  if (tp == &PyDict_Type) return encode_dict(obj, child);
  if (PyLong_Check(obj)) return encode_int(obj);
  if (PyFloat_Check(obj)) return Value::floating(PyFloat_AS_DOUBLE(obj));
  if (PyUnicode_Check(obj)) return encode_str(obj);
  if (PyBytes_Check(obj)) {
    const char* data = PyBytes_AS_STRING(obj);
    size_t size = static_cast<size_t>(PyBytes_GET_SIZE(obj));
    if (!check_utf8(data, size).ok)
      throw Error::lazy(ExcClass::EncodeError,
                        "cannot serialize bytes that are not valid UTF-8; decode them yourself (e.g. base64) "
                        "before dumping");
    return Value::string(std::string_view(data, size));
  }
  if (tp == &PyTuple_Type) return encode_tuple(obj, child);
  if (PyList_Check(obj) || PyTuple_Check(obj)) return encode_iterable(obj, child);
  if (PyDict_Check(obj)) return encode_dict(obj, child);
  if (PyAnySet_Check(obj)) return encode_iterable(obj, child);
  if (PyObject_TypeCheck(obj, tag_type())) return encode_tag_object(obj, child);

  if (PyRef callable = find_serializer(ctx.serializers, obj)) {
    PyRef result = PyRef::steal(PyObject_CallOneArg(callable.get(), obj));
    if (!result) throw_callback_error();
    return encode_serializer_result(result.get(), child);
  }

  if (Handled v = encode_fallback(obj, child)) return std::move(*v);

  if (ctx.default_fn) {
    PyRef result = PyRef::steal(PyObject_CallOneArg(ctx.default_fn, obj));
    if (!result) throw_callback_error();
    EncodeContext below = child;
    below.default_fn = nullptr;
    return python_to_value(result.get(), below);
  }

  PyRef name = type_name(tp);
  std::string message = "type ";
  message += str_view(name.get());
  message += " is not YAML serializable";
  throw Error::lazy(ExcClass::UnserializableError, std::move(message));
}

// An object that may be reached more than once in this call. Its first
// conversion records how many entries it produced; a repeat is refused up
// front when that many would pass the budget, and is charged what it
// actually produced (callbacks may have changed it meanwhile).
Value convert_shared(PyObject* obj, const EncodeContext& ctx) {
  SharedObjects& s = *ctx.shared;
  if (s.repeating) return convert_object(obj, ctx);  // charged with the outer repeat
  const uint64_t before = s.produced;
  const uint64_t seen = s.find(obj);
  if (seen == SharedObjects::kNotSeen) {
    Value v = convert_object(obj, ctx);
    s.insert(obj, s.produced - before);
    return v;
  }
  if (seen > kMaxSharedExpansion - s.charged) throw_shared_expansion_error();
  struct Repeat {
    SharedObjects& s;
    explicit Repeat(SharedObjects& s) : s(s) { ++s.repeating; }
    ~Repeat() { --s.repeating; }
  };
  Value v;
  {
    Repeat r(s);
    v = convert_object(obj, ctx);
  }
  const uint64_t made = s.produced - before;
  if (made > kMaxSharedExpansion - s.charged) throw_shared_expansion_error();
  s.charged += made;
  return v;
}

// `held`: references to obj that the conversion itself holds (a snapshot of
// a list's items), which do not make it shared.
Value convert(PyObject* obj, const EncodeContext& ctx, Py_ssize_t held) {
  if (ctx.depth >= kMaxEncodeDepth) throw_too_deep();
  PyTypeObject* tp = Py_TYPE(obj);
  if (obj == Py_None) return Value::null();
  if (tp == &PyUnicode_Type) return encode_str(obj);
  if (tp == &PyLong_Type) return encode_int(obj);
  if (tp == &PyFloat_Type) return Value::floating(PyFloat_AS_DOUBLE(obj));
  if (tp == &PyBool_Type) return Value::boolean(obj == Py_True);
  if (ctx.shared && Py_REFCNT(obj) > 1 + held) return convert_shared(obj, ctx);
  return convert_object(obj, ctx);
}

Value snapshot_item_to_value(PyObject* obj, const EncodeContext& ctx) {
  return ensure_stack([&]() -> Value { return convert(obj, ctx, 1); });
}

}  // namespace

Value python_to_value(PyObject* obj, const EncodeContext& ctx) {
  if (!ctx.shared) {
    // A caller without a budget of its own (a schema, say) gets one for this
    // conversion.
    SharedObjects shared;
    EncodeContext budgeted = ctx;
    budgeted.shared = &shared;
    return ensure_stack([&]() -> Value { return convert(obj, budgeted, 0); });
  }
  return ensure_stack([&]() -> Value { return convert(obj, ctx, 0); });
}

}  // namespace qf::py
