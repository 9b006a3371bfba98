#include "roundtrip/anchors.hpp"

#include <algorithm>

#include "roundtrip/document_order.hpp"
#include "support/hash.hpp"

namespace qf {

namespace {

struct KeyedHash {
  uint64_t seed = process_hash_seed();
  size_t operator()(std::string_view s) const noexcept { return size_t(hash_bytes(s, seed)); }
};

// Pre-order with paths: only entries with scalar keys, KeyNode before Key.
// `visit(node, path)` returns false to stop.
template <class Visit>
void walk_with_paths(const YamlNode& root, Visit&& visit) {
  struct Frame {
    const YamlNode* node;
    size_t next;
    bool pushed;  // a path step for the current child is on the path
  };
  NodePath path;
  std::vector<Frame> stack;
  if (!visit(root, path)) return;
  stack.push_back({&root, 0, false});
  while (!stack.empty()) {
    Frame& f = stack.back();
    if (f.pushed) {
      path.pop_back();
      f.pushed = false;
    }
    const YamlNode& n = *f.node;
    const YamlNode* child = nullptr;
    if (n.is_sequence()) {
      if (f.next < n.items.size()) {
        path.push_back(PathSegment::index_step(f.next));
        child = &n.items[f.next++];
      }
    } else if (n.is_mapping()) {
      while (f.next < 2 * n.pairs.size() && !n.pairs[f.next / 2].key.is_scalar()) f.next += 2;
      if (f.next < 2 * n.pairs.size()) {
        const MappingEntry& e = n.pairs[f.next / 2];
        if (f.next % 2 == 0) {
          path.push_back(PathSegment::key_step_for(e.key, true));
          child = &e.key;
        } else {
          path.push_back(PathSegment::key_step_for(e.key));
          child = &e.value;
        }
        ++f.next;
      }
    }
    if (!child) {
      stack.pop_back();
      continue;
    }
    f.pushed = true;
    if (!visit(*child, path)) return;
    stack.push_back({child, 0, false});
  }
}

YamlNode placeholder(const YamlNode& of) { return YamlNode::null_at(of.span); }

// A secret or an environment value, directly or through included files: no
// file holds its value, so a copy written anywhere must be its directive.
bool stands_for_a_value(const YamlNode& n) {
  if (!n.source()) return false;
  for (const IncludeSource* s = &*n.source();; s = &s->inner.front()) {
    if (s->tag == "!secret" || s->tag == "!env_var") return true;
    if (s->inner.empty()) return false;
  }
}

ExpansionResult expand(const YamlNode& root, const AnchorResolver& resolver, ExpansionBudget& budget, bool detach) {
  ExpansionResult result;
  struct Job {
    const YamlNode* src;
    YamlNode* dst;
    uint32_t depth;  // alias expansions between the start and src
  };
  std::vector<Job> stack;
  stack.push_back({&root, &result.node, 0});
  while (!stack.empty()) {
    Job job = stack.back();
    stack.pop_back();
    const YamlNode* src = job.src;
    uint32_t depth = job.depth;
    while (src->is_alias()) {
      const YamlNode* t = resolver.target(*src);
      if (!t) break;
      if (depth + 1 > kMaxAliasExpansionDepth) {
        result.error = ExpansionError{"alias expansion exceeded the maximum alias depth of " +
                                          std::to_string(kMaxAliasExpansionDepth),
                                      src->span};
        return result;
      }
      ++depth;
      src = t;
    }
    if (budget.remaining == 0) {
      result.error = ExpansionError{expansion_budget_message(), src->span};
      return result;
    }
    --budget.remaining;
    YamlNode& d = *job.dst;
    if (src->is_alias()) {  // dangling
      d = placeholder(*src);
      if (detach) {
        d.set_comments(src->comments());
        d.set_tag(src->tag());
      }
      continue;
    }
    d.kind = src->kind;
    d.span = src->span;
    // A copy for conversion keeps the whole location of what it copies (a
    // value made from it reports where its node ends); a detached copy is
    // new text, so its end is its start.
    d.end_offset = detach ? src->span.offset : src->end_offset;
    d.end_line = detach ? src->span.line : src->end_line;
    d.end_column = detach ? src->span.column : src->end_column;
    d.set_tag(src->tag());
    if (src->is_scalar()) {
      d.text = src->text;
      d.scalar_style = src->scalar_style;
      if (!detach && src->comments().raw) d.edit_comments().raw = src->comments().raw;
    }
    if (detach) {
      d.set_comments(src->comments());
      d.style = src->style;
      if (stands_for_a_value(*src)) {
        // Its directive's fields are those it is copied with.
        IncludeSource record = *src->source();
        record.directive_fields = IncludedRootFields{};
        record.directive_fields->comments = d.comments();
        d.set_source(std::move(record));
      }
    } else if (src->is_scalar() || src->is_null()) {
      d.style = src->style;
    }
    if (!src->items.empty()) {
      d.items.resize(src->items.size());
      for (size_t i = src->items.size(); i-- > 0;) stack.push_back({&src->items[i], &d.items[i], depth});
    }
    if (!src->pairs.empty()) {
      d.pairs.resize(src->pairs.size());
      for (size_t i = src->pairs.size(); i-- > 0;) {
        stack.push_back({&src->pairs[i].value, &d.pairs[i].value, depth});
        stack.push_back({&src->pairs[i].key, &d.pairs[i].key, depth});
      }
    }
  }
  return result;
}

}  // namespace

std::string expansion_budget_message() {
  return "alias expansion exceeded the budget of " + std::to_string(kAliasExpansionBudget) + " nodes";
}

AnchorResolver::AnchorResolver(const std::vector<YamlNode>& roots) {
  for (const YamlNode& r : roots) add_document(r);
}

void AnchorResolver::add_document(const YamlNode& root) {
  // Per name, the latest complete definition in each file: an alias binds
  // within the file whose text holds it, never to an anchor of content that
  // a directive brought in from another file.
  std::unordered_map<std::string_view, std::vector<std::pair<uint32_t, const YamlNode*>>, KeyedHash> bound;
  std::vector<const YamlNode*> open;  // the nodes entered and not yet left
  walk_document(
      root,
      [&](const YamlNode& n) {
        if (n.is_alias()) {
          auto it = bound.find(n.text);
          if (it != bound.end())
            for (const auto& [file, def] : it->second)
              if (file == n.span.file_id) targets_[&n] = def;
        }
        open.push_back(&n);
      },
      [&](const YamlNode& n) {
        open.pop_back();
        if (!n.anchor()) return;
        // A definition takes effect once its node is complete. The anchor of
        // a node a directive produced was written on the directive, in the
        // file of the enclosing node.
        const uint32_t file = !n.source() ? n.span.file_id : open.empty() ? 0 : open.back()->span.file_id;
        auto& defs = bound[*n.anchor()];
        auto same = std::find_if(defs.begin(), defs.end(), [&](const auto& d) { return d.first == file; });
        if (same != defs.end()) same->second = &n;
        else defs.emplace_back(file, &n);
      });
}

const YamlNode* AnchorResolver::target(const YamlNode& alias) const {
  auto it = targets_.find(&alias);
  return it == targets_.end() ? nullptr : it->second;
}

const YamlNode* AnchorResolver::final_target(const YamlNode& node) const {
  const YamlNode* n = &node;
  for (uint32_t i = 0; n && n->is_alias(); ++i) {
    if (i > kMaxAliasExpansionDepth) return nullptr;
    n = target(*n);
  }
  return n;
}

const YamlNode* AnchorResolver::target_at(const YamlNode& root, const YamlNode& at, std::string_view name) {
  // The last definition of the name complete before `at` is entered.
  const YamlNode* bound = nullptr;
  bool reached = false;
  walk_document(
      root, [&](const YamlNode& n) { reached = reached || &n == &at; },
      [&](const YamlNode& n) {
        if (!reached && n.anchor() && *n.anchor() == name) bound = &n;
      });
  return reached ? bound : nullptr;
}

ExpansionResult expand_aliases(const YamlNode& node, const AnchorResolver& resolver, ExpansionBudget& budget) {
  return expand(node, resolver, budget, false);
}

ExpansionResult expand_aliases_for_detach(const YamlNode& node, const AnchorResolver& resolver,
                                          ExpansionBudget& budget) {
  return expand(node, resolver, budget, true);
}

const YamlNode* ExpandedAnchorMap::expanded(const YamlNode& alias) const {
  const YamlNode* t = resolver_.final_target(alias);
  if (!t) return nullptr;
  auto it = copies_.find(t);
  return it == copies_.end() ? nullptr : &it->second;
}

ExpandedAnchorMapBuild build_expanded_anchor_map(const std::vector<YamlNode>& roots) {
  ExpandedAnchorMapBuild b;
  b.map.resolver_ = AnchorResolver(roots);
  ExpansionBudget budget;
  for (const YamlNode& root : roots) {
    std::vector<const YamlNode*> targets;
    walk_document(
        root,
        [&](const YamlNode& n) {
          if (n.is_alias())
            if (const YamlNode* t = b.map.resolver_.final_target(n)) targets.push_back(t);
        },
        [](const YamlNode&) {});
    for (const YamlNode* t : targets) {
      if (b.map.copies_.count(t)) continue;
      ExpansionResult r = expand_aliases(*t, b.map.resolver_, budget);
      if (!r.ok()) {
        b.error = std::move(r.error);
        return b;
      }
      b.map.copies_.emplace(t, std::move(r.node));
    }
  }
  return b;
}

std::optional<NodePath> find_anchor_definition(const YamlNode& root, std::string_view name, const YamlNode* alias) {
  if (!alias) {
    std::optional<NodePath> found;
    walk_with_paths(root, [&](const YamlNode& n, const NodePath& path) {
      if (n.anchor() && *n.anchor() == name) {
        found = path;
        return false;
      }
      return true;
    });
    return found;
  }
  // The definition the alias refers to, then its path.
  AnchorResolver resolver;
  resolver.add_document(root);
  const YamlNode* target = resolver.target(*alias);
  if (!target) return std::nullopt;
  return path_of_node(root, *target);
}

std::optional<NodePath> path_of_node(const YamlNode& root, const YamlNode& node) {
  std::optional<NodePath> found;
  walk_with_paths(root, [&](const YamlNode& n, const NodePath& path) {
    if (&n == &node) {
      found = path;
      return false;
    }
    return true;
  });
  return found;
}

std::vector<NodePath> collect_aliases_with_paths(const YamlNode& root, std::string_view name) {
  std::vector<NodePath> out;
  walk_with_paths(root, [&](const YamlNode& n, const NodePath& path) {
    if (n.is_alias() && n.text == name) out.push_back(path);
    return true;
  });
  return out;
}

std::vector<NodePath> collect_aliases_of(const YamlNode& root, const YamlNode& anchored,
                                         const AnchorResolver& resolver) {
  std::vector<NodePath> out;
  walk_with_paths(root, [&](const YamlNode& n, const NodePath& path) {
    if (n.is_alias() && resolver.target(n) == &anchored) out.push_back(path);
    return true;
  });
  return out;
}

std::vector<std::pair<std::string, NodePath>> collect_anchors_with_paths(const YamlNode& root) {
  std::vector<std::pair<std::string, NodePath>> out;
  walk_with_paths(root, [&](const YamlNode& n, const NodePath& path) {
    if (n.anchor()) out.emplace_back(*n.anchor(), path);
    return true;
  });
  return out;
}

}  // namespace qf
