#include "ffi/types/tag.hpp"

#include <memory>

#include "ffi/args.hpp"
#include "ffi/getters.hpp"

namespace qf::py {

namespace {

const char* const kParams[] = {"tag", "value"};
const ArgSpec kNewSpec{"QuillfernTag.__new__()", kParams, 2, 0, 2, 0};

PyObject* make(PyTypeObject* tp, std::string tag, PyObject* value) {
  auto* o = reinterpret_cast<TagObject*>(tp->tp_alloc(tp, 0));
  if (!o) return nullptr;
  std::construct_at(&o->borrow);
  std::construct_at(&o->tag, std::move(tag));
  o->value = Py_NewRef(value);
  return reinterpret_cast<PyObject*>(o);
}

PyObject* tag_new(PyTypeObject* tp, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    CallArgs a;
    if (!parse_args(kNewSpec, args, kwargs, a)) return nullptr;
    std::string tag;
    if (!arg_str(a[0], "tag", tag)) return nullptr;
    return make(tp, std::move(tag), a[1]);
  });
}

PyObject* tag_repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    auto* o = reinterpret_cast<TagObject*>(self);
    SharedBorrow b(o->borrow);
    if (!b) return nullptr;
    std::string s = "QuillfernTag('" + o->tag + "', ...)";
    return to_py(s);
  });
}

int tag_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(reinterpret_cast<TagObject*>(self)->value);
  Py_VISIT(Py_TYPE(self));
  return 0;
}

int tag_clear(PyObject* self) {
  Py_CLEAR(reinterpret_cast<TagObject*>(self)->value);
  return 0;
}

// The trashcan bounds the native recursion when a long chain of tags nested
// in each other's values is released at once.
void tag_dealloc(PyObject* self) {
  PyTypeObject* tp = Py_TYPE(self);
  PyObject_GC_UnTrack(self);
  Py_TRASHCAN_BEGIN(self, tag_dealloc)
  auto* o = reinterpret_cast<TagObject*>(self);
  Py_CLEAR(o->value);
  std::destroy_at(&o->tag);
  std::destroy_at(&o->borrow);
  tp->tp_free(self);
  Py_DECREF(tp);
  Py_TRASHCAN_END
}

PyGetSetDef getset[] = {
    {"tag", get_field<&TagObject::tag, Borrow::Shared>, nullptr, nullptr, nullptr},
    {"value", get_field<&TagObject::value, Borrow::Shared>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("QuillfernTag(tag, value)\n--\n\n"
                                  "A custom-tagged YAML value, returned when `OPT_PASSTHROUGH_TAG` is set and\n"
                                  "accepted by `dumps` to emit a `!tag value` back out.\n"
                                  "\n"
                                  "Holds the original tag (e.g. `!mytag`) and the resolved inner `value`.")},
    {Py_tp_new, reinterpret_cast<void*>(tag_new)},
    {Py_tp_repr, reinterpret_cast<void*>(tag_repr)},
    {Py_tp_dealloc, reinterpret_cast<void*>(tag_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(tag_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(tag_clear)},
    {Py_tp_getset, getset},
    {0, nullptr},
};

PyType_Spec spec = {"QuillfernTag", sizeof(TagObject), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, slots};

}  // namespace

TypeCell& tag_type_cell() {
  static TypeCell cell(&spec);
  return cell;
}

PyObject* new_tag(std::string tag, PyObject* value) {
  return make(tag_type_cell().require(), std::move(tag), value);
}

}  // namespace qf::py
