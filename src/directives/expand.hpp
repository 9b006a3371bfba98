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
// expanded, so that the directives inside count first and once.
struct IncludedNodes {
  DirectiveContext& ctx;
  uint64_t outer;
  explicit IncludedNodes(DirectiveContext& c) : ctx(c), outer(std::exchange(c.nested_nodes, 0)) {}
};
// Counts `copied`, brought in by a directive of `file_id`, against
// kMaxIncludedNodes: its own nodes, and those of the directives inside it
// as they were counted. Throws DirectiveError past it.
void count_included_nodes(IncludedNodes& count, const YamlNode& copied, uint32_t file_id,
                          const IncludeChain& chain);

// The record of the directive that produced a node.
IncludeSource source_of(const YamlNode& directive, std::string_view tag);

// A node standing at a directive's place: its span, its end at its start.
YamlNode at_directive(YamlNode n, const YamlNode& directive);

}  // namespace qf::directives
