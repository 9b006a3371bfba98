#include "directives/context.hpp"

#include <utility>

#include "directives/expand.hpp"
#include "directives/file_access.hpp"
#include "roundtrip/composer.hpp"
#include "support/byte_path.hpp"

namespace qf::directives {

DirectiveContext new_directive_context(std::string include_dir, bool includes, bool secrets, bool env_var) {
  DirectiveContext ctx;
  Canonical c = canonicalize(include_dir);
  ctx.root_ok = c.ok();
  ctx.root = c.ok() ? std::move(c.path) : path::normalize_path(include_dir);
  ctx.include_dir = std::move(include_dir);
  ctx.includes = includes;
  ctx.secrets = secrets;
  ctx.env_var = env_var;
  return ctx;
}

uint32_t register_source_file(DirectiveContext& ctx, std::string p, std::string text,
                              std::optional<FileIdentity> identity) {
  const auto id = static_cast<uint32_t>(ctx.files.size());
  ctx.files.push_back(std::move(p));
  ctx.texts.push_back(std::make_shared<const std::string>(std::move(text)));
  ctx.second_document_offsets.emplace_back();
  ctx.identities.push_back(identity);
  return id;
}

const std::string& source_file_path(const DirectiveContext& ctx, uint32_t file_id) {
  return file_id < ctx.files.size() ? ctx.files[file_id] : ctx.include_dir;
}

DirectiveLoad load_with_directives(DirectiveContext& ctx, std::string_view text,
                                   const std::optional<std::string>& root_path) {
  DirectiveLoad out;
  std::string root = root_path ? *root_path : path::join(ctx.include_dir, "<root>");
  register_source_file(ctx, root, std::string(text));
  ComposeOptions co;
  co.keep_empty = !ctx.round_trip;
  co.keep_comments = ctx.round_trip;
  ComposeResult c = compose_kept_text(ctx.texts[0], co);
  if (!c.ok()) {
    DirectiveError e;
    e.kind = DirectiveErrorKind::Parse;
    e.message = std::move(c.error->message);
    e.position = c.error->span;
    e.file = std::move(root);
    out.error = std::move(e);
    return out;
  }
  if (c.document_starts.size() > 1) ctx.second_document_offsets[0] = c.document_starts[1];
  try {
    out.docs.reserve(c.roots.size());
    for (YamlNode& r : c.roots) out.docs.push_back(expand_directives(ctx, std::move(r), {}));
  } catch (DirectiveError& e) {
    out.docs.clear();
    out.error = std::move(e);
  }
  return out;
}

}  // namespace qf::directives
