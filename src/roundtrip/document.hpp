// The content of a round-trip document object: its roots, the source-file
// table, the kept input text and the rendering settings.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "encode/settings.hpp"  // NullStyle
#include "resolver/resolver.hpp"
#include "roundtrip/ast.hpp"

namespace qf {

struct RoundTripDocument {
  std::vector<YamlNode> docs;
  // Source-file table: entry i is the path of file id i (0: the main text);
  // empty when nothing was included.
  std::vector<std::string> files;
  std::vector<std::optional<std::string>> texts;  // one per files entry
  // Per file id: where the loaded text's second document starts, for files
  // of several documents (write-back replaces only the first).
  std::vector<std::optional<uint64_t>> second_document_offsets;
  // The decoded input, so that an unchanged document renders byte for byte.
  std::optional<std::string> source;
  std::optional<std::string> origin;
  bool prefer_double_quotes = true;
  bool declare_yaml_1_2 = false;
  bool resolve_timestamps = false;
  NullStyle null_style = NullStyle::Default;
  ResolverMode resolver_mode = ResolverMode::Yaml12;
};

}  // namespace qf
