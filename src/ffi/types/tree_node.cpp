#include "ffi/types/tree_node.hpp"

#include <memory>

#include "ffi/getters.hpp"

namespace qf::py {

namespace {

void tree_node_dealloc(PyObject* self) {
  PyTypeObject* tp = Py_TYPE(self);
  auto* o = reinterpret_cast<TreeNodeObject*>(self);
  Py_CLEAR(o->value);
  std::destroy_at(&o->tag);
  std::destroy_at(&o->anchor);
  std::destroy_at(&o->comment);
  std::destroy_at(&o->comment_before);
  std::destroy_at(&o->comment_after);
  tp->tp_free(self);
  Py_DECREF(tp);
}

PyGetSetDef getset[] = {
    {"kind", get_field<&TreeNodeObject::kind>, nullptr, nullptr, nullptr},
    {"style", get_field<&TreeNodeObject::style>, nullptr, nullptr, nullptr},
    {"tag", get_field<&TreeNodeObject::tag>, nullptr, nullptr, nullptr},
    {"anchor", get_field<&TreeNodeObject::anchor>, nullptr, nullptr, nullptr},
    {"comment", get_field<&TreeNodeObject::comment>, nullptr, nullptr, nullptr},
    {"comment_before", get_field<&TreeNodeObject::comment_before>, nullptr, nullptr, nullptr},
    {"comment_after", get_field<&TreeNodeObject::comment_after>, nullptr, nullptr, nullptr},
    {"is_merge_key", get_field<&TreeNodeObject::is_merge_key>, nullptr, nullptr, nullptr},
    {"value", get_field<&TreeNodeObject::value>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "An owned node snapshot. Collections contain child snapshots rather than\n"
                    "live cursors, scalar values are resolved by the same schema as `to_dict()`,\n"
                    "and aliases and merge keys remain explicit so that the caller can choose\n"
                    "whether to expand them.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(tree_node_dealloc)},
    {Py_tp_getset, getset},
    {0, nullptr},
};

PyType_Spec spec = {"quillfern.QuillfernTreeNode", sizeof(TreeNodeObject), 0,
                    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots};

}  // namespace

TypeCell& tree_node_type_cell() {
  static TypeCell cell(&spec);
  return cell;
}

PyObject* new_tree_node(TreeNodeFields f, PyObject* value) {
  PyTypeObject* tp;
  try {
    tp = tree_node_type_cell().require();
  } catch (...) {
    Py_XDECREF(value);
    throw;
  }
  auto* o = reinterpret_cast<TreeNodeObject*>(tp->tp_alloc(tp, 0));
  if (!o) {
    Py_XDECREF(value);
    return nullptr;
  }
  o->kind = f.kind;
  o->style = f.style;
  std::construct_at(&o->tag, std::move(f.tag));
  std::construct_at(&o->anchor, std::move(f.anchor));
  std::construct_at(&o->comment, std::move(f.comment));
  std::construct_at(&o->comment_before, std::move(f.comment_before));
  std::construct_at(&o->comment_after, std::move(f.comment_after));
  o->is_merge_key = f.is_merge_key;
  o->value = value;
  return reinterpret_cast<PyObject*>(o);
}

}  // namespace qf::py
