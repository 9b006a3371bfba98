#include "roundtrip/node_edits.hpp"

#include <algorithm>
#include <cstdio>
#include <unordered_set>
#include <utility>
#include <vector>

#include "roundtrip/composer.hpp"
#include "roundtrip/edit.hpp"
#include "roundtrip/walk.hpp"
#include "support/utf8.hpp"

namespace qf {

namespace {

enum class NameChar : uint8_t { Ok, Separator, Control };

NameChar classify_name_char(char32_t c) {
  switch (c) {
    case 0: case '\t': case '\n': case '\r': case ' ':
    case ',': case '[': case ']': case '{': case '}':
      return NameChar::Separator;
    default: break;
  }
  if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F && c != 0x85) || c == 0xFFFE || c == 0xFFFF)
    return NameChar::Control;
  return NameChar::Ok;
}

bool escaped_as_code(char32_t c) { return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == 0xFFFE || c == 0xFFFF; }

void append_escaped(std::string& out, char32_t c) {
  switch (c) {
    case '"': out += "\\\""; return;
    case '\\': out += "\\\\"; return;
    case 0: out += "\\0"; return;
    case '\t': out += "\\t"; return;
    case '\n': out += "\\n"; return;
    case '\r': out += "\\r"; return;
    default: break;
  }
  if (escaped_as_code(c)) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(c));
    out += buf;
    return;
  }
  append_utf8(out, c);
}

// Calls f(code point) for each character; invalid bytes come as U+FFFD.
template <class F>
void for_each_char(std::string_view s, F&& f) {
  const char* p = s.data();
  const char* end = p + s.size();
  while (p < end) {
    unsigned len = 0;
    char32_t c = decode_utf8(p, end, &len);
    if (len == 0) len = 1;
    if (!f(c)) return;
    p += len;
  }
}

}  // namespace

std::optional<std::string> anchor_name_error(std::string_view name) {
  if (name.empty()) return std::string("anchor name cannot be empty");
  NameChar kind = NameChar::Ok;
  char32_t found = 0;
  for_each_char(name, [&](char32_t c) {
    kind = classify_name_char(c);
    found = c;
    return kind == NameChar::Ok;
  });
  if (kind == NameChar::Ok) return std::nullopt;
  std::string quoted = "\"";
  for_each_char(name, [&](char32_t c) {
    append_escaped(quoted, c);
    return true;
  });
  quoted += '"';
  std::string ch = "'";
  append_escaped(ch, found);
  ch += '\'';
  return "invalid anchor name " + quoted + ": cannot contain " +
         (kind == NameChar::Separator ? "whitespace, line breaks, or flow indicators" : "control characters") +
         " (found " + ch + ")";
}

const YamlNode* first_anchor_carrier(const YamlNode& root, std::string_view name) {
  const YamlNode* found = nullptr;
  walk_tree(root, [&](const YamlNode& n) {
    if (!n.anchor() || *n.anchor() != name) return Walk::Into;
    found = &n;
    return Walk::Stop;
  });
  return found;
}

std::optional<std::string> anchor_referenced_from_outside(const YamlNode& root, const YamlNode& subtree,
                                                          const AnchorResolver& resolver, AnchorsRemoved removed) {
  std::unordered_set<const YamlNode*> anchored;  // in the subtree
  walk_tree(subtree, [&](const YamlNode& n) {
    const bool is_root = &n == &subtree;
    if (n.anchor() && (is_root ? removed != AnchorsRemoved::Below : removed != AnchorsRemoved::Root))
      anchored.insert(&n);
  });
  if (anchored.empty()) return std::nullopt;
  std::optional<std::string> name;
  walk_tree(root, [&](const YamlNode& n) {
    if (&n == &subtree) return Walk::Over;  // its own aliases go with it
    if (!n.is_alias()) return Walk::Into;
    const YamlNode* t = resolver.target(n);
    if (!t || !anchored.count(t)) return Walk::Into;
    name = *t->anchor();
    return Walk::Stop;
  });
  return name;
}

void rename_anchor(const YamlNode& root, YamlNode& node, std::string name, const AnchorResolver& resolver) {
  std::vector<YamlNode*> referring;
  if (node.anchor() && *node.anchor() != name) {
    walk_tree(root, [&](const YamlNode& n) {
      if (n.is_alias() && resolver.target(n) == &node) referring.push_back(const_cast<YamlNode*>(&n));
    });
  }
  for (YamlNode* a : referring) {
    a->text = name;
    a->edit_comments().modified = true;
  }
  node.set_anchor(std::move(name));
  node.edit_comments().modified = true;
}

MakeAliasOutcome make_alias_outcome(const YamlNode& root, const YamlNode& node, std::string_view name) {
  if (AnchorResolver::target_at(root, node, name)) return MakeAliasOutcome::Ok;
  // Why not: no carrier at all, one around the node, or only later ones.
  bool any = false;
  bool cycle = false;
  std::vector<const YamlNode*> path;  // the nodes from the root to the one visited
  walk_tree(root, [&](const YamlNode& n, uint32_t depth) {
    path.resize(depth);
    path.push_back(&n);
    if (n.anchor() && *n.anchor() == name) any = true;
    if (&n == &node)
      for (const YamlNode* a : path)
        if (a->anchor() && *a->anchor() == name) cycle = true;
  });
  if (!any) return MakeAliasOutcome::NoAnchor;
  return cycle ? MakeAliasOutcome::Cycle : MakeAliasOutcome::Order;
}

void make_alias_in_place(YamlNode& node, std::string name) {
  YamlNode gone;
  gone.items = std::move(node.items);
  gone.pairs = std::move(node.pairs);
  node.items.clear();
  node.pairs.clear();
  node.kind = NodeKind::Alias;
  node.text = std::move(name);
  node.scalar_style = ScalarStyle::Plain;
  node.set_anchor(std::nullopt);
  node.set_tag(std::nullopt);
  if (node.comments().raw) node.edit_comments().raw.reset();
  mark_content_edited(node);
  drop_node_tree(std::move(gone));
}

void place_detached_copy(YamlNode& root, YamlNode& slot, YamlNode copy) {
  replace_whole_node(root, slot, std::move(copy));
  if (!slot.source()) return;
  slot.edit_comments().modified = false;
  walk_tree(root, [&](YamlNode& n) {
    for (YamlNode& item : n.items)
      if (&item == &slot) mark_content_edited(n);
    for (MappingEntry& e : n.pairs)
      if (&e.key == &slot || &e.value == &slot) mark_content_edited(n);
  });
}

uint32_t subtree_height(const YamlNode& node) {
  uint32_t best = 0;
  walk_tree(node, [&](const YamlNode&, uint32_t depth) { best = std::max(best, depth); });
  return best;
}

DetachCopy detach_copy(const YamlNode& alias, const AnchorResolver& resolver, uint32_t alias_depth) {
  DetachCopy out;
  const YamlNode* target = resolver.target(alias);
  if (!target) {
    out.status = DetachCopy::Status::NoDefinition;
    return out;
  }
  ExpansionBudget budget;
  ExpansionResult r = expand_aliases_for_detach(*target, resolver, budget);
  if (!r.ok()) {
    out.status = DetachCopy::Status::ExpansionFailed;
    out.expansion_error = std::move(r.error);
    return out;
  }
  // The composer reads at most kMaxComposeDepth levels; the root is level 1.
  if (uint64_t(alias_depth) + subtree_height(r.node) + 1 > kMaxComposeDepth) {
    out.status = DetachCopy::Status::TooDeep;
    return out;
  }
  out.node = std::move(r.node);
  return out;
}

}  // namespace qf
