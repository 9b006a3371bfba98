#include "ffi/types/document_view.hpp"

#include <memory>
#include <new>
#include <string>
#include <utility>

#include "ffi/args.hpp"
#include "ffi/borrow.hpp"
#include "ffi/document_edits.hpp"
#include "ffi/frame.hpp"
#include "ffi/pyref.hpp"
#include "ffi/types/document.hpp"
#include "ffi/types/document_access.hpp"
#include "roundtrip/emit.hpp"

namespace qf::py {

namespace {

template <class T>
PyObject* new_handle_object(TypeCell& cell, PyObject* document, uint64_t root, NodePath path) {
  PyTypeObject* tp = cell.require();
  PyObject* o = tp->tp_alloc(tp, 0);
  if (!o) return nullptr;
  T* t = reinterpret_cast<T*>(o);
  new (&t->borrow) BorrowFlag();
  new (&t->handle) NodeHandle{Py_NewRef(document), root, std::move(path)};
  return o;
}

DocumentViewObject* as_view(PyObject* self) { return reinterpret_cast<DocumentViewObject*>(self); }

// What a view member reads: the document's content and the node the view
// designates (nullptr when the path does not resolve: the view is stale).
struct ViewAccess {
  const RoundTripDocument& content;
  NodeHandle& handle;
  AliasScope scope;
  const YamlNode* node = nullptr;

  ViewAccess(const RoundTripDocument& d, NodeHandle& h) : content(d), handle(h), scope(handle_root(d, h.root)) {
    node = resolve_handle(content, handle.root, handle.path, scope);
  }
  ValueSettings settings() const { return value_settings(content); }
};

template <class R = PyObject*>
R stale_view() {
  PyErr_SetString(PyExc_KeyError, "stale view");
  return failure<R>();
}

// Runs body(access) in the host-call frame under both shared borrows of a
// view member, the view's own and then its document's; a conflict on either
// raises RuntimeError.
template <class R = PyObject*, class F>
R with_view_access(PyObject* self, F&& body) {
  return with_shared_borrow<R>(as_view(self)->borrow, [&]() -> R {
    NodeHandle& h = as_view(self)->handle;
    SharedBorrow doc(document_borrow(h.document));
    if (!doc) return failure<R>();
    ViewAccess a(document_content(h.document), h);
    return body(a);
  });
}

// with_view_access for the members that raise KeyError "stale view".
template <class R = PyObject*, class F>
R with_view(PyObject* self, F&& body) {
  return with_view_access<R>(self, [&](ViewAccess& a) -> R { return a.node ? body(a) : stale_view<R>(); });
}

PyObject* view_subscript_impl(ViewAccess& a, PyObject* key) {
  if (!a.node) return stale_view();
  return child_for_key(a.handle.document, a.handle.root, a.handle.path, *a.node, key, a.scope, a.settings());
}

PyObject* view_subscript(PyObject* self, PyObject* key) {
  return with_view_access(self, [&](ViewAccess& a) { return view_subscript_impl(a, key); });
}

const char* const kGetParams[] = {"key", "default"};
const ArgSpec kGetSpec{"QuillfernDocumentView.get()", kGetParams, 2, 0, 2, 0};

PyObject* view_get(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    CallArgs a;
    if (!parse_args(kGetSpec, args, nargs, kwnames, a)) return nullptr;
    PyObject* dflt = is_absent(a[1]) ? nullptr : a[1];
    // A borrow conflict is raised; a stale view gives the default.
    return with_view_access(self, [&](ViewAccess& v) {
      return item_or_default([&] { return view_subscript_impl(v, a[0]); }, dflt);
    });
  });
}

PyObject* view_keys(PyObject* self, PyObject*) {
  return with_view(self, [&](ViewAccess& a) -> PyObject* {
    if (!a.node->is_mapping()) {
      PyErr_SetString(PyExc_TypeError, "node is not a mapping");
      return nullptr;
    }
    return distinct_keys_to_py(*a.node, a.settings(), a.scope);
  });
}

Py_ssize_t view_len(PyObject* self) {
  return with_view<Py_ssize_t>(
      self, [&](ViewAccess& a) -> Py_ssize_t { return node_length(*a.node, a.settings(), a.scope); });
}

int view_contains(PyObject* self, PyObject* key) {
  return with_view<int>(self, [&](ViewAccess& a) -> int { return contains_str_key(*a.node, key) ? 1 : 0; });
}

