#include "ffi/types/document.hpp"

#include <memory>
#include <new>
#include <string>
#include <utility>

#include "ffi/args.hpp"
#include "ffi/borrow.hpp"
#include "ffi/document_edits.hpp"
#include "ffi/frame.hpp"
#include "ffi/getters.hpp"
#include "ffi/pyref.hpp"
#include "ffi/save.hpp"
#include "ffi/types/document_access.hpp"
#include "ffi/types/document_view.hpp"
#include "roundtrip/anchors.hpp"
#include "roundtrip/emit.hpp"

namespace qf::py {

namespace {

DocumentObject* as_doc(PyObject* self) { return reinterpret_cast<DocumentObject*>(self); }

// Runs body(content) in the host-call frame under the document's shared
// borrow (a conflict raises RuntimeError).
template <class R = PyObject*, class F>
R read_document(PyObject* self, F&& body) {
  return with_shared_borrow<R>(as_doc(self)->borrow,
                               [&]() -> R { return body(std::as_const(document_content(self))); });
}

void document_dealloc(PyObject* self) {
  PyTypeObject* tp = Py_TYPE(self);
  DocumentObject* d = as_doc(self);
  delete d->content;  // trees release themselves without recursion
  d->content = nullptr;
  std::destroy_at(&d->borrow);
  std::destroy_at(&d->unmarked_at);
  tp->tp_free(self);
  Py_DECREF(tp);
}

// Item access: a view or plain value of the single root's child, or, with
// any other number of roots, of the document with that index. The caller
// holds the shared borrow.
PyObject* document_subscript_impl(PyObject* self, const RoundTripDocument& d, PyObject* key) {
  const ValueSettings s = value_settings(d);
  if (d.docs.size() == 1) {
    AliasScope scope(d.docs[0]);
    return child_for_key(self, 0, NodePath{}, d.docs[0], key, scope, s);
  }
  unsigned long long index = 0;
  bool ok = false;
  if (PyIndex_Check(key)) {
    PyRef i = PyRef::steal(PyNumber_Index(key));
    if (i) {
      index = PyLong_AsUnsignedLongLong(i.get());
      ok = !(index == static_cast<unsigned long long>(-1) && PyErr_Occurred());
    }
  }
  if (!ok) {
    rethrow_internal_or_clear();
    PyErr_SetString(PyExc_KeyError, "multi-document access requires an integer index");
    return nullptr;
  }
  if (index >= d.docs.size()) {
    PyErr_SetString(PyExc_IndexError, "index out of range");
    return nullptr;
  }
  AliasScope scope(d.docs[index]);
  return make_document_view(self, index, NodePath{}, d.docs[index], scope, s);
}

PyObject* document_subscript(PyObject* self, PyObject* key) {
  return read_document(self, [&](const RoundTripDocument& d) { return document_subscript_impl(self, d, key); });
}

const char* const kGetParams[] = {"key", "default"};
const ArgSpec kGetSpec{"QuillfernDocument.get()", kGetParams, 2, 0, 2, 0};

PyObject* document_get(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    CallArgs a;
    if (!parse_args(kGetSpec, args, nargs, kwnames, a)) return nullptr;
    PyObject* dflt = is_absent(a[1]) ? nullptr : a[1];
    // A borrow conflict is raised, not taken for a missing item.
    return read_document(self, [&](const RoundTripDocument& d) {
      return item_or_default([&] { return document_subscript_impl(self, d, a[0]); }, dflt);
    });
  });
}

PyObject* document_keys(PyObject* self, PyObject*) {
  return read_document(self, [&](const RoundTripDocument& d) -> PyObject* {
    if (d.docs.size() != 1) {
      PyErr_SetString(PyExc_TypeError, "keys() is only available on a single mapping document");
      return nullptr;
    }
    if (!d.docs[0].is_mapping()) {
      PyErr_SetString(PyExc_TypeError, "node is not a mapping");
      return nullptr;
    }
    AliasScope scope(d.docs[0]);
    return distinct_keys_to_py(d.docs[0], value_settings(d), scope);
  });
}

Py_ssize_t document_len(PyObject* self) {
  return read_document<Py_ssize_t>(self, [&](const RoundTripDocument& d) -> Py_ssize_t {
    if (d.docs.size() != 1) return static_cast<Py_ssize_t>(d.docs.size());
    AliasScope scope(d.docs[0]);
    return node_length(d.docs[0], value_settings(d), scope);
  });
}

int document_contains(PyObject* self, PyObject* key) {
  return read_document<int>(self, [&](const RoundTripDocument& d) -> int {
    if (d.docs.size() != 1) return 0;
    return contains_str_key(d.docs[0], key) ? 1 : 0;
  });
}

