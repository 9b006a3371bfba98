#include "schema/view.hpp"

#include <cmath>
#include <string_view>

#include "decode/keys.hpp"
#include "roundtrip/source_tag.hpp"
#include "roundtrip/walk.hpp"
#include "support/stack_guard.hpp"

namespace qf {

namespace {

ScalarTag tag_of(const YamlNode& n) {
  return n.tag() ? ScalarTag(std::string_view(*n.tag())) : ScalarTag();
}

bool is_merge_tag(const std::optional<std::string>& tag) {
  return tag && (*tag == "!!merge" || *tag == "tag:yaml.org,2002:merge");
}

// The key a merge value that could not be merged is kept under.
const YamlNode& merge_key_node() {
  static const YamlNode* node = new YamlNode(YamlNode::scalar("<<"));
  return *node;
}

}  // namespace

Value scalar_to_value(const YamlNode& node, ResolverMode mode) {
  std::string_view text = node.is_scalar() ? std::string_view(node.text) : std::string_view();
  const ScalarStyle style = node.is_scalar() ? node.scalar_style : ScalarStyle::Plain;
  if (!node.is_scalar() && !node.tag()) return Value::null();
  ResolvedScalar r = resolve_scalar_owned(mode, text, style, tag_of(node));
  switch (r.kind) {
    case ResolvedKind::Null: return Value::null();
    case ResolvedKind::Bool: return Value::boolean(r.truth);
    case ResolvedKind::Int: return Value::integer(r.int_value);
    case ResolvedKind::BigInt: return Value::big_int(r.text, r.radix);
    case ResolvedKind::Float: return Value::floating(r.float_value);
    default: return Value::string(r.text);
  }
}

ValidationView::ValidationView(const YamlNode& root, ResolverMode mode, MergeKeyRule rule, bool aliases)
    : root_(&root), mode_(mode), rule_(rule), aliases_(aliases) {
  if (rule != MergeKeyRule::SourceTree) handles_ = TagHandles(root);
}

uint64_t ValidationView::nodes_seen() {
  if (!nodes_seen_) {
    if (aliases_) {
      measure();
    } else {
      uint64_t n = 0;
      walk_tree(*root_, [&](const YamlNode&) { ++n; });
      nodes_seen_ = n;
    }
  }
  return *nodes_seen_;
}

ViewNode ValidationView::resolve(const YamlNode& n) const {
  if (!n.is_alias()) [[likely]]
    return ViewNode{&n, n.span};
  auto it = targets_.find(&n);
  return ViewNode{it == targets_.end() ? nullptr : it->second, n.span};
}

std::optional<ExpansionError> ValidationView::measure() {
  if (!aliases_ || nodes_seen_) return std::nullopt;
  uint64_t seen = 0;
  uint64_t expanded = 0;

  // The expansion of one alias: what it refers to, with the aliases inside
  // followed (they lie earlier in the document and are linked already).
  struct Job {
    const YamlNode* node;
    uint32_t depth;       // aliases followed to reach the node
    const YamlNode* via;  // the innermost of them
  };
  std::vector<Job> jobs;
  auto expand = [&](const YamlNode& target, const YamlNode& alias) -> std::optional<ExpansionError> {
    jobs.clear();
    jobs.push_back({&target, 1, &alias});
    while (!jobs.empty()) {
      Job job = jobs.back();
      jobs.pop_back();
      const YamlNode& n = *job.node;
      if (n.is_alias()) {
        auto it = targets_.find(&n);
        if (it == targets_.end()) {
          ++seen;  // a null stands in for it
          continue;
        }
        if (job.depth + 1 > kMaxAliasExpansionDepth)
          return ExpansionError{"alias expansion exceeded the maximum alias depth of " +
                                    std::to_string(kMaxAliasExpansionDepth),
                                n.span};
        jobs.push_back({it->second, job.depth + 1, &n});
        continue;
      }
      ++seen;
      if (++expanded > kAliasExpansionBudget)
        return ExpansionError{"alias expansion exceeded the budget of " + std::to_string(kAliasExpansionBudget) +
                                  " nodes",
                              job.via->span};
      for (size_t i = n.pairs.size(); i-- > 0;) {
        jobs.push_back({&n.pairs[i].value, job.depth, job.via});
        jobs.push_back({&n.pairs[i].key, job.depth, job.via});
      }
      for (size_t i = n.items.size(); i-- > 0;) jobs.push_back({&n.items[i], job.depth, job.via});
    }
    return std::nullopt;
  };

  // The document in order; a definition takes effect once its node is
  // complete, so an alias inside its own anchor's node does not reach it.
  std::unordered_map<std::string_view, const YamlNode*, SeededStringHash> bound;
  auto enter = [&](const YamlNode& n) -> std::optional<ExpansionError> {
    if (!n.is_alias()) {
      ++seen;
      return std::nullopt;
    }
    auto it = bound.find(n.text);
    if (it == bound.end()) {
      ++seen;
      return std::nullopt;
    }
    targets_.emplace(&n, it->second);
    return expand(*it->second, n);
  };
  struct Frame {
    const YamlNode* node;
    size_t next;  // next child slot: items, or 2 per pair (key, value)
  };
  std::vector<Frame> stack;
  if (auto e = enter(*root_)) return e;
  stack.push_back({root_, 0});
  while (!stack.empty()) {
    Frame& f = stack.back();
    const YamlNode& n = *f.node;
    const size_t count = n.items.size() + 2 * n.pairs.size();
    if (f.next >= count) {
      if (n.anchor()) bound[*n.anchor()] = &n;
      stack.pop_back();
      continue;
    }
    const size_t slot = f.next++;
    const YamlNode* child;
    if (slot < n.items.size()) {
      child = &n.items[slot];
    } else {
      const MappingEntry& e = n.pairs[(slot - n.items.size()) / 2];
      child = (slot - n.items.size()) % 2 == 0 ? &e.key : &e.value;
    }
    if (auto e = enter(*child)) return e;
    stack.push_back({child, 0});
  }
  nodes_seen_ = seen;
  return std::nullopt;
}

size_t ValidationView::item_count(const ViewNode& seq) const {
  if (seq.items) return seq.items->size();
  return seq.node && seq.node->is_sequence() ? seq.node->items.size() : 0;
}

ViewNode ValidationView::item(const ViewNode& seq, size_t i) const {
  if (seq.items) return (*seq.items)[i];
  return resolve(seq.node->items[i]);
}

bool ValidationView::is_merge_key(const YamlNode& written, const ViewNode& key) const {
  if (rule_ != MergeKeyRule::Loader) {
    if (is_merge_tag(written.tag())) return true;
    return !written.tag() && written.is_scalar() && written.scalar_style == ScalarStyle::Plain && written.text == "<<";
  }
  if (!key.node || key.items || key.key_as_string) return false;
  const YamlNode& k = *key.node;
  if (k.is_scalar()) return resolve_scalar(mode_, k.text, k.scalar_style, tag_of(k)).is(ResolvedKind::Merge);
  if (k.is_null() && k.tag())
    return resolve_scalar(mode_, std::string_view(), ScalarStyle::Plain, tag_of(k)).is(ResolvedKind::Merge);
  return false;
}

bool ValidationView::custom_tagged(const ViewNode& n) const {
  if (!n.node || n.items || !n.node->tag()) return false;
  std::string scratch;
  return !is_standard_tag(handles_.expand(*n.node->tag(), scratch));
}

bool ValidationView::resolves_to(const ViewNode& n, ResolvedKind kind) const {
  if (!n.node || n.items) return false;
  const YamlNode& k = *n.node;
  if (k.is_scalar()) return resolve_scalar(mode_, k.text, k.scalar_style, tag_of(k)).is(kind);
  if (k.is_null()) return resolve_scalar(mode_, std::string_view(), ScalarStyle::Plain, tag_of(k)).is(kind);
  return false;
}

ValidationView::Pairs ValidationView::pairs(const ViewNode& map) {
  Pairs p;
  if (!map.node || map.items || map.key_as_string || !map.node->is_mapping()) return p;
  const YamlNode& m = *map.node;
  for (const MappingEntry& e : m.pairs) {
    const YamlNode& k = e.key;
    // Most keys are untagged scalars other than "<<": no merge key.
    if (!k.is_alias() && !k.tag() && (!k.is_scalar() || k.text != "<<")) continue;
    if (is_merge_key(k, resolve(k))) {
      p.merged = &merged(m).pairs;
      return p;
    }
  }
  if (m.pairs.size() >= 2 && repeats_a_key(m)) {
    p.merged = &merged(m).pairs;
    return p;
  }
  p.raw = &m;
  return p;
}

// Whether the road's dict would hold fewer keys than the mapping has pairs,
// or might: keys that read as strings are compared by their text, and any
// other key (a number, a boolean, a null, a tagged or collection key) sends
// the mapping to the merged list, which compares full key identities. Small
// mappings are checked on every look (cheaper than a lookup), larger ones
// once.
bool ValidationView::repeats_a_key(const YamlNode& map) {
  constexpr size_t kSmall = 8;
  const size_t n = map.pairs.size();
  if (n > kSmall) {
    if (unrepeated_.count(&map)) return false;
    if (merged_.count(&map)) return true;
  }
  std::string_view small[kSmall];
  std::unordered_set<std::string_view, SeededStringHash> large;
  if (n > kSmall) large.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const ViewNode key = resolve(map.pairs[i].key);
    const YamlNode* k = key.node;
    if (!k || !k->is_scalar() || k->tag() ||
        (k->scalar_style == ScalarStyle::Plain && !resolve_scalar(mode_, k->text, ScalarStyle::Plain).is(ResolvedKind::Str)))
      return true;
    const std::string_view text = k->text;
    if (n <= kSmall) {
      for (size_t j = 0; j < i; ++j)
        if (small[j] == text) return true;
      small[i] = text;
    } else if (!large.insert(text).second) {
      return true;
    }
  }
  if (n > kSmall) unrepeated_.insert(&map);
  return false;
}

