#include "ffi/types/annotated.hpp"

#include <memory>

#include "ffi/args.hpp"
#include "ffi/borrow.hpp"
#include "ffi/getters.hpp"
#include "ffi/pyref.hpp"
#include "roundtrip/source_tag.hpp"
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

template <bool (*Test)(const std::optional<std::string>&)>
PyObject* get_predicate(PyObject* self, void*) {
  return guarded([&]() -> PyObject* {
    AnnotatedRecord* rec = annotated_record(self);
    SharedBorrow b(rec->borrow);
    if (!b) return nullptr;
    return PyBool_FromLong(Test(rec->annotation.source_tag));
  });
}

bool tag_is_secret(const std::optional<std::string>& t) { return t && *t == "!secret"; }
bool tag_is_env_var(const std::optional<std::string>& t) { return t && *t == "!env_var"; }
bool tag_is_include(const std::optional<std::string>& t) {
  return t && is_include_tag(std::string_view(*t));
}

// The nine-item state of pickling and copying, in record order.
PyObject* state_tuple(const NodeAnnotation& a) {
  PyRef items[] = {
      PyRef::steal(to_py(a.line)),          PyRef::steal(to_py(a.column)),        PyRef::steal(to_py(a.file)),
      PyRef::steal(to_py(a.end_line)),      PyRef::steal(to_py(a.end_column)),    PyRef::steal(to_py(a.source_tag)),
      PyRef::steal(to_py(a.source_target)), PyRef::steal(to_py(a.offset)),        PyRef::steal(to_py(a.end_offset)),
  };
  for (const PyRef& r : items)
    if (!r) return nullptr;
  return PyTuple_Pack(9, items[0].get(), items[1].get(), items[2].get(), items[3].get(), items[4].get(),
                      items[5].get(), items[6].get(), items[7].get(), items[8].get());
}

// (type(self), (), state, list items, dict items): the instance is rebuilt
// empty, given its state, then refilled by append or key assignment.
template <bool IsDict>
PyObject* annotated_reduce(PyObject* self, PyObject*) {
  return guarded([&]() -> PyObject* {
    NodeAnnotation copy;
    {
      AnnotatedRecord* rec = annotated_record(self);
      SharedBorrow b = SharedBorrow::expected(rec->borrow);
      copy = rec->annotation;
    }
    PyRef items;
    if constexpr (IsDict) {
      PyRef view = PyRef::steal(PyObject_CallMethod(self, "items", nullptr));
      if (!view) return nullptr;
      items = PyRef::steal(PyObject_GetIter(view.get()));
    } else {
      items = PyRef::steal(PyObject_GetIter(self));
    }
    if (!items) return nullptr;
    PyRef state = PyRef::steal(state_tuple(copy));
    if (!state) return nullptr;
    PyRef no_args = PyRef::steal(PyTuple_New(0));
    if (!no_args) return nullptr;
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(self));
    if constexpr (IsDict) return PyTuple_Pack(5, type, no_args.get(), state.get(), Py_None, items.get());
    else return PyTuple_Pack(5, type, no_args.get(), state.get(), items.get(), Py_None);
  });
}

const char* const kStateParams[] = {"state"};
const ArgSpec kDictSetStateSpec{"QuillfernAnnotatedDict.__setstate__()", kStateParams, 1, 0, 1, 0};
const ArgSpec kListSetStateSpec{"QuillfernAnnotatedList.__setstate__()", kStateParams, 1, 0, 1, 0};

