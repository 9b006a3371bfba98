// Text to source trees: one root per document, straight from the scanner's
// token vector, with exact positions, raw block-scalar text and the layout
// hints the emitter needs; comments are attached afterwards. A text the
// value loader refuses as malformed (stream structure, directives, tag
// handles) is refused here with the same error.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "roundtrip/ast.hpp"
#include "scanner/token.hpp"

namespace qf {

struct ComposeResult {
  std::vector<YamlNode> roots;
  // Where each root's document text begins (one entry per root; the first is
  // always 0). A document's text runs to the next entry, the last to the end.
  std::vector<uint64_t> document_starts;
  std::optional<ScanError> error;
  // The composed text, which the roots' texts view (each root also keeps it).
  std::shared_ptr<const std::string> text;
  bool ok() const noexcept { return !error.has_value(); }
};

struct ComposeOptions {
  // A document that is empty after "---" becomes a Null root instead of
  // being dropped.
  bool keep_empty = false;
  uint32_t file_id = 0;
  // Attach comments per document text (from its document_starts entry to the
  // next), so comments after a document's content stay with that document
  // instead of heading the next one. Used when a stream is split into
  // documents that are kept apart.
  bool per_document_comments = false;
  // Scan and attach comments. Off where only values and positions are read
  // (annotated results, schema validation).
  bool keep_comments = true;
  // Stop after the first document (empty or not, as keep_empty decides).
  bool first_document_only = false;
};

inline constexpr uint32_t kMaxComposeDepth = 1000;

// Empty documents are dropped; file id 0.
ComposeResult compose_documents(std::string_view text);
// Empty documents become Null roots.
ComposeResult compose_documents_keep_empty(std::string_view text);
// As compose_documents, with the given file id in every span.
ComposeResult compose_file_documents(std::string_view text, uint32_t file_id);
// The general entry the three above wrap; composes over a kept copy of `text`.
ComposeResult compose_text(std::string_view text, const ComposeOptions& options);
// As compose_text, over bytes the caller already keeps (no copy).
ComposeResult compose_kept_text(std::shared_ptr<const std::string> text, const ComposeOptions& options);

// text[start, end); when the slice ends before the text does and
// everything after its last line break is blanks, the slice is cut after that
// break (a block scalar's scan can reach into the next line's indentation).
std::string_view source_text_slice(std::string_view text, uint64_t start, uint64_t end);

}  // namespace qf
