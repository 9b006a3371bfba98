// Checks one document against a JSON Schema (draft-7 keywords, local $ref)
// and reports the first violation with its instance path and position.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "decode/value.hpp"
#include "resolver/resolver.hpp"
#include "roundtrip/anchors.hpp"
#include "roundtrip/ast.hpp"
#include "schema/view.hpp"

namespace qf {

struct SchemaViolation {
  std::string message;  // "expected type string, found integer"
  std::string path;     // "$", "$.server.port", "$.hosts[2]"
  Span span;            // where the violating node starts
};

struct SchemaOutcome {
  // Aliases nest deeper than 100 or expand to more than 1,000,000 nodes:
  // the document is refused before any keyword runs.
  std::optional<ExpansionError> limit;
  std::optional<SchemaViolation> violation;
  bool ok() const noexcept { return !limit && !violation; }
};

// $ref resolutions allowed per validation: a base plus a share per node the
// validator sees, so large valid documents never run out while a cyclic
// schema still ends.
inline constexpr uint64_t kRefBudgetBase = 100000;
inline constexpr uint64_t kRefBudgetPerNode = 64;
inline constexpr uint64_t kMaxRefDepth = 128;

// Validates `root` against `schema`; scalars are typed under `mode` and merge
// keys recognised by `rule`. `aliases` false promises that the tree holds no
// alias (its text has no "*"), which saves two walks. Touches no host object.
SchemaOutcome validate_document(const YamlNode& root, const Value& schema, ResolverMode mode, MergeKeyRule rule,
                                bool aliases = true);

// "schema validation failed: {} at {} (line {}, column {})"
std::string schema_failure_message(const SchemaViolation& v);

}  // namespace qf
