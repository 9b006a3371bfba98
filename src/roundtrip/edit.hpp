// Edits of source trees: replacing a child, appending a mapping entry,
// removing items or entries, replacing or removing whole documents. Every
// check runs before the tree changes, so a refused edit leaves the tree (and
// its rendering) exactly as it was, and no copy of the documents is needed.
//
// The alias rule: an edit that would leave an alias without the anchor it
// refers to (the nearest complete definition before it in its own document,
// as the loaders read it) is refused, for assignments as for deletions.
//
// Core only: host keys are matched by the callers, which pass a predicate
// over key nodes.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "resolver/resolver.hpp"
#include "roundtrip/ast.hpp"
#include "roundtrip/document.hpp"

namespace qf {

enum class EditErrorKind : uint8_t { TypeError, IndexError, KeyError, ValueError };

struct EditError {
  EditErrorKind kind;
  std::string message;
};

inline constexpr std::string_view kNotCollectionMessage = "node is not a mapping or sequence";
inline constexpr std::string_view kIndexOutOfRangeMessage = "index out of range";

// "deleting this node would remove anchor '&{}', still referenced by an alias
// '*{}' elsewhere; the result would not re-parse. Remove or rewrite the alias
// first."
std::string anchor_removal_message(std::string_view name);
EditError anchor_removal_error(std::string_view name);

// ---- The alias rule ----

// What an edit would do to one document, described without doing it.
struct TreeOverlay {
  // Subtrees left out (removed items, the keys and values of removed entries).
  std::vector<const YamlNode*> removed;
  // A subtree walked in place of another.
  const YamlNode* replaced = nullptr;
  const YamlNode* replacement = nullptr;
};

// The name of an alias that resolves in `root` now but would dangle after
// the edit the overlay describes (the first in document order), or nothing.
// Aliases that already dangled never block an edit.
std::optional<std::string> newly_dangling_alias(const YamlNode& root, const TreeOverlay& overlay);

// Names of every alias in the root (keys included) with no complete
// definition before it in the document, in document order, each once.
std::vector<std::string> dangling_alias_names(const YamlNode& root);
bool contains_aliases(const YamlNode& root);

// How many levels below `root` the node `target` lies (0 for the root
// itself), or nothing when it is not in that tree. Iterative.
std::optional<uint32_t> node_depth(const YamlNode& root, const YamlNode& target);

// ---- Replacement ----

// True when writing `node` with the standard tag `tag` reads back as the
// same value as writing it untagged (custom tags always count as true).
bool tag_keeps_value(std::string_view tag, const YamlNode& node, ResolverMode mode);

// `fresh` dressed as the replacement of `old`: it takes the old node's head,
// foot and inline comments, inline spacing, value padding, introducer-line
// flag, anchor and tag (a standard tag only while it does not change the new
// value on reload), and is marked modified. `old` is not changed.
YamlNode replacement_node(const YamlNode& old, YamlNode fresh, ResolverMode mode);

// Replaces `slot` (a node inside the tree of `root`; the root itself
// included) by replacement_node(slot, fresh). Refused by the alias rule.
// A root keeps what belongs to the document (keep_document_fields).
std::optional<EditError> replace_node(YamlNode& root, YamlNode& slot, YamlNode fresh, ResolverMode mode);

// What belongs to a document rather than to its content, taken from the old
// root by its replacement: directives, the "---" and "..." markers, a leading
// byte-order mark and the empty documents recorded around it.
void keep_document_fields(const YamlNode& old_root, YamlNode& fresh);

// Replaces `slot` by `fresh` as it is (nothing of the old node kept but,
// for a root, the document's own fields), marked modified. No alias check.
void replace_whole_node(YamlNode& root, YamlNode& slot, YamlNode fresh);

// ---- Sequences ----

// Item `index` replaced by `fresh` (see replace_node). Errors: not a
// sequence, index out of range, the alias rule.
std::optional<EditError> assign_sequence_item(YamlNode& root, YamlNode& seq, uint64_t index, YamlNode fresh,
                                              ResolverMode mode);
// Item removed; the sequence is marked modified.
std::optional<EditError> delete_sequence_item(YamlNode& root, YamlNode& seq, uint64_t index);

// ---- Mappings ----

using KeyPredicate = std::function<bool(const YamlNode& key)>;

// The last entry whose key the predicate accepts, searching from the end.
std::optional<size_t> find_last_matching_entry(const YamlNode& map, const KeyPredicate& matches);
// Every entry the predicate accepts, in order.
std::vector<size_t> find_matching_entries(const YamlNode& map, const KeyPredicate& matches);

// Entry `entry`'s value replaced by `fresh` (see replace_node); the key is
// not touched.
std::optional<EditError> assign_mapping_value(YamlNode& root, YamlNode& map, size_t entry, YamlNode fresh,
                                              ResolverMode mode);
// A new entry after the last one; key and value are marked modified.
void append_mapping_entry(YamlNode& map, YamlNode key, YamlNode value);
// The entries removed (indices ascending, each once); the mapping is marked
// modified. Refused by the alias rule.
std::optional<EditError> delete_mapping_entries(YamlNode& root, YamlNode& map, std::span<const size_t> entries);

// ---- Whole documents ----

// Root `index` replaced by `fresh`, marked modified. The document keeps what
// belongs to the document rather than to its content: its directives, its
// "---" and "..." markers, a leading byte-order mark and the empty documents
// recorded around it.
// Marks an edit of the node's own content (see IncludeSource::content_edited).
void mark_content_edited(YamlNode& node);

std::optional<EditError> replace_document(std::vector<YamlNode>& roots, uint64_t index, YamlNode fresh);
// Root `index` removed. The kept source text is dropped so the next
// rendering re-emits every document, and the document is marked changed.
std::optional<EditError> delete_document(RoundTripDocument& document, uint64_t index);

}  // namespace qf