PyObject* view_unwrap(PyObject* self, PyObject*) {
  return with_view(self, [&](ViewAccess& a) -> PyObject* {
    AnchorObjectCache cache;
    return node_to_python(*a.node, a.settings(), a.scope, cache);
  });
}

PyObject* view_walk(PyObject* self, PyObject*) {
  return with_view(self, [&](ViewAccess& a) -> PyObject* { return walk_to_py(*a.node, a.settings(), a.scope); });
}

PyObject* view_range(PyObject* self, PyObject*) {
  return with_view(self, [&](ViewAccess& a) -> PyObject* { return range_to_py(*a.node); });
}

PyObject* view_to_yaml(PyObject* self, PyObject*) {
  return with_view(self, [&](ViewAccess& a) -> PyObject* {
    std::string text = emit_root(*a.node, a.content.null_style);
    return PyBytes_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  });
}

PyObject* view_node(PyObject* self, void*) {
  return with_shared_borrow(as_view(self)->borrow, [&] {
    const NodeHandle& h = as_view(self)->handle;
    return new_node_object(h.document, h.root, h.path);
  });
}

PyGetSetDef view_getset[] = {
    {"node", view_node, nullptr, "The QuillfernNode at this view's path (not resolved: a stale view gives a stale node).",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* view_repr(PyObject* self) {
  return with_view_access(self, [&](ViewAccess& a) -> PyObject* {
    if (!a.node) return PyUnicode_FromString("QuillfernDocumentView(<stale>)");
    return PyUnicode_FromFormat("QuillfernDocumentView(%s)", node_kind_name(a.node->kind));
  });
}

PyMethodDef view_methods[] = {
    {"get", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(view_get)), METH_FASTCALL | METH_KEYWORDS,
     "get($self, key, default)\n--\n\nThe item for `key`, or `default` when item access fails."},
    {"keys", view_keys, METH_NOARGS, "keys($self)\n--\n\nThe distinct keys of the mapping, in source order."},
    {"unwrap", view_unwrap, METH_NOARGS, "unwrap($self)\n--\n\nThe plain Python value of the node."},
    {"to_dict", view_unwrap, METH_NOARGS, "to_dict($self)\n--\n\nAlias of unwrap()."},
    {"walk", view_walk, METH_NOARGS,
     "walk($self)\n--\n\n(path, value) pairs for every scalar leaf below the node, in document order."},
    {"range", view_range, METH_NOARGS,
     "range($self)\n--\n\n(line, column, end_line, end_column) of the node, 1-based."},
    {"to_yaml", view_to_yaml, METH_NOARGS, "to_yaml($self)\n--\n\nThe node re-emitted as YAML text."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot view_slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "A live proxy onto a nested node of a [`QuillfernDocument`], addressed by path.\n\n"
                    "Every access resolves the path again, so the view follows edits of the document.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(handle_dealloc<DocumentViewObject>)},
    {Py_tp_repr, reinterpret_cast<void*>(view_repr)},
    {Py_tp_methods, view_methods},
    {Py_tp_getset, view_getset},
    {Py_mp_subscript, reinterpret_cast<void*>(view_subscript)},
    {Py_mp_length, reinterpret_cast<void*>(view_len)},
    // __setitem__ and __delitem__ share the one slot.
    {Py_mp_ass_subscript, reinterpret_cast<void*>(view_set_or_delete_item)},
    {Py_sq_contains, reinterpret_cast<void*>(view_contains)},
    {0, nullptr},
};
PyType_Spec view_spec = {"QuillfernDocumentView", sizeof(DocumentViewObject), 0,
                         Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, view_slots};

}  // namespace

TypeCell& document_view_type_cell() {
  static TypeCell cell(&view_spec);
  return cell;
}

PyObject* new_document_view(PyObject* document, uint64_t root, NodePath path) {
  return new_handle_object<DocumentViewObject>(document_view_type_cell(), document, root, std::move(path));
}

PyObject* new_node_object(PyObject* document, uint64_t root, NodePath path) {
  return new_handle_object<NodeObject>(node_type_cell(), document, root, std::move(path));
}

bool is_document_view_object(PyObject* o) {
  return PyObject_TypeCheck(o, document_view_type_cell().require());
}

}  // namespace qf::py
