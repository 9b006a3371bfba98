// The comment-preserving emitter: source trees back to YAML text. An
// unchanged document renders as its kept input; changed ones are re-emitted
// from the tree with their comments, blank lines, styles and properties.
// Pure functions of the tree and the settings: no host object is touched.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "encode/settings.hpp"
#include "roundtrip/ast.hpp"
#include "roundtrip/document.hpp"

namespace qf {

struct RoundTripEmitter {
  const YamlNode* last_inline_comment_node = nullptr;
  // Output length just past verbatim block-scalar text that did not end in a
  // line break; closing the output drops the line break added after it.
  std::optional<uint64_t> pending_newline_at;
  // Verbatim keep-chomped block text [start, end) of the output that did not
  // end in a line break, and the text that reads the same with more after
  // it; closing the output puts that in when more followed.
  struct OpenKeepText {
    uint64_t start;
    uint64_t end;
    std::string closed;
  };
  std::vector<OpenKeepText> open_keep_texts;
  std::string out;
  uint64_t indent_step = 0;  // 0 means 2
  uint64_t width = 0;        // 0: no wrapping
  bool dumps_layout = false;
  // The texts of the tree's synthetic scalars were checked by their
  // producer (the represent road quotes or refuses what would not read
  // back): a plain one reads back plain outside a flow collection, a
  // single-quoted one fits on one line, and a literal or folded one is
  // printable. Only the tests that depend on where the scalar is written
  // remain.
  bool checked_scalars = false;
  bool indentless = false;
  bool single_quotes = false;
  bool explicit_end = false;
  uint64_t flow_depth = 0;
  bool in_key = false;
  NullStyle null_style = NullStyle::Default;

  RoundTripEmitter() { out.reserve(256); }
  uint64_t step() const noexcept { return indent_step ? indent_step : 2; }
};

// Appends one document: directives, "---" when the root has explicit_start,
// head comments, the root, a final line break, foot comments, and "..." when
// the root was closed by one.
void emit_document(RoundTripEmitter& emitter, const YamlNode& root);
// Drops the line break added after verbatim block text that had none, or,
// when more followed it, closes keep-chomped text so it reads the same.
void close_output(RoundTripEmitter& emitter);

// The whole document: the kept source when nothing is modified, else every
// root re-emitted; with declare_yaml_1_2 the "%YAML 1.2" header is applied.
std::string render_document(const RoundTripDocument& document);
// One node as a standalone text.
std::string emit_root(const YamlNode& node, NullStyle null_style);
// A copy of the node without its IncludeSource, emitted with NullStyle Keyword.
std::string emit_included_root(const YamlNode& node);

// The node or anything below it carries the modified mark.
bool subtree_is_modified(const YamlNode& node);

// Replaces leading %YAML lines with a "%YAML 1.2" header (and adds "---"
// when no document-start line follows the directives). Comment and blank
// lines above a %YAML line are passed over.
std::string apply_yaml12_header(std::string_view bytes);

}  // namespace qf
