// Source trees to plain host values: None, bool, int, float, str, dates,
// list and dict (collection keys as tuples), with merge keys applied and
// aliases resolved to the nearest preceding definition of their name in
// their own document.
//
// Everything here runs with the interpreter lock held. Functions returning
// PyObject* give a new reference, or nullptr with the host exception set;
// they may also throw qf::py::Error (an alias expansion past its limits),
// qf::InternalError or std::bad_alloc, which the host-call frame raises.
#pragma once
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
  // Alias-free copy of what the alias refers to; nullptr when it dangles.
  // Past the alias depth or the node budget: throws a QuillfernParseError
  // that names the limit. A copy that would pass the budget is refused
  // before any of it is made, so an alias bomb costs the size of its text.
  const YamlNode* expanded(const YamlNode& alias);
  // Charges the budget once more for the alias's copy (its size), for uses
  // whose work grows with the copy each time, such as hashing a key that
  // holds it. The alias must have a copy (expanded() was called).
  void charge_again(const YamlNode& alias);
  // The links of every alias of the document, built on first call.
  const AnchorResolver& resolver();

 private:
  // Nodes a copy of `node` with its aliases expanded would hold, saturating.
  uint64_t expanded_size(const YamlNode& node);
  [[noreturn]] void throw_budget_error(const YamlNode& at);

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
// the document). The hashable form of mapping keys (tuples) is kept apart.
// Holds strong references, released with the cache.
class AnchorObjectCache {
 public:
  AnchorObjectCache() = default;
  AnchorObjectCache(const AnchorObjectCache&) = delete;
  AnchorObjectCache& operator=(const AnchorObjectCache&) = delete;

  PyObject* find(const YamlNode* anchored) const;  // borrowed, or nullptr
  void store(const YamlNode* anchored, PyObject* value);  // replaces an entry
  PyObject* find_hashable(const YamlNode* anchored) const;
  void store_hashable(const YamlNode* anchored, PyObject* value);

 private:
  struct PtrHash {
    uint64_t seed;
    PtrHash();
    size_t operator()(const YamlNode* p) const noexcept;
  };
  using Table = std::unordered_map<const YamlNode*, PyRef, PtrHash>;
  static PyObject* find_in(const Table& t, const YamlNode* anchored);
  Table objects_;
  Table hashables_;
};

struct ValueSettings {
  ResolverMode mode = ResolverMode::Yaml12;
  bool timestamps = false;
};

// The plain value of a node (custom tags play no part beyond scalar
// resolution). Recursion checks the remaining stack at every level.
PyObject* node_to_python(const YamlNode& node, const ValueSettings& s, AliasScope& scope, AnchorObjectCache& cache);
// A hashable value for use as a dictionary key: sequences become tuples,
// mappings tuples of (key, value) 2-tuples, aliases are followed.
PyObject* node_to_hashable_python(const YamlNode& node, const ValueSettings& s, AliasScope& scope,
                                  AnchorObjectCache& cache);
// Scalar and null nodes only: the resolved value (no cache entry).
PyObject* scalar_node_to_python(const YamlNode& node, const ValueSettings& s);

// The plain result of a directive-loaded document: as node_to_python, with
// custom tags applied through the tag handlers.
PyObject* node_to_loaded_python(const YamlNode& node, const ValueSettings& s, const TagContext& ctx,
                                AliasScope& scope, AnchorObjectCache& cache);
// node_to_loaded_python of a document root with a fresh cache and scope.
PyObject* document_tree_to_python(const YamlNode& root, const ValueSettings& s, const TagContext& ctx);

// Merge keys: the tag !!merge (either spelling), or an untagged plain "<<".
bool is_merge_key(const YamlNode& key);
bool find_merge_key(const std::vector<MappingEntry>& pairs);
// Inserts the entries of a dict (or of each dict of a list, in order) whose
// keys are not yet present. `leftover` receives what could not be merged (a
// list of the unmergeable items of a list), or stays empty. False on a host
// failure.
bool merge_into_dict(PyObject* target, PyObject* value, PyRef& leftover);
// Keeps an unmergeable leftover under the merge key: the first one as it is,
// later ones turning the entry into a list. False on a host failure.
bool keep_unmerged_under_merge_key(PyObject* target, PyObject* key, PyObject* leftover, bool& slot);

}  // namespace qf::py
