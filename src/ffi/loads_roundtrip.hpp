// The round-trip roads of loads and loads_all: the text composed into source
// trees that keep comments, styles and positions, the post-parse pass, and
// QuillfernDocument results that keep the loaded text for byte-for-byte
// rendering.
#pragma once
#include "ffi/input_text.hpp"
#include "ffi/load_settings.hpp"
#include "ffi/py.hpp"

namespace qf::py {

// One QuillfernDocument holding every document of the stream (none for an
// empty stream), its first document validated against `schema` when given.
// nullptr with the host exception set on failure.
PyObject* loads_round_trip(const InputText& text, const LoadSettings& s, PyObject* schema = nullptr);

// A list with one QuillfernDocument per document, each holding its own slice
// of the text: the slices joined give back the whole text.
PyObject* loads_all_round_trip(const InputText& text, const LoadSettings& s);

}  // namespace qf::py
