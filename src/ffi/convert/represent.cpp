#include "ffi/convert/represent.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <new>
#include <numeric>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "encode/key_order.hpp"
#include "encode/scalar_text.hpp"
#include "ffi/convert/descriptor_nodes.hpp"
#include "ffi/convert/dump_tag.hpp"
#include "ffi/errors.hpp"
#include "ffi/frame.hpp"
#include "ffi/types/tag.hpp"
#include "roundtrip/walk.hpp"
#include "support/stack_guard.hpp"
#include "support/thread_heap.hpp"
#include "support/utf8.hpp"

namespace qf::py {

namespace {

constexpr const char* kRefersToItself = "cannot serialize a value that refers only to itself";
constexpr const char* kTagOnShared = "cannot attach a tag to a self-referential or shared value";

uint64_t identity_of(PyObject* obj) noexcept { return reinterpret_cast<uintptr_t>(obj); }

bool is_exact_scalar(PyTypeObject* tp) noexcept {
  return tp == &PyUnicode_Type || tp == &PyLong_Type || tp == &PyFloat_Type || tp == &PyBool_Type;
}

// Objects that are never aliased: their repeats are written in full. The
// exact types come first: a subclass test walks the type's bases.
bool is_untracked(PyObject* obj) noexcept {
  PyTypeObject* tp = Py_TYPE(obj);
  if (is_exact_scalar(tp) || obj == Py_None) return true;
  if (tp == &PyDict_Type || tp == &PyList_Type) return false;
  return PyLong_Check(obj) || PyUnicode_Check(obj) || PyBytes_Check(obj) || PyFloat_Check(obj) ||
         (PyTuple_Check(obj) && PyTuple_GET_SIZE(obj) == 0);
}

// The node of an exact str, int, float or bool, built straight from the
// object where that is simple (ASCII text, 64-bit integers), else through
// the plain conversion (which also reports lone surrogates).
YamlNode exact_scalar_node(const RepresentState& s, PyObject* obj, bool key_or_flow) {
  PyTypeObject* tp = Py_TYPE(obj);
  if (tp == &PyUnicode_Type && PyUnicode_IS_ASCII(obj)) {
    std::string_view text(static_cast<const char*>(PyUnicode_DATA(obj)),
                          static_cast<size_t>(PyUnicode_GET_LENGTH(obj)));
    return represented_scalar(s, text, represented_str_style(s, text, key_or_flow));
  }
  if (tp == &PyLong_Type) {
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(obj, &overflow);
    if (!overflow && !(v == -1 && PyErr_Occurred())) {
      std::string text;
      append_int64(text, v);
      return synthetic_scalar(std::move(text), ScalarStyle::Plain);
    }
    PyErr_Clear();
  } else if (tp == &PyFloat_Type) {
    return synthetic_scalar(format_yaml_float(PyFloat_AS_DOUBLE(obj)), ScalarStyle::Plain);
  } else if (tp == &PyBool_Type) {
    return synthetic_scalar(obj == Py_True ? "true" : "false", ScalarStyle::Plain);
  }
  return value_to_node(s, python_to_value(obj, s.encode), key_or_flow);
}

// An alias of a tracked object met again, named once anchors are assigned.
// A function of its own: with a second named node in represent_object, its
// result would be moved out instead of built in place.
YamlNode shared_alias(uint64_t id) {
  YamlNode alias = synthetic_alias({});
  set_provisional_identity(alias, id);
  return alias;
}

// The represented node of a tag's or serializer's value, carrying the tag.
YamlNode represent_tagged(RepresentState& s, std::string tag, PyObject* value, uint32_t depth, bool in_flow,
                          bool is_key) {
  validate_dump_tag(tag);
  YamlNode node = represent_object(s, value, depth + 1, in_flow, is_key);
  if (node.is_alias()) throw_value_error(kTagOnShared);
  if (node.tag()) throw_already_tagged();
  if (const uint64_t id = provisional_identity(node)) {
    if (s.aliased.contains(id)) throw_value_error(kTagOnShared);
    set_provisional_identity(node, 0);
    s.seen.erase(id);
  }
  node.set_tag(std::move(tag));
  return node;
}

YamlNode represent_serializer_result(RepresentState& s, PyObject* result, uint32_t depth, bool in_flow,
                                     bool is_key) {
  if (PyObject_TypeCheck(result, tag_type_cell().require())) {
    auto [tag, value] = read_tag_object(result);
    return represent_tagged(s, std::move(tag), value.get(), depth, in_flow, is_key);
  }
  if (PyTuple_Check(result) && PyTuple_GET_SIZE(result) == 2) {
    PyRef value = PyRef::borrow(PyTuple_GET_ITEM(result, 1));
    return represent_tagged(s, serializer_tuple_tag(PyTuple_GET_ITEM(result, 0)), value.get(), depth, in_flow,
                            is_key);
  }
  throw_serializer_result_error();
}

// Represents `obj` at depth + 1 as the stand-in of the object being
// represented: the caller's node is then derived and carries no anchor.
YamlNode represent_derived(RepresentState& s, PyObject* obj, uint32_t depth, bool in_flow, bool is_key) {
  YamlNode node = represent_object(s, obj, depth + 1, in_flow, is_key);
  s.derived = true;
  return node;
}

// `default` is applied at most once along a chain: it is absent while its
// own result is represented, and restored on every way out.
class DefaultSuspended {
 public:
  explicit DefaultSuspended(EncodeContext& c) : c_(c), saved_(std::exchange(c.default_fn, nullptr)) {}
  ~DefaultSuspended() { c_.default_fn = saved_; }
  DefaultSuspended(const DefaultSuspended&) = delete;
  DefaultSuspended& operator=(const DefaultSuspended&) = delete;

