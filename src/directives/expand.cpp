#include "directives/expand.hpp"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "directives/file_access.hpp"
#include "directives/include_paths.hpp"
#include "roundtrip/composer.hpp"
#include "roundtrip/walk.hpp"
#include "support/byte_path.hpp"
#include "support/stack_guard.hpp"
#include "support/utf8.hpp"

namespace qf::directives {

namespace {

enum class Directive : uint8_t { None, Include, DirList, DirNamed, DirMergeList, DirMergeNamed, Secret, EnvVar };

Directive directive_of(const DirectiveContext& ctx, const YamlNode& node) {
  if (!node.tag()) return Directive::None;
  const std::string_view t = *node.tag();
  if (ctx.includes) {
    if (t == "!include") return Directive::Include;
    if (t == "!include_dir_list") return Directive::DirList;
    if (t == "!include_dir_named") return Directive::DirNamed;
    if (t == "!include_dir_merge_list") return Directive::DirMergeList;
    if (t == "!include_dir_merge_named") return Directive::DirMergeNamed;
  }
  if (ctx.secrets && t == "!secret") return Directive::Secret;
  if (ctx.env_var && t == "!env_var") return Directive::EnvVar;
  return Directive::None;
}

bool blank(std::string_view s) {
  const char* p = s.data();
  const char* end = p + s.size();
  while (p < end) {
    size_t n = white_space_length(p, end);
    if (!n) return false;
    p += n;
  }
  return true;
}

// The path argument of an include form; a blank or missing one names the
// tag as written.
std::string directive_argument(const DirectiveContext& ctx, const YamlNode& node, const IncludeChain& chain) {
  if (node.is_scalar() && !blank(node.text)) return node.text.str();
  throw_directive_error(DirectiveErrorKind::Include, *node.tag() + " needs an argument",
                        source_file_path(ctx, node.span.file_id), chain);
}

void check_include_depth(const DirectiveContext& ctx, uint32_t file_id, const IncludeChain& chain) {
  if (chain.size() >= kMaxIncludeDepth)
    throw_directive_error(DirectiveErrorKind::IncludeDepth,
                          "include chain exceeds the maximum depth of " + std::to_string(kMaxIncludeDepth),
                          source_file_path(ctx, file_id), chain);
}

// Relative arguments resolve against the including file's directory.
std::string base_path(const DirectiveContext& ctx, uint32_t file_id) {
  if (file_id < ctx.files.size())
    if (std::optional<std::string> p = path::parent(ctx.files[file_id])) return std::move(*p);
  return ctx.include_dir;
}

struct FileDocuments {
  uint32_t file_id = 0;
  std::vector<YamlNode> roots;
};

FileDocuments read_included_file(DirectiveContext& ctx, const std::string& p, std::string_view naming,
                                 const IncludeChain& chain) {
  if (++ctx.files_read > kMaxIncludedFiles)
    throw_directive_error(DirectiveErrorKind::IncludeDepth,
                          "include expansion exceeded the maximum of " + std::to_string(kMaxIncludedFiles) +
                              " files (a fan-out of nested includes)",
                          p, chain);
  FileRead r = read_confined_file(p, ctx.root);
  if (r.failure == AccessFailure::Outside)
    throw_directive_error(DirectiveErrorKind::IncludeConfinement,
                          "'" + path::path_text(naming) + "' resolves outside the configured include directory", p,
                          chain);
  if (!r.ok())
    throw_directive_error(DirectiveErrorKind::IncludeNotFound,
                          "cannot read included file '" + path::path_text(naming) + "': " + r.message, p, chain);
  FileDocuments out;
  out.file_id = register_source_file(ctx, p, std::move(r.text), r.identity);
  ComposeOptions co;
  co.file_id = out.file_id;
  co.keep_comments = ctx.round_trip;
  // Write-back replaces only the first document and keeps the loaded text
  // from the second on: comments before the second document's start must
  // stay with the first.
  co.per_document_comments = ctx.round_trip;
  ComposeResult c = compose_kept_text(ctx.texts[out.file_id], co);
  if (!c.ok()) {
    DirectiveError e;
    e.kind = DirectiveErrorKind::Parse;
    e.message = std::move(c.error->message);
    e.position = c.error->span;
    e.file = p;
    e.include_stack = chain;
    throw e;
  }
  if (c.document_starts.size() > 1) ctx.second_document_offsets[out.file_id] = c.document_starts[1];
  out.roots = std::move(c.roots);
  return out;
}

IncludeChain extended(const IncludeChain& chain, std::string p, uint32_t line) {
  IncludeChain inner = chain;
  inner.push_back(IncludeFrame{std::move(p), line});
  return inner;
}

}  // namespace

void count_included_nodes(IncludedNodes& count, uint64_t unwalked, uint32_t file_id, const IncludeChain& chain) {
  DirectiveContext& ctx = count.ctx;
  const uint64_t n = unwalked + std::exchange(ctx.own_nodes, count.outer_own) +
                     std::exchange(ctx.nested_nodes, count.outer_nested);
  ctx.nested_nodes += n;
  if (n > kMaxIncludedNodes - std::min(ctx.nodes_included, kMaxIncludedNodes))
    throw_directive_error(DirectiveErrorKind::Include,
                          "included content expands to too many nodes (possible include bomb)",
                          source_file_path(ctx, file_id), chain);
  ctx.nodes_included += n;
}

uint64_t tree_size(const YamlNode& root, uint64_t limit) {
  // Leaves are counted in place, only collections wait.
  uint64_t n = 0;
  std::vector<const YamlNode*> pending;
  auto visit = [&](const YamlNode& node) {
    ++n;
    if (!node.items.empty() || !node.pairs.empty()) pending.push_back(&node);
  };
  visit(root);
  while (!pending.empty() && n <= limit) {
    const YamlNode* node = pending.back();
    pending.pop_back();
    for (const YamlNode& item : node->items) visit(item);
    for (const MappingEntry& e : node->pairs) {
      visit(e.key);
      visit(e.value);
    }
  }
  return n;
}

IncludeSource source_of(const YamlNode& directive, std::string_view tag) {
  IncludeSource s;
  s.tag = std::string(tag);
  if (directive.is_scalar()) {
    s.target = directive.text.str();
    s.target_style = directive.scalar_style;
  }
  return s;
}

namespace {

// The resolved directory of a directory form, or none when the path is not
// a directory (an absent one included: the form is then empty).
std::optional<std::string> directory_target(DirectiveContext& ctx, const YamlNode& node, const IncludeChain& chain) {
  const std::string arg = directive_argument(ctx, node, chain);
  check_include_depth(ctx, node.span.file_id, chain);
  bool absent = false;
  std::string resolved = resolve_include_path(ctx, path::join(base_path(ctx, node.span.file_id), arg), arg,
                                              node.span.file_id, chain, &absent);
  if (absent || !is_directory(resolved)) return std::nullopt;
  return resolved;
}

YamlNode include_file(DirectiveContext& ctx, const YamlNode& node, const IncludeChain& chain) {
  const std::string arg = directive_argument(ctx, node, chain);
  check_include_depth(ctx, node.span.file_id, chain);
  std::string resolved =
      resolve_include_path(ctx, path::join(base_path(ctx, node.span.file_id), arg), arg, node.span.file_id, chain);
  for (const IncludeFrame& f : chain)
    if (path::path_equal(f.path, resolved))
      throw_directive_error(DirectiveErrorKind::CircularInclude,
                            "circular include detected: '" + path::path_text(arg) + "'", resolved, chain);
  FileDocuments docs = read_included_file(ctx, resolved, arg, chain);
  IncludedNodes count(ctx);
  YamlNode result;
  if (docs.roots.empty()) {
    result = at_directive(YamlNode::mapping(), node);
  } else {
    const IncludeChain inner = extended(chain, resolved, node.span.line);
    result = expand_directives(ctx, std::move(docs.roots.front()), inner);
  }
  count_included_nodes(count, 1, node.span.file_id, chain);
  IncludeSource record = source_of(node, "!include");
  record.target_file_id = docs.file_id;
  if (result.source()) record.inner.push_back(*result.source());
  result.set_source(std::move(record));
  return result;
}

// Every document of every listed file, in listing order; `each` receives the
// entry, the file id and the file's expanded documents.
template <class F>
void for_each_listed_file(DirectiveContext& ctx, const YamlNode& node, const IncludeChain& chain, bool first_only,
                          F&& each) {
  std::optional<std::string> dir = directory_target(ctx, node, chain);
  if (!dir) return;
  for (ListedFile& entry : list_yaml_files(ctx, *dir, node.span.file_id, chain)) {
    FileDocuments docs = read_included_file(ctx, entry.path, path::path_text(entry.path), chain);
    const IncludeChain inner = extended(chain, entry.path, node.span.line);
    std::vector<YamlNode> expanded;
    for (YamlNode& root : docs.roots) {
      IncludedNodes count(ctx);
      expanded.push_back(expand_directives(ctx, std::move(root), inner));
      count_included_nodes(count, 1, node.span.file_id, chain);
      if (first_only) break;
    }
    each(entry, docs.file_id, std::move(expanded));
  }
}

YamlNode include_dir_list(DirectiveContext& ctx, const YamlNode& node, const IncludeChain& chain) {
  YamlNode seq = at_directive(YamlNode::sequence(), node);
  for_each_listed_file(ctx, node, chain, false, [&](const ListedFile&, uint32_t, std::vector<YamlNode>&& docs) {
    for (YamlNode& d : docs) seq.items.push_back(std::move(d));
  });
  return seq;
}

YamlNode include_dir_named(DirectiveContext& ctx, const YamlNode& node, const IncludeChain& chain) {
  YamlNode map = at_directive(YamlNode::mapping(), node);
  for_each_listed_file(ctx, node, chain, true,
                       [&](const ListedFile& entry, uint32_t file_id, std::vector<YamlNode>&& docs) {
                         // The stem is always a string key: 1.yaml and null.yaml give '1' and 'null', and a
                         // file named <<.yaml is no merge key.
                         YamlNode key = YamlNode::scalar(entry.stem);
                         key.set_tag("!!str");
                         key.span = Span{file_id, 0, 0, 0};
                         YamlNode value = docs.empty() ? at_directive(YamlNode::mapping(), node) : std::move(docs.front());
                         map.pairs.push_back(MappingEntry{std::move(key), std::move(value)});
                       });
  return map;
}

// Nodes taken out of an included root outlive it, and with it the text its
// texts view: they get copies of their own.
void own_texts(YamlNode& root) {
  walk_tree(root, [](YamlNode& n) {
    n.text = NodeText(n.text.sv());
    if (n.comments().raw) n.edit_comments().raw = NodeText(n.comments().raw->sv());
  });
}

YamlNode flatten_included_lists(DirectiveContext& ctx, const YamlNode& node, const IncludeChain& chain) {
  YamlNode listed = include_dir_list(ctx, node, chain);
  YamlNode seq = at_directive(YamlNode::sequence(), node);
  for (YamlNode& item : listed.items) {
    if (item.is_sequence())
      for (YamlNode& inner : item.items) {
        own_texts(inner);
        seq.items.push_back(std::move(inner));
      }
    else
      seq.items.push_back(std::move(item));
  }
  return seq;
}

YamlNode merge_included_mappings(DirectiveContext& ctx, const YamlNode& node, const IncludeChain& chain) {
  YamlNode named = include_dir_named(ctx, node, chain);
  YamlNode map = at_directive(YamlNode::mapping(), node);
  for (MappingEntry& e : named.pairs)
    if (e.value.is_mapping())
      for (MappingEntry& inner : e.value.pairs) {
        own_texts(inner.key);
        own_texts(inner.value);
        map.pairs.push_back(std::move(inner));
      }
  return map;
}

// A listing's result carries the directive that made it.
YamlNode with_source(YamlNode r, const YamlNode& node, std::string_view tag) {
  r.set_source(source_of(node, tag));
  return r;
}

YamlNode handle(DirectiveContext& ctx, Directive d, const YamlNode& node, const IncludeChain& chain) {
  switch (d) {
    case Directive::Include: return include_file(ctx, node, chain);
    case Directive::DirList: return with_source(include_dir_list(ctx, node, chain), node, "!include_dir_list");
    case Directive::DirNamed: return with_source(include_dir_named(ctx, node, chain), node, "!include_dir_named");
    case Directive::DirMergeList: return with_source(flatten_included_lists(ctx, node, chain), node, "!include_dir_merge_list");
    case Directive::DirMergeNamed: return with_source(merge_included_mappings(ctx, node, chain), node, "!include_dir_merge_named");
    case Directive::Secret: return resolve_secret(ctx, node, chain);
    case Directive::EnvVar: return resolve_env_var(ctx, node, chain);
    case Directive::None: break;
  }
  return YamlNode(node);
}

}  // namespace

YamlNode at_directive(YamlNode n, const YamlNode& directive) {
  n.span = directive.span;
  n.end_offset = directive.span.offset;
  n.end_line = directive.span.line;
  n.end_column = directive.span.column;
  return n;
}

namespace {

void expand_in_place(DirectiveContext& ctx, YamlNode& node, const IncludeChain& chain) {
  if (Directive d = directive_of(ctx, node); d != Directive::None) {
    YamlNode replacement = handle(ctx, d, node, chain);
    // An included root's own parts stay on the record for write-back of its
    // file (a tolerated missing value has no record). What the directive node
    // carried stays with it, never the other file's parts: its anchor binds
    // to the result, its comments are written back beside the directive, a
    // document root keeps its document's markers and directives.
    // The file held a document when its content was read from it, or when
    // its root was itself a directive (a chained record).
    IncludedRootFields own = take_own_fields(replacement);
    if (const std::optional<IncludeSource>& s = replacement.source();
        s && s->target_file_id && (replacement.span.file_id == *s->target_file_id || !s->inner.empty()))
      replacement.extra().source->included_root = std::move(own);
    IncludedRootFields directive = take_own_fields(node);
    if (replacement.source()) replacement.extra().source->directive_fields = directive;
    put_own_fields(replacement, std::move(directive));
    node = std::move(replacement);
    return;
  }
  // Every node passed counts towards what the directive being expanded
  // brings in; keys are never expanded, so a collection key counts whole.
  if (node.is_sequence()) {
    ctx.own_nodes += node.items.size();
    for (YamlNode& item : node.items)
      if (item.is_collection() || item.tag()) ensure_stack([&] { expand_in_place(ctx, item, chain); });
  } else if (node.is_mapping()) {
    ctx.own_nodes += node.pairs.size();
    for (MappingEntry& e : node.pairs) {
      ctx.own_nodes += e.key.is_collection() ? tree_size(e.key, kMaxIncludedNodes) : 1;
      if (e.value.is_collection() || e.value.tag()) ensure_stack([&] { expand_in_place(ctx, e.value, chain); });
    }
  }
}

}  // namespace

YamlNode expand_directives(DirectiveContext& ctx, YamlNode&& node, const IncludeChain& chain) {
  YamlNode out = std::move(node);
  expand_in_place(ctx, out, chain);
  return out;
}

}  // namespace qf::directives
