// Module initialisation: the export hooks, the slot array and module_exec,
// which adds the eight functions, the 34 OPT_* constants and the ten classes
// (in that order) and records each name in __all__.
#include <cstdint>
#include <string>

#include "ffi/args.hpp"
#include "ffi/convert/decode.hpp"
#include "ffi/entry_points.hpp"
#include "ffi/frame.hpp"
#include "ffi/py.hpp"
#include "ffi/pyref.hpp"
#include "ffi/types/annotated.hpp"
#include "ffi/types/descriptors.hpp"
#include "ffi/types/document.hpp"
#include "ffi/types/document_view.hpp"
#include "ffi/types/tag.hpp"
#include "ffi/types/tree_node.hpp"
#include "support/internal_error.hpp"
#include "support/options.hpp"

namespace qf::py {

namespace {
const char* const kLoadsParams[] = {"data",        "option", "include_dir", "schema",           "schema_resolver",
                                    "tag_handler", "tags",   "root_path",   "on_missing_secret", "on_missing_env_var"};
const char* const kLoadsAllParams[] = {"data", "option", "tag_handler", "tags"};
const char* const kDumpsParams[] = {"obj", "default", "option", "serializers", "width", "represent"};
const char* const kToJsonParams[] = {"obj", "default", "option"};
const char* const kDataParams[] = {"data"};
const char* const kDumpIncludesParams[] = {"doc", "include_dir"};
const char* const kDocParams[] = {"doc"};
}  // namespace

const ArgSpec kLoadsSpec{"loads()", kLoadsParams, 1, 1, 1, 9};
const ArgSpec kLoadsAllSpec{"loads_all()", kLoadsAllParams, 1, 1, 1, 3};
const ArgSpec kDumpsSpec{"dumps()", kDumpsParams, 1, 1, 1, 5};
const ArgSpec kToJsonSpec{"to_json()", kToJsonParams, 1, 1, 1, 2};
const ArgSpec kSchemaRefSpec{"schema_ref()", kDataParams, 1, 1, 1, 0};
const ArgSpec kYamlVersionSpec{"yaml_version()", kDataParams, 1, 1, 1, 0};
const ArgSpec kDumpIncludesSpec{"dump_includes()", kDumpIncludesParams, 1, 1, 1, 1};
const ArgSpec kDumpIncludesMapSpec{"dump_includes_map()", kDocParams, 1, 1, 1, 0};

namespace {

template <const ArgSpec& Spec, PyObject* (*Entry)(const CallArgs&)>
PyObject* call_entry(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    // Positional arguments only (most calls): nothing to match or report,
    // and only the entry's own parameters are written (the keyword-only
    // ones absent), not the whole array.
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (!kwnames && nargs >= Spec.n_required && nargs <= Spec.n_positional) {
      CallArgs parsed{CallArgs::Unset{}};
      for (size_t i = 0; i < Spec.n_positional; ++i)
        parsed.v[i] = static_cast<Py_ssize_t>(i) < nargs ? args[i] : nullptr;
      for (size_t i = Spec.n_positional; i < size_t{Spec.n_positional} + Spec.n_kwonly; ++i) parsed.v[i] = nullptr;
      return Entry(parsed);
    }
    CallArgs parsed;
    if (!parse_args(Spec, args, nargsf, kwnames, parsed)) return nullptr;
    return Entry(parsed);
  });
}

#define QF_FUNCTION(name, spec, signature)                                                         \
  {                                                                                                \
    #name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(call_entry<spec, name##_entry>)), \
        METH_FASTCALL | METH_KEYWORDS, signature "\n--\n\n"                                        \
  }

PyMethodDef functions[] = {
    QF_FUNCTION(loads, kLoadsSpec,
                "loads(data, /, *, option=None, include_dir=None, schema=None, schema_resolver=None, "
                "tag_handler=None, tags=None, root_path=None, on_missing_secret=None, on_missing_env_var=None)"),
    QF_FUNCTION(loads_all, kLoadsAllSpec, "loads_all(data, /, *, option=None, tag_handler=None, tags=None)"),
    QF_FUNCTION(dumps, kDumpsSpec,
                "dumps(obj, /, *, default=None, option=None, serializers=None, width=None, represent=None)"),
    QF_FUNCTION(to_json, kToJsonSpec, "to_json(obj, /, *, default=None, option=None)"),
    QF_FUNCTION(schema_ref, kSchemaRefSpec, "schema_ref(data, /)"),
    QF_FUNCTION(yaml_version, kYamlVersionSpec, "yaml_version(data, /)"),
    QF_FUNCTION(dump_includes, kDumpIncludesSpec, "dump_includes(doc, /, *, include_dir=None)"),
    QF_FUNCTION(dump_includes_map, kDumpIncludesMapSpec, "dump_includes_map(doc, /)"),
};
#undef QF_FUNCTION

