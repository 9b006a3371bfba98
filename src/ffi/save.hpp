// Writing round-trip documents back to their files: QuillfernDocument.save
// (a method of the document type) and the module functions dump_includes and
// dump_includes_map (entry_points.hpp). Every text is rendered first, under
// the document's shared borrow with the lock held; the borrow is then
// released and the files are written as one unit (support/atomic_file.hpp)
// with the lock released, so that other threads can edit meanwhile. An edit
// made then is not in the files written, and is written by the next save.
#pragma once
#include "ffi/py.hpp"

namespace qf::py {

// save($self, path=None): the list of paths written.
PyObject* document_save(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace qf::py
