// Where a directive's path leads: resolution with confinement to the include
// root, and the ordered listing of a directory's YAML files.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "directives/context.hpp"

namespace qf::directives {

// The path to read for `candidate`, judged by where it finally leads.
// `naming` is the text that names it in messages. A path that walks through
// a name that does not exist is not found (an error), or, with `absent`,
// sets it and returns nothing. Throws DirectiveError.
std::string resolve_include_path(DirectiveContext& ctx, std::string candidate, std::string_view naming,
                                 uint32_t file_id, const IncludeChain& chain, bool* absent = nullptr);

struct ListedFile {
  std::string stem;  // the listed name without its last extension, as text
  std::string path;  // resolved
};
// The YAML files under a resolved directory: names sorted bytewise, hidden
// names skipped, files before subdirectories (with the recursive option, in
// pre-order, each real directory once). Throws DirectiveError.
std::vector<ListedFile> list_yaml_files(DirectiveContext& ctx, const std::string& dir, uint32_t file_id,
                                        const IncludeChain& chain);

[[noreturn]] void throw_directive_error(DirectiveErrorKind kind, std::string message, std::string file,
                                        const IncludeChain& chain);

}  // namespace qf::directives
