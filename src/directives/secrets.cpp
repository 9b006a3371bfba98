// The value directives: !secret from the nearest secrets.yaml up to the
// include root, !env_var from the process environment.
#include <cstdlib>
#include <string_view>
#include <utility>

#include "directives/expand.hpp"
#include "directives/file_access.hpp"
#include "directives/include_paths.hpp"
#include "roundtrip/composer.hpp"
#include "support/byte_path.hpp"
#include "support/utf8.hpp"

namespace qf::directives {

namespace {

bool contains_secret_tag(const YamlNode& node) {
  std::vector<const YamlNode*> stack{&node};
  while (!stack.empty()) {
    const YamlNode* n = stack.back();
    stack.pop_back();
    if (n->tag() && *n->tag() == "!secret") return true;
    for (const YamlNode& i : n->items) stack.push_back(&i);
    for (const MappingEntry& e : n->pairs) {
      stack.push_back(&e.key);
      stack.push_back(&e.value);
    }
  }
  return false;
}

bool equals_debug_ignore_case(std::string_view s) {
  if (s.size() != 5) return false;
  for (size_t i = 0; i < 5; ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != "debug"[i]) return false;
  }
  return true;
}

[[noreturn]] void invalid_secrets(std::string message, const std::string& candidate) {
  throw_directive_error(DirectiveErrorKind::Include, std::move(message), candidate, {});
}

std::unique_ptr<SecretsFile> load_secrets_file(DirectiveContext& ctx, const std::string& candidate) {
  auto out = std::make_unique<SecretsFile>();
  Canonical c = canonicalize(candidate);
  if (!c.ok() || !path::is_inside(c.path, ctx.root)) return out;
  // Anything unreadable, not a regular file, or opened outside the root is
  // skipped like an absent file.
  FileRead r = read_confined_file(c.path, ctx.root);
  if (!r.ok()) return out;
  const uint32_t id = register_source_file(ctx, candidate, std::move(r.text));
  ComposeOptions co;
  co.file_id = id;
  co.keep_comments = false;
  ComposeResult composed = compose_kept_text(ctx.texts[id], co);
  if (!composed.ok()) invalid_secrets("invalid secrets.yaml: " + composed.error->message, candidate);
  if (composed.roots.empty() || composed.roots.front().is_null()) return out;
  out->root = std::move(composed.roots.front());
  if (!out->root.is_mapping()) invalid_secrets("secrets.yaml does not contain a dictionary", candidate);
  for (const MappingEntry& e : out->root.pairs) {
    if (contains_secret_tag(e.value)) invalid_secrets("secrets not supported in a secrets.yaml file", candidate);
    if (!e.key.is_scalar()) continue;
    if (e.key.text == "logger") {
      if (!e.value.is_scalar() || !equals_debug_ignore_case(e.value.text))
        ctx.warnings.emplace_back("secrets.yaml: 'logger: debug' expected, but a different value was found");
      continue;
    }
    out->values[e.key.text.str()] = &e.value;
  }
  out->anchors.add_document(out->root);
  return out;
}

const SecretsFile& secrets_at(DirectiveContext& ctx, const std::string& candidate) {
  auto it = ctx.secrets_cache.find(candidate);
  if (it != ctx.secrets_cache.end()) return *it->second;
  std::unique_ptr<SecretsFile> loaded = load_secrets_file(ctx, candidate);
  return *ctx.secrets_cache.emplace(candidate, std::move(loaded)).first->second;
}

// A missing value that is tolerated: recorded, and null in its place.
YamlNode missing_value(std::vector<MissingValue>& list, const DirectiveContext& ctx, std::string name,
                       const YamlNode& node) {
  list.push_back(MissingValue{std::move(name), source_file_path(ctx, node.span.file_id), node.span.line});
  return YamlNode::null_at(node.span);
}

}  // namespace

