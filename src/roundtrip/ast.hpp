// The source tree: one YamlNode per node of a YAML text, keeping what a value
// tree throws away (positions, styles, anchors, tags as written, comments,
// blank lines, document markers and directives).
//
// Trees can be as deep as expansion and host values allow, so neither
// destruction nor copying recurses: ~YamlNode releases children with a work
// stack and the copy constructor clones with one.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "scanner/token.hpp"

namespace qf {

enum class NodeKind : uint8_t { Scalar = 0, Sequence = 1, Mapping = 2, Alias = 3, Null = 4 };

enum class CollectionStyle : uint8_t { Block = 0, Flow = 1 };

// One full-line comment above a node.
struct HeadComment {
  std::string text;
  // The comment lies below the node's introducer line (the "key:" or "-"
  // line), after the comment that was taken as the introducer-line comment.
  bool below_introducer = false;

  friend bool operator==(const HeadComment&, const HeadComment&) = default;
};

// Comments, blank lines and layout hints around a node, and its edit mark.
struct Comments {
  uint32_t blank_before = 0;
  std::vector<HeadComment> head;
  std::optional<std::string> inline_;  // "inline" is a keyword
  uint32_t inline_spaces = 0;
  bool inline_before_value = false;
  // With inline_before_value: the comment that follows the node on its own
  // line (the node then has one comment on its introducer line and one after
  // it), and the columns between the node's end and its "#".
  std::optional<std::string> inline_after_value;
  uint32_t inline_after_spaces = 0;
  uint32_t value_pad = 0;
  bool compact = false;
  // Source text of a literal or folded block scalar, from its indicator
  // through the line break that ends its last line.
  std::optional<std::string> raw;
  std::vector<std::string> foot;
  bool modified = false;

  friend bool operator==(const Comments&, const Comments&) = default;
};

// What an included file's root carried in its own file, while the node
// carries the directive's anchor, comments and document fields in the
// including text: write-back of the file restores these.
struct IncludedRootFields {
  std::optional<std::string> anchor;
  Comments comments;
  bool explicit_start = false;
  bool explicit_end = false;
  bool leading_bom = false;
  std::vector<std::string> directives;
  uint32_t empty_documents_before = 0;
  uint32_t empty_documents_after = 0;

  friend bool operator==(const IncludedRootFields&, const IncludedRootFields&) = default;
};

// The directive that produced a node (configuration directives).
struct IncludeSource {
  std::string tag;
  std::string target;
  std::optional<uint32_t> target_file_id;
  // How the argument was written, so it is written back the same way.
  ScalarStyle target_style = ScalarStyle::Plain;
  // When an included file's root was itself a directive (db.yaml holding
  // `!secret x`): that directive's record. At most one entry, which may
  // chain further.
  std::vector<IncludeSource> inner;
  // `!include` of a file that held a document: that root's own fields.
  std::optional<IncludedRootFields> included_root;

  // This record or one it chains is a !secret: the node is secret text.
  bool is_secret() const noexcept {
    for (const IncludeSource* s = this;; s = &s->inner.front()) {
      if (s->tag == "!secret") return true;
      if (s->inner.empty()) return false;
    }
  }

  friend bool operator==(const IncludeSource&, const IncludeSource&) = default;
};

struct MappingEntry;

struct YamlNode {
  NodeKind kind = NodeKind::Null;
  // Scalar: its value text; Alias: the anchor name (without "*").
  std::string text;
  ScalarStyle scalar_style = ScalarStyle::Plain;
  std::vector<YamlNode> items;       // Sequence
  std::vector<MappingEntry> pairs;   // Mapping, source order, duplicates kept

  Span span;  // first token after the node's properties
  uint64_t end_offset = 0;
  uint32_t end_line = 0;
  uint32_t end_column = 0;
  std::optional<std::string> anchor;
  std::optional<std::string> tag;  // exactly as written
  Comments comments;
  CollectionStyle style = CollectionStyle::Block;
  std::optional<IncludeSource> source;
  bool explicit_start = false;          // roots only
  std::vector<std::string> directives;  // roots only: text after "%"
  bool leading_bom = false;
  bool synthetic = false;
  bool explicit_key = false;
  // Roots only: the document was closed by "...".
  bool explicit_end = false;
  // Roots only: empty documents ("---" and nothing) that composition dropped
  // right before / right after this root, so re-emission keeps the count of
  // documents.
  uint32_t empty_documents_before = 0;
  uint32_t empty_documents_after = 0;

  YamlNode() = default;
  YamlNode(YamlNode&&) noexcept = default;
  YamlNode& operator=(YamlNode&& other) noexcept = default;
  // Deep copy with an explicit work stack.
  YamlNode(const YamlNode& other);
  YamlNode& operator=(const YamlNode& other);
  ~YamlNode();

  static YamlNode scalar(std::string text, ScalarStyle style = ScalarStyle::Plain);
  static YamlNode alias(std::string name);
  static YamlNode null_at(const Span& span);
  static YamlNode sequence(CollectionStyle style = CollectionStyle::Block);
  static YamlNode mapping(CollectionStyle style = CollectionStyle::Block);

  bool is_scalar() const noexcept { return kind == NodeKind::Scalar; }
  bool is_sequence() const noexcept { return kind == NodeKind::Sequence; }
  bool is_mapping() const noexcept { return kind == NodeKind::Mapping; }
  bool is_alias() const noexcept { return kind == NodeKind::Alias; }
  bool is_null() const noexcept { return kind == NodeKind::Null; }
  bool is_collection() const noexcept { return is_sequence() || is_mapping(); }
  // Number of items or pairs; 0 for other kinds.
  size_t size() const noexcept;
  // A block collection with at least one entry (written in block form).
  bool is_block_collection() const noexcept;

  // Copies every field but the children.
  void copy_fields_from(const YamlNode& other);
};

struct MappingEntry {
  YamlNode key;
  YamlNode value;
};

// Defined here, where MappingEntry is complete.
inline size_t YamlNode::size() const noexcept {
  return is_sequence() ? items.size() : is_mapping() ? pairs.size() : 0;
}
inline bool YamlNode::is_block_collection() const noexcept {
  return style == CollectionStyle::Block && size() > 0;
}

// Releases a whole tree without recursion (equivalent to letting it go out of
// scope; named for the call sites that hand a tree over for release).
void drop_node_tree(YamlNode&& root);

// The anchor, comments and document fields of a node, moved out of it / onto
// it (children and value untouched).
IncludedRootFields take_own_fields(YamlNode& node);
void put_own_fields(YamlNode& node, IncludedRootFields fields);

// Explicit deep copy (same as the copy constructor).
YamlNode clone_node(const YamlNode& node);

// Structural equality of two trees, every field compared; iterative.
bool nodes_equal(const YamlNode& a, const YamlNode& b);

}  // namespace qf
