// Schema validation for the loading roads: the schema host object converted
// to a Value, the first document checked, the first violation raised as
// QuillfernSchemaError with schema_path, line and column.
#pragma once
#include <optional>
#include <string_view>
#include <vector>

#include "ffi/py.hpp"
#include "resolver/resolver.hpp"
#include "roundtrip/ast.hpp"
#include "schema/view.hpp"

namespace qf::py {

// The one entry of every road that holds source trees (round trip,
// annotated, directives): validates the first root against `schema`, with
// scalars typed under `mode` (the mode that builds the result) and merges
// carried out as `rule`, the road that builds the result, does them. No
// schema, no root or an empty first document: nothing happens and the schema
// is not even converted. `source`, when given, is the one text the roots were
// composed from (it spares the alias walks when it holds no "*"). Throws the
// host error on failure: the schema's conversion error, QuillfernParseError
// when aliases nest or expand beyond the limits, or QuillfernSchemaError.
void validate_roots(const std::vector<YamlNode>& roots, PyObject* schema, ResolverMode mode, MergeKeyRule rule,
                    std::optional<std::string_view> source = std::nullopt);

// The plain road: composes the first document of `text` (already accepted by
// the fast loader) and validates it as the loader read it. An empty first
// document is not validated.
void validate_text(std::string_view text, PyObject* schema, ResolverMode mode);

}  // namespace qf::py
