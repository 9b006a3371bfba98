// Directive expansion over one source tree: every node tagged with an enabled
// directive is replaced by what it stands for, recorded in its `source`.
#pragma once
#include <utility>

#include "directives/context.hpp"

namespace qf::directives {

// Throws DirectiveError.
YamlNode expand_directives(DirectiveContext& ctx, YamlNode&& node, const IncludeChain& chain);

// The value handlers (secrets.cpp). Throw DirectiveError.
YamlNode resolve_secret(DirectiveContext& ctx, const YamlNode& node, const IncludeChain& chain);
YamlNode resolve_env_var(DirectiveContext& ctx, const YamlNode& node, const IncludeChain& chain);

// The count of what a directive brings in: started before its content is
// expanded, whose walk counts the nodes it passes, while the directives
// inside count what they bring in, first and once.
struct IncludedNodes {
  DirectiveContext& ctx;
  uint64_t outer_own;
  uint64_t outer_nested;
  explicit IncludedNodes(DirectiveContext& c)
      : ctx(c), outer_own(std::exchange(c.own_nodes, 0)), outer_nested(std::exchange(c.nested_nodes, 0)) {}
};
// Ends the count of a directive of `file_id`, with `unwalked` nodes the
// expansion did not pass (a root, a copy that is not expanded), against
// kMaxIncludedNodes. Throws DirectiveError past it.
void count_included_nodes(IncludedNodes& count, uint64_t unwalked, uint32_t file_id, const IncludeChain& chain);
// The nodes of a tree, counted up to `limit` and a little past it.
uint64_t tree_size(const YamlNode& root, uint64_t limit);

// The record of the directive that produced a node.
IncludeSource source_of(const YamlNode& directive, std::string_view tag);

// A node standing at a directive's place: its span, its end at its start.
YamlNode at_directive(YamlNode n, const YamlNode& directive);

}  // namespace qf::directives
