// Weak placeholders for the module functions that have not landed yet. A
// definition of the same entry in its own file overrides one of these at
// link time; delete the placeholder when that happens.
#include "ffi/entry_points.hpp"

namespace qf::py {

namespace {
PyObject* not_yet(const char* name) {
  PyErr_Format(PyExc_NotImplementedError, "%s() is not available yet", name);
  return nullptr;
}
}  // namespace

[[gnu::weak]] PyObject* dump_includes_entry(const CallArgs&) { return not_yet("dump_includes"); }
[[gnu::weak]] PyObject* dump_includes_map_entry(const CallArgs&) { return not_yet("dump_includes_map"); }

}  // namespace qf::py
