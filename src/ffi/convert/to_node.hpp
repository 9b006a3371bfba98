// Host values to source nodes: what item assignment puts into a round-trip
// document. Rules in a fixed order (None, booleans, integers, floats,
// strings, lists, dicts); a string gets the style that keeps its meaning
// under the document's resolver mode.
#pragma once
#include <cstdint>

#include "ffi/py.hpp"
#include "resolver/resolver.hpp"
#include "roundtrip/ast.hpp"

namespace qf::py {

// Nodes deeper than this are refused (a list that contains itself meets the
// limit). `depth` is the level the value is put at: 0 for a document root,
// so a value put lower in a tree has fewer levels of its own.
inline constexpr uint32_t kMaxAssignDepth = 999;

struct ToNodeSettings {
  bool prefer_double_quotes = true;
  ResolverMode mode = ResolverMode::Yaml12;
  // The document reads plain timestamps as dates: a string that looks like
  // one must be quoted to stay a string.
  bool timestamps = false;
};

// Plain when the text reads back as the same string; otherwise double
// quotes, or single quotes when preferred and the text fits on one line
// without a single quote.
ScalarStyle scalar_style_for_assigned_str(std::string_view text, bool prefer_double_quotes, ResolverMode mode,
                                          bool timestamps = false);

// The node tree of a host value: positions zero, no comments, anchor or tag;
// `synthetic` only on the Null of None. Throws ErrorAlreadySet with:
// ValueError "value is too deeply nested to assign (possible self-reference)"
// past the depth limit, TypeError "cannot convert {repr} to a YAML node" for
// any other type, or the host's own error (a failing repr, a dict or list
// that cannot be read). Requires the interpreter lock.
YamlNode python_to_node(PyObject* value, const ToNodeSettings& settings, uint32_t depth = 0);

}  // namespace qf::py
