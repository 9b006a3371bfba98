// The source tree: one YamlNode per node of a YAML text, keeping what a value
// tree throws away (positions, styles, anchors, tags as written, comments,
// blank lines, document markers and directives).
//
// A node is kept small (80 bytes): texts read unchanged from the source view
// it, children sit in one block per collection, positions are packed, and
// the fields most nodes lack live in a side record (NodeExtra) made only
// when one of them is set. The root of a composed tree keeps its source text
// alive, and so does the document holding the tree.
//
// Trees can be as deep as expansion and host values allow, so neither
// destruction nor copying recurses: ~YamlNode releases children with a work
// stack and the copy constructor clones with one.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "roundtrip/node_list.hpp"
#include "roundtrip/node_text.hpp"
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
  bool compact = false;
  // Source text of a literal or folded block scalar, from its indicator
  // through the line break that ends its last line (a view of the source).
  std::optional<NodeText> raw;
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
  // The directive's own fields as loaded, which the node carries for the
  // including text: a node whose fields differ was edited there.
  std::optional<IncludedRootFields> directive_fields;
  // An edit changed the node's own content in place (items or pairs taken
  // out, the node made an alias), which its mark alone cannot tell from an
  // edit of the directive's fields.
  bool content_edited = false;

  // The last record of the chain: an `!include` there owns the node's
  // content; any other record means that no file does.
  const IncludeSource& innermost() const noexcept {
    const IncludeSource* s = this;
    while (!s->inner.empty()) s = &s->inner.front();
    return *s;
  }

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

// An optional field that few records set, kept behind a pointer so the
// record stays small; copies are deep.
template <class T>
class BoxedOptional {
 public:
  BoxedOptional() noexcept = default;
  BoxedOptional(const BoxedOptional& o) : p_(o.p_ ? std::make_unique<std::optional<T>>(*o.p_) : nullptr) {}
  BoxedOptional(BoxedOptional&&) noexcept = default;
  BoxedOptional& operator=(const BoxedOptional& o) {
    if (this != &o) p_ = o.p_ ? std::make_unique<std::optional<T>>(*o.p_) : nullptr;
    return *this;
  }
  BoxedOptional& operator=(BoxedOptional&&) noexcept = default;
  BoxedOptional& operator=(std::optional<T> v) {
    if (v) p_ = std::make_unique<std::optional<T>>(std::move(v));
    else p_.reset();
    return *this;
  }

  const std::optional<T>& get() const noexcept { return p_ ? *p_ : kNone; }
  explicit operator bool() const noexcept { return p_ && p_->has_value(); }
  T* operator->() noexcept { return &**p_; }

 private:
  static inline const std::optional<T> kNone{};
  std::unique_ptr<std::optional<T>> p_;
};

// What most nodes lack, kept apart so a plain node stays small: comments and
// layout hints, anchor and tag, the producing directive, and the root-only
// directives, counters and kept source text.
struct NodeExtra {
  Comments comments;
  std::optional<std::string> anchor;
  std::optional<std::string> tag;  // exactly as written
  BoxedOptional<IncludeSource> source;
  std::vector<std::string> directives;  // roots only: text after "%"
  // Roots only: empty documents ("---" and nothing) that composition dropped
  // right before / right after this root, so re-emission keeps the count of
  // documents.
  uint32_t empty_documents_before = 0;
  uint32_t empty_documents_after = 0;
  // Roots composed from text: the bytes the tree's texts view.
  std::shared_ptr<const std::string> kept_text;

  // Everything but kept_text is at its default.
  bool empty() const noexcept;

  // Holders besides the first (see ExtraHandle); a copy starts unshared.
  struct ShareCount {
    uint32_t others = 0;
    ShareCount() noexcept = default;
    ShareCount(const ShareCount&) noexcept {}
    ShareCount& operator=(const ShareCount&) noexcept { return *this; }
  } shares;
};

// The side record behind a node: its own, or shared by fresh nodes that
// carry the same fields (one tag on many represented mappings, say) and
// copied before a write. The count is not atomic: a tree whose nodes share
// records is used by one thread at a time, and copies of nodes never share.
class ExtraHandle {
 public:
  ExtraHandle() noexcept = default;
  ExtraHandle(ExtraHandle&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  ExtraHandle& operator=(ExtraHandle&& o) noexcept {
    if (this != &o) {
      release();
      p_ = o.p_;
      o.p_ = nullptr;
    }
    return *this;
  }
  ExtraHandle(const ExtraHandle&) = delete;
  ExtraHandle& operator=(const ExtraHandle&) = delete;
  ~ExtraHandle() { release(); }

  explicit operator bool() const noexcept { return p_ != nullptr; }
  const NodeExtra& operator*() const noexcept { return *p_; }
  const NodeExtra* operator->() const noexcept { return p_; }

  // The record, made or unshared first, for a write.
  NodeExtra& writable() {
    if (!p_) p_ = new NodeExtra();
    else if (p_->shares.others != 0) {
      NodeExtra* own = new NodeExtra(*p_);
      --p_->shares.others;
      p_ = own;
    }
    return *p_;
  }
  void reset() noexcept {
    release();
    p_ = nullptr;
  }
  void reset(NodeExtra* own) noexcept {
    release();
    p_ = own;
  }
  // Holds `other`'s record too.
  void share(const ExtraHandle& other) noexcept {
    if (other.p_ == p_) return;
    release();
    p_ = other.p_;
    if (p_) ++p_->shares.others;
  }

 private:
  void release() noexcept {
    if (!p_) return;
    if (p_->shares.others == 0) delete p_;
    else --p_->shares.others;
  }
  NodeExtra* p_ = nullptr;
};

// A position packed in 16 bytes: offsets fit in 32 bits because the scanner
// refuses texts of 2 GiB or more.
struct NodeSpan {
  uint32_t file_id = 0;
  uint32_t line = 0;
  uint32_t column = 0;
  uint32_t offset = 0;

