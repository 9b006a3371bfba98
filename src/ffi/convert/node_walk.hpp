// The one walk from source trees to host objects behind every conversion
// (plain values, directive-loaded values, annotated results), so their alias,
// merge-key, complex-key, tag and anchor-cache rules cannot drift apart. A
// build policy decides only how containers and scalars are made:
//
//   static constexpr bool kTags;          // custom tags go through the tag handlers
//   PyObject* new_list(const YamlNode&);  // an empty list for a sequence
//   PyObject* new_dict(const YamlNode&);  // an empty dict for a mapping
//   PyObject* scalar(const YamlNode&, ScalarTag);  // a Scalar or Null node under
//                                                  // its tag, before the tag step
//
// Every function returns a new reference, or nullptr with the host exception
// set. Lists are filled by appending, so host code (tag handlers) never meets
// a container with empty slots.
#pragma once
#include <algorithm>
#include <unordered_set>
#include <vector>

#include "ffi/convert/decode.hpp"
#include "ffi/convert/roundtrip_values.hpp"
#include "ffi/py.hpp"
#include "ffi/pyref.hpp"
#include "roundtrip/source_tag.hpp"
#include "roundtrip/tag_handles.hpp"
#include "support/stack_guard.hpp"

namespace qf::py {

template <class Build>
class NodeWalk {
 public:
  // With `handles` (the document's %TAG handles) tags are read expanded, as
  // the value loader reads them; without, as written.
  NodeWalk(Build& build, const ValueSettings& s, const TagContext* tags, AliasScope& scope, AnchorObjectCache& cache,
           const TagHandles* handles = nullptr)
      : build_(build), s_(s), tags_(tags), scope_(scope), cache_(cache), handles_(handles) {}

  PyObject* convert(const YamlNode& n) {
    return ensure_stack([&]() -> PyObject* { return convert_here(n); });
  }

  // A value usable as a dict key: collections become tuples (a mapping a
  // tuple of (key, value) 2-tuples), scalars their plain values; aliases are
  // followed through their expanded copies.
  PyObject* hashable(const YamlNode& n) {
    key_depth_ = 0;
    return hashable_at(n, 0);
  }

 private:
  PyObject* convert_here(const YamlNode& n) {
    if (n.is_alias()) {
      const YamlNode* t = scope_.target(n);
      if (!t) Py_RETURN_NONE;
      if (PyObject* hit = cache_.find(t)) return Py_NewRef(hit);
      if (!convert_dependencies(*t)) return nullptr;
      return convert_target(n, *t);
    }
    // Converted already through an alias: the same object.
    if (n.anchor())
      if (PyObject* hit = cache_.find(&n)) return Py_NewRef(hit);
    if (n.is_sequence()) return finish(n, sequence(n));
    if (n.is_mapping()) return finish(n, mapping(n));
    std::string scratch;
    return finish(n, build_.scalar(n, tag_of(n, scratch)));
  }

  // An alias's anchored node, converted in place of the alias; its result
  // is cached (the anchored node's own finishing step), so later aliases of
  // it give this very object. Depth counts the alias conversions in progress
  // here: an anchor already converted in this read answers without counting.
  PyObject* convert_target(const YamlNode& alias, const YamlNode& target) {
    if (alias_depth_ >= kMaxAliasExpansionDepth) return scope_.depth_error(alias), nullptr;
    ++alias_depth_;
    PyObject* out = convert(target);
    --alias_depth_;
    if (out) cache_.store(&target, out);
    return out;
  }

