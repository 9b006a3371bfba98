// Anchors and aliases of source trees. An alias refers to the nearest
// preceding complete definition of its name within its own document (as the
// loaders read it); the resolver records that link for every alias, and
// expansion copies a subtree with every alias replaced by a copy of what it
// refers to, under an alias-depth limit and a node budget that fail loudly.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "roundtrip/ast.hpp"
#include "roundtrip/paths.hpp"
#include "scanner/token.hpp"

namespace qf {

inline constexpr uint32_t kMaxAliasExpansionDepth = 100;
inline constexpr uint64_t kAliasExpansionBudget = 1'000'000;

// For every alias node of the given roots (each root one document), the node
// it refers to. Borrows the trees: rebuild after any edit.
class AnchorResolver {
 public:
  AnchorResolver() = default;
  explicit AnchorResolver(const std::vector<YamlNode>& roots);
  void add_document(const YamlNode& root);

  // The anchored node an alias refers to; nullptr when its name has no
  // earlier definition in its document (or the node is not an alias of
  // these trees).
  const YamlNode* target(const YamlNode& alias) const;
  // Follows aliases until a non-alias node; nullptr on a dangling alias.
  const YamlNode* final_target(const YamlNode& node) const;
  // The node an alias `*name` standing in place of `at` (a node of the
  // document `root`) would refer to, or nullptr.
  static const YamlNode* target_at(const YamlNode& root, const YamlNode& at, std::string_view name);

 private:
  std::unordered_map<const YamlNode*, const YamlNode*> targets_;
};

struct ExpansionError {
  std::string message;
  Span span;
};

struct ExpansionBudget {
  uint64_t remaining = kAliasExpansionBudget;
};
// "alias expansion exceeded the budget of 1000000 nodes"
std::string expansion_budget_message();

// A copy of `node` in which every alias is replaced by the expanded copy of
// the node it refers to. Copies keep scalar text and style, tag and the whole
// location (start and end); anchors, comments, collection style and include
// sources are dropped. A dangling alias becomes a Null keeping the alias's position.
// Fails when aliases nest deeper than 100 or the copy exceeds the budget.
struct ExpansionResult {
  YamlNode node;
  std::optional<ExpansionError> error;
  bool ok() const noexcept { return !error.has_value(); }
};
ExpansionResult expand_aliases(const YamlNode& node, const AnchorResolver& resolver, ExpansionBudget& budget);
// The copy that replaces an alias when it is detached: keeps comments
// (modified mark included) and collection style, drops anchors. A secret or
// an environment value keeps its directive record: its copy is written as
// the directive, never as the value.
ExpansionResult expand_aliases_for_detach(const YamlNode& node, const AnchorResolver& resolver,
                                          ExpansionBudget& budget);

// Expanded copies of every node some alias of the roots refers to, built with
// one shared budget; lookups go through the alias node.
struct ExpandedAnchorMap {
  const YamlNode* expanded(const YamlNode& alias) const;
  const AnchorResolver& resolver() const noexcept { return resolver_; }

  AnchorResolver resolver_;
  std::unordered_map<const YamlNode*, YamlNode> copies_;  // target -> copy
};
struct ExpandedAnchorMapBuild {
  ExpandedAnchorMap map;
  std::optional<ExpansionError> error;
  bool ok() const noexcept { return !error.has_value(); }
};
ExpandedAnchorMapBuild build_expanded_anchor_map(const std::vector<YamlNode>& roots);

// Path of the definition an alias at `alias` would refer to (the nearest
// complete definition before it), or, without an alias, of the first
// definition of the name in the document. Only entries with scalar keys are
// searched; an anchored scalar key is reached with a KeyNode step.
std::optional<NodePath> find_anchor_definition(const YamlNode& root, std::string_view name,
                                               const YamlNode* alias = nullptr);
// The path of `node` (by identity) from `root`, or nothing when no path
// reaches it (it lies below an entry whose key is not a scalar).
std::optional<NodePath> path_of_node(const YamlNode& root, const YamlNode& node);
// Paths of the aliases with that name, in document order.
std::vector<NodePath> collect_aliases_with_paths(const YamlNode& root, std::string_view name);
// Paths of the aliases that refer to this anchored node.
std::vector<NodePath> collect_aliases_of(const YamlNode& root, const YamlNode& anchored,
                                         const AnchorResolver& resolver);
// Every anchored node with its path, in document order (a name defined twice
// gives two pairs).
std::vector<std::pair<std::string, NodePath>> collect_anchors_with_paths(const YamlNode& root);

}  // namespace qf
