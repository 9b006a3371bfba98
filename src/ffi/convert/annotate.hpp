// Annotated results: source trees to QuillfernAnnotatedDict and
// QuillfernAnnotatedList and the package's annotated scalar classes, every
// value carrying where its node came from (file, 1-based start and end line
// and column, byte offsets, style, and the tag or directive that produced
// it). Runs with the interpreter lock held; results as in
// roundtrip_values.hpp (new reference, or nullptr with the exception set).
#pragma once
#include <string>
#include <vector>

#include "ffi/convert/decode.hpp"
#include "ffi/convert/roundtrip_values.hpp"
#include "ffi/py.hpp"
#include "roundtrip/ast.hpp"

namespace qf::py {

struct AnnotateSettings {
  ValueSettings values;  // resolver mode and timestamp switch
  bool annotate_numbers = false;  // 64-bit ints and floats annotated too
};

// File names by file id, as text; a node whose file id has no entry gets
// `file` None.
using FileNames = std::vector<std::string>;

// One node with the caller's alias scope and anchor cache.
// With `handles`, tags are read with the document's %TAG handles expanded
// (the source tags stay as written).
PyObject* node_to_annotated_python(const YamlNode& node, const FileNames& files, const AnnotateSettings& s,
                                   const TagContext& ctx, AliasScope& scope, AnchorObjectCache& cache,
                                   const TagHandles* handles = nullptr);
// A document root with a fresh scope and cache and the root's %TAG handles.
PyObject* annotated_tree_to_python(const YamlNode& root, const FileNames& files, const AnnotateSettings& s,
                                   const TagContext& ctx);

enum class AnnotatedScalarClass : uint8_t { Str, Int, Float };

// The package's class (borrowed), looked up in `quillfern` on first use and
// kept for the process: the first one stored wins, a failed lookup stores
// nothing (nullptr with the exception set) and the next use tries again.
PyObject* annotated_scalar_class(AnnotatedScalarClass which);

}  // namespace qf::py