  // A read that starts below the anchors (a view, a walk, one node) meets an
  // alias whose anchored node is not converted yet. The anchored nodes that
  // node needs through its aliases are converted first, each after those it
  // needs itself: every read converts an anchor as a read of the whole
  // document does, after the anchors it names, so a chain of anchors never
  // nests. Anchors within the node are left to its own conversion, and
  // converted nodes are not walked again: the work stays that of converting
  // each node once.
  bool convert_dependencies(const YamlNode& target) {
    std::unordered_set<const YamlNode*> seen{&target};
    auto needs_of = [&](const YamlNode& root) {
      std::vector<const YamlNode*> needs;
      std::unordered_set<const YamlNode*> inside;  // anchored nodes met in root
      std::vector<const YamlNode*> stack{&root};
      while (!stack.empty()) {
        const YamlNode* n = stack.back();
        stack.pop_back();
        if (n->is_alias()) {
          const YamlNode* t = scope_.target(*n);
          if (t && !inside.count(t) && !cache_.find(t) && seen.insert(t).second) needs.push_back(t);
          continue;
        }
        if (n->anchor()) {
          if (n != &root && cache_.find(n)) continue;
          inside.insert(n);
        }
        for (size_t i = n->pairs.size(); i-- > 0;) {
          stack.push_back(&n->pairs[i].value);
          stack.push_back(&n->pairs[i].key);
        }
        for (size_t i = n->items.size(); i-- > 0;) stack.push_back(&n->items[i]);
      }
      return needs;
    };
    struct Frame {
      const YamlNode* node;
      std::vector<const YamlNode*> needs;
      size_t next = 0;
    };
    std::vector<Frame> stack;
    stack.push_back({&target, needs_of(target)});
    while (!stack.empty()) {
      Frame& f = stack.back();
      if (f.next < f.needs.size()) {
        const YamlNode* t = f.needs[f.next++];
        if (!cache_.find(t)) stack.push_back({t, needs_of(*t)});
        continue;
      }
      const YamlNode* done = f.node;
      stack.pop_back();
      if (stack.empty() || cache_.find(done)) continue;  // the target itself is the caller's
      PyRef out = PyRef::steal(convert(*done));
      if (!out) return false;
    }
    return true;
  }

  ScalarTag tag_of(const YamlNode& n, std::string& scratch) const {
    if (!n.tag()) return std::nullopt;
    return handles_ ? handles_->expand(*n.tag(), scratch) : std::string_view(*n.tag());
  }

  // The tag step, then the cache entry of an anchored node (after the tag
  // step, so aliases yield what the handlers made).
  PyObject* finish(const YamlNode& n, PyObject* out) {
    if (!out) return nullptr;
    if constexpr (Build::kTags) {
      std::string scratch;
      if (const ScalarTag tag = tag_of(n, scratch); tag && !is_standard_tag(*tag)) {
        out = apply_tag_handlers(*tag, out, *tags_);
        if (!out) return nullptr;
      }
    }
    if (n.anchor()) cache_.store(&n, out);
    return out;
  }

  PyObject* sequence(const YamlNode& n) {
    PyRef list = PyRef::steal(build_.new_list(n));
    if (!list) return nullptr;
    for (const YamlNode& item : n.items) {
      PyRef v = PyRef::steal(convert(item));
      if (!v || PyList_Append(list.get(), v.get()) < 0) return nullptr;
    }
    return list.release();
  }

  // Collections (also through an alias) become tuples; with tags a scalar
  // key is converted like a value, so it meets the same handlers.
  PyObject* key_object(const YamlNode& k) {
    if constexpr (Build::kTags)
      if (!resolves_to_collection(k, scope_)) return convert(k);
    return hashable(k);
  }

  PyObject* mapping(const YamlNode& n) {
    PyRef dict = PyRef::steal(build_.new_dict(n));
    if (!dict) return nullptr;
    const bool merging = find_merge_key(n.pairs);
    // Values before keys wherever a key may meet host code or a merge: an
    // alias in a value never sees a cache entry made by its own key.
    const bool value_first = Build::kTags || merging;
    MergeSlot slot;
    for (const MappingEntry& e : n.pairs) {
      PyRef k;
      size_t depth = 0;
      if (!value_first) {
        k = PyRef::steal(hashable(e.key));
        if (!k) return nullptr;
        depth = key_depth_;
      }
      PyRef v = PyRef::steal(convert(e.value));
      if (!v) return nullptr;
      if (merging && is_merge_key(e.key)) {
        PyRef left;
        if (!merge_value(dict.get(), e.value, v.get(), left)) return nullptr;
        if (left) {
          // A leftover other than the value itself is a list made by the merge.
          const bool collected = left.get() != v.get();
          k = PyRef::steal(Build::kTags ? convert(e.key) : hashable(e.key));
          if (!k || !keep_unmerged_under_merge_key(dict.get(), k.get(), left.get(), collected, slot)) return nullptr;
        }
        continue;
      }
      if (!k) {
        key_depth_ = 0;
        k = PyRef::steal(key_object(e.key));
        if (!k) return nullptr;
        depth = key_depth_;
      }
      if (!set_mapping_item(dict.get(), k.get(), v.get(), depth)) return nullptr;
      // A quoted or otherwise tagged "<<" replaces the kept leftovers.
      if (slot.kept && e.key.is_scalar() && e.key.text == "<<") slot.clear();
    }
    return dict.release();
  }

  bool custom_tagged(const YamlNode* n) const {
    std::string scratch;
    const ScalarTag tag = n ? tag_of(*n, scratch) : std::nullopt;
    return tag && !is_standard_tag(*tag);
  }

