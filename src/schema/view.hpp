// What the validator sees of a document: a read-only view over the composed
// tree in which aliases stand for the nodes they refer to and merge keys
// ("<<") are carried out, without copying the tree.
//
// An alias is followed to the nearest preceding definition of its name (as
// the loaders read it); the node reached is reported at the alias's
// position, its children at their own. A mapping with a merge key, or with
// a key repeated (as the road's dict tells keys apart), gets one merged pair
// list, built the first time it is looked at the way the road that builds
// the result fills its dict: in document order, a repeated key
// keeps its first place and takes the last value; a merged pair is added
// when its key is new (the earlier merge and the earlier mapping of a merged
// sequence win; within one merged mapping a repeated key gives its last
// value); a null merge value is dropped; what could not be merged goes under
// the merge key, later rests joined with it into one sequence.
#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "decode/seeded_hash.hpp"
#include "decode/value.hpp"
#include "resolver/resolver.hpp"
#include "roundtrip/anchors.hpp"
#include "roundtrip/ast.hpp"
#include "roundtrip/tag_handles.hpp"

namespace qf {

// How a road merges: which keys merge, and whether custom tags count.
enum class MergeKeyRule : uint8_t {
  // As the plain loader reads them: keys the resolver mode types as merge
  // keys (so under YAML 1.2 a "!!merge"-tagged key is an ordinary key); a
  // custom-tagged value is never merged, and stays one leftover item.
  Loader,
  // As round-trip documents give their plain values: a "!!merge"-tagged key
  // whatever its content, or an untagged plain "<<" (never an alias); a
  // custom-tagged value as Loader, its tag read as written (those plain
  // values do not expand %TAG handles).
  SourceTree,
  // The annotated and directive roads: as SourceTree, with tags read through
  // the document's %TAG handles.
  TaggedSourceTree,
};

struct ViewNode {
  const YamlNode* node = nullptr;  // never an alias; nullptr: a null standing in
  Span span{};
  // A sequence made while merging: the items of a merge value that could not
  // be merged.
  const std::vector<ViewNode>* items = nullptr;
  // A key's text seen as a double-quoted string (propertyNames).
  bool key_as_string = false;
  // Lies inside a !secret copy although merged into a mapping outside it.
  bool secret = false;

  // Secret text: a !secret copy, a node within one that a merge moved out.
  bool in_secret() const noexcept { return secret || (node && node->source() && node->source()->is_secret()); }

  NodeKind kind() const noexcept {
    if (items) return NodeKind::Sequence;
    if (!node) return NodeKind::Null;
    return key_as_string ? NodeKind::Scalar : node->kind;
  }
};

struct ViewPair {
  ViewNode key;
  ViewNode value;
};

class ValidationView {
 public:
  // Without `aliases`, the caller knows the tree holds no alias (its text
  // has no "*"): no anchor table is built and measure() has nothing to do.
  ValidationView(const YamlNode& root, ResolverMode mode, MergeKeyRule rule, bool aliases = true);
  ValidationView(const ValidationView&) = delete;
  ValidationView& operator=(const ValidationView&) = delete;

  // Links every alias to the nearest preceding complete definition of its
  // name, and walks everything the validator can reach (aliases expanded),
  // failing at the alias when aliases nest deeper than 100 or their
  // expansions produce more than 1,000,000 nodes; one walk does both. Runs
  // before anything else is asked of the view.
  std::optional<ExpansionError> measure();
  // Nodes the validator can reach, alias expansions included.
  uint64_t nodes_seen();

  ResolverMode mode() const noexcept { return mode_; }
  ViewNode root() const { return resolve(*root_); }
  // The node itself, or what an alias refers to (at the alias's position).
  ViewNode resolve(const YamlNode& n) const;

  size_t item_count(const ViewNode& seq) const;
  ViewNode item(const ViewNode& seq, size_t i) const;

  // The pairs of a mapping, merged when it has a merge key or repeats a key.
  struct Pairs {
    const YamlNode* raw = nullptr;
    const std::vector<ViewPair>* merged = nullptr;
    size_t size() const noexcept { return merged ? merged->size() : raw ? raw->pairs.size() : 0; }
  };
  Pairs pairs(const ViewNode& map);
  ViewPair pair(const Pairs& pairs, size_t i) const;

  // The plain value of a node (collections merged), as the comparing
  // keywords see it.
  Value to_value(const ViewNode& n);

 private:
  struct Merged {
    std::vector<ViewPair> pairs;
  };
  bool is_merge_key(const YamlNode& written, const ViewNode& key) const;
  bool custom_tagged(const ViewNode& n) const;
  bool resolves_to(const ViewNode& n, ResolvedKind kind) const;
  const Merged& merged(const YamlNode& map);
  bool repeats_a_key(const YamlNode& map);
  // Key identity -> (index in the merged pairs, where the pair came from:
  // kOwnPair, kLeftover or the number of the merged mapping).
  using KeyIdentities = std::unordered_map<std::string, std::pair<size_t, uint64_t>, SeededStringHash>;
  static constexpr uint64_t kOwnPair = 0;
  static constexpr uint64_t kLeftover = UINT64_MAX;
  void merge_value(const ViewNode& value, bool secret, std::vector<ViewPair>& out, KeyIdentities& seen,
                   uint64_t& source_id, std::optional<ViewNode>& leftover);
  ViewNode joined(const ViewNode& held, const ViewNode& more);
  std::string key_identity(const ViewNode& key);

  const YamlNode* root_;
  ResolverMode mode_;
  MergeKeyRule rule_;
  TagHandles handles_;  // the document's %TAG handles; none on the round-trip road
  std::unordered_map<const YamlNode*, const YamlNode*> targets_;  // alias -> definition
  bool aliases_;
  std::optional<uint64_t> nodes_seen_;
  std::unordered_map<const YamlNode*, std::unique_ptr<Merged>> merged_;
  std::unordered_set<const YamlNode*> unrepeated_;  // larger mappings found to repeat no key
  std::deque<std::vector<ViewNode>> leftovers_;  // stable addresses
  uint64_t nan_keys_ = 0;
};

// The value of a scalar under a resolver mode (no timestamps); an empty node
// with a tag is its empty text read under that tag.
Value scalar_to_value(const YamlNode& node, ResolverMode mode);

}  // namespace qf
