#include "roundtrip/edit.hpp"

#include <algorithm>
#include <unordered_map>

#include "roundtrip/source_tag.hpp"
#include "roundtrip/walk.hpp"
#include "support/hash.hpp"

namespace qf {

namespace {

struct KeyedHash {
  uint64_t seed = process_hash_seed();
  size_t operator()(std::string_view s) const noexcept { return size_t(hash_bytes(s, seed)); }
};

using NameCounts = std::unordered_map<std::string_view, uint64_t, KeyedHash>;

// Document order as the anchor resolver reads it: a node is entered before
// its children (keys before values) and its anchor takes effect once it is
// complete. The overlay substitutes or leaves out subtrees. `on_alias(node,
// resolves)` is called for every alias met; it returns false to stop.
template <class OnAlias>
void walk_aliases(const YamlNode& root, const TreeOverlay* overlay, OnAlias&& on_alias) {
  struct Frame {
    const YamlNode* node;
    size_t next;
  };
  std::unordered_map<std::string_view, uint32_t, KeyedHash> bound;  // name -> complete definitions
  std::vector<Frame> stack;
  auto resolve = [&](const YamlNode* n) -> const YamlNode* {
    if (!overlay) return n;
    if (n == overlay->replaced) return overlay->replacement;
    for (const YamlNode* r : overlay->removed)
      if (r == n) return nullptr;
    return n;
  };
  auto enter = [&](const YamlNode* n) -> bool {
    if (n->is_alias() && !on_alias(*n, bound.find(n->text) != bound.end())) return false;
    stack.push_back({n, 0});
    return true;
  };
  const YamlNode* start = resolve(&root);
  if (!start || !enter(start)) return;
  while (!stack.empty()) {
    Frame& f = stack.back();
    const YamlNode& n = *f.node;
    const size_t count = n.is_sequence() ? n.items.size() : n.is_mapping() ? 2 * n.pairs.size() : 0;
    if (f.next >= count) {
      if (n.anchor()) ++bound[*n.anchor()];
      stack.pop_back();
      continue;
    }
    const size_t slot = f.next++;
    const YamlNode* child = n.is_sequence() ? &n.items[slot]
                            : slot % 2 == 0 ? &n.pairs[slot / 2].key
                                            : &n.pairs[slot / 2].value;
    child = resolve(child);
    if (child && !enter(child)) return;
  }
}

std::string_view standard_suffix(std::string_view tag) {
  return tag.starts_with("!!") ? tag.substr(2) : tag.substr(std::string_view("tag:yaml.org,2002:").size());
}

bool same_resolution(const ResolvedScalar& a, const ResolvedScalar& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case ResolvedKind::Null: return true;
    case ResolvedKind::Bool: return a.truth == b.truth;
    case ResolvedKind::Int: return a.int_value == b.int_value;
    case ResolvedKind::Float:
      return a.float_value == b.float_value || (a.float_value != a.float_value && b.float_value != b.float_value);
    case ResolvedKind::BigInt: return a.radix == b.radix && a.text == b.text;
    default: return a.text == b.text;
  }
}

std::optional<EditError> check_overlay(const YamlNode& root, const TreeOverlay& overlay) {
  if (auto name = newly_dangling_alias(root, overlay)) return anchor_removal_error(*name);
  return std::nullopt;
}

}  // namespace

std::string anchor_removal_message(std::string_view name) {
  std::string m = "deleting this node would remove anchor '&";
  m.append(name);
  m.append("', still referenced by an alias '*");
  m.append(name);
  m.append("' elsewhere; the result would not re-parse. Remove or rewrite the alias first.");
  return m;
}

EditError anchor_removal_error(std::string_view name) {
  return EditError{EditErrorKind::ValueError, anchor_removal_message(name)};
}

std::optional<std::string> newly_dangling_alias(const YamlNode& root, const TreeOverlay& overlay) {
  NameCounts before;
  bool any_alias = false;
  walk_aliases(root, nullptr, [&](const YamlNode& a, bool resolves) {
    any_alias = true;
    if (!resolves) ++before[a.text];
    return true;
  });
  if (!any_alias) return std::nullopt;
  NameCounts after;
  std::optional<std::string> found;
  walk_aliases(root, &overlay, [&](const YamlNode& a, bool resolves) {
    if (resolves) return true;
    uint64_t now = ++after[a.text];
    auto it = before.find(a.text);
    if (now > (it == before.end() ? 0 : it->second)) {
      found = a.text;
      return false;
    }
    return true;
  });
  return found;
}

std::vector<std::string> dangling_alias_names(const YamlNode& root) {
  std::vector<std::string> out;
  std::unordered_map<std::string_view, bool, KeyedHash> seen;
  walk_aliases(root, nullptr, [&](const YamlNode& a, bool resolves) {
    if (!resolves && seen.emplace(a.text, true).second) out.push_back(a.text.str());
    return true;
  });
  return out;
}

