#include "ffi/types/annotated.hpp"

#include <memory>

#include "ffi/borrow.hpp"
#include "ffi/getters.hpp"
#include "support/internal_error.hpp"

namespace qf::py {

namespace {

struct AnnotatedDictObject {
  PyDictObject dict;
  AnnotatedRecord record;
};

#if PY_VERSION_HEX >= 0x030C0000
#define QF_LIST_RELATIVE_DATA 1
#else
struct AnnotatedListObject {
  PyListObject list;
  AnnotatedRecord record;
};
#endif

bool is_list_instance(PyObject* self) { return PyList_Check(self); }

// Creates the base object through the base's own constructor (so that the
// dict or list is fully initialised) and then the record.
PyObject* create(PyTypeObject* tp, PyTypeObject* base, NodeAnnotation annotation) {
  PyObject* empty = PyTuple_New(0);
  if (!empty) return nullptr;
  PyObject* self = base->tp_new(tp, empty, nullptr);
  Py_DECREF(empty);
  if (!self) return nullptr;
  AnnotatedRecord* rec = annotated_record(self);
  std::construct_at(rec);
  rec->annotation = std::move(annotation);
  return self;
}

PyObject* dict_new(PyTypeObject* tp, PyObject*, PyObject*) {
  return guarded([&] { return create(tp, &PyDict_Type, NodeAnnotation{}); });
}

PyObject* list_new(PyTypeObject* tp, PyObject*, PyObject*) {
  return guarded([&] { return create(tp, &PyList_Type, NodeAnnotation{}); });
}

// The trashcan bounds the native recursion when a long chain of nested
// instances is released at once.
template <PyTypeObject* Base>
void annotated_dealloc(PyObject* self) {
  PyTypeObject* tp = Py_TYPE(self);
  PyObject_GC_UnTrack(self);
  Py_TRASHCAN_BEGIN(self, annotated_dealloc<Base>)
  std::destroy_at(annotated_record(self));
  Base->tp_dealloc(self);
  Py_DECREF(tp);
  Py_TRASHCAN_END
}

template <auto Field>
PyObject* get_annotation(PyObject* self, void*) {
  return guarded([&]() -> PyObject* {
    AnnotatedRecord* rec = annotated_record(self);
    SharedBorrow b(rec->borrow);
    if (!b) return nullptr;
    return to_py(rec->annotation.*Field);
  });
}

#define QF_ANNOTATION_GETSET                                                                        \
  {                                                                                                 \
    {"__line__", get_annotation<&NodeAnnotation::line>, nullptr, nullptr, nullptr},                 \
        {"__column__", get_annotation<&NodeAnnotation::column>, nullptr, nullptr, nullptr},         \
        {"__end_line__", get_annotation<&NodeAnnotation::end_line>, nullptr, nullptr, nullptr},     \
        {"__end_column__", get_annotation<&NodeAnnotation::end_column>, nullptr, nullptr, nullptr}, \
        {"__offset__", get_annotation<&NodeAnnotation::offset>, nullptr, nullptr, nullptr},         \
        {"__end_offset__", get_annotation<&NodeAnnotation::end_offset>, nullptr, nullptr, nullptr}, \
        {"__file__", get_annotation<&NodeAnnotation::file>, nullptr, nullptr, nullptr},             \
        {"__source_tag__", get_annotation<&NodeAnnotation::source_tag>, nullptr, nullptr, nullptr}, \
        {"__source_target__", get_annotation<&NodeAnnotation::source_target>, nullptr, nullptr,     \
         nullptr},                                                                                  \
        {nullptr, nullptr, nullptr, nullptr, nullptr},                                              \
  }

PyGetSetDef dict_getset[] = QF_ANNOTATION_GETSET;
PyGetSetDef list_getset[] = QF_ANNOTATION_GETSET;
#undef QF_ANNOTATION_GETSET

PyType_Slot dict_slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "QuillfernAnnotatedDict(*_args, **_kwargs)\n--\n\n"
                    "A `dict` subclass carrying source-location metadata (`__line__`,\n"
                    "`__column__`, `__end_line__`, `__end_column__`, `__offset__`, `__end_offset__`,\n"
                    "`__file__`, `__source_tag__`, `__source_target__`).\n"
                    "\n"
                    "A genuine `dict` subclass: constructible with no arguments and round-tripping\n"
                    "through `copy`, `deepcopy` and `pickle` like any plain subclass; its module is\n"
                    "`quillfern` so that pickle finds the class by reference.")},
    {Py_tp_new, reinterpret_cast<void*>(dict_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(annotated_dealloc<&PyDict_Type>)},
    {Py_tp_getset, dict_getset},
    {0, nullptr},
};

PyType_Slot list_slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "QuillfernAnnotatedList(*_args, **_kwargs)\n--\n\n"
                    "A `list` subclass carrying source-location metadata,\n"
                    "(`__line__`, `__column__`, `__end_line__`, `__end_column__`, `__offset__`,\n"
                    "`__end_offset__`, `__file__`, `__source_tag__`, `__source_target__`).\n"
                    "\n"
                    "A genuine `list` subclass: constructible with no arguments and round-tripping\n"
                    "through `copy`, `deepcopy` and `pickle` like any plain subclass; its module is\n"
                    "`quillfern` so that pickle finds the class by reference.")},
    {Py_tp_new, reinterpret_cast<void*>(list_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(annotated_dealloc<&PyList_Type>)},
    {Py_tp_getset, list_getset},
    {0, nullptr},
};

PyType_Spec dict_spec = {"quillfern.QuillfernAnnotatedDict", sizeof(AnnotatedDictObject), 0,
                         Py_TPFLAGS_DEFAULT, dict_slots};
#ifdef QF_LIST_RELATIVE_DATA
PyType_Spec list_spec = {"quillfern.QuillfernAnnotatedList", -static_cast<int>(sizeof(AnnotatedRecord)), 0,
                         Py_TPFLAGS_DEFAULT, list_slots};
#else
PyType_Spec list_spec = {"quillfern.QuillfernAnnotatedList", sizeof(AnnotatedListObject), 0,
                         Py_TPFLAGS_DEFAULT, list_slots};
#endif

}  // namespace

TypeCell& annotated_dict_type_cell() {
  static TypeCell cell(&dict_spec, &PyDict_Type);
  return cell;
}

TypeCell& annotated_list_type_cell() {
  static TypeCell cell(&list_spec, &PyList_Type);
  return cell;
}

AnnotatedRecord* annotated_record(PyObject* self) {
  if (!is_list_instance(self)) return &reinterpret_cast<AnnotatedDictObject*>(self)->record;
#ifdef QF_LIST_RELATIVE_DATA
  void* data = PyObject_GetTypeData(self, reinterpret_cast<PyTypeObject*>(annotated_list_type_cell().require()));
  if (!data) throw InternalError("annotated list without its record");
  return static_cast<AnnotatedRecord*>(data);
#else
  return &reinterpret_cast<AnnotatedListObject*>(self)->record;
#endif
}

PyObject* new_annotated_dict(NodeAnnotation annotation) {
  PyTypeObject* tp = annotated_dict_type_cell().require();
  return create(tp, &PyDict_Type, std::move(annotation));
}

PyObject* new_annotated_list(NodeAnnotation annotation) {
  PyTypeObject* tp = annotated_list_type_cell().require();
  return create(tp, &PyList_Type, std::move(annotation));
}

}  // namespace qf::py
