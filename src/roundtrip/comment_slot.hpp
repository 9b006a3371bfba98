// Where the comment lines above a node live. A comment line is kept by the
// first node that starts below it, so the lines above the first item of a
// block sequence, or above the first key of a block mapping, belong to the
// collection (and to its own parent collection when that starts at the same
// place). The lines above any other entry belong to its key node, those above
// any other item to the item. A node with a comment on its "-" or "key:"
// line keeps the lines above that line apart from those below it.
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "roundtrip/ast.hpp"
#include "roundtrip/comment_text.hpp"
#include "roundtrip/paths.hpp"

namespace qf {

template <class Node>
struct BasicHeadCommentSlot {
  Node* node = nullptr;  // whose `head` holds the lines
  HeadCommentFilter part = HeadCommentFilter::All;
};
using HeadCommentSlot = BasicHeadCommentSlot<const YamlNode>;
using MutableHeadCommentSlot = BasicHeadCommentSlot<YamlNode>;

// Follows an alias met on a path to the node it refers to (nullptr when it
// dangles).
using AliasFollower = std::function<const YamlNode*(const YamlNode& alias)>;

// The slot of the lines above the node `path` designates from `root`; for a
// mapping value, the lines above its entry. Nothing when the path does not
// resolve.
std::optional<HeadCommentSlot> head_comment_slot(const YamlNode& root, const NodePath& path,
                                                 const AliasFollower& follow);
std::optional<MutableHeadCommentSlot> head_comment_slot(YamlNode& root, const NodePath& path,
                                                        const AliasFollower& follow);

// Replaces the lines of `slot.part` by `lines` (the other part's lines stay,
// in place) and marks the slot node modified.
void write_head_comment_part(const MutableHeadCommentSlot& slot, std::vector<std::string> lines);

}  // namespace qf
