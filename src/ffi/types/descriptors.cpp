#include "ffi/types/descriptors.hpp"

#include <memory>

#include "ffi/args.hpp"
#include "ffi/getters.hpp"

namespace qf::py {

const char* scalar_style_name(int8_t code) noexcept {
  switch (code) {
    case 0: return "plain";
    case 1: return "single";
    case 2: return "double";
    case 3: return "literal";
    case 4: return "folded";
    default: return "auto";
  }
}

namespace {

// ---- QuillfernScalar ----

const char* const kScalarParams[] = {"value", "tag", "style", "comment", "comment_before", "comment_after"};
const ArgSpec kScalarSpec{"QuillfernScalar.__new__()", kScalarParams, 1, 0, 1, 5};

PyObject* scalar_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    CallArgs a;
    if (!parse_args(kScalarSpec, args, kwargs, a)) return nullptr;
    PyErr_SetString(PyExc_NotImplementedError, "QuillfernScalar() is not available yet");
    return nullptr;
  });
}

PyObject* scalar_style(PyObject* self, void*) {
  return guarded([&] { return to_py(scalar_style_name(reinterpret_cast<ScalarObject*>(self)->style)); });
}

void scalar_dealloc(PyObject* self) {
  PyTypeObject* tp = Py_TYPE(self);
  auto* o = reinterpret_cast<ScalarObject*>(self);
  std::destroy_at(&o->value);
  std::destroy_at(&o->tag);
  std::destroy_at(&o->comment);
  std::destroy_at(&o->comment_before);
  std::destroy_at(&o->comment_after);
  tp->tp_free(self);
  Py_DECREF(tp);
}

PyGetSetDef scalar_getset[] = {
    {"value", get_field<&ScalarObject::value>, nullptr, nullptr, nullptr},
    {"tag", get_field<&ScalarObject::tag>, nullptr, nullptr, nullptr},
    {"style", scalar_style, nullptr, nullptr, nullptr},
    {"comment", get_field<&ScalarObject::comment>, nullptr, nullptr, nullptr},
    {"comment_before", get_field<&ScalarObject::comment_before>, nullptr, nullptr, nullptr},
    {"comment_after", get_field<&ScalarObject::comment_after>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot scalar_slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "QuillfernScalar(value, *, tag=None, style=\"auto\", comment=None, comment_before=None, "
                    "comment_after=None)\n--\n\n"
                    "A scalar node descriptor returned by a `represent` callback: the text to emit,\n"
                    "an optional explicit tag, and a style. `style=\"auto\"` lets the emitter apply\n"
                    "its implicit-resolver quoting; an explicit style is validated against the\n"
                    "value and then honored.")},
    {Py_tp_new, reinterpret_cast<void*>(scalar_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(scalar_dealloc)},
    {Py_tp_getset, scalar_getset},
    {0, nullptr},
};

PyType_Spec scalar_spec = {"quillfern.QuillfernScalar", sizeof(ScalarObject), 0, Py_TPFLAGS_DEFAULT, scalar_slots};

// ---- QuillfernMapping / QuillfernSequence ----

const char* const kMappingParams[] = {"pairs", "tag", "flow", "comment", "comment_before", "comment_after"};
const ArgSpec kMappingSpec{"QuillfernMapping.__new__()", kMappingParams, 1, 0, 1, 5};
const char* const kSequenceParams[] = {"items", "tag", "flow", "comment", "comment_before", "comment_after"};
const ArgSpec kSequenceSpec{"QuillfernSequence.__new__()", kSequenceParams, 1, 0, 1, 5};

template <const ArgSpec& Spec>
PyObject* collection_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    CallArgs a;
    if (!parse_args(Spec, args, kwargs, a)) return nullptr;
    const char* name = &Spec == &kMappingSpec ? "QuillfernMapping" : "QuillfernSequence";
    PyErr_Format(PyExc_NotImplementedError, "%s() is not available yet", name);
    return nullptr;
  });
}

PyObject* collection_flow(PyObject* self, void*) {
  uint8_t f = reinterpret_cast<CollectionDescriptorObject*>(self)->flow;
  if (f == 2) Py_RETURN_NONE;
  return PyBool_FromLong(f == 1);
}

