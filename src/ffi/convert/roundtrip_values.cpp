#include "ffi/convert/roundtrip_values.hpp"

#include <string>
#include <string_view>

#include "ffi/errors.hpp"
#include "resolver/big_int.hpp"
#include "resolver/timestamp.hpp"
#include "support/hash.hpp"
#include "support/stack_guard.hpp"

namespace qf::py {

// ---- alias scope ----

const AnchorResolver& AliasScope::resolver() {
  if (!resolver_) {
    resolver_.emplace();
    if (root_) resolver_->add_document(*root_);
  }
  return *resolver_;
}

const YamlNode* AliasScope::target(const YamlNode& alias) {
  if (!root_) return nullptr;
  return resolver().target(alias);
}

const YamlNode* AliasScope::final_target(const YamlNode& node) {
  if (!node.is_alias()) return &node;
  if (!root_) return nullptr;
  return resolver().final_target(node);
}

const YamlNode* AliasScope::expanded(const YamlNode& alias) {
  const YamlNode* t = target(alias);
  if (!t) return nullptr;
  auto it = copies_.find(t);
  if (it != copies_.end()) return &it->second;
  ExpansionResult r = expand_aliases(*t, resolver(), budget_);
  if (!r.ok()) throw position_error(ExcClass::ParseError, r.error->message, r.error->span.line, r.error->span.column);
  return &copies_.emplace(t, std::move(r.node)).first->second;
}

// ---- object cache ----

AnchorObjectCache::PtrHash::PtrHash() : seed(process_hash_seed()) {}

size_t AnchorObjectCache::PtrHash::operator()(const YamlNode* p) const noexcept {
  uint64_t x = reinterpret_cast<uintptr_t>(p) ^ seed;
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  return size_t(x);
}

PyObject* AnchorObjectCache::find(const YamlNode* anchored) const {
  if (objects_.empty()) return nullptr;
  auto it = objects_.find(anchored);
  return it == objects_.end() ? nullptr : it->second.get();
}

void AnchorObjectCache::store(const YamlNode* anchored, PyObject* value) {
  objects_[anchored] = PyRef::borrow(value);
}

// ---- scalars ----

namespace {

ScalarTag tag_of(const YamlNode& n) {
  if (!n.tag()) return std::nullopt;
  return std::string_view(*n.tag());
}

PyObject* str_to_py(std::string_view s) {
  return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), nullptr);
}

PyObject* resolved_to_python(const Resolution& r, std::string_view text) {
  switch (r.kind) {
    case ResolvedKind::Null: Py_RETURN_NONE;
    case ResolvedKind::Bool: return PyBool_FromLong(r.truth);
    case ResolvedKind::Int: return PyLong_FromLongLong(r.int_value);
    case ResolvedKind::Float: return PyFloat_FromDouble(r.float_value);
    case ResolvedKind::BigInt: {
      ResolvedScalar owned = make_resolved_scalar(r, text);
      return big_int_to_python(owned.text, owned.radix);
    }
    case ResolvedKind::Merge: return PyUnicode_FromString("<<");
    case ResolvedKind::Str: break;
  }
  return str_to_py(text);
}

}  // namespace

PyObject* scalar_node_to_python(const YamlNode& n, const ValueSettings& s) {
  if (n.is_null()) {
    if (!n.tag()) Py_RETURN_NONE;
    return resolved_to_python(resolve_scalar(s.mode, std::string_view(), ScalarStyle::Plain, tag_of(n)),
                              std::string_view());
  }
  if (s.timestamps && n.scalar_style == ScalarStyle::Plain && !n.tag()) {
    if (std::optional<YamlTimestamp> ts = parse_timestamp(n.text)) {
      if (PyObject* d = timestamp_to_datetime(*ts)) return d;
      PyErr_Clear();  // outside the host's date range: resolve as usual
    }
  }
  return resolved_to_python(resolve_scalar(s.mode, n.text, n.scalar_style, tag_of(n)), n.text);
}

// ---- merge keys ----

bool is_merge_key(const YamlNode& key) {
  if (key.tag()) return *key.tag() == "!!merge" || *key.tag() == "tag:yaml.org,2002:merge";
  return key.is_scalar() && key.scalar_style == ScalarStyle::Plain && key.text == "<<";
}

bool find_merge_key(std::span<const MappingEntry> pairs) {
  for (const MappingEntry& e : pairs)
    if (is_merge_key(e.key)) return true;
  return false;
}