ViewPair ValidationView::pair(const Pairs& pairs, size_t i) const {
  if (pairs.merged) return (*pairs.merged)[i];
  const MappingEntry& e = pairs.raw->pairs[i];
  return ViewPair{resolve(e.key), resolve(e.value)};
}

// As the host's dict tells keys apart (1, 1.0 and true are one key; each
// NaN is a key of its own).
std::string ValidationView::key_identity(const ViewNode& key) {
  std::string id;
  const Value v = to_value(key);
  append_key_fingerprint(v, id);
  if (v.is(ValueKind::Float) && std::isnan(v.as_float())) id += "#" + std::to_string(++nan_keys_);
  return id;
}

// The pairs in document order, as the road builds its dict: a repeated key
// keeps its first place and takes the last value; a merged pair is added
// when its key is new; a merge value's rest goes under the merge key.
const ValidationView::Merged& ValidationView::merged(const YamlNode& map) {
  auto found = merged_.find(&map);
  if (found != merged_.end()) return *found->second;
  auto result = std::make_unique<Merged>();
  std::vector<ViewPair>& out = result->pairs;
  KeyIdentities seen;
  uint64_t source_id = 0;
  constexpr size_t kNone = static_cast<size_t>(-1);
  size_t slot = kNone;       // the plain loader: the entry that holds the rests
  bool rest_placed = false;  // the source-tree roads: a rest has been placed
  for (const MappingEntry& e : map.pairs) {
    ViewPair p{resolve(e.key), resolve(e.value)};
    if (!is_merge_key(e.key, p.key)) {
      auto [it, inserted] = seen.try_emplace(key_identity(p.key), out.size(), kOwnPair);
      if (inserted) {
        out.push_back(p);
      } else {
        out[it->second.first].value = p.value;
        if (it->second.first == slot) slot = kNone;
      }
      if (e.key.is_scalar() && e.key.text == "<<") rest_placed = false;
      continue;
    }
    std::optional<ViewNode> leftover;
    merge_value(p.value, false, out, seen, source_id, leftover);
    if (!leftover) continue;
    if (rule_ == MergeKeyRule::Loader) {
      if (slot != kNone) {
        out[slot].value = joined(out[slot].value, *leftover);
      } else if (seen.try_emplace(key_identity(ViewNode{&merge_key_node(), p.key.span}), out.size(), kLeftover).second) {
        slot = out.size();
        out.push_back(ViewPair{ViewNode{&merge_key_node(), p.key.span}, *leftover});
      }
      continue;
    }
    // Kept under the merge key as the road reads it: "<<" when it is typed
    // as a merge key, otherwise its own text (a "!!merge"-tagged key under
    // YAML 1.2). Once a rest is placed, a later one joins whatever that key
    // holds.
    const ViewNode key = resolves_to(p.key, ResolvedKind::Merge) ? ViewNode{&merge_key_node(), p.key.span} : p.key;
    auto [it, inserted] = seen.try_emplace(key_identity(key), out.size(), kLeftover);
    if (inserted) {
      out.push_back(ViewPair{key, *leftover});
      rest_placed = true;
    } else if (rest_placed) {
      out[it->second.first].value = joined(out[it->second.first].value, *leftover);
    }
  }
  return *merged_.emplace(&map, std::move(result)).first->second;
}

