#include "directives/include_paths.hpp"

#include <algorithm>
#include <cerrno>
#include <set>
#include <utility>

#include "directives/file_access.hpp"
#include "support/byte_path.hpp"

namespace qf::directives {

void throw_directive_error(DirectiveErrorKind kind, std::string message, std::string file,
                           const IncludeChain& chain) {
  DirectiveError e;
  e.kind = kind;
  e.message = std::move(message);
  e.file = std::move(file);
  e.include_stack = chain;
  throw e;
}

namespace {

[[noreturn]] void outside(const DirectiveContext& ctx, std::string_view naming, uint32_t file_id,
                          const IncludeChain& chain) {
  throw_directive_error(DirectiveErrorKind::IncludeConfinement,
                        "'" + path::path_text(naming) + "' resolves outside the configured include directory",
                        source_file_path(ctx, file_id), chain);
}

[[noreturn]] void not_readable(const DirectiveContext& ctx, std::string_view naming, std::string_view why,
                               uint32_t file_id, const IncludeChain& chain) {
  throw_directive_error(DirectiveErrorKind::IncludeNotFound,
                        "cannot read included file '" + path::path_text(naming) + "': " + std::string(why),
                        source_file_path(ctx, file_id), chain);
}

bool missing(int err) { return err == ENOENT || err == ENOTDIR; }

// A path that does not exist: its longest existing prefix made canonical,
// the rest appended, the whole normalised. Keeps a link to the include
// directory judged as the directory it names. A path that goes on past a
// name that does not resolve inside the root leads nowhere, whatever
// follows (as open() would say): `through` receives the error of that name
// and nothing is returned, so ".." after it cannot probe what lies beyond.
std::string physical_missing_path(const std::string& absolute, const std::string& root, int& err, int& through) {
  std::vector<std::string_view> names = path::components(absolute);
  int next_error = ENOENT;  // of the prefix one name longer than the one tried
  for (size_t keep = names.size(); keep-- > 0;) {
    std::string prefix = "/";
    for (size_t i = 0; i < keep; ++i) prefix = path::join(prefix, names[i]);
    Canonical c = canonicalize(prefix);
    if (!c.ok()) {
      if (!missing(c.error)) {
        err = c.error;
        return {};
      }
      next_error = c.error;
      continue;
    }
    if (keep + 1 < names.size() && path::is_inside(c.path, root)) {
      through = next_error;
      return {};
    }
    std::string out = c.path;
    for (size_t i = keep; i < names.size(); ++i) out = path::join(out, names[i]);
    return path::normalize_path(out);
  }
  return path::normalize_path(absolute);
}

}  // namespace

std::string resolve_include_path(DirectiveContext& ctx, std::string candidate, std::string_view naming,
                                 uint32_t file_id, const IncludeChain& chain, bool* absent) {
  if (candidate.find('\0') != std::string::npos)
    not_readable(ctx, naming, "path contains a NUL byte", file_id, chain);
  if (!ctx.root_ok) outside(ctx, naming, file_id, chain);
  Canonical c = canonicalize(candidate);
  if (c.ok()) {
    if (!path::is_inside(c.path, ctx.root)) outside(ctx, naming, file_id, chain);
    return std::move(c.path);
  }
  if (!missing(c.error)) not_readable(ctx, naming, os_error_text(c.error), file_id, chain);
  std::string absolute = candidate;
  if (!path::is_absolute(absolute)) {
    std::optional<std::string> cwd = current_directory();
    if (!cwd) outside(ctx, naming, file_id, chain);  // nothing relative can be judged
    absolute = path::join(*cwd, absolute);
  }
  int err = 0;
  int through = 0;
  std::string resolved = physical_missing_path(absolute, ctx.root, err, through);
  if (err) not_readable(ctx, naming, os_error_text(err), file_id, chain);
  if (through) {
    if (absent) {
      *absent = true;
      return {};
    }
    not_readable(ctx, naming, os_error_text(through), file_id, chain);
  }
  if (!path::is_inside(resolved, ctx.root)) outside(ctx, naming, file_id, chain);
  if (is_symlink_entry(resolved)) not_readable(ctx, naming, "not found", file_id, chain);
  return resolved;
}

namespace {

std::string_view extension(std::string_view name) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return {};
  return name.substr(dot + 1);
}

}  // namespace

std::vector<ListedFile> list_yaml_files(DirectiveContext& ctx, const std::string& dir, uint32_t file_id,
                                        const IncludeChain& chain) {
  std::vector<ListedFile> out;
  std::vector<std::string> stack{dir};
  std::set<std::pair<dev_t, ino_t>> seen;
  while (!stack.empty()) {
    std::string current = std::move(stack.back());
    stack.pop_back();
    DirRead listing = list_confined_directory(current, ctx.root);
    if (listing.failure == AccessFailure::Outside) outside(ctx, current, file_id, chain);
    if (!listing.ok())
      throw_directive_error(DirectiveErrorKind::IncludeNotFound, "cannot read directory: " + listing.message,
                            current, chain);
    // A link back to a directory of this walk lists it once.
    if (!seen.emplace(listing.device, listing.inode).second) continue;
    std::sort(listing.names.begin(), listing.names.end(), path::name_less);
    std::vector<std::string> subdirs;
    for (const std::string& name : listing.names) {
      if (name.front() == '.') continue;
      std::string entry = path::join(current, name);
      if (is_directory(entry)) {
        if (!ctx.include_dir_recursive) continue;
        subdirs.push_back(resolve_include_path(ctx, entry, entry, file_id, chain));
        continue;
      }
      std::string_view ext = extension(name);
      if (ext != "yaml" && ext != "yml") continue;
      if (ctx.secrets && name == "secrets.yaml") continue;
      std::string resolved = resolve_include_path(ctx, entry, entry, file_id, chain);
      out.push_back(ListedFile{path::path_text(std::string_view(name).substr(0, name.size() - ext.size() - 1)),
                               std::move(resolved)});
    }
    for (auto it = subdirs.rbegin(); it != subdirs.rend(); ++it) stack.push_back(std::move(*it));
  }
  return out;
}

}  // namespace qf::directives