bool contains_aliases(const YamlNode& root) {
  bool any = false;
  walk_aliases(root, nullptr, [&](const YamlNode&, bool) {
    any = true;
    return false;
  });
  return any;
}

std::optional<uint32_t> node_depth(const YamlNode& root, const YamlNode& target) {
  std::optional<uint32_t> found;
  walk_tree(root, [&](const YamlNode& n, uint32_t depth) {
    if (&n != &target) return Walk::Into;
    found = depth;
    return Walk::Stop;
  });
  return found;
}

bool tag_keeps_value(std::string_view tag, const YamlNode& node, ResolverMode mode) {
  if (!is_standard_tag(tag)) return true;
  const std::string_view suffix = standard_suffix(tag);
  const bool collection_tag =
      suffix == "seq" || suffix == "map" || suffix == "omap" || suffix == "set" || suffix == "pairs";
  switch (node.kind) {
    case NodeKind::Sequence: return suffix == "seq";
    case NodeKind::Mapping: return suffix == "map";
    case NodeKind::Alias: return false;
    case NodeKind::Scalar:
    case NodeKind::Null: {
      if (collection_tag || suffix == "merge") return false;
      // A Null is written as nothing: it reads as the empty plain text.
      std::string_view text = node.is_scalar() ? std::string_view(node.text) : std::string_view();
      ScalarStyle style = node.is_scalar() ? node.scalar_style : ScalarStyle::Plain;
      ResolvedScalar tagged = resolve_scalar_owned(mode, text, style, tag);
      ResolvedScalar untagged = resolve_scalar_owned(mode, text, style, std::nullopt);
      if (node.is_null()) return tagged.kind == ResolvedKind::Null;
      // A type tag over text of another type ("!!int x") reads back only
      // because this loader is lenient; other processors refuse it.
      if ((suffix == "int" && tagged.kind != ResolvedKind::Int && tagged.kind != ResolvedKind::BigInt) ||
          (suffix == "float" && tagged.kind != ResolvedKind::Float) ||
          (suffix == "bool" && tagged.kind != ResolvedKind::Bool) ||
          (suffix == "null" && tagged.kind != ResolvedKind::Null))
        return false;
      return same_resolution(tagged, untagged);
    }
  }
  return false;
}

YamlNode replacement_node(const YamlNode& old, YamlNode fresh, ResolverMode mode) {
  const Comments& oc = old.comments();
  Comments& c = fresh.edit_comments();
  c.head = oc.head;
  c.foot = oc.foot;
  c.inline_ = oc.inline_;
  c.inline_spaces = oc.inline_spaces;
  fresh.value_pad = old.value_pad;
  c.inline_before_value = oc.inline_before_value;
  c.inline_after_value = oc.inline_after_value;
  c.inline_after_spaces = oc.inline_after_spaces;
  c.modified = true;
  fresh.set_anchor(old.anchor());
  fresh.set_tag(old.tag() && tag_keeps_value(*old.tag(), fresh, mode) ? old.tag() : std::nullopt);
  return fresh;
}

std::optional<EditError> replace_node(YamlNode& root, YamlNode& slot, YamlNode fresh, ResolverMode mode) {
  YamlNode node = replacement_node(slot, std::move(fresh), mode);
  if (&slot == &root) keep_document_fields(slot, node);
  TreeOverlay overlay;
  overlay.replaced = &slot;
  overlay.replacement = &node;
  if (auto err = check_overlay(root, overlay)) return err;
  YamlNode old = std::move(slot);
  slot = std::move(node);
  drop_node_tree(std::move(old));
  return std::nullopt;
}

void keep_document_fields(const YamlNode& old_root, YamlNode& fresh) {
  fresh.explicit_start = old_root.explicit_start;
  fresh.set_directives(old_root.directives());
  fresh.leading_bom = old_root.leading_bom;
  fresh.explicit_end = old_root.explicit_end;
  fresh.set_empty_documents_before(old_root.empty_documents_before());
  fresh.set_empty_documents_after(old_root.empty_documents_after());
  // Texts of the new root may have been taken from the old tree.
  if (old_root.kept_text()) fresh.keep_text(old_root.kept_text());
}

void replace_whole_node(YamlNode& root, YamlNode& slot, YamlNode fresh) {
  if (&slot == &root) keep_document_fields(slot, fresh);
  fresh.edit_comments().modified = true;
  YamlNode old = std::move(slot);
  slot = std::move(fresh);
  drop_node_tree(std::move(old));
}

std::optional<EditError> assign_sequence_item(YamlNode& root, YamlNode& seq, uint64_t index, YamlNode fresh,
                                              ResolverMode mode) {
  if (!seq.is_sequence()) return EditError{EditErrorKind::TypeError, std::string(kNotCollectionMessage)};
  if (index >= seq.items.size()) return EditError{EditErrorKind::IndexError, std::string(kIndexOutOfRangeMessage)};
  return replace_node(root, seq.items[index], std::move(fresh), mode);
}

