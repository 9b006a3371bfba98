// The represent road of dumps: host objects to a tree of synthetic source
// nodes, each object first offered to the caller's `represent` callback,
// which returns a descriptor (QuillfernScalar, QuillfernSequence,
// QuillfernMapping) or None for the built-in representation.
//
// Shared objects are tracked by identity: the second occurrence of a tracked
// object becomes an alias, and after the walk assign_shared_anchors names the
// objects that really were aliased "id001", "id002", ... in output order.
// Until then the node of a tracked object, and an alias, carries the object's
// identity in its position fields, which fresh nodes have no use for (see
// provisional_identity); nothing is named when nothing was aliased.
// Every tracked object is kept alive in `held` until the state is dropped, so
// a freed temporary's address can never be taken for a shared object.
//
// Everything runs with the interpreter lock held; failures are thrown
// (ErrorAlreadySet or Error, frame.hpp) and unwinding frees the partial tree
// and every reference.
#pragma once
#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "decode/value.hpp"
#include "ffi/convert/encode.hpp"
#include "ffi/pyref.hpp"
#include "resolver/resolver.hpp"
#include "roundtrip/ast.hpp"
#include "support/identity_set.hpp"

namespace qf::py {

// Objects at a depth above this (the root is depth 0) are refused.
inline constexpr uint32_t kMaxRepresentDepth = 999;

// The bytes of a represented tree's longer texts, which their nodes view:
// a few blocks per call instead of one per text. It outlives the tree.
class TextArena {
 public:
  // Texts above this have a block of their own (their node's).
  static constexpr size_t kLargest = 4096;

  std::string_view copy(std::string_view text);

 private:
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* next_ = nullptr;
  size_t left_ = 0;
  size_t block_size_ = 0;
};

// The last distinct descriptor tag and its normalised form: most callbacks
// return a handful of tags, and calls on one thread mostly the same ones,
// each checked once. The model node carries the normalised tag; nodes given
// that tag share its side record. One per thread: the record's count is not
// atomic, and a represented tree is released on the thread that made it.
struct TagCache {
  std::optional<std::string> tag;
  std::string normalized;
  YamlNode model;
};
TagCache& thread_tag_cache();

struct RepresentState {
  std::vector<PyRef> held;  // every tracked object, until the state is dropped
  // The snapshots of the collections being represented, innermost last: each
  // collection's entries (a mapping's as key, value) are pushed before any of
  // them is represented and popped when it is done (see EntryMark).
  std::vector<PyRef> entries;
  EncodeContext encode;     // its default_fn is cleared while a default result is represented
  PyObject* represent = nullptr;  // borrowed from the call's arguments
  TextArena* texts = nullptr;      // the caller's, kept until the tree is gone
  IdentitySet seen;     // identities of tracked objects whose node may still get an anchor
  IdentitySet aliased;  // identities an alias was made for
  // Set by a nested represent_object whose node stands for another object
  // (an enum's value, numpy's plain object, a default result); read and
  // cleared by the caller right after.
  bool derived = false;
  // Frames at or below this address have too little stack left (the walker
  // runs host code and never switches stacks).
  uintptr_t stack_floor = 0;
  // The last distinct descriptor tag, kept by the thread from one call to
  // the next (see TagCache).
  TagCache& tags = thread_tag_cache();
  bool sort_keys = false;
  bool flow_style = false;
  bool prefer_double_quotes = true;
  ResolverMode resolver_mode = ResolverMode::Yaml12;
};

// Room for `more` entries past the current ones; the stack grows
// geometrically (a reserve of the exact size would copy it at every
// collection that needs more).
inline void reserve_entries(RepresentState& s, size_t more) {
  const size_t needed = s.entries.size() + more;
  if (needed > s.entries.capacity()) s.entries.reserve(std::max(needed, 2 * s.entries.capacity()));
}

// Pops the entries pushed since it was made, on every way out.
class EntryMark {
 public:
  explicit EntryMark(RepresentState& s) noexcept : s_(s), begin_(s.entries.size()) {}
  ~EntryMark() { s_.entries.resize(begin_); }
  EntryMark(const EntryMark&) = delete;
  EntryMark& operator=(const EntryMark&) = delete;

  size_t begin() const noexcept { return begin_; }
  size_t count() const noexcept { return s_.entries.size() - begin_; }

 private:
  RepresentState& s_;
  size_t begin_;
};

// ValueError with the message, thrown.
[[noreturn]] void throw_value_error(const std::string& message);

// Strong references to the items an iteration of `obj` gives, pushed on the
// state's entries; the iteration's errors are thrown.
void push_iterated(RepresentState& s, PyObject* obj);

// Sets the state's stack floor from the current thread's stack.
void set_stack_floor(RepresentState& s) noexcept;

YamlNode represent_object(RepresentState& s, PyObject* obj, uint32_t depth, bool in_flow, bool is_key);

// The identity a node under construction stands for (0 for none).
inline uint64_t provisional_identity(const YamlNode& n) noexcept {
  return uint64_t{n.span.line} << 32 | n.span.column;
}
inline void set_provisional_identity(YamlNode& n, uint64_t id) noexcept {
  n.span.line = uint32_t(id >> 32);
  n.span.column = uint32_t(id);
}

// The entries pushed since `mark` (a mapping's as key, value) as a
// collection; the children are represented at depth + 1. `flow` overrides
// the block or flow decision (a key is flow by default, then OPT_FLOW_STYLE
// decides); inside a flow collection everything is flow.
YamlNode represent_mapping(RepresentState& s, const EntryMark& mark, uint32_t depth,
                           const std::optional<std::string>& tag, std::optional<bool> flow, bool in_flow, bool is_key);
YamlNode represent_sequence(RepresentState& s, const EntryMark& mark, uint32_t depth,
                            const std::optional<std::string>& tag, std::optional<bool> flow, bool in_flow, bool is_key);

// "tag:yaml.org,2002:x" becomes "!!x"; then the dump tag checks
// (QuillfernEncodeError).
std::optional<std::string> normalize_represent_tag(std::optional<std::string> tag);
// The same through the state's cache: null for no tag; the pointer is valid
// until the next call, and until then s.tags.model carries that tag.
const std::string* normalized_tag(RepresentState& s, const std::optional<std::string>& tag);

// The sort record of a host key: null, bool, an exact number (Int, BigInt or
// Float), the UTF-8 bytes of a text, or an empty sequence for every other
// key (all such keys are equivalent, so a stable sort keeps their order).
Value represent_key_record(PyObject* key);
// Strict weak ordering on records: a sorts before b.
bool compare_represent_keys(const Value& a, const Value& b);

// Final anchor names in pre-order (node, then items; key, then value):
// aliased objects get "id001", "id002", ...; every other provisional anchor
// is removed and aliases take their object's final name. Cannot fail.
void assign_shared_anchors(YamlNode& root, const IdentitySet& aliased);

}  // namespace qf::py
