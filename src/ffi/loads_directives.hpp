// The directive step of loads: a directive context for the call, expansion,
// then (only after success) the collected warnings and the missing values,
// each secret before any variable, callback first, then its warning.
#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ffi/input_text.hpp"
#include "ffi/load_settings.hpp"
#include "ffi/loads_args.hpp"
#include "roundtrip/ast.hpp"
#include "support/file_identity.hpp"
#include "support/options.hpp"

namespace qf::py {

inline constexpr uint64_t kDirectiveOptions = opt::INCLUDES | opt::SECRETS | opt::ENV_VAR;

struct DirectiveSources {
  std::vector<YamlNode> docs;
  std::vector<std::string> files;  // by file id; 0 is the main text
  std::vector<std::shared_ptr<const std::string>> texts;
  std::vector<std::optional<uint64_t>> second_document_offsets;
  std::vector<std::optional<FileIdentity>> identities;
};

// False with the host exception set.
bool load_directive_sources(const InputText& text, const LoadSettings& s, const LoadsArguments& a,
                            bool round_trip, DirectiveSources& out);

}  // namespace qf::py