 private:
  EncodeContext& c_;
  PyObject* saved_;
};

// The last rule: the plain conversion without `default`; when that finds the
// object unserializable, `default`'s result is represented instead.
YamlNode represent_converted_or_default(RepresentState& s, PyObject* obj, uint32_t depth, bool in_flow,
                                        bool is_key) {
  EncodeContext no_default = s.encode;
  no_default.default_fn = nullptr;
  try {
    return value_to_node(s, python_to_value(obj, no_default), in_flow || is_key);
  } catch (Error& e) {
    std::move(e).raise();
  } catch (ErrorAlreadySet&) {
  }
  if (!s.encode.default_fn || !PyErr_ExceptionMatches(exception_class(ExcClass::UnserializableError)))
    throw ErrorAlreadySet{};
  PyErr_Clear();
  PyRef result = PyRef::steal(PyObject_CallOneArg(s.encode.default_fn, obj));
  if (!result) throw_callback_error();
  DefaultSuspended suspended(s.encode);
  return represent_derived(s, result.get(), depth, in_flow, is_key);
}

YamlNode represent_default(RepresentState& s, PyObject* obj, uint32_t depth, bool in_flow, bool is_key) {
  if (obj == Py_None) return synthetic_null();
  if (is_exact_scalar(Py_TYPE(obj))) return exact_scalar_node(s, obj, in_flow || is_key);
  if (PyBool_Check(obj) || PyFloat_Check(obj) || PyLong_Check(obj) || PyUnicode_Check(obj) || PyBytes_Check(obj))
    return value_to_node(s, python_to_value(obj, s.encode), in_flow || is_key);
  if (PyDict_Check(obj)) {
    EntryMark mark(s);
    reserve_entries(s, 2 * static_cast<size_t>(PyDict_GET_SIZE(obj)));
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(obj, &pos, &key, &value)) {
      s.entries.push_back(PyRef::borrow(key));
      s.entries.push_back(PyRef::borrow(value));
    }
    return represent_mapping(s, mark, depth, std::nullopt, std::nullopt, in_flow, is_key);
  }
  if (PyList_Check(obj) || PyTuple_Check(obj)) {
    // The stored items, also of a subclass that iterates differently.
    const bool list = PyList_Check(obj);
    const Py_ssize_t n = list ? PyList_GET_SIZE(obj) : PyTuple_GET_SIZE(obj);
    EntryMark mark(s);
    reserve_entries(s, static_cast<size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i)
      s.entries.push_back(PyRef::borrow(list ? PyList_GET_ITEM(obj, i) : PyTuple_GET_ITEM(obj, i)));
    return represent_sequence(s, mark, depth, std::nullopt, std::nullopt, in_flow, is_key);
  }
  if (PyAnySet_Check(obj)) {
    EntryMark mark(s);
    push_iterated(s, obj);
    return represent_sequence(s, mark, depth, std::nullopt, std::nullopt, in_flow, is_key);
  }
  if (PyObject_TypeCheck(obj, tag_type_cell().require())) {
    auto [tag, value] = read_tag_object(obj);
    return represent_tagged(s, std::move(tag), value.get(), depth, in_flow, is_key);
  }
  if (PyRef serializer = find_serializer(s.encode.serializers, obj)) {
    PyRef result = PyRef::steal(PyObject_CallOneArg(serializer.get(), obj));
    if (!result) throw_callback_error();
    return represent_serializer_result(s, result.get(), depth, in_flow, is_key);
  }
  if (Handled text = encode_datetime(obj, s.encode)) return value_to_node(s, std::move(*text), in_flow || is_key);
  if (is_enum_member(obj)) {
    PyRef value = PyRef::steal(PyObject_GetAttrString(obj, "value"));
    if (!value) throw ErrorAlreadySet{};
    return represent_derived(s, value.get(), depth, in_flow, is_key);
  }
  if (!s.encode.passthrough_dataclass) {
    if (std::optional<PairRefs> fields = dataclass_field_pairs(obj)) {
      EntryMark mark(s);
      for (auto& [key, value] : *fields) {
        s.entries.push_back(std::move(key));
        s.entries.push_back(std::move(value));
      }
      return represent_mapping(s, mark, depth, std::nullopt, std::nullopt, in_flow, is_key);
    }
  }
  if (s.encode.serialize_numpy) {
    if (PyRef plain = numpy_to_plain(obj)) return represent_derived(s, plain.get(), depth, in_flow, is_key);
  }
  return represent_converted_or_default(s, obj, depth, in_flow, is_key);
}

// Flow when asked, when a key, under OPT_FLOW_STYLE, or inside a flow parent.
bool children_in_flow(const RepresentState& s, std::optional<bool> flow, bool in_flow, bool is_key) {
  return in_flow || flow.value_or(is_key || s.flow_style);
}

struct AnchorNames {
  const IdentitySet& aliased;
  std::unordered_map<uint64_t, std::string> names;
  uint64_t count = 0;