// Sets module.<name> = value and appends name to module.__all__ (created
// when missing). Returns false with the host exception set.
bool module_add(PyObject* module, PyObject* name, PyObject* value) {
  PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = PyRef::steal(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
  } else if (!PyList_Check(all.get())) {
    PyErr_SetString(PyExc_TypeError, "__all__ must be a list");
    return false;
  }
  if (PyList_Append(all.get(), name) < 0) {
    PyErr_Clear();
    throw InternalError("could not append __name__ to __all__");
  }
  return PyObject_SetAttr(module, name, value) == 0;
}

bool module_add(PyObject* module, const char* name, PyObject* value) {
  PyRef n = PyRef::steal(PyUnicode_FromString(name));
  if (!n) throw InternalError(std::string("could not create the name ") + name);
  return module_add(module, n.get(), value);
}

bool add_int_constant(PyObject* module, const char* name, uint64_t value) {
  PyRef v = PyRef::steal(PyLong_FromUnsignedLongLong(value));
  if (!v) throw InternalError(std::string("could not create the constant ") + name);
  return module_add(module, name, v.get());
}

bool add_class(PyObject* module, TypeCell& cell) {
  PyTypeObject* tp = cell.get();
  if (!tp) return false;
  PyRef name = PyRef::steal(PyType_GetName(tp));
  if (!name) return false;
  return module_add(module, name.get(), reinterpret_cast<PyObject*>(tp));
}

int module_exec(PyObject* module) {
  int rc = guarded_status([&]() -> int {
    if (!PyModule_Check(module)) {
      PyErr_Format(PyExc_TypeError, "expected a module object, got '%s'", Py_TYPE(module)->tp_name);
      return -1;
    }
    // The type objects and exception classes are cached for the process, so
    // a second interpreter would be handed the first one's classes. The
    // multiple-interpreters slot refuses only where the interpreter checks
    // it (and does not exist before 3.12); refuse here in every case.
    if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
      PyErr_SetString(PyExc_ImportError, "module _quillfern does not support loading in subinterpreters");
      return -1;
    }
    PyRef modname = PyRef::steal(PyModule_GetNameObject(module));
    if (!modname) return -1;
    for (PyMethodDef& def : functions) {
      PyRef fn = PyRef::steal(PyCMethod_New(&def, module, modname.get(), nullptr));
      if (!fn) return -1;
      PyRef name = PyRef::steal(PyObject_GetAttrString(fn.get(), "__name__"));
      if (!name) return -1;
      if (!PyUnicode_Check(name.get())) {
        PyErr_SetString(PyExc_TypeError, "function __name__ is not a str");
        return -1;
      }
      if (!module_add(module, name.get(), fn.get())) return -1;
    }
    for (size_t bit = 0; bit < opt::kNames.size(); ++bit) {
      if (!add_int_constant(module, opt::kNames[bit], uint64_t{1} << bit)) return -1;
    }
    TypeCell* classes[] = {
        &document_type_cell(),       &tree_node_type_cell(),       &document_view_type_cell(),
        &node_type_cell(),           &tag_type_cell(),             &annotated_dict_type_cell(),
        &annotated_list_type_cell(), &scalar_type_cell(),          &sequence_type_cell(),
        &mapping_type_cell(),
    };
    for (TypeCell* cell : classes) {
      if (!add_class(module, *cell)) return -1;
    }
    prepare_conversions();
    return 0;
  });
  return rc < 0 ? -1 : 0;
}

#ifdef Py_mod_gil
// Free-threaded builds keep the interpreter lock on while the module is
// imported: its walks over host dicts and lists are not yet made safe
// against other threads. Elsewhere the slot only states that the lock is
// not needed.
#ifdef Py_GIL_DISABLED
#define QF_MOD_GIL Py_MOD_GIL_USED
#else
#define QF_MOD_GIL Py_MOD_GIL_NOT_USED
#endif
#endif

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
#if PY_VERSION_HEX >= 0x030C0000
    // Caches (type objects, exception classes) are process-wide.
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
#if PY_VERSION_HEX >= 0x030D0000
    {Py_mod_gil, QF_MOD_GIL},
#endif
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_quillfern", "", 0, nullptr, module_slots, nullptr, nullptr, nullptr,
};

}  // namespace

}  // namespace qf::py

extern "C" {

PyMODINIT_FUNC PyInit__quillfern(void) { return PyModuleDef_Init(&qf::py::module_def); }

#ifdef Py_mod_name
// Interpreters with slot-array export hooks find the module through this;
// both hooks lead to the same module_exec.
#ifdef Py_mod_abi
// ABI record: format 1.0, flags 0x0002, no build or ABI version.
static PyABIInfo qf_abi_info = {1, 0, 0x0002, 0, 0};
#endif
static PyModuleDef_Slot qf_export_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(qf::py::module_exec)},
#ifdef Py_mod_abi
    {Py_mod_abi, &qf_abi_info},
#endif
    {Py_mod_gil, QF_MOD_GIL},
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {Py_mod_name, const_cast<char*>("_quillfern")},
    {Py_mod_doc, const_cast<char*>("")},
    {0, nullptr},
};
Py_EXPORTED_SYMBOL PyModuleDef_Slot* PyModExport__quillfern(void) { return qf_export_slots; }
#endif
}
