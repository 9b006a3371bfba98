#include "ffi/convert/roundtrip_values.hpp"

#include <algorithm>
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
  if (it != copies_.end()) return &it->second.node;
  if (expanded_size(*t) > budget_.remaining) throw_budget_error(alias);
  const uint64_t before = budget_.remaining;
  ExpansionResult r = expand_aliases(*t, resolver(), budget_);
  if (!r.ok()) throw position_error(ExcClass::ParseError, r.error->message, r.error->span.line, r.error->span.column);
  return &copies_.emplace(t, Copy{std::move(r.node), before - budget_.remaining}).first->second.node;
}

void AliasScope::charge_again(const YamlNode& alias) {
  const YamlNode* t = target(alias);
  auto it = t ? copies_.find(t) : copies_.end();
  if (it == copies_.end()) return;
  if (it->second.nodes > budget_.remaining) throw_budget_error(alias);
  budget_.remaining -= it->second.nodes;
}

void AliasScope::throw_budget_error(const YamlNode& at) {
  throw position_error(ExcClass::ParseError, expansion_budget_message(), at.span.line, at.span.column);
}

uint64_t AliasScope::expanded_size(const YamlNode& node) {
  // Post-order over the node and, through their aliases, the targets not
  // sized yet (a target precedes its aliases, so there are no cycles).
  constexpr uint64_t kSaturated = ~uint64_t{0} / 2;
  struct Frame {
    const YamlNode* node;
    size_t next;  // next child slot: items, then key and value per pair
    uint64_t size;
  };
  std::vector<Frame> stack;
  uint64_t result = 0;
  auto finish = [&](const YamlNode* n, uint64_t size) {
    if (n->anchor) sizes_[n] = size;
    if (stack.empty()) result = size;
    else stack.back().size = std::min(kSaturated, stack.back().size + size);
  };
  auto enter = [&](const YamlNode* n) {
    while (n->is_alias()) {
      const YamlNode* t = resolver().target(*n);
      if (!t) break;  // a dangling alias copies as one null
      if (auto it = sizes_.find(t); it != sizes_.end()) return finish(n, it->second);
      n = t;
    }
    if (n->is_alias() || (n->items.empty() && n->pairs.empty())) return finish(n, 1);
    stack.push_back({n, 0, 1});
  };
  enter(&node);
  while (!stack.empty()) {
    Frame& f = stack.back();
    const YamlNode& n = *f.node;
    if (f.next < n.items.size()) {
      enter(&n.items[f.next++]);
    } else if (f.next < n.items.size() + 2 * n.pairs.size()) {
      const size_t k = f.next++ - n.items.size();
      enter(k % 2 == 0 ? &n.pairs[k / 2].key : &n.pairs[k / 2].value);
    } else {
      Frame done = f;
      stack.pop_back();
      finish(done.node, done.size);
    }
  }
  return result;
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

PyObject* AnchorObjectCache::find_in(const Table& t, const YamlNode* anchored) {
  if (t.empty()) return nullptr;
  auto it = t.find(anchored);
  return it == t.end() ? nullptr : it->second.get();
}

PyObject* AnchorObjectCache::find(const YamlNode* anchored) const { return find_in(objects_, anchored); }

void AnchorObjectCache::store(const YamlNode* anchored, PyObject* value) {
  objects_[anchored] = PyRef::borrow(value);
}

PyObject* AnchorObjectCache::find_hashable(const YamlNode* anchored) const { return find_in(hashables_, anchored); }

void AnchorObjectCache::store_hashable(const YamlNode* anchored, PyObject* value) {
  hashables_[anchored] = PyRef::borrow(value);
}

// ---- scalars ----

namespace {

ScalarTag tag_of(const YamlNode& n) {
  if (!n.tag) return std::nullopt;
  return std::string_view(*n.tag);
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
    if (!n.tag) Py_RETURN_NONE;
    return resolved_to_python(resolve_scalar(s.mode, std::string_view(), ScalarStyle::Plain, tag_of(n)),
                              std::string_view());
  }
  if (s.timestamps && n.scalar_style == ScalarStyle::Plain && !n.tag) {
    if (std::optional<YamlTimestamp> ts = parse_timestamp(n.text)) {
      if (PyObject* d = timestamp_to_datetime(*ts)) return d;
      PyErr_Clear();  // outside the host's date range: resolve as usual
    }
  }
  return resolved_to_python(resolve_scalar(s.mode, n.text, n.scalar_style, tag_of(n)), n.text);
}

// ---- merge keys ----

bool is_merge_key(const YamlNode& key) {
  if (key.tag) return *key.tag == "!!merge" || *key.tag == "tag:yaml.org,2002:merge";
  return key.is_scalar() && key.scalar_style == ScalarStyle::Plain && key.text == "<<";
}

bool find_merge_key(const std::vector<MappingEntry>& pairs) {
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
        const YamlNode* t = scope.target(n);
        if (!t) Py_RETURN_NONE;
        if (PyObject* hit = cache.find(t)) return Py_NewRef(hit);
        out = convert(*scope.expanded(n));
        if (out) cache.store(t, out);  // later aliases of t give this very object
        return out;
      }
      case NodeKind::Sequence: out = sequence(n); break;
      case NodeKind::Mapping: out = mapping(n); break;
      case NodeKind::Scalar:
      case NodeKind::Null: out = scalar_node_to_python(n, s); break;
    }
    if (!out) return nullptr;
    if (tags && n.tag && !is_standard_tag(*n.tag)) {
      out = apply_tag_handlers(*n.tag, out, *tags);
      if (!out) return nullptr;
    }
    if (n.anchor) cache.store(&n, out);
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

  PyObject* hashable_here(const YamlNode& n) {
    if (!n.is_alias()) return hashable_form(&n);
    const YamlNode* t = scope.target(n);
    if (!t) Py_RETURN_NONE;
    if (PyObject* hit = cache.find_hashable(t)) {
      // Hashing a key walks all of it, so every use of a large aliased key
      // costs its size again.
      scope.charge_again(n);
      return Py_NewRef(hit);
    }
    PyObject* out = hashable_form(scope.expanded(n));  // copies hold no aliases
    if (out) cache.store_hashable(t, out);
    return out;
  }

  PyObject* hashable_form(const YamlNode* n) {
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