  void name(YamlNode& n) {
    const uint64_t id = provisional_identity(n);
    if (id == 0) return;
    set_provisional_identity(n, 0);
    if (n.is_alias()) {
      auto it = names.find(id);
      n.text = it != names.end() ? it->second : std::to_string(id);
    } else if (aliased.contains(id)) {
      auto [it, fresh] = names.try_emplace(id);
      if (fresh) {
        std::string digits = std::to_string(++count);
        it->second = "id" + std::string(digits.size() < 3 ? 3 - digits.size() : 0, '0') + digits;
      }
      n.set_anchor(it->second);
    }
  }
};

}  // namespace

TagCache& thread_tag_cache() {
  TagCache* cache = ThreadHeapObject<TagCache, ThreadSlot::TagCache>::get();
  if (!cache) throw std::bad_alloc();  // no thread state: out of memory (or the thread is ending)
  return *cache;
}

std::string_view TextArena::copy(std::string_view text) {
  if (text.size() > left_) {
    // Blocks double from 1 KiB to 64 KiB: a small document takes one.
    block_size_ = block_size_ == 0 ? 1024 : std::min<size_t>(2 * block_size_, 64 * 1024);
    const size_t block = std::max(text.size(), block_size_);
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(block));
    next_ = blocks_.back().get();
    left_ = block;
  }
  std::memcpy(next_, text.data(), text.size());
  const std::string_view copied(next_, text.size());
  next_ += text.size();
  left_ -= text.size();
  return copied;
}

