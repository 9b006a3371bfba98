// The source-tree roads of loads and loads_all without OPT_ROUND_TRIP: the
// text composed into source trees, checked, and converted into annotated
// results (OPT_ANNOTATED) or plain host objects.
#pragma once
#include <optional>
#include <string>

#include "ffi/convert/decode.hpp"
#include "ffi/input_text.hpp"
#include "ffi/load_settings.hpp"
#include "ffi/py.hpp"

namespace qf::py {

// The first document (None for an empty stream). `root_path` names the main
// text in the results (kept in the file system encoding). `schema`, when not
// null, validates the first document before anything is converted.
PyObject* loads_source_tree(const InputText& text, const LoadSettings& s, const TagContext& ctx,
                            const std::optional<std::string>& root_path, PyObject* schema);

// Every document's annotated result, in a new list; anchors stay within their
// document.
PyObject* loads_all_annotated(const InputText& text, const LoadSettings& s, const TagContext& ctx);

}  // namespace qf::py