std::optional<EditError> delete_sequence_item(YamlNode& root, YamlNode& seq, uint64_t index) {
  if (!seq.is_sequence()) return EditError{EditErrorKind::TypeError, std::string(kNotCollectionMessage)};
  if (index >= seq.items.size()) return EditError{EditErrorKind::IndexError, std::string(kIndexOutOfRangeMessage)};
  TreeOverlay overlay;
  overlay.removed.push_back(&seq.items[index]);
  if (auto err = check_overlay(root, overlay)) return err;
  YamlNode old = std::move(seq.items[index]);
  seq.items.erase(seq.items.begin() + static_cast<ptrdiff_t>(index));
  mark_content_edited(seq);
  drop_node_tree(std::move(old));
  return std::nullopt;
}

std::optional<size_t> find_last_matching_entry(const YamlNode& map, const KeyPredicate& matches) {
  if (!map.is_mapping()) return std::nullopt;
  for (size_t i = map.pairs.size(); i-- > 0;)
    if (matches(map.pairs[i].key)) return i;
  return std::nullopt;
}

std::vector<size_t> find_matching_entries(const YamlNode& map, const KeyPredicate& matches) {
  std::vector<size_t> out;
  if (!map.is_mapping()) return out;
  for (size_t i = 0; i < map.pairs.size(); ++i)
    if (matches(map.pairs[i].key)) out.push_back(i);
  return out;
}

std::optional<EditError> assign_mapping_value(YamlNode& root, YamlNode& map, size_t entry, YamlNode fresh,
                                              ResolverMode mode) {
  if (!map.is_mapping()) return EditError{EditErrorKind::TypeError, std::string(kNotCollectionMessage)};
  if (entry >= map.pairs.size()) return EditError{EditErrorKind::KeyError, {}};
  return replace_node(root, map.pairs[entry].value, std::move(fresh), mode);
}

void append_mapping_entry(YamlNode& map, YamlNode key, YamlNode value) {
  key.edit_comments().modified = true;
  value.edit_comments().modified = true;
  map.pairs.push_back(MappingEntry{std::move(key), std::move(value)});
}

std::optional<EditError> delete_mapping_entries(YamlNode& root, YamlNode& map, std::span<const size_t> entries) {
  if (!map.is_mapping()) return EditError{EditErrorKind::TypeError, std::string(kNotCollectionMessage)};
  TreeOverlay overlay;
  overlay.removed.reserve(2 * entries.size());
  for (size_t i : entries) {
    if (i >= map.pairs.size()) return EditError{EditErrorKind::KeyError, {}};
    overlay.removed.push_back(&map.pairs[i].key);
    overlay.removed.push_back(&map.pairs[i].value);
  }
  if (auto err = check_overlay(root, overlay)) return err;
  if (entries.empty()) return std::nullopt;
  NodeList<MappingEntry> kept;
  std::vector<MappingEntry> dropped;
  kept.reserve(map.pairs.size() - std::min(entries.size(), map.pairs.size()));
  size_t next = 0;
  for (size_t i = 0; i < map.pairs.size(); ++i) {
    if (next < entries.size() && entries[next] == i) {
      dropped.push_back(std::move(map.pairs[i]));
      while (next < entries.size() && entries[next] == i) ++next;
    } else {
      kept.push_back(std::move(map.pairs[i]));
    }
  }
  map.pairs = std::move(kept);
  mark_content_edited(map);
  for (MappingEntry& e : dropped) {
    drop_node_tree(std::move(e.key));
    drop_node_tree(std::move(e.value));
  }
  return std::nullopt;
}

void mark_content_edited(YamlNode& node) {
  node.edit_comments().modified = true;
  if (node.source()) node.extra().source->content_edited = true;
}

std::optional<EditError> replace_document(std::vector<YamlNode>& roots, uint64_t index, YamlNode fresh) {
  if (index >= roots.size()) return EditError{EditErrorKind::IndexError, std::string(kIndexOutOfRangeMessage)};
  replace_whole_node(roots[index], roots[index], std::move(fresh));
  return std::nullopt;
}

std::optional<EditError> delete_document(RoundTripDocument& document, uint64_t index) {
  if (index >= document.docs.size())
    return EditError{EditErrorKind::IndexError, std::string(kIndexOutOfRangeMessage)};
  YamlNode gone = std::move(document.docs[index]);
  // A byte-order mark belongs to the stream, not to its first document.
  const bool bom = index == 0 && gone.leading_bom;
  document.docs.erase(document.docs.begin() + static_cast<ptrdiff_t>(index));
  // Without its kept text the document is re-emitted from the trees from now
  // on: this is the change mark of a removed document.
  if (bom && !document.docs.empty()) document.docs.front().leading_bom = true;
  document.source.reset();
  drop_node_tree(std::move(gone));
  return std::nullopt;
}

}  // namespace qf