// Merges one merge value into `out`; what cannot be merged comes back as
// `leftover` (the value itself, or the sequence of its unmerged items).
// `secret`: the value lies inside a !secret copy.
void ValidationView::merge_value(const ViewNode& value, bool secret, std::vector<ViewPair>& out,
                                 KeyIdentities& seen, uint64_t& source_id, std::optional<ViewNode>& leftover) {
  secret = secret || value.in_secret();
  if (!custom_tagged(value)) {
    switch (value.kind()) {
      case NodeKind::Mapping: {
        const uint64_t source = ++source_id;
        Pairs ps = ensure_stack([&] { return pairs(value); });  // may merge the merge value first
        for (size_t i = 0; i < ps.size(); ++i) {
          ViewPair p = pair(ps, i);
          p.key.secret = p.key.secret || secret;
          p.value.secret = p.value.secret || secret;
          auto [it, inserted] = seen.try_emplace(key_identity(p.key), out.size(), source);
          if (inserted) out.push_back(p);
          else if (it->second.second == source) out[it->second.first].value = p.value;  // last value wins
        }
        return;
      }
      case NodeKind::Sequence: {
        std::vector<ViewNode> rest;
        const size_t n = item_count(value);
        for (size_t i = 0; i < n; ++i) {
          std::optional<ViewNode> left;
          ensure_stack([&] { merge_value(item(value, i), secret, out, seen, source_id, left); });
          if (left) rest.push_back(*left);
        }
        if (rest.empty()) return;
        leftovers_.push_back(std::move(rest));
        leftover = ViewNode{nullptr, value.span, &leftovers_.back()};
        return;
      }
      case NodeKind::Scalar:
      case NodeKind::Null:
        if (!value.node || resolves_to(value, ResolvedKind::Null)) return;  // a null is dropped
        break;
      default:
        break;
    }
  }
  leftover = value;
  leftover->secret = secret;
}