// Converts the whole state before anything is stored, so a failure leaves
// the record as it was.
bool annotation_from_state(PyObject* state, NodeAnnotation& out) {
  constexpr const char* kName = "state";
  if (!PyTuple_Check(state)) {
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'PyTuple'", Py_TYPE(state)->tp_name);
    add_processing_note(kName);
    return false;
  }
  if (PyTuple_GET_SIZE(state) != 9) {
    PyErr_Format(PyExc_ValueError, "expected tuple of length 9, but got tuple of length %zd", PyTuple_GET_SIZE(state));
    add_processing_note(kName);
    return false;
  }
  PyObject* const* v = &PyTuple_GET_ITEM(state, 0);
  return arg_u32(v[0], kName, out.line) && arg_u32(v[1], kName, out.column) && arg_opt_str(v[2], kName, out.file) &&
         arg_u32(v[3], kName, out.end_line) && arg_u32(v[4], kName, out.end_column) &&
         arg_opt_str(v[5], kName, out.source_tag) && arg_opt_str(v[6], kName, out.source_target) &&
         arg_u64(v[7], kName, out.offset) && arg_u64(v[8], kName, out.end_offset);
}

template <bool IsDict>
PyObject* annotated_setstate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    CallArgs a;
    if (!parse_args(IsDict ? kDictSetStateSpec : kListSetStateSpec, args, nargs, kwnames, a)) return nullptr;
    AnnotatedRecord* rec = annotated_record(self);
    ExclusiveBorrow b(rec->borrow);
    if (!b) return nullptr;
    NodeAnnotation fresh;
    if (!annotation_from_state(a[0], fresh)) return nullptr;
    rec->annotation = std::move(fresh);
    Py_RETURN_NONE;
  });
}

#define QF_SETSTATE_METHOD(IsDict)                                                                          \
  {"__setstate__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(annotated_setstate<IsDict>)), \
   METH_FASTCALL | METH_KEYWORDS,                                                                           \
   "__setstate__($self, state)\n--\n\nRestores the location record from its nine-item state."}

PyMethodDef dict_methods[] = {
    {"__reduce__", annotated_reduce<true>, METH_NOARGS,
     "__reduce__($self)\n--\n\nPickle and copy support: the class, no arguments, the state and the items."},
    QF_SETSTATE_METHOD(true),
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef list_methods[] = {
    {"__reduce__", annotated_reduce<false>, METH_NOARGS,
     "__reduce__($self)\n--\n\nPickle and copy support: the class, no arguments, the state and the items."},
    QF_SETSTATE_METHOD(false),
    {nullptr, nullptr, 0, nullptr},
};
#undef QF_SETSTATE_METHOD

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
        {"is_secret", get_predicate<tag_is_secret>, nullptr, nullptr, nullptr},                     \
        {"is_env_var", get_predicate<tag_is_env_var>, nullptr, nullptr, nullptr},                   \
        {"is_include", get_predicate<tag_is_include>, nullptr, nullptr, nullptr},                   \
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
                    "`__file__`, `__source_tag__`, `__source_target__`) and the directive\n"
                    "predicates `is_secret`, `is_env_var` and `is_include`.\n"
                    "\n"
                    "A genuine `dict` subclass: constructible with no arguments and round-tripping\n"
                    "through `copy`, `deepcopy` and `pickle` like any plain subclass; its module is\n"
                    "`quillfern` so that pickle finds the class by reference.")},
    {Py_tp_new, reinterpret_cast<void*>(dict_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(annotated_dealloc<&PyDict_Type>)},
    {Py_tp_getset, dict_getset},
    {Py_tp_methods, dict_methods},
    {0, nullptr},
};

PyType_Slot list_slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "QuillfernAnnotatedList(*_args, **_kwargs)\n--\n\n"
                    "A `list` subclass carrying source-location metadata,\n"
                    "(`__line__`, `__column__`, `__end_line__`, `__end_column__`, `__offset__`,\n"
                    "`__end_offset__`, `__file__`, `__source_tag__`, `__source_target__`) and the\n"
                    "directive predicates `is_secret`, `is_env_var` and `is_include`.\n"
                    "\n"
                    "A genuine `list` subclass: constructible with no arguments and round-tripping\n"
                    "through `copy`, `deepcopy` and `pickle` like any plain subclass; its module is\n"
                    "`quillfern` so that pickle finds the class by reference.")},
    {Py_tp_new, reinterpret_cast<void*>(list_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(annotated_dealloc<&PyList_Type>)},
    {Py_tp_getset, list_getset},
    {Py_tp_methods, list_methods},
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