PyObject* document_to_dict(PyObject* self, PyObject*) {
  return read_document(self, [&](const RoundTripDocument& d) -> PyObject* {
    const ValueSettings s = value_settings(d);
    auto convert = [&](const YamlNode& root) {
      AliasScope scope(root);
      AnchorObjectCache cache;
      return node_to_python(root, s, scope, cache);
    };
    if (d.docs.size() == 1) return convert(d.docs[0]);
    std::vector<PyRef> values;
    values.reserve(d.docs.size());
    for (const YamlNode& doc : d.docs) {
      values.push_back(PyRef::steal(convert(doc)));
      if (!values.back()) return nullptr;
    }
    return list_of(values);
  });
}

PyObject* document_walk(PyObject* self, PyObject*) {
  return read_document(self, [&](const RoundTripDocument& d) -> PyObject* {
    if (d.docs.empty()) return PyList_New(0);
    AliasScope scope(d.docs[0]);
    return walk_to_py(d.docs[0], value_settings(d), scope);
  });
}

PyObject* document_to_yaml(PyObject* self, PyObject*) {
  return read_document(self, [&](const RoundTripDocument& d) -> PyObject* {
    std::string text = render_document(d);
    return PyBytes_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  });
}

PyObject* document_range(PyObject* self, PyObject*) {
  return read_document(self, [&](const RoundTripDocument& d) -> PyObject* {
    if (d.docs.empty()) Py_RETURN_NONE;
    return range_to_py(d.docs[0]);
  });
}

const char* const kPathParams[] = {"path"};
const ArgSpec kLocateSpec{"QuillfernDocument.locate()", kPathParams, 1, 0, 1, 0};
const ArgSpec kSetOriginSpec{"QuillfernDocument.set_origin()", kPathParams, 1, 0, 1, 0};

PyObject* document_locate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    CallArgs a;
    if (!parse_args(kLocateSpec, args, nargs, kwnames, a)) return nullptr;
    PyObject* arg = a[0];
    if (PyUnicode_Check(arg)) {
      PyErr_SetString(PyExc_TypeError, "locate() takes a sequence of str/int path segments, not a str");
      return nullptr;
    }
    NodePath path;
    if (PyList_CheckExact(arg) || PyTuple_CheckExact(arg)) {
      // The usual form, read without an iterator. A key's __index__ may
      // change a list as it goes: its size is read again at every step and
      // each item held while it is converted.
      const bool list = PyList_CheckExact(arg);
      auto size = [&] { return list ? PyList_GET_SIZE(arg) : PyTuple_GET_SIZE(arg); };
      path.reserve(static_cast<size_t>(size()));
      for (Py_ssize_t i = 0; i < size(); ++i) {
        PyRef item = PyRef::borrow(list ? PyList_GET_ITEM(arg, i) : PyTuple_GET_ITEM(arg, i));
        PathSegment seg;
        if (!path_segment_from_py(item.get(), seg)) return nullptr;
        path.push_back(std::move(seg));
      }
    } else {
      PyRef it = PyRef::steal(PyObject_GetIter(arg));
      if (!it) return nullptr;
      while (PyRef item = PyRef::steal(PyIter_Next(it.get()))) {
        PathSegment seg;
        if (!path_segment_from_py(item.get(), seg)) return nullptr;
        path.push_back(std::move(seg));
      }
      if (PyErr_Occurred()) return nullptr;
    }
    SharedBorrow b(as_doc(self)->borrow);
    if (!b) return nullptr;
    const RoundTripDocument& d = document_content(self);
    // Resolved as the node will be: through aliases on the way, not the last.
    AliasScope scope(handle_root(d, 0));
    if (!resolve_handle(d, 0, path, scope, false)) Py_RETURN_NONE;
    return new_node_object(self, 0, std::move(path));
  });
}

PyObject* document_set_origin(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    CallArgs a;
    if (!parse_args(kSetOriginSpec, args, nargs, kwnames, a)) return nullptr;
    ExclusiveBorrow b(as_doc(self)->borrow);
    if (!b) return nullptr;
    std::string text;
    if (!arg_str(a[0], "path", text)) return nullptr;
    document_content(self).origin = std::move(text);
    Py_RETURN_NONE;
  });
}

PyObject* document_get_origin(PyObject* self, void*) {
  return read_document(self, [&](const RoundTripDocument& d) -> PyObject* {
    return to_py(d.origin);
  });
}

PyObject* document_get_explicit_start(PyObject* self, void*) {
  return read_document(self, [&](const RoundTripDocument& d) -> PyObject* {
    return PyBool_FromLong(!d.docs.empty() && d.docs[0].explicit_start);
  });
}

