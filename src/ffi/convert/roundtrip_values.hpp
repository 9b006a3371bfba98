// Source trees to plain host values: None, bool, int, float, str, dates,
// list and dict (collection keys as tuples), with merge keys applied and
// aliases resolved to the nearest preceding definition of their name in
// their own document.
//
// Everything here runs with the interpreter lock held. Functions returning
// PyObject* give a new reference, or nullptr with the host exception set (an
// alias expansion past its limits included); only qf::InternalError and
// std::bad_alloc are thrown, for the host-call frame to raise.
#pragma once
#include <span>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "ffi/convert/decode.hpp"
#include "ffi/py.hpp"
#include "ffi/pyref.hpp"
#include "resolver/resolver.hpp"
#include "roundtrip/anchors.hpp"
#include "roundtrip/ast.hpp"
#include "roundtrip/tag_handles.hpp"

namespace qf::py {

// Alias resolution within one document, built on first need: most calls meet
// no alias and never walk the document. Expanded copies are made once per
// anchored node and share one node budget, so one operation cannot copy more
// than the budget. Borrows the tree, which must not change while it lives.
class AliasScope {
 public:
  AliasScope() = default;  // resolves nothing: every alias dangles
  explicit AliasScope(const YamlNode& root) : root_(&root) {}
  explicit AliasScope(const YamlNode* root) : root_(root) {}
  AliasScope(const AliasScope&) = delete;
  AliasScope& operator=(const AliasScope&) = delete;

  // The anchored node the alias refers to; nullptr when it dangles.
  const YamlNode* target(const YamlNode& alias);
  // Follows aliases to a node that is not one; nullptr on a dangling alias.
  const YamlNode* final_target(const YamlNode& node);
  // Sets `out` to an alias-free copy of what the alias refers to (nullptr
  // when it dangles). Past the alias depth or the node budget: false with a
  // QuillfernParseError raised that names the limit. A copy that would pass
  // the budget is refused before any of it is made, so an alias bomb costs
  // the size of its text.
  bool expand(const YamlNode& alias, const YamlNode*& out);
  // Charges the budget once more for the alias's copy (its size), for uses
  // whose work grows with the copy each time, such as hashing a key that
  // holds it; false with the budget error raised past it.
  bool charge_again(const YamlNode& alias);
  // Raises the alias-depth error at the alias; returns false.
  bool depth_error(const YamlNode& alias);
  // The links of every alias of the document, built on first call.
  const AnchorResolver& resolver();

 private:
  // Nodes a copy of `node` with its aliases expanded would hold, saturating.
  uint64_t expanded_size(const YamlNode& node);
  bool budget_error(const YamlNode& at);  // raises, returns false

  struct Copy {
    YamlNode node;
    uint64_t nodes;  // budget it took
  };
  const YamlNode* root_ = nullptr;
  std::optional<AnchorResolver> resolver_;
  std::unordered_map<const YamlNode*, Copy> copies_;
  std::unordered_map<const YamlNode*, uint64_t> sizes_;  // expanded_size of alias targets
  ExpansionBudget budget_;
};

// Anchored node -> the host object already made for it in this conversion,
// so every alias of one definition yields that very object and an anchor is
// converted once however many aliases name it (the output stays as small as
// the document). The hashable form of mapping keys (tuples, with the key
// nesting below them) is kept apart. Holds strong references, released with
// the cache.
class AnchorObjectCache {
 public:
  AnchorObjectCache() = default;
  AnchorObjectCache(const AnchorObjectCache&) = delete;
  AnchorObjectCache& operator=(const AnchorObjectCache&) = delete;

  PyObject* find(const YamlNode* anchored) const;  // borrowed, or nullptr
  void store(const YamlNode* anchored, PyObject* value);  // replaces an entry
  PyObject* find_hashable(const YamlNode* anchored, size_t& depth) const;
  void store_hashable(const YamlNode* anchored, PyObject* value, size_t depth);

