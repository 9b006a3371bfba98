// The state of one directive-enabled load and its entry point: the include
// root, every file read (the file table of the result), the secrets cache,
// the read counter, and the warnings and missing values gathered for the
// driver to report once expansion has succeeded.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "directives/directive_error.hpp"
#include "roundtrip/anchors.hpp"
#include "roundtrip/ast.hpp"
#include "support/file_identity.hpp"

namespace qf::directives {

inline constexpr uint32_t kMaxIncludeDepth = 50;
inline constexpr uint64_t kMaxIncludedFiles = 10000;
// Nodes that directives bring into one call's result, counted per directive
// (a file included by an included file counts again with its includer), as
// alias copies are counted on the plain road: few files can otherwise expand
// to more nodes than memory holds.
inline constexpr uint64_t kMaxIncludedNodes = 10'000'000;

struct MissingValue {
  std::string name;
  std::string file;
  uint32_t line = 0;  // 0-based
};

// One candidate secrets.yaml: its first document, kept whole so a secret's
// aliases expand within it.
struct SecretsFile {
  YamlNode root;
  AnchorResolver anchors;
  std::unordered_map<std::string, const YamlNode*> values;
};

struct DirectiveContext {
  std::string include_dir;
  // The canonical include directory. When it cannot be made canonical,
  // nothing lies inside it (`root_ok` false): every path directive refuses.
  std::string root;
  bool root_ok = false;
  std::vector<std::string> files;  // by file id; 0 is the main text
  // Per file id: the text read, which the composed roots view.
  std::vector<std::shared_ptr<const std::string>> texts;
  // Per file id: where a file's second document starts, when it has one
  // (write-back replaces only the first).
  std::vector<std::optional<uint64_t>> second_document_offsets;
  // Per file id: the file read (none for the main text).
  std::vector<std::optional<FileIdentity>> identities;
  std::vector<std::string> warnings;
  std::vector<MissingValue> missing_secrets;
  std::vector<MissingValue> missing_env_vars;
  std::unordered_map<std::string, std::unique_ptr<SecretsFile>> secrets_cache;
  uint64_t files_read = 0;
  uint64_t nodes_included = 0;  // against kMaxIncludedNodes
  // The expansion under way: the nodes its walk passed, and what the
  // directives inside it brought in.
  uint64_t own_nodes = 0;
  uint64_t nested_nodes = 0;
  bool includes = false;
  bool secrets = false;
  bool env_var = false;
  bool include_dir_recursive = false;
  bool tolerate_missing_secrets = false;
  bool tolerate_missing_env_vars = false;
  // Compose as the round-trip road does: comments kept, empty documents of
  // the main text dropped (they are counted on the roots instead).
  bool round_trip = false;
};

DirectiveContext new_directive_context(std::string include_dir, bool includes, bool secrets, bool env_var);

uint32_t register_source_file(DirectiveContext& ctx, std::string path, std::string text,
                              std::optional<FileIdentity> identity = std::nullopt);
// The table path of a file id, or include_dir for an id outside the table.
const std::string& source_file_path(const DirectiveContext& ctx, uint32_t file_id);

struct DirectiveLoad {
  std::vector<YamlNode> docs;
  std::optional<DirectiveError> error;
  bool ok() const noexcept { return !error.has_value(); }
};
// Registers the main text as file 0 (under `root_path`, or include_dir joined
// with "<root>"), composes it and expands every document in order. Empty
// documents are kept as Null roots, so the first document is the one the
// plain loader returns.
DirectiveLoad load_with_directives(DirectiveContext& ctx, std::string_view text,
                                   const std::optional<std::string>& root_path);

}  // namespace qf::directives