int collection_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(reinterpret_cast<CollectionDescriptorObject*>(self)->entries);
  Py_VISIT(Py_TYPE(self));
  return 0;
}

int collection_clear(PyObject* self) {
  Py_CLEAR(reinterpret_cast<CollectionDescriptorObject*>(self)->entries);
  return 0;
}

// The trashcan bounds the native recursion when deeply nested descriptors
// are released at once.
void collection_dealloc(PyObject* self) {
  PyTypeObject* tp = Py_TYPE(self);
  PyObject_GC_UnTrack(self);
  Py_TRASHCAN_BEGIN(self, collection_dealloc)
  auto* o = reinterpret_cast<CollectionDescriptorObject*>(self);
  Py_CLEAR(o->entries);
  std::destroy_at(&o->tag);
  std::destroy_at(&o->comment);
  std::destroy_at(&o->comment_before);
  std::destroy_at(&o->comment_after);
  tp->tp_free(self);
  Py_DECREF(tp);
  Py_TRASHCAN_END
}

#define QF_COLLECTION_GETSET(entries_name)                                                                \
  {                                                                                                      \
    {entries_name, get_field<&CollectionDescriptorObject::entries>, nullptr, nullptr, nullptr},         \
        {"tag", get_field<&CollectionDescriptorObject::tag>, nullptr, nullptr, nullptr},                 \
        {"flow", collection_flow, nullptr, nullptr, nullptr},                                            \
        {"comment", get_field<&CollectionDescriptorObject::comment>, nullptr, nullptr, nullptr},         \
        {"comment_before", get_field<&CollectionDescriptorObject::comment_before>, nullptr, nullptr,     \
         nullptr},                                                                                       \
        {"comment_after", get_field<&CollectionDescriptorObject::comment_after>, nullptr, nullptr,       \
         nullptr},                                                                                       \
        {nullptr, nullptr, nullptr, nullptr, nullptr},                                                   \
  }

PyGetSetDef mapping_getset[] = QF_COLLECTION_GETSET("pairs");
PyGetSetDef sequence_getset[] = QF_COLLECTION_GETSET("items");
#undef QF_COLLECTION_GETSET

PyType_Slot mapping_slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "QuillfernMapping(pairs, *, tag=None, flow=None, comment=None, comment_before=None, "
                    "comment_after=None)\n--\n\n"
                    "A mapping node descriptor: its `(key, value)` pairs (original host objects,\n"
                    "re-dispatched through `represent`), an optional tag, and a flow override.")},
    {Py_tp_new, reinterpret_cast<void*>(collection_new<kMappingSpec>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(collection_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(collection_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(collection_clear)},
    {Py_tp_getset, mapping_getset},
    {0, nullptr},
};

PyType_Slot sequence_slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "QuillfernSequence(items, *, tag=None, flow=None, comment=None, comment_before=None, "
                    "comment_after=None)\n--\n\n"
                    "A sequence node descriptor: its items (original host objects, re-dispatched\n"
                    "through `represent`), an optional tag, and an optional flow override.")},
    {Py_tp_new, reinterpret_cast<void*>(collection_new<kSequenceSpec>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(collection_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(collection_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(collection_clear)},
    {Py_tp_getset, sequence_getset},
    {0, nullptr},
};

PyType_Spec mapping_spec = {"quillfern.QuillfernMapping", sizeof(CollectionDescriptorObject), 0,
                            Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, mapping_slots};
PyType_Spec sequence_spec = {"quillfern.QuillfernSequence", sizeof(CollectionDescriptorObject), 0,
                             Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, sequence_slots};

}  // namespace

TypeCell& scalar_type_cell() {
  static TypeCell cell(&scalar_spec);
  return cell;
}
TypeCell& mapping_type_cell() {
  static TypeCell cell(&mapping_spec);
  return cell;
}
TypeCell& sequence_type_cell() {
  static TypeCell cell(&sequence_spec);
  return cell;
}

}  // namespace qf::py