 private:
  struct PtrHash {
    uint64_t seed;
    PtrHash();
    size_t operator()(const YamlNode* p) const noexcept;
  };
  struct Hashable {
    PyRef value;
    size_t depth;
  };
  std::unordered_map<const YamlNode*, PyRef, PtrHash> objects_;
  std::unordered_map<const YamlNode*, Hashable, PtrHash> hashables_;
};

struct ValueSettings {
  ResolverMode mode = ResolverMode::Yaml12;
  bool timestamps = false;
};

// The conversions share one walk (node_walk.hpp); recursion checks the
// remaining stack at every level.

// The plain value of a node (custom tags play no part beyond scalar
// resolution).
PyObject* node_to_python(const YamlNode& node, const ValueSettings& s, AliasScope& scope, AnchorObjectCache& cache);
// A hashable value for use as a dictionary key: sequences become tuples,
// mappings tuples of (key, value) 2-tuples, aliases are followed.
PyObject* node_to_hashable_python(const YamlNode& node, const ValueSettings& s, AliasScope& scope,
                                  AnchorObjectCache& cache);
// Scalar and null nodes only: the resolved value (no cache entry), under the
// node's own tag or the one given.
PyObject* scalar_node_to_python(const YamlNode& node, const ValueSettings& s, ScalarTag tag);
inline ScalarTag node_scalar_tag(const YamlNode& n) {
  if (!n.tag()) return std::nullopt;
  return std::string_view(*n.tag());
}
inline PyObject* scalar_node_to_python(const YamlNode& node, const ValueSettings& s) {
  return scalar_node_to_python(node, s, node_scalar_tag(node));
}
// With the timestamp switch, a plain untagged scalar that reads as a
// timestamp: its date or datetime. Otherwise (a date the host rejects
// included) nullptr with no exception: the scalar resolves as usual.
PyObject* scalar_timestamp(const YamlNode& node, const ValueSettings& s);
// A resolution as a host value; `text` is the scalar's text.
PyObject* resolved_to_python(const Resolution& r, std::string_view text);
// A sequence or mapping, or an alias that leads to one.
bool resolves_to_collection(const YamlNode& node, AliasScope& scope);

// The plain result of a directive-loaded document: as node_to_python, with
// custom tags applied through the tag handlers, in keys as in values, and
// each value converted before its key. With `handles`, tags are read with
// the document's %TAG handles expanded.
PyObject* node_to_loaded_python(const YamlNode& node, const ValueSettings& s, const TagContext& ctx,
                                AliasScope& scope, AnchorObjectCache& cache, const TagHandles* handles = nullptr);
// node_to_loaded_python of a document root with a fresh cache and scope and
// the root's %TAG handles.
PyObject* document_tree_to_python(const YamlNode& root, const ValueSettings& s, const TagContext& ctx);

// Merge keys: the tag !!merge (either spelling), or an untagged plain "<<".
bool is_merge_key(const YamlNode& key);
bool find_merge_key(std::span<const MappingEntry> pairs);
// Inserts the entries of a dict (or of each dict of a list, in order) whose
// keys are not yet present. `leftover` receives what could not be merged (a
// new list of the unmergeable items of a list, else the value itself), or
// stays empty. False on a host failure.
bool merge_into_dict(PyObject* target, PyObject* value, PyRef& leftover);
// The leftovers kept under one mapping's merge key so far.
struct MergeSlot {
  bool kept = false;  // the merge key's entry holds leftovers
  PyRef list;         // the list made here to gather them, once there is one
  void clear() {
    kept = false;
    list.reset();
  }
};
// Keeps an unmergeable leftover under the merge key: the first one as it is,
// later ones turning the entry into a list. `collected` says the leftover is
// a list merge_into_dict made of several unmergeable items: its items join
// the entry one by one; any other leftover joins as one item. Only a list
// made here is ever appended to: the leftover may be an object the program
// holds (an anchored value, a tag handler's result). False on a host failure.
bool keep_unmerged_under_merge_key(PyObject* target, PyObject* key, PyObject* leftover, bool collected,
                                   MergeSlot& slot);

}  // namespace qf::py