PyObject* document_get_anchors(PyObject* self, void*) {
  return guarded([&]() -> PyObject* {
    std::vector<std::pair<std::string, NodePath>> found;
    {
      SharedBorrow b(as_doc(self)->borrow);
      if (!b) return nullptr;
      const RoundTripDocument& d = document_content(self);
      if (!d.docs.empty()) found = collect_anchors_with_paths(d.docs[0]);
    }
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) return nullptr;
    for (auto& [name, path] : found) {
      PyRef k = PyRef::steal(to_py(name));
      if (!k) return nullptr;
      PyRef node = PyRef::steal(new_node_object(self, 0, std::move(path)));
      if (!node) return nullptr;
      if (PyDict_SetItem(dict.get(), k.get(), node.get()) < 0) return nullptr;
    }
    return dict.release();
  });
}

// No borrow: the roots are not looked at (an empty stream gives a node that
// is stale until a document exists).
PyObject* document_get_node(PyObject* self, void*) {
  return guarded([&] { return new_node_object(self, 0, NodePath{}); });
}

PyObject* document_repr(PyObject* self) {
  return read_document(self, [&](const RoundTripDocument& d) -> PyObject* {
    return PyUnicode_FromFormat("QuillfernDocument(documents=%zu)", d.docs.size());
  });
}

PyMethodDef methods[] = {
    {"get", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(document_get)), METH_FASTCALL | METH_KEYWORDS,
     "get($self, key, default)\n--\n\nThe item for `key`, or `default` when item access fails."},
    {"keys", document_keys, METH_NOARGS,
     "keys($self)\n--\n\nThe distinct keys of the single mapping document, in source order."},
    {"to_tree", document_to_tree, METH_NOARGS,
     "to_tree($self)\n--\n\nA QuillfernTreeNode snapshot of the single document, or None for an empty stream."},
    {"to_dict", document_to_dict, METH_NOARGS,
     "to_dict($self)\n--\n\nThe plain Python value of the document (a list of them for several documents)."},
    {"walk", document_walk, METH_NOARGS,
     "walk($self)\n--\n\n(path, value) pairs for every scalar leaf of the first document, in document order."},
    {"to_yaml", document_to_yaml, METH_NOARGS,
     "to_yaml($self)\n--\n\nThe YAML text of every document; the loaded text itself while nothing changed."},
    {"range", document_range, METH_NOARGS,
     "range($self)\n--\n\n(line, column, end_line, end_column) of the first document, 1-based, or None."},
    {"locate", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(document_locate)),
     METH_FASTCALL | METH_KEYWORDS,
     "locate($self, path)\n--\n\nThe QuillfernNode at a sequence of str/int path segments, or None."},
    {"set_origin", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(document_set_origin)),
     METH_FASTCALL | METH_KEYWORDS, "set_origin($self, path)\n--\n\nSets the path that save() writes to."},
    {"save", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(document_save)), METH_FASTCALL | METH_KEYWORDS,
     "save($self, path=None)\n--\n\nWrites every changed file back (the main text to `path` when given) and "
     "returns the paths written."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef getset[] = {
    {"origin", document_get_origin, nullptr, "The path save() writes to, or None.", nullptr},
    {"explicit_start", document_get_explicit_start, nullptr, "Whether the first document was opened by '---'.",
     nullptr},
    {"anchors", document_get_anchors, nullptr, "Anchor name -> QuillfernNode, for the first document.", nullptr},
    {"node", document_get_node, nullptr, "The QuillfernNode of the first document's root.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "A structure-preserving YAML document returned by `loads(..., OPT_ROUND_TRIP)`.\n\n"
                    "It holds the source tree (comments, styles, anchors, include boundaries) and,\n"
                    "when loaded with includes, the file-id to source-path table used for write-back.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(document_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(document_repr)},
    {Py_tp_methods, methods},
    {Py_tp_getset, getset},
    {Py_mp_subscript, reinterpret_cast<void*>(document_subscript)},
    {Py_mp_length, reinterpret_cast<void*>(document_len)},
    // __setitem__ and __delitem__ share the one slot.
    {Py_mp_ass_subscript, reinterpret_cast<void*>(document_set_or_delete_item)},
    {Py_sq_contains, reinterpret_cast<void*>(document_contains)},
    {0, nullptr},
};

PyType_Spec spec = {"QuillfernDocument", sizeof(DocumentObject), 0,
                    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots};

}  // namespace

TypeCell& document_type_cell() {
  static TypeCell cell(&spec);
  return cell;
}

PyObject* new_document_object(RoundTripDocument&& content) {
  RoundTripDocument owned = std::move(content);
  PyTypeObject* tp = document_type_cell().require();
  PyObject* o = tp->tp_alloc(tp, 0);
  if (!o) return nullptr;
  DocumentObject* d = as_doc(o);
  new (&d->borrow) BorrowFlag();
  new (&d->unmarked_at) std::atomic<uint64_t>(0);
  d->content = nullptr;
  try {
    d->content = new RoundTripDocument(std::move(owned));
  } catch (...) {
    Py_DECREF(o);
    throw;
  }
  return o;
}

bool is_document_object(PyObject* o) {
  return PyObject_TypeCheck(o, document_type_cell().require());
}

}  // namespace qf::py
