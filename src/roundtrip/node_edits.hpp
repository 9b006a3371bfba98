// Edits of one node's anchor and alias identity: anchor names, renames that
// carry their aliases along, turning a node into an alias and an alias back
// into a copy of what it refers to. Decisions are made on nodes (identity
// and document order, as the loaders resolve aliases), never on path texts.
//
// Every function here checks before it changes anything; a refused edit
// leaves the tree as it was.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "roundtrip/anchors.hpp"
#include "roundtrip/ast.hpp"

namespace qf {

// Nothing when `name` may be an anchor name (the scanner reads it back whole),
// else the ValueError message: empty, then the first refused character picks
// "... whitespace, line breaks, or flow indicators ..." or "... control
// characters ...".
std::optional<std::string> anchor_name_error(std::string_view name);

// The first node of the document, in document order, that carries `name`
// (entries with any kind of key included), or nullptr.
const YamlNode* first_anchor_carrier(const YamlNode& root, std::string_view name);

// Which anchors of a subtree an edit takes away: the subtree root's own
// (removing its anchor), those below it (replacing its content), or both.
enum class AnchorsRemoved : uint8_t { Root, Below, All };

// The anchor name of a node of `subtree`, among those `removed`, that an
// alias outside the subtree refers to (the first such alias in document
// order): the edit would take that alias's definition away.
std::optional<std::string> anchor_referenced_from_outside(const YamlNode& root, const YamlNode& subtree,
                                                          const AnchorResolver& resolver, AnchorsRemoved removed);

// Gives `node` the anchor `name`, and every alias that referred to the node
// under its old name the new name, so they keep referring to it. Those
// aliases and the node are marked modified. `name` must be used by no other
// node.
void rename_anchor(const YamlNode& root, YamlNode& node, std::string name, const AnchorResolver& resolver);

enum class MakeAliasOutcome : uint8_t {
  Ok,        // a complete definition precedes the node
  NoAnchor,  // no node of the document carries the name
  Cycle,     // the node, or a node it lies in, carries the name
  Order,     // the only definitions come after the node
};
// Whether an alias `*name` in place of `node` would refer to a definition
// (AnchorResolver::target_at). An anchor on the key of the node's own entry
// is complete before the value.
MakeAliasOutcome make_alias_outcome(const YamlNode& root, const YamlNode& node, std::string_view name);

// The node becomes the alias `*name`: its content, anchor and tag go; its
// comments, style, position and include source stay. Marked modified.
void make_alias_in_place(YamlNode& node, std::string name);

// The copy an alias is replaced by when detached (expand_aliases_for_detach),
// checked against the composer's nesting limit at the alias's depth.
struct DetachCopy {
  enum class Status : uint8_t { Ok, NoDefinition, ExpansionFailed, TooDeep };
  Status status = Status::Ok;
  YamlNode node;
  std::optional<ExpansionError> expansion_error;  // ExpansionFailed
};
inline constexpr std::string_view kDetachTooDeepMessage =
    "detaching this alias would nest the document deeper than 1000 levels";
// `alias_depth`: levels between the document root and the alias (0 for the
// root itself).
DetachCopy detach_copy(const YamlNode& alias, const AnchorResolver& resolver, uint32_t alias_depth);

// Puts a detached copy in the alias's place (`slot`), marked as an edit. A
// copy that is a directive (a secret, an environment value) is written as
// that directive: its place is the edit, so the mark goes on its parent and
// a later edit of its content is still refused.
void place_detached_copy(YamlNode& root, YamlNode& slot, YamlNode copy);

// Levels below `node` down to its deepest descendant (0 for a leaf).
uint32_t subtree_height(const YamlNode& node);

}  // namespace qf
