#include "roundtrip/comment_slot.hpp"

#include <utility>

namespace qf {

namespace {

bool first_in_block(const YamlNode& parent, size_t position) {
  return position == 0 && parent.style == CollectionStyle::Block;
}

template <class Node>
std::optional<BasicHeadCommentSlot<Node>> slot_of(Node& root, const NodePath& path, const AliasFollower& follow) {
  // The nodes down the path; `first[i]`: chain[i] is the first child of
  // chain[i - 1] in a block collection, so lines above it are kept there.
  std::vector<Node*> chain{&root};
  std::vector<bool> first{false};
  for (size_t s = 0; s < path.size(); ++s) {
    Node* n = chain.back();
    if (n->is_alias()) {
      // The definition lives elsewhere: its lines are its own.
      const YamlNode* t = follow(*n);
      if (!t) return std::nullopt;
      n = const_cast<Node*>(t);
      chain.back() = n;
      first.back() = false;
    }
    const PathSegment& seg = path[s];
    const bool last = s + 1 == path.size();
    if (seg.kind == PathSegment::Kind::Index) {
      Node* item = child_by_segment(*n, seg);
      if (!item) return std::nullopt;
      chain.push_back(item);
      first.push_back(first_in_block(*n, seg.index));
      continue;
    }
    if (!n->is_mapping()) return std::nullopt;
    std::optional<size_t> entry;  // the last entry with that key
    for (size_t i = n->pairs.size(); i-- > 0;)
      if (seg.selects_key(n->pairs[i].key)) {
        entry = i;
        break;
      }
    if (!entry) return std::nullopt;
    const size_t i = *entry;
    // A value's lines stand above its entry, which its key node starts.
    const bool key = seg.kind == PathSegment::Kind::KeyNode || last;
    chain.push_back(key ? &n->pairs[i].key : &n->pairs[i].value);
    first.push_back(key && first_in_block(*n, i));
  }
  size_t at = chain.size() - 1;
  HeadCommentFilter part = HeadCommentFilter::All;
  if (!path.empty() && path.back().kind == PathSegment::Kind::Index && chain[at]->comments().inline_before_value)
    part = HeadCommentFilter::Above;  // the lines above its "-" line
  while (part != HeadCommentFilter::Below && first[at]) {
    --at;
    part = chain[at]->comments().inline_before_value ? HeadCommentFilter::Below : HeadCommentFilter::All;
  }
  return BasicHeadCommentSlot<Node>{chain[at], part};
}

}  // namespace

std::optional<HeadCommentSlot> head_comment_slot(const YamlNode& root, const NodePath& path,
                                                 const AliasFollower& follow) {
  return slot_of(root, path, follow);
}

std::optional<MutableHeadCommentSlot> head_comment_slot(YamlNode& root, const NodePath& path,
                                                        const AliasFollower& follow) {
  return slot_of(root, path, follow);
}

void write_head_comment_part(const MutableHeadCommentSlot& slot, std::vector<std::string> lines) {
  std::vector<HeadComment>& head = slot.node->edit_comments().head;
  std::vector<HeadComment> out;
  out.reserve(head.size() + lines.size());
  const bool below = slot.part == HeadCommentFilter::Below;
  // The lines of the other part stay: those below the dash after new lines
  // above it, those above the dash before new lines below it.
  if (below)
    for (HeadComment& h : head)
      if (!h.below_introducer) out.push_back(std::move(h));
  for (std::string& l : lines) out.push_back(HeadComment{std::move(l), below});
  if (slot.part == HeadCommentFilter::Above)
    for (HeadComment& h : head)
      if (h.below_introducer) out.push_back(std::move(h));
  head = std::move(out);
  slot.node->edit_comments().modified = true;
}

}  // namespace qf