  NodeSpan() = default;
  NodeSpan(const Span& s) noexcept  // NOLINT: converts like the Span it stands for
      : file_id(s.file_id), line(s.line), column(s.column), offset(uint32_t(s.offset)) {}
  operator Span() const noexcept { return Span{file_id, line, column, offset}; }  // NOLINT
  friend bool operator==(const NodeSpan&, const NodeSpan&) = default;
  friend bool operator==(const NodeSpan& a, const Span& b) noexcept { return Span(a) == b; }
};

struct YamlNode {
  // Scalar: its value text; Alias: the anchor name (without "*").
  NodeText text;
  NodeList<YamlNode> items;       // Sequence
  NodeList<MappingEntry> pairs;   // Mapping, source order, duplicates kept
 private:
  ExtraHandle extra_;

 public:
  NodeSpan span;  // first token after the node's properties
  uint32_t end_offset = 0;
  uint32_t end_line = 0;
  uint32_t end_column = 0;
  // Columns between a value and the ":" or "-" before it, less one (in the
  // node itself: nearly every value read from text has one).
  uint32_t value_pad = 0;
  NodeKind kind = NodeKind::Null;
  ScalarStyle scalar_style = ScalarStyle::Plain;
  CollectionStyle style = CollectionStyle::Block;
  bool synthetic = false;
  bool explicit_key = false;
  bool explicit_start = false;  // roots only
  bool explicit_end = false;    // roots only: the document was closed by "..."
  bool leading_bom = false;

  YamlNode() = default;
  YamlNode(YamlNode&&) noexcept = default;
  YamlNode& operator=(YamlNode&& other) noexcept = default;
  // Deep copy with an explicit work stack.
  YamlNode(const YamlNode& other);
  YamlNode& operator=(const YamlNode& other);
  // Leaves (most nodes) release inline; collections go through the work stack.
  ~YamlNode() {
    if (!items.empty() || !pairs.empty()) release_children();
  }

  static YamlNode scalar(std::string_view text, ScalarStyle style = ScalarStyle::Plain);
  static YamlNode alias(std::string_view name);
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

  // Reads of the rarely present fields: their defaults when the node has no
  // side record.
  const Comments& comments() const noexcept { return extra_ ? extra_->comments : empty_extra().comments; }
  const std::optional<std::string>& anchor() const noexcept { return read().anchor; }
  const std::optional<std::string>& tag() const noexcept { return read().tag; }
  const std::optional<IncludeSource>& source() const noexcept { return read().source.get(); }
  const std::vector<std::string>& directives() const noexcept { return read().directives; }
  uint32_t empty_documents_before() const noexcept { return read().empty_documents_before; }
  uint32_t empty_documents_after() const noexcept { return read().empty_documents_after; }
  bool has_extra() const noexcept { return bool(extra_); }
  const std::shared_ptr<const std::string>& kept_text() const noexcept { return read().kept_text; }

  // Writes: the side record is made on first use.
  NodeExtra& extra();
  Comments& edit_comments() { return extra().comments; }
  void set_comments(const Comments& c);
  void set_anchor(std::optional<std::string> v);
  void set_tag(std::optional<std::string> v);
  void set_source(std::optional<IncludeSource> v);
  void set_directives(std::vector<std::string> v);
  void set_empty_documents_before(uint32_t n);
  void set_empty_documents_after(uint32_t n);
  // Keeps `text` alive for as long as this root (its texts may view it).
  void keep_text(std::shared_ptr<const std::string> text);
  // Carries `model`'s side record (its anchor, tag, comments and the rest)
  // by sharing it, not copying it; a later write to either node copies it
  // first.
  void share_extra(const YamlNode& model) noexcept { extra_.share(model.extra_); }

  // Copies every field but the children.
  void copy_fields_from(const YamlNode& other);

 private:
  static const NodeExtra& empty_extra() noexcept { return kNoExtra; }
  static const NodeExtra kNoExtra;
  const NodeExtra& read() const noexcept { return extra_ ? *extra_ : empty_extra(); }
  // Drops the side record when it holds nothing.
  void trim_extra() noexcept;
  // Releases the children without recursion (the destructor's slow road).
  void release_children() noexcept;
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
