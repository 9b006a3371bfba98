// Weak placeholders for the module functions that have not landed yet. A
// definition of the same entry in its own file overrides one of these at
// link time; delete the placeholder when that happens.
#include "ffi/entry_points.hpp"
#include "ffi/loads_args.hpp"

namespace qf::py {

namespace {
PyObject* not_yet(const char* name) {
  PyErr_Format(PyExc_NotImplementedError, "%s() is not available yet", name);
  return nullptr;
}
}  // namespace

// loads and loads_all convert their arguments first so that argument errors
// already read as they will.
[[gnu::weak]] PyObject* loads_entry(const CallArgs& args) {
  LoadsArguments a;
  if (!extract_loads_arguments(args, a)) return nullptr;
  return not_yet("loads");
}

[[gnu::weak]] PyObject* loads_all_entry(const CallArgs& args) {
  LoadsAllArguments a;
  if (!extract_loads_all_arguments(args, a)) return nullptr;
  return not_yet("loads_all");
}

[[gnu::weak]] PyObject* dumps_entry(const CallArgs&) { return not_yet("dumps"); }
[[gnu::weak]] PyObject* to_json_entry(const CallArgs&) { return not_yet("to_json"); }
[[gnu::weak]] PyObject* schema_ref_entry(const CallArgs&) { return not_yet("schema_ref"); }
[[gnu::weak]] PyObject* dump_includes_entry(const CallArgs&) { return not_yet("dump_includes"); }
[[gnu::weak]] PyObject* dump_includes_map_entry(const CallArgs&) { return not_yet("dump_includes_map"); }

}  // namespace qf::py