  // Merges a converted merge value as the value loader does it: a
  // custom-tagged collection or scalar, also as an item of a merged sequence,
  // is not merged but kept whole under the merge key (the handlers may have
  // made it anything), on every road alike.
  bool merge_value(PyObject* dict, const YamlNode& node, PyObject* value, PyRef& left) {
    const YamlNode* n = scope_.final_target(node);
    if (custom_tagged(n)) {
      left = PyRef::borrow(value);
      return true;
    }
    if (n && n->is_sequence() && PyList_Check(value) && size_t(PyList_GET_SIZE(value)) == n->items.size()) {
      PyRef rest;
      for (size_t i = 0; i < n->items.size() && i < size_t(PyList_GET_SIZE(value)); ++i) {
        PyRef item = PyRef::borrow(PyList_GET_ITEM(value, Py_ssize_t(i)));
        PyRef l;
        if (custom_tagged(scope_.final_target(n->items[i])))
          l = item;
        else if (!merge_into_dict(dict, item.get(), l))
          return false;
        if (!l) continue;
        if (!rest) rest = PyRef::steal(PyList_New(0));
        if (!rest || PyList_Append(rest.get(), l.get()) < 0) return false;
      }
      left = std::move(rest);
      return true;
    }
    return merge_into_dict(dict, value, left);
  }

  PyObject* hashable_at(const YamlNode& start, size_t level) {
    return ensure_stack([&]() -> PyObject* { return hashable_here(start, level); });
  }

  // An alias's hashable form is made once per anchor; hashing a key walks
  // all of it, so each further use is charged the copy's size again.
  PyObject* hashable_here(const YamlNode& start, size_t level) {
    if (!start.is_alias()) return hashable_form(&start, level);
    const YamlNode* t = scope_.target(start);
    if (!t) Py_RETURN_NONE;
    size_t below = 0;
    if (PyObject* hit = cache_.find_hashable(t, below)) {
      if (!scope_.charge_again(start)) return nullptr;
      key_depth_ = std::max(key_depth_, level + below);
      return Py_NewRef(hit);
    }
    const YamlNode* copy = nullptr;
    if (!scope_.expand(start, copy)) return nullptr;  // copies hold no aliases
    const size_t outer = key_depth_;
    key_depth_ = level;
    PyObject* out = hashable_form(copy, level);
    if (out) cache_.store_hashable(t, out, key_depth_ - level);
    key_depth_ = std::max(outer, key_depth_);
    return out;
  }

  PyObject* hashable_form(const YamlNode* n, size_t level) {
    key_depth_ = std::max(key_depth_, level);
    std::string scratch;
    const ScalarTag tag = tag_of(*n, scratch);
    if (!n->is_collection()) return finish(*n, scalar_node_to_python(*n, s_, tag));
    // As on the plain road, a custom-tagged collection in a key is handed to
    // its tag like any value (a dict or list result is then refused as key).
    if constexpr (Build::kTags)
      if (tag && !is_standard_tag(*tag)) return convert(*n);
    std::vector<PyRef> parts;
    parts.reserve(n->size());
    if (n->is_sequence()) {
      for (const YamlNode& item : n->items) {
        parts.push_back(PyRef::steal(hashable_at(item, level + 1)));
        if (!parts.back()) return nullptr;
      }
    } else {
      for (const MappingEntry& e : n->pairs) {
        PyRef k = PyRef::steal(hashable_at(e.key, level + 2));
        if (!k) return nullptr;
        PyRef v = PyRef::steal(hashable_at(e.value, level + 2));
        if (!v) return nullptr;
        parts.push_back(PyRef::steal(PyTuple_Pack(2, k.get(), v.get())));
        if (!parts.back()) return nullptr;
      }
    }
    PyObject* t = PyTuple_New(static_cast<Py_ssize_t>(parts.size()));
    if (!t) return nullptr;
    for (size_t i = 0; i < parts.size(); ++i) PyTuple_SET_ITEM(t, static_cast<Py_ssize_t>(i), parts[i].release());
    return t;
  }

  Build& build_;
  const ValueSettings& s_;
  const TagContext* tags_;  // required when Build::kTags
  AliasScope& scope_;
  AnchorObjectCache& cache_;
  const TagHandles* handles_;
  size_t key_depth_ = 0;  // nesting of the last key made by hashable()
  uint32_t alias_depth_ = 0;  // alias conversions in progress
};

}  // namespace qf::py
