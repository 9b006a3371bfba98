#include "ffi/types/document_access.hpp"

#include <string_view>
#include <utility>
#include <vector>

#include "ffi/pyref.hpp"
#include "ffi/types/document_view.hpp"
#include "resolver/timestamp.hpp"

namespace qf::py {

const YamlNode* resolve_handle(const RoundTripDocument& d, uint64_t root, std::span<const PathSegment> path,
                               AliasScope& scope, bool follow_last) {
  if (root >= d.docs.size()) return nullptr;
  const YamlNode* n = &d.docs[root];
  for (const PathSegment& seg : path) {
    if (n->is_alias()) {
      n = scope.final_target(*n);
      if (!n) return nullptr;
    }
    n = child_by_segment(*n, seg);
    if (!n) return nullptr;
  }
  if (follow_last && n->is_alias()) {
    // A dangling alias stays what it is.
    if (const YamlNode* t = scope.final_target(*n)) n = t;
  }
  return n;
}

bool path_segment_from_py(PyObject* key, PathSegment& out) {
  if (PyIndex_Check(key)) {
    PyRef idx = PyRef::steal(PyNumber_Index(key));
    if (idx) {
      unsigned long long v = PyLong_AsUnsignedLongLong(idx.get());
      if (!(v == static_cast<unsigned long long>(-1) && PyErr_Occurred())) {
        out = PathSegment::index_step(v);
        return true;
      }
    }
    PyErr_Clear();
  } else if (PyUnicode_Check(key)) {
    Py_ssize_t n = 0;
    const char* u = PyUnicode_AsUTF8AndSize(key, &n);
    if (u) {
      out = PathSegment::key_step(std::string(u, static_cast<size_t>(n)));
      return true;
    }
    PyErr_Clear();
  }
  PyErr_SetString(PyExc_TypeError, "mapping keys must be str or int");
  return false;
}

PyObject* missing_child_error(NodeKind parent, PyObject* key) {
  if (parent == NodeKind::Sequence) {
    PyErr_SetString(PyExc_IndexError, "index out of range");
    return nullptr;
  }
  PyRef s = PyRef::steal(PyObject_Str(key));
  if (!s) return nullptr;
  PyErr_SetObject(PyExc_KeyError, s.get());
  return nullptr;
}

KeyMatcher::KeyMatcher(PyObject* key, const ValueSettings& s, AliasScope& scope) : key_(key), s_(s), scope_(scope) {
  if (PyUnicode_CheckExact(key)) {
    Py_ssize_t n = 0;
    if (const char* u = PyUnicode_AsUTF8AndSize(key, &n)) {
      text_ = std::string_view(u, static_cast<size_t>(n));
      is_str_ = true;
    } else {
      PyErr_Clear();
    }
  }
}

bool KeyMatcher::operator()(const YamlNode& k) const {
  if (!k.is_scalar()) return false;
  if (is_str_ && !k.tag()) {
    if (k.scalar_style != ScalarStyle::Plain) return k.text == text_;
    Resolution r = resolve_scalar(s_.mode, k.text, k.scalar_style);
    if (r.kind != ResolvedKind::Str && r.kind != ResolvedKind::Merge) return false;
    if (s_.timestamps && parse_timestamp(k.text)) return false;
    return k.text == text_;
  }
  AnchorObjectCache cache;
  PyRef v = PyRef::steal(node_to_python(k, s_, scope_, cache));
  if (!v) {
    rethrow_internal_or_clear();
    return false;
  }
  int eq = PyObject_RichCompareBool(v.get(), key_, Py_EQ);
  if (eq < 0) {
    rethrow_internal_or_clear();
    return false;
  }
  return eq == 1;
}

void rethrow_internal_or_clear() {
  rethrow_if_internal_error();
  PyErr_Clear();
}

PyObject* make_document_view(PyObject* document, uint64_t root, NodePath path, const YamlNode& node,
                             AliasScope& scope, const ValueSettings& s) {
  const YamlNode* n = &node;
  if (n->is_alias()) {
    n = scope.final_target(node);
    if (!n) Py_RETURN_NONE;
  }
  if (n->is_collection()) return new_document_view(document, root, std::move(path));
  AnchorObjectCache cache;
  return node_to_python(*n, s, scope, cache);
}

PyObject* child_for_key(PyObject* document, uint64_t root, const NodePath& path, const YamlNode& node,
                        PyObject* key, AliasScope& scope, const ValueSettings& s) {
  PathSegment seg;
  if (node.is_mapping()) {
    KeyMatcher matches(key, s, scope);
    const MappingEntry* match = nullptr;
    for (size_t i = node.pairs.size(); i-- > 0;) {
      if (matches(node.pairs[i].key)) {
        match = &node.pairs[i];
        break;
      }
    }
    if (!match) return missing_child_error(NodeKind::Mapping, key);
    seg = PathSegment::key_step_for(match->key);  // the key's form too: 1 and "1" differ
  } else if (!path_segment_from_py(key, seg)) {
    return nullptr;
  }
  const YamlNode* child = child_by_segment(node, seg);
  if (!child) return missing_child_error(node.kind, key);
  NodePath p;
  p.reserve(path.size() + 1);
  p = path;
  p.push_back(std::move(seg));
  return make_document_view(document, root, std::move(p), *child, scope, s);
}

namespace {

// Calls visit(key object) for each distinct key of the mapping, in order.
template <class Visit>
bool for_each_distinct_key(const YamlNode& m, const ValueSettings& s, AliasScope& scope, Visit&& visit) {
  PyRef seen = PyRef::steal(PyDict_New());
  if (!seen) return false;
  AnchorObjectCache cache;
  for (const MappingEntry& e : m.pairs) {
    PyRef h = PyRef::steal(node_to_hashable_python(e.key, s, scope, cache));
    if (!h) return false;
    int has = PyDict_Contains(seen.get(), h.get());
    if (has < 0) return false;
    if (has) continue;
    if (PyDict_SetItem(seen.get(), h.get(), Py_None) < 0) return false;
    if (!visit(e.key, h)) return false;
  }
  return true;
}

}  // namespace

PyObject* distinct_keys_to_py(const YamlNode& m, const ValueSettings& s, AliasScope& scope) {
  PyRef list = PyRef::steal(PyList_New(0));
  if (!list) return nullptr;
  AnchorObjectCache objects;  // collection keys share the values of their aliases
  bool ok = for_each_distinct_key(m, s, scope, [&](const YamlNode& k, PyRef& h) {
    if (k.is_scalar() || k.is_null()) return PyList_Append(list.get(), h.get()) == 0;
    PyRef v = PyRef::steal(node_to_python(k, s, scope, objects));
    return v && PyList_Append(list.get(), v.get()) == 0;
  });
  return ok ? list.release() : nullptr;
}

Py_ssize_t distinct_key_count(const YamlNode& m, const ValueSettings& s, AliasScope& scope) {
  Py_ssize_t n = 0;
  bool ok = for_each_distinct_key(m, s, scope, [&](const YamlNode&, PyRef&) {
    ++n;
    return true;
  });
  return ok ? n : -1;
}

Py_ssize_t node_length(const YamlNode& node, const ValueSettings& s, AliasScope& scope) {
  if (node.is_mapping()) return distinct_key_count(node, s, scope);
  if (node.is_sequence()) return static_cast<Py_ssize_t>(node.items.size());
  return 1;
}

bool contains_str_key(const YamlNode& node, PyObject* key) {
  if (!node.is_mapping() || !PyUnicode_Check(key)) return false;
  Py_ssize_t n = 0;
  const char* u = PyUnicode_AsUTF8AndSize(key, &n);
  if (!u) {
    PyErr_Clear();
    return false;
  }
  return mapping_has_str_key(node, std::string_view(u, static_cast<size_t>(n)));
}

PyObject* walk_to_py(const YamlNode& node, const ValueSettings& s, AliasScope& scope) {
  PyRef out = PyRef::steal(PyList_New(0));
  if (!out) return nullptr;
  // Path objects of the previous leaf, reused while the steps agree.
  struct Cached {
    WalkStep step;
    PyRef obj;
  };
  std::vector<Cached> cached;
  // One cache for the whole walk: alias leaves of one anchor share its value,
  // so the result stays as small as the document however many aliases it has.
  AnchorObjectCache objects;
  bool ok = walk_scalar_leaves(node, [&](const std::vector<WalkStep>& steps, const YamlNode& leaf) -> bool {
    size_t keep = 0;
    while (keep < cached.size() && keep < steps.size() && cached[keep].step.is_index == steps[keep].is_index &&
           cached[keep].step.index == steps[keep].index && cached[keep].step.key == steps[keep].key)
      ++keep;
    cached.resize(keep);
    for (size_t i = keep; i < steps.size(); ++i) {
      PyRef o;
      if (steps[i].is_index) {
        o = PyRef::steal(PyLong_FromUnsignedLongLong(steps[i].index));
      } else {
        o = PyRef::steal(node_to_python(*steps[i].key, s, scope, objects));
      }
      if (!o) return false;
      cached.push_back({steps[i], std::move(o)});
    }
    PyRef path = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(steps.size())));
    if (!path) return false;
    for (size_t i = 0; i < steps.size(); ++i)
      PyTuple_SET_ITEM(path.get(), static_cast<Py_ssize_t>(i), Py_NewRef(cached[i].obj.get()));
    PyRef value = PyRef::steal(node_to_python(leaf, s, scope, objects));
    if (!value) return false;
    PyRef pair = PyRef::steal(PyTuple_Pack(2, path.get(), value.get()));
    return pair && PyList_Append(out.get(), pair.get()) == 0;
  });
  return ok ? out.release() : nullptr;
}

PyObject* range_to_py(const YamlNode& node) {
  NodeRange r = node_range(node);
  return Py_BuildValue("(kkkk)", static_cast<unsigned long>(r.line), static_cast<unsigned long>(r.column),
                       static_cast<unsigned long>(r.end_line), static_cast<unsigned long>(r.end_column));
}

const char* node_kind_name(NodeKind kind) {
  switch (kind) {
    case NodeKind::Scalar: return "scalar";
    case NodeKind::Sequence: return "sequence";
    case NodeKind::Mapping: return "mapping";
    case NodeKind::Alias: return "alias";
    case NodeKind::Null: return "null";
  }
  return "null";
}

}  // namespace qf::py