// Two rests of merges under one key: one sequence of both, a sequence's items
// taken one by one (a custom-tagged one stays whole where tags count).
ViewNode ValidationView::joined(const ViewNode& held, const ViewNode& more) {
  std::vector<ViewNode> items;
  for (const ViewNode* v : {&held, &more}) {
    if (v->kind() != NodeKind::Sequence || custom_tagged(*v)) {
      items.push_back(*v);
      continue;
    }
    const size_t n = item_count(*v);
    for (size_t i = 0; i < n; ++i) {
      ViewNode it = item(*v, i);
      it.secret = it.secret || v->in_secret();
      items.push_back(it);
    }
  }
  leftovers_.push_back(std::move(items));
  return ViewNode{nullptr, held.span, &leftovers_.back()};
}

Value ValidationView::to_value(const ViewNode& n) {
  if (n.key_as_string) return Value::string(n.node->text);
  switch (n.kind()) {
    case NodeKind::Sequence: {
      ValueList items;
      const size_t count = item_count(n);
      items.reserve(count);
      for (size_t i = 0; i < count; ++i) items.push_back(ensure_stack([&] { return to_value(item(n, i)); }));
      return Value::sequence(std::move(items));
    }
    case NodeKind::Mapping: {
      PairList out;
      Pairs ps = pairs(n);
      out.reserve(ps.size());
      for (size_t i = 0; i < ps.size(); ++i) {
        ViewPair p = pair(ps, i);
        ValuePair& vp = out.emplace_back();
        vp.key = ensure_stack([&] { return to_value(p.key); });
        vp.value = ensure_stack([&] { return to_value(p.value); });
      }
      return Value::mapping(std::move(out));
    }
    case NodeKind::Scalar:
    case NodeKind::Null:
      return n.node ? scalar_to_value(*n.node, mode_) : Value::null();
    default:
      return Value::null();
  }
}

}  // namespace qf