void throw_value_error(const std::string& message) {
  PyErr_SetString(PyExc_ValueError, message.c_str());
  throw ErrorAlreadySet{};
}

void push_iterated(RepresentState& s, PyObject* obj) {
  PyRef it = PyRef::steal(PyObject_GetIter(obj));
  if (!it) throw ErrorAlreadySet{};
  if (PyAnySet_Check(obj)) reserve_entries(s, static_cast<size_t>(PySet_GET_SIZE(obj)));
  while (PyRef item = PyRef::steal(PyIter_Next(it.get()))) s.entries.push_back(std::move(item));
  if (PyErr_Occurred()) throw ErrorAlreadySet{};
}

void set_stack_floor(RepresentState& s) noexcept {
  const size_t left = remaining_stack();
  const auto here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  s.stack_floor = left > here ? 0 : here - left + kStackReserve;
}

namespace {

// The callback's or the default representation of an object met for the
// first time. Its one named result is built in place in the caller's slot.
YamlNode represent_offered(RepresentState& s, PyObject* obj, bool tracked, uint32_t depth, bool in_flow,
                           bool is_key) {
  const uint64_t id = identity_of(obj);
  PyRef result = PyRef::steal(PyObject_CallOneArg(s.represent, obj));
  if (!result) throw_callback_error();
  YamlNode node = result.get() == Py_None ? represent_default(s, obj, depth, in_flow, is_key)
                                          : node_from_descriptor(s, result.get(), depth, in_flow, is_key);
  result.reset();
  const bool derived = std::exchange(s.derived, false);
  if (tracked) {
    if (derived || node.is_alias() || provisional_identity(node) != 0) {
      if (s.aliased.contains(id)) throw_value_error(kRefersToItself);
      s.seen.erase(id);
    } else {
      set_provisional_identity(node, id);
    }
  }
  return node;
}

}  // namespace

YamlNode represent_object(RepresentState& s, PyObject* obj, uint32_t depth, bool in_flow, bool is_key) {
  if (depth > kMaxRepresentDepth || reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) <= s.stack_floor)
    throw Error::lazy(ExcClass::UnserializableError,
                      "object is too deeply nested to serialize (possible self-reference)");
  const bool tracked = !is_untracked(obj);
  if (tracked) {
    const uint64_t id = identity_of(obj);
    if (!s.seen.insert(id)) {
      s.aliased.insert(id);
      return shared_alias(id);
    }
    s.held.push_back(PyRef::borrow(obj));
  }
  return represent_offered(s, obj, tracked, depth, in_flow, is_key);
}

YamlNode represent_mapping(RepresentState& s, const EntryMark& mark, uint32_t depth,
                           const std::optional<std::string>& tag, std::optional<bool> flow, bool in_flow, bool is_key) {
  const bool tagged = normalized_tag(s, tag) != nullptr;
  const bool w = children_in_flow(s, flow, in_flow, is_key);
  const size_t base = mark.begin();
  const size_t n = mark.count() / 2;
  YamlNode m = synthetic_collection(true, w);
  // Taken now: the children may leave another tag in the model.
  if (tagged) m.share_extra(s.tags.model);
  m.pairs.reserve(n);
  // By index: the entries grow (and move) while children are represented.
  auto add_pair = [&](size_t i) {
    // Key and value are built first and moved into their pair once: a
    // default pair assigned to would cost a move-assignment per node.
    YamlNode key = represent_object(s, s.entries[base + 2 * i].get(), depth + 1, w, true);
    // Comments live in side records: a scalar without one has none to check.
    if (key.has_extra() || key.is_collection()) check_key_comments(key);
    YamlNode value = represent_object(s, s.entries[base + 2 * i + 1].get(), depth + 1, w, false);
    const bool value_extra = value.has_extra();
    m.pairs.emplace_back(std::move(key), std::move(value));
    if (value_extra) hoist_value_comments(m.pairs);
  };
  if (s.sort_keys && n > 1) {
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), size_t{0});
    std::vector<Value> records;
    records.reserve(n);
    for (size_t i = 0; i < n; ++i) records.push_back(represent_key_record(s.entries[base + 2 * i].get()));
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return compare_represent_keys(records[a], records[b]); });
    for (size_t i : order) add_pair(i);
  } else {
    for (size_t i = 0; i < n; ++i) add_pair(i);
  }
  return m;
}

