// dumps and to_json of round-trip objects: a QuillfernDocument renders itself
// (its own settings; the call's options have no effect) and a view, or for
// to_json a document, is first turned into plain objects by its to_dict.
#pragma once
#include "ffi/py.hpp"
#include "ffi/pyref.hpp"

namespace qf::py {

// Steps of dumps for `obj`. Returns false with the host exception set. On
// success either `rendered` holds the finished bytes (a document), or `obj`
// was replaced by the plain value of a view (kept alive by `holder`), or
// nothing changed.
bool dumps_round_trip_object(PyObject*& obj, PyRef& holder, PyRef& rendered);

// Steps of to_json for `obj`: a document without documents gives the bytes
// "null" in `rendered`; a document or view is replaced by its to_dict().
bool to_json_round_trip_object(PyObject*& obj, PyRef& holder, PyRef& rendered);

}  // namespace qf::py