YamlNode resolve_secret(DirectiveContext& ctx, const YamlNode& node, const IncludeChain& chain) {
  const std::string name = node.is_scalar() ? node.text.str() : std::string();
  // A copy: reading secrets files grows the file table.
  const std::string file = source_file_path(ctx, node.span.file_id);
  std::string dir = ctx.root;
  if (Canonical c = canonicalize(file); c.ok())
    if (std::optional<std::string> p = path::parent(c.path)) dir = std::move(*p);
  while (ctx.root_ok && path::is_inside(dir, ctx.root)) {
    const SecretsFile& sf = secrets_at(ctx, path::join(dir, "secrets.yaml"));
    if (auto v = sf.values.find(name); v != sf.values.end()) {
      // Aliases expand within the secrets file; its anchors stay there.
      ExpansionBudget budget;
      ExpansionResult copy = expand_aliases_for_detach(*v->second, sf.anchors, budget);
      if (!copy.ok())
        throw_directive_error(DirectiveErrorKind::Include, "invalid secrets.yaml: " + copy.error->message,
                              source_file_path(ctx, v->second->span.file_id), {});
      IncludedNodes count(ctx);
      count_included_nodes(count, tree_size(copy.node, kMaxIncludedNodes), node.span.file_id, chain);
      YamlNode out = at_directive(std::move(copy.node), node);
      out.set_anchor(std::nullopt);
      out.set_source(source_of(node, "!secret"));
      // The copy's texts view the secrets file's text, which the cache
      // releases at the end of the load.
      out.keep_text(sf.root.kept_text());
      return out;
    }
    if (path::path_equal(dir, ctx.root)) break;
    std::optional<std::string> up = path::parent(dir);
    if (!up) break;
    dir = std::move(*up);
  }
  if (ctx.tolerate_missing_secrets) return missing_value(ctx.missing_secrets, ctx, name, node);
  DirectiveError e;
  e.kind = DirectiveErrorKind::SecretNotFound;
  e.message = "secret '" + name + "' is not defined in any secrets.yaml";
  e.position = node.span;
  e.file = file;
  e.include_stack = chain;
  throw e;
}

namespace {

// The variable's value when it is defined and valid Unicode. A name that is
// empty or holds "=" or NUL names no variable (getenv would read a prefix).
std::optional<std::string> environment_value(std::string_view name) {
  if (name.empty() || name.find('=') != std::string_view::npos || name.find('\0') != std::string_view::npos)
    return std::nullopt;
  const char* v = std::getenv(std::string(name).c_str());
  if (!v) return std::nullopt;
  std::string value(v);
  if (!check_utf8(value).ok) return std::nullopt;
  return value;
}

std::vector<std::string_view> white_space_words(std::string_view s) {
  std::vector<std::string_view> words;
  const char* p = s.data();
  const char* end = p + s.size();
  while (p < end) {
    while (p < end) {
      size_t n = white_space_length(p, end);
      if (!n) break;
      p += n;
    }
    const char* start = p;
    while (p < end && !white_space_length(p, end)) p += utf8_sequence_length(static_cast<unsigned char>(*p));
    if (p > end) p = end;
    if (p > start) words.emplace_back(start, static_cast<size_t>(p - start));
  }
  return words;
}

}  // namespace

YamlNode resolve_env_var(DirectiveContext& ctx, const YamlNode& node, const IncludeChain& chain) {
  const std::string arg = node.is_scalar() ? node.text.str() : std::string();
  const std::vector<std::string_view> words = white_space_words(arg);
  std::string value;
  if (words.size() == 1) {
    std::optional<std::string> v = environment_value(words[0]);
    if (!v) {
      if (ctx.tolerate_missing_env_vars) return missing_value(ctx.missing_env_vars, ctx, std::string(words[0]), node);
      DirectiveError e;
      e.kind = DirectiveErrorKind::EnvVar;
      e.message = "environment variable " + std::string(words[0]) + " is not defined";
      e.position = node.span;
      e.file = source_file_path(ctx, node.span.file_id);
      e.include_stack = chain;
      throw e;
    }
    value = std::move(*v);
  } else if (words.size() > 1) {
    if (std::optional<std::string> v = environment_value(words[0])) {
      value = std::move(*v);
    } else {
      for (size_t i = 1; i < words.size(); ++i) {
        if (i > 1) value.push_back(' ');
        value.append(words[i]);
      }
    }
  }
  YamlNode out = at_directive(YamlNode::scalar(std::move(value), ScalarStyle::SingleQuoted), node);
  out.set_source(source_of(node, "!env_var"));
  return out;
}

}  // namespace qf::directives
