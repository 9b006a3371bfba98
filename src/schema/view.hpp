// What the validator sees of a document: a read-only view over the composed
// tree in which aliases stand for the nodes they refer to and merge keys
// ("<<") are carried out, without copying the tree.
//
// An alias is followed to the nearest preceding definition of its name (as
// the loaders read it); the node reached is reported at the alias's
// position, its children at their own. A mapping with a merge key gets one
// merged pair list, built the first time it is looked at: its own pairs,
// then the merged ones that it does not already have (the earlier merge and
// the earlier mapping of a merged sequence win; within one merged mapping a
// repeated key contributes its last value), then what could not be merged
// under a key "<<".
#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "decode/seeded_hash.hpp"
#include "decode/value.hpp"
#include "resolver/resolver.hpp"
#include "roundtrip/anchors.hpp"
#include "roundtrip/ast.hpp"

namespace qf {

// Which keys merge.
enum class MergeKeyRule : uint8_t {
  // As the plain loader reads them: keys the resolver mode types as merge
  // keys (so under YAML 1.2 a "!!merge"-tagged key is an ordinary key).
  Loader,
  // As on source trees: a "!!merge"-tagged key whatever its content, or an
  // untagged plain "<<".
  SourceTree,
};

struct ViewNode {
  const YamlNode* node = nullptr;  // never an alias; nullptr: a null standing in
  Span span{};
  // A sequence made while merging: the items of a merge value that could not
  // be merged.
  const std::vector<ViewNode>* items = nullptr;
  // A key's text seen as a double-quoted string (propertyNames).
  bool key_as_string = false;

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

  // The pairs of a mapping, merged when it has a merge key.
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
  bool is_merge_key(const ViewNode& key) const;
  const Merged& merged(const YamlNode& map);
  // Key identity -> (index in the merged pairs, the merged mapping it came
  // from; 0 for the mapping's own pairs).
  using KeyIdentities = std::unordered_map<std::string, std::pair<size_t, uint64_t>, SeededStringHash>;
  void merge_value(const ViewNode& value, std::vector<ViewPair>& out, KeyIdentities& seen, uint64_t& source_id,
                   std::vector<ViewNode>& leftover);
  std::string key_identity(const ViewNode& key);

  const YamlNode* root_;
  ResolverMode mode_;
  MergeKeyRule rule_;
  std::unordered_map<const YamlNode*, const YamlNode*> targets_;  // alias -> definition
  bool aliases_;
  std::optional<uint64_t> nodes_seen_;
  std::unordered_map<const YamlNode*, std::unique_ptr<Merged>> merged_;
  std::deque<std::vector<ViewNode>> leftovers_;  // stable addresses
};

// The value of a scalar under a resolver mode (no timestamps); an empty node
// with a tag is its empty text read under that tag.
Value scalar_to_value(const YamlNode& node, ResolverMode mode);

}  // namespace qf