bool merge_into_dict(PyObject* target, PyObject* value, PyRef& leftover) {
  leftover.reset();
  if (value == Py_None) return true;
  if (PyDict_Check(value)) {
    PyObject *k, *v;
    Py_ssize_t pos = 0;
    while (PyDict_Next(value, &pos, &k, &v)) {
      int has = PyDict_Contains(target, k);
      if (has < 0) return false;
      if (!has && PyDict_SetItem(target, k, v) < 0) return false;
    }
    return true;
  }
  if (PyList_Check(value)) {
    PyRef rest;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(value); ++i) {
      PyRef item = PyRef::borrow(PyList_GET_ITEM(value, i));
      PyRef left;
      bool ok = ensure_stack([&] { return merge_into_dict(target, item.get(), left); });
      if (!ok) return false;
      if (!left) continue;
      if (!rest) {
        rest = PyRef::steal(PyList_New(0));
        if (!rest) return false;
      }
      if (PyList_Append(rest.get(), left.get()) < 0) return false;
    }
    leftover = std::move(rest);
    return true;
  }
  leftover = PyRef::borrow(value);
  return true;
}

bool keep_unmerged_under_merge_key(PyObject* target, PyObject* key, PyObject* leftover, bool& slot) {
  if (!slot) {
    int has = PyDict_Contains(target, key);
    if (has < 0) return false;
    if (has) return true;
    if (PyDict_SetItem(target, key, leftover) < 0) return false;
    slot = true;
    return true;
  }
  PyObject* cur = PyDict_GetItemWithError(target, key);  // borrowed
  if (!cur) {
    if (PyErr_Occurred()) return false;
    // The flag promises the entry; should it be gone, start the list afresh.
    if (PyDict_SetItem(target, key, leftover) < 0) return false;
    return true;
  }
  PyRef list;
  if (PyList_Check(cur)) {
    list = PyRef::borrow(cur);
  } else {
    list = PyRef::steal(PyList_New(1));
    if (!list) return false;
    PyList_SET_ITEM(list.get(), 0, Py_NewRef(cur));
    if (PyDict_SetItem(target, key, list.get()) < 0) return false;
  }
  if (PyList_Check(leftover)) {
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(leftover); ++i)
      if (PyList_Append(list.get(), PyList_GET_ITEM(leftover, i)) < 0) return false;
    return true;
  }
  return PyList_Append(list.get(), leftover) == 0;
}

// ---- conversion ----

namespace {

// Shared walk of node_to_python (tags ignored) and node_to_loaded_python
// (custom tags applied through the tag handlers).
struct Converter {
  const ValueSettings& s;
  const TagContext* tags;  // nullptr: plain values
  AliasScope& scope;
  AnchorObjectCache& cache;

  PyObject* convert(const YamlNode& n) {
    return ensure_stack([&]() -> PyObject* { return convert_here(n); });
  }

  PyObject* hashable(const YamlNode& n) {
    return ensure_stack([&]() -> PyObject* { return hashable_here(n); });
  }

  PyObject* convert_here(const YamlNode& n) {
    PyObject* out = nullptr;
    switch (n.kind) {
      case NodeKind::Alias: {
        if (const YamlNode* t = scope.target(n))
          if (PyObject* hit = cache.find(t)) return Py_NewRef(hit);
        const YamlNode* copy = scope.expanded(n);
        if (!copy) Py_RETURN_NONE;
        return convert(*copy);
      }
      case NodeKind::Sequence: out = sequence(n); break;
      case NodeKind::Mapping: out = mapping(n); break;
      case NodeKind::Scalar:
      case NodeKind::Null: out = scalar_node_to_python(n, s); break;
    }
    if (!out) return nullptr;
    if (tags && n.tag() && !is_standard_tag(*n.tag())) {
      out = apply_tag_handlers(*n.tag(), out, *tags);
      if (!out) return nullptr;
    }
    if (n.anchor()) cache.store(&n, out);
    return out;
  }

  static bool is_standard_tag(std::string_view tag) {
    return tag.starts_with("!!") || tag.starts_with("tag:yaml.org,2002:");
  }

  PyObject* sequence(const YamlNode& n) {
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(n.items.size())));
    if (!list) return nullptr;
    for (size_t i = 0; i < n.items.size(); ++i) {
      PyObject* item = convert(n.items[i]);
      if (!item) return nullptr;
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
  }

