// Directive expansion over one source tree: every node tagged with an enabled
// directive is replaced by what it stands for, recorded in its `source`.
#pragma once
#include "directives/context.hpp"

namespace qf::directives {

// Throws DirectiveError.
YamlNode expand_directives(DirectiveContext& ctx, YamlNode&& node, const IncludeChain& chain);

// The value handlers (secrets.cpp). Throw DirectiveError.
YamlNode resolve_secret(DirectiveContext& ctx, const YamlNode& node, const IncludeChain& chain);
YamlNode resolve_env_var(DirectiveContext& ctx, const YamlNode& node, const IncludeChain& chain);

// Counts the nodes of `copied`, brought in by a directive of `file_id`,
// against kMaxIncludedNodes. Throws DirectiveError past it.
void count_included_nodes(DirectiveContext& ctx, const YamlNode& copied, uint32_t file_id,
                          const IncludeChain& chain);

// The record of the directive that produced a node.
IncludeSource source_of(const YamlNode& directive, std::string_view tag);

// A node standing at a directive's place: its span, its end at its start.
YamlNode at_directive(YamlNode n, const YamlNode& directive);

}  // namespace qf::directives
