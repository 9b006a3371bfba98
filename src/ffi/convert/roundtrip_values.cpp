#include "ffi/convert/roundtrip_values.hpp"

#include <algorithm>
#include <string>
#include <string_view>

#include "ffi/convert/node_walk.hpp"
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

bool AliasScope::expand(const YamlNode& alias, const YamlNode*& out) {
  out = nullptr;
  const YamlNode* t = target(alias);
  if (!t) return true;
  auto it = copies_.find(t);
  if (it == copies_.end()) {
    if (expanded_size(*t) > budget_.remaining) return budget_error(alias);
    const uint64_t before = budget_.remaining;
    ExpansionResult r = expand_aliases(*t, resolver(), budget_);
    if (!r.ok()) {
      raise(position_error(ExcClass::ParseError, r.error->message, r.error->span.line, r.error->span.column));
      return false;
    }
    it = copies_.emplace(t, Copy{std::move(r.node), before - budget_.remaining}).first;
  }
  out = &it->second.node;
  return true;
}

bool AliasScope::charge_again(const YamlNode& alias) {
  const YamlNode* t = target(alias);
  auto it = t ? copies_.find(t) : copies_.end();
  if (it == copies_.end()) return true;
  if (it->second.nodes > budget_.remaining) return budget_error(alias);
  budget_.remaining -= it->second.nodes;
  return true;
}

bool AliasScope::depth_error(const YamlNode& alias) {
  raise(position_error(ExcClass::ParseError,
                       "alias expansion exceeded the maximum alias depth of " + std::to_string(kMaxAliasExpansionDepth),
                       alias.span.line, alias.span.column));
  return false;
}

bool AliasScope::budget_error(const YamlNode& at) {
  raise(position_error(ExcClass::ParseError, expansion_budget_message(), at.span.line, at.span.column));
  return false;
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
    if (n->anchor()) sizes_[n] = size;
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

PyObject* AnchorObjectCache::find(const YamlNode* anchored) const {
  if (objects_.empty()) return nullptr;
  auto it = objects_.find(anchored);
  return it == objects_.end() ? nullptr : it->second.get();
}

void AnchorObjectCache::store(const YamlNode* anchored, PyObject* value) {
  objects_[anchored] = PyRef::borrow(value);
}

PyObject* AnchorObjectCache::find_hashable(const YamlNode* anchored, size_t& depth) const {
  if (hashables_.empty()) return nullptr;
  auto it = hashables_.find(anchored);
  if (it == hashables_.end()) return nullptr;
  depth = it->second.depth;
  return it->second.value.get();
}

void AnchorObjectCache::store_hashable(const YamlNode* anchored, PyObject* value, size_t depth) {
  hashables_[anchored] = Hashable{PyRef::borrow(value), depth};
}

// ---- scalars ----

namespace {

PyObject* str_to_py(std::string_view s) {
  return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), nullptr);
}

}  // namespace

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

PyObject* scalar_timestamp(const YamlNode& n, const ValueSettings& s) {
  if (!s.timestamps || n.scalar_style != ScalarStyle::Plain || n.tag() || !n.is_scalar()) return nullptr;
  std::optional<YamlTimestamp> ts = parse_timestamp(n.text);
  if (!ts) return nullptr;
  if (PyObject* d = timestamp_to_datetime(*ts)) return d;
  PyErr_Clear();  // outside the host's date range: resolve as usual
  return nullptr;
}

PyObject* scalar_node_to_python(const YamlNode& n, const ValueSettings& s, ScalarTag tag) {
  if (n.is_null()) {
    if (!tag) Py_RETURN_NONE;
    return resolved_to_python(resolve_scalar(s.mode, std::string_view(), ScalarStyle::Plain, tag), std::string_view());
  }
  if (PyObject* d = scalar_timestamp(n, s)) return d;
  return resolved_to_python(resolve_scalar(s.mode, n.text, n.scalar_style, tag), n.text);
}

bool resolves_to_collection(const YamlNode& node, AliasScope& scope) {
  const YamlNode* r = scope.final_target(node);
  return r && r->is_collection();
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

bool keep_unmerged_under_merge_key(PyObject* target, PyObject* key, PyObject* leftover, bool collected,
                                   MergeSlot& slot) {
  PyObject* cur = nullptr;  // borrowed
  if (slot.kept) {
    cur = PyDict_GetItemWithError(target, key);
    if (!cur && PyErr_Occurred()) return false;
  } else {
    int has = PyDict_Contains(target, key);
    if (has < 0) return false;
    if (has) return true;
  }
  if (!cur) {
    // The first leftover (or the entry is gone: start afresh).
    if (PyDict_SetItem(target, key, leftover) < 0) return false;
    slot.kept = true;
    slot.list = collected ? PyRef::borrow(leftover) : PyRef();
    return true;
  }
  if (cur != slot.list.get()) {
    PyRef list = PyRef::steal(PyList_New(1));
    if (!list) return false;
    PyList_SET_ITEM(list.get(), 0, Py_NewRef(cur));
    if (PyDict_SetItem(target, key, list.get()) < 0) return false;
    slot.list = std::move(list);
  }
  if (!collected) return PyList_Append(slot.list.get(), leftover) == 0;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(leftover); ++i)
    if (PyList_Append(slot.list.get(), PyList_GET_ITEM(leftover, i)) < 0) return false;
  return true;
}

// ---- conversion ----

namespace {

// Plain lists, dicts and scalars; with kTags custom tags are applied.
template <bool Tags>
struct PlainBuild {
  static constexpr bool kTags = Tags;
  const ValueSettings& s;
  PyObject* new_list(const YamlNode&) { return PyList_New(0); }
  PyObject* new_dict(const YamlNode&) { return PyDict_New(); }
  PyObject* scalar(const YamlNode& n, ScalarTag tag) { return scalar_node_to_python(n, s, tag); }
};

}  // namespace

PyObject* node_to_python(const YamlNode& node, const ValueSettings& s, AliasScope& scope, AnchorObjectCache& cache) {
  PlainBuild<false> b{s};
  return NodeWalk(b, s, nullptr, scope, cache).convert(node);
}

PyObject* node_to_hashable_python(const YamlNode& node, const ValueSettings& s, AliasScope& scope,
                                  AnchorObjectCache& cache) {
  PlainBuild<false> b{s};
  return NodeWalk(b, s, nullptr, scope, cache).hashable(node);
}

PyObject* node_to_loaded_python(const YamlNode& node, const ValueSettings& s, const TagContext& ctx,
                                AliasScope& scope, AnchorObjectCache& cache, const TagHandles* handles) {
  PlainBuild<true> b{s};
  return NodeWalk(b, s, &ctx, scope, cache, handles).convert(node);
}

PyObject* document_tree_to_python(const YamlNode& root, const ValueSettings& s, const TagContext& ctx) {
  AliasScope scope(root);
  AnchorObjectCache cache;
  const TagHandles handles(root);
  CollectorPause pause(ctx);
  return node_to_loaded_python(root, s, ctx, scope, cache, handles.empty() ? nullptr : &handles);
}

}  // namespace qf::py
