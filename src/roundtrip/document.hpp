// The content of a round-trip document object: its roots, the source-file
// table, the kept input text and the rendering settings.
#pragma once
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "encode/settings.hpp"  // NullStyle
#include "resolver/resolver.hpp"
#include "roundtrip/ast.hpp"

namespace qf {

// A document's own text: a slice of shared bytes (a stream's documents share
// one copy of the stream). Reads like an optional string.
class SourceText {
 public:
  SourceText() = default;
  SourceText(std::string text)  // NOLINT: assigned from texts like the string it stands for
      : bytes_(std::make_shared<const std::string>(std::move(text))), view_(*bytes_) {}
  SourceText(std::string_view text) : SourceText(std::string(text)) {}  // NOLINT
  SourceText(const char* text) : SourceText(std::string(text)) {}       // NOLINT
  SourceText(std::shared_ptr<const std::string> bytes, std::string_view slice)
      : bytes_(std::move(bytes)), view_(slice) {}

  explicit operator bool() const noexcept { return bytes_ != nullptr; }
  bool has_value() const noexcept { return bytes_ != nullptr; }
  std::string_view operator*() const noexcept { return view_; }
  void reset() noexcept {
    bytes_.reset();
    view_ = {};
  }

 private:
  std::shared_ptr<const std::string> bytes_;
  std::string_view view_;
};

struct RoundTripDocument {
  std::vector<YamlNode> docs;
  // Source-file table: entry i is the path of file id i (0: the main text);
  // empty when nothing was included.
  std::vector<std::string> files;
  std::vector<std::optional<std::string>> texts;  // one per files entry
  // The decoded input, so that an unchanged document renders byte for byte
  // (dropped once the document is re-emitted from its trees).
  SourceText source;
  // The bytes the trees' texts view; kept for the document's lifetime, also
  // after `source` is dropped.
  std::shared_ptr<const std::string> kept_text;
  std::optional<std::string> origin;
  bool prefer_double_quotes = true;
  bool declare_yaml_1_2 = false;
  bool resolve_timestamps = false;
  NullStyle null_style = NullStyle::Default;
  ResolverMode resolver_mode = ResolverMode::Yaml12;
};

}  // namespace qf