  // A mapping key: tuples for collections; on the tag-handling road a scalar
  // key goes through the tag handlers like any other node.
  PyObject* key_object(const YamlNode& k) {
    if (!tags) return hashable(k);
    const YamlNode* r = &k;
    if (k.is_alias()) {
      if (const YamlNode* copy = scope.expanded(k)) r = copy;
    }
    if (r->is_collection()) return hashable(k);
    return convert(k);
  }

  PyObject* mapping(const YamlNode& n) {
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) return nullptr;
    if (!tags && !find_merge_key(n.pairs)) {
      for (const MappingEntry& e : n.pairs) {
        PyRef k = PyRef::steal(hashable(e.key));
        if (!k) return nullptr;
        PyRef v = PyRef::steal(convert(e.value));
        if (!v) return nullptr;
        if (PyDict_SetItem(dict.get(), k.get(), v.get()) < 0) return nullptr;
      }
      return dict.release();
    }
    const bool merging = find_merge_key(n.pairs);
    bool slot = false;
    for (const MappingEntry& e : n.pairs) {
      PyRef v = PyRef::steal(convert(e.value));
      if (!v) return nullptr;
      if (merging && is_merge_key(e.key)) {
        PyRef left;
        if (!merge_into_dict(dict.get(), v.get(), left)) return nullptr;
        if (left) {
          PyRef k = PyRef::steal(tags ? convert(e.key) : hashable(e.key));
          if (!k) return nullptr;
          if (!keep_unmerged_under_merge_key(dict.get(), k.get(), left.get(), slot)) return nullptr;
        }
        continue;
      }
      PyRef k = PyRef::steal(key_object(e.key));
      if (!k) return nullptr;
      if (PyDict_SetItem(dict.get(), k.get(), v.get()) < 0) return nullptr;
      if (slot && e.key.is_scalar() && e.key.text == "<<") slot = false;
    }
    return dict.release();
  }

  PyObject* hashable_here(const YamlNode& start) {
    const YamlNode* n = &start;
    if (n->is_alias()) {
      n = scope.expanded(*n);  // copies hold no aliases
      if (!n) Py_RETURN_NONE;
    }
    if (n->is_sequence()) {
      PyRef t = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(n->items.size())));
      if (!t) return nullptr;
      for (size_t i = 0; i < n->items.size(); ++i) {
        PyObject* item = hashable(n->items[i]);
        if (!item) return nullptr;
        PyTuple_SET_ITEM(t.get(), static_cast<Py_ssize_t>(i), item);
      }
      return t.release();
    }
    if (n->is_mapping()) {
      PyRef t = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(n->pairs.size())));
      if (!t) return nullptr;
      for (size_t i = 0; i < n->pairs.size(); ++i) {
        PyRef k = PyRef::steal(hashable(n->pairs[i].key));
        if (!k) return nullptr;
        PyRef v = PyRef::steal(hashable(n->pairs[i].value));
        if (!v) return nullptr;
        PyObject* pair = PyTuple_Pack(2, k.get(), v.get());
        if (!pair) return nullptr;
        PyTuple_SET_ITEM(t.get(), static_cast<Py_ssize_t>(i), pair);
      }
      return t.release();
    }
    // Scalars and nulls convert plainly (tags ignored, as for any key).
    Converter plain{s, nullptr, scope, cache};
    return plain.convert_here(*n);
  }
};

}  // namespace

PyObject* node_to_python(const YamlNode& node, const ValueSettings& s, AliasScope& scope, AnchorObjectCache& cache) {
  Converter c{s, nullptr, scope, cache};
  return c.convert(node);
}

PyObject* node_to_hashable_python(const YamlNode& node, const ValueSettings& s, AliasScope& scope,
                                  AnchorObjectCache& cache) {
  Converter c{s, nullptr, scope, cache};
  return c.hashable(node);
}

PyObject* node_to_loaded_python(const YamlNode& node, const ValueSettings& s, const TagContext& ctx,
                                AliasScope& scope, AnchorObjectCache& cache) {
  Converter c{s, &ctx, scope, cache};
  return c.convert(node);
}

PyObject* document_tree_to_python(const YamlNode& root, const ValueSettings& s, const TagContext& ctx) {
  AliasScope scope(root);
  AnchorObjectCache cache;
  return node_to_loaded_python(root, s, ctx, scope, cache);
}

}  // namespace qf::py