YamlNode represent_sequence(RepresentState& s, const EntryMark& mark, uint32_t depth,
                            const std::optional<std::string>& tag, std::optional<bool> flow, bool in_flow, bool is_key) {
  const bool tagged = normalized_tag(s, tag) != nullptr;
  const bool w = children_in_flow(s, flow, in_flow, is_key);
  const size_t base = mark.begin();
  const size_t n = mark.count();
  YamlNode seq = synthetic_collection(false, w);
  if (tagged) seq.share_extra(s.tags.model);
  seq.items.reserve(n);
  for (size_t i = 0; i < n; ++i)
    seq.items.emplace_back(represent_object(s, s.entries[base + i].get(), depth + 1, w, false));
  return seq;
}

std::optional<std::string> normalize_represent_tag(std::optional<std::string> tag) {
  if (!tag) return tag;
  constexpr std::string_view kCorePrefix = "tag:yaml.org,2002:";
  if (tag->starts_with(kCorePrefix)) tag = "!!" + tag->substr(kCorePrefix.size());
  validate_dump_tag(*tag);
  return tag;
}

const std::string* normalized_tag(RepresentState& s, const std::optional<std::string>& tag) {
  if (!tag) return nullptr;
  TagCache& c = s.tags;
  if (c.tag != tag) {
    std::string normalized = *normalize_represent_tag(tag);
    c.model.set_tag(normalized);
    c.normalized = std::move(normalized);
    c.tag = tag;
  }
  return &c.normalized;
}

Value represent_key_record(PyObject* key) {
  if (key == Py_None) return Value::null();
  if (PyBool_Check(key)) return Value::boolean(key == Py_True);
  if (PyLong_Check(key)) {
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(key, &overflow);
    if (!overflow && !(v == -1 && PyErr_Occurred())) return Value::integer(v);
    PyErr_Clear();
    // Exact digits of a wide integer (never rounded to a double).
    PyRef plain = PyRef::steal(PyObject_CallOneArg(reinterpret_cast<PyObject*>(&PyLong_Type), key));
    PyRef digits = plain ? PyRef::steal(PyObject_Str(plain.get())) : PyRef();
    Py_ssize_t n = 0;
    const char* text = digits ? PyUnicode_AsUTF8AndSize(digits.get(), &n) : nullptr;
    if (text) return Value::big_int(std::string_view(text, static_cast<size_t>(n)), 10);
    PyErr_Clear();
    return Value::floating(std::numeric_limits<double>::quiet_NaN());
  }
  if (PyFloat_Check(key)) return Value::floating(PyFloat_AS_DOUBLE(key));
  if (PyUnicode_Check(key)) {
    Py_ssize_t n = 0;
    if (const char* text = PyUnicode_AsUTF8AndSize(key, &n)) return Value::string(std::string_view(text, size_t(n)));
    PyErr_Clear();
    return Value::sequence();
  }
  if (PyBytes_Check(key)) {
    std::string_view bytes(PyBytes_AS_STRING(key), static_cast<size_t>(PyBytes_GET_SIZE(key)));
    if (check_utf8(bytes.data(), bytes.size()).ok) return Value::string(bytes);
  }
  return Value::sequence();
}

bool compare_represent_keys(const Value& a, const Value& b) { return compare_sort_keys(a, b); }

void assign_shared_anchors(YamlNode& root, const IdentitySet& aliased) {
  // Without an alias there is nothing to name, and the identities left in
  // the tree's position fields are never read.
  if (aliased.empty()) return;
  AnchorNames table{aliased, {}, 0};
  walk_tree(root, [&](YamlNode& n) { table.name(n); });
}

}  // namespace qf::py
