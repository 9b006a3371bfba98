// The content of a round-trip document object: its roots, the source-file
// table, the kept input text and the rendering settings.
#pragma once
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "encode/settings.hpp"  // NullStyle
#include "resolver/resolver.hpp"
#include "roundtrip/ast.hpp"
#include "support/file_identity.hpp"

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

// Per file id: the file that was read, so that write-back replaces that
// file and never one a link swapped in since. Write-back refreshes it (a
// replaced file is a new inode) without holding the document's borrow, so
// that edits can go on while files are written: hence the locks. Nothing
// else in the document refers to it.
class FileIdentities {
 public:
  FileIdentities() = default;
  explicit FileIdentities(std::vector<std::optional<FileIdentity>> ids) : ids_(std::move(ids)) {}

  // Held from the check of the files a write-back replaces until their new
  // identities are recorded: two write-backs of one document at once would
  // otherwise each check the identity the other is replacing.
  std::mutex& write_lock() const noexcept { return *write_lock_; }

  std::optional<FileIdentity> get(uint32_t id) const {
    std::lock_guard<std::mutex> hold(*lock_);
    return id < ids_.size() ? ids_[id] : std::nullopt;
  }
  // Every file id recorded as `was` is now `now`.
  void replace(const FileIdentity& was, const FileIdentity& now) {
    std::lock_guard<std::mutex> hold(*lock_);
    for (std::optional<FileIdentity>& i : ids_)
      if (i == was) i = now;
  }

 private:
  std::unique_ptr<std::mutex> lock_ = std::make_unique<std::mutex>();
  std::unique_ptr<std::mutex> write_lock_ = std::make_unique<std::mutex>();
  std::vector<std::optional<FileIdentity>> ids_;
};

struct RoundTripDocument {
  std::vector<YamlNode> docs;
  // Source-file table: entry i is the path of file id i (0: the main text);
  // empty when nothing was included.
  std::vector<std::string> files;
  std::vector<std::optional<std::string>> texts;  // one per files entry
  // Per file id: where the loaded text's second document starts, for files
  // of several documents (write-back replaces only the first).
  std::vector<std::optional<uint64_t>> second_document_offsets;
  FileIdentities file_identities;
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
