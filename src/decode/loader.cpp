#include "decode/loader.hpp"

#include <cassert>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "decode/keys.hpp"
#include "decode/merge.hpp"
#include "decode/seeded_hash.hpp"
#include "resolver/big_int.hpp"
#include "resolver/plain_first_byte.hpp"
#include "resolver/timestamp.hpp"
#include "scanner/scanner.hpp"
#include "support/hash.hpp"
#include "support/stack_guard.hpp"
#include "support/thread_heap.hpp"
#include "support/words.hpp"

namespace qf {

bool is_custom_tag(std::string_view tag) noexcept {
  if (tag.size() <= 1) return true;
  if (tag.starts_with("!!")) return false;
  if (tag.starts_with("tag:yaml.org,2002:")) return false;
  return true;
}

namespace {

// Unwinds the recursive descent to decode_documents; partial trees are
// released on the way by their owners.
struct DecodeFailure {
  LoadError error;
};

[[noreturn]] void fail(std::string message, const Span& span,
                       LoadErrorKind kind = LoadErrorKind::Parse) {
  throw DecodeFailure{LoadError{std::move(message), span, kind}};
}

constexpr std::string_view kCoreTagPrefix = "tag:yaml.org,2002:";

// Where an anchored node lives once registered. Scalars are held as a copy
// (one node). Collections and tagged nodes are referenced where they sit in
// the document: a finished node's item buffer and tag box never move or
// change while its document is being decoded, so the node is copied only
// when an alias asks for it, and nested anchors cost nothing.
struct AnchorEntry {
  ValueKind kind = ValueKind::Null;
  uint64_t count = 0;
  Value scalar;
  const Value* items = nullptr;
  const ValuePair* pairs = nullptr;
  size_t size = 0;
  const TaggedValue* box = nullptr;
};

using FingerprintSet = std::unordered_set<std::string, SeededStringHash, std::equal_to<>>;

// A map by name made on first insertion: most texts have no anchors and no
// %TAG directives, and even an empty map costs a bucket array to clear and
// free on every call.
template <class V>
class LazyNameMap {
 public:
  using Map = std::unordered_map<std::string_view, V, SeededStringHash, std::equal_to<>>;

  const V* find(std::string_view name) const {
    if (!map_) return nullptr;
    auto it = map_->find(name);
    return it == map_->end() ? nullptr : &it->second;
  }
  Map& get() {
    if (!map_) map_.emplace();
    return *map_;
  }
  // Clearing a hash map costs its bucket count, so a map grown by one large
  // document is dropped rather than cleared for every later small one.
  void reset() {
    if (!map_ || map_->empty()) return;
    if (map_->bucket_count() > 64) map_.reset();
    else map_->clear();
  }

 private:
  std::optional<Map> map_;
};

// A mapping's String keys hashed by their texts. Entries hold offsets into
// the mapping's run of the work stack, so the index survives the stack
// moving; the run's start is passed to every call.
class StringKeyIndex {
 public:
  // Whether an indexed key has `text`; if none has, the key at `offset`
  // (whose text it is) is indexed.
  bool seen_or_add(const ValuePair* pairs, std::string_view text, size_t offset) {
    if ((count_ + 1) * 2 > entries_.size()) grow();
    const auto h = static_cast<uint32_t>(hash_bytes(text));
    const size_t mask = entries_.size() - 1;
    for (size_t i = h & mask;; i = (i + 1) & mask) {
      Entry& e = entries_[i];
      if (e.offset == kEmpty) {
        e = Entry{static_cast<uint32_t>(offset), h};
        ++count_;
        return false;
      }
      if (e.hash == h && pairs[e.offset].key.as_string() == text) return true;
    }
  }

 private:
  struct Entry {
    uint32_t offset;
    uint32_t hash;
  };
  static constexpr uint32_t kEmpty = UINT32_MAX;

  void grow() {
    std::vector<Entry> old = std::move(entries_);
    entries_.assign(old.empty() ? 32 : old.size() * 2, Entry{kEmpty, 0});
    const size_t mask = entries_.size() - 1;
    for (const Entry& e : old) {
      if (e.offset == kEmpty) continue;
      size_t i = e.hash & mask;
      while (entries_[i].offset != kEmpty) i = (i + 1) & mask;
      entries_[i] = e;
    }
  }

  std::vector<Entry> entries_;
  size_t count_ = 0;
};

// The duplicate-key state of one mapping. While every key so far is a String
// or a merge marker (which takes no part), two keys are one exactly when
// their texts are equal: the first few keys are compared directly, later
// ones through an index of the texts. The first key of another kind turns
// the mapping to fingerprints, which tell any two keys apart.
struct KeyCheck {
  static constexpr size_t kDirectKeys = 8;
  std::unique_ptr<StringKeyIndex> strings;
  std::unique_ptr<FingerprintSet> fingerprints;
};

// A stack of values moved by their bytes (what a Value's move is): growing
// moves the buffer at once, and a finished collection takes its run with one
// copy (RelocatedBytes), after which the run is forgotten without a
// destructor call per element.
template <class T>
class RelocatingStack {
 public:
  RelocatingStack() = default;
  ~RelocatingStack() { release_memory(); }
  RelocatingStack(const RelocatingStack&) = delete;
  RelocatingStack& operator=(const RelocatingStack&) = delete;

  size_t size() const noexcept { return size_; }
  size_t capacity() const noexcept { return capacity_; }
  T& operator[](size_t i) noexcept { return data_[i]; }

  [[gnu::always_inline]] T& emplace_back() {
    if (size_ == capacity_) [[unlikely]]
      grow();
    return *::new (static_cast<void*>(data_ + size_++)) T();
  }
  [[gnu::always_inline]] void push_back(T&& v) {
    if (size_ == capacity_) [[unlikely]]
      grow();
    ::new (static_cast<void*>(data_ + size_++)) T(std::move(v));
  }
  void reserve(size_t n) {
    if (n > capacity_) reallocate(n);
  }

  // The elements from `base` on, to be built from (RelocatedBytes) and then
  // forgotten with forget_from(base).
  const RelocatedBytes<T>* relocated_from(size_t base) const noexcept {
    return reinterpret_cast<const RelocatedBytes<T>*>(data_ + base);
  }
  const RelocatedBytes<T>* relocated_end() const noexcept {
    return reinterpret_cast<const RelocatedBytes<T>*>(data_ + size_);
  }
  void forget_from(size_t base) noexcept { size_ = base; }

  void clear() noexcept {
    for (size_t i = 0; i < size_; ++i) data_[i].~T();
    size_ = 0;
  }
  void release_memory() noexcept {
    clear();
    std::free(data_);
    data_ = nullptr;
    capacity_ = 0;
  }

 private:
  [[gnu::noinline]] void grow() { reallocate(capacity_ ? capacity_ * 2 : 32); }
  void reallocate(size_t n) {
    if (n > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    void* p = std::realloc(static_cast<void*>(data_), n * sizeof(T));
    if (!p) throw std::bad_alloc();
    data_ = static_cast<T*>(p);
    capacity_ = n;
  }

  T* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// The decoder's work stacks: the items and pairs of the collections under
// construction.
struct WorkStacks {
  RelocatingStack<Value> items;
  RelocatingStack<ValuePair> pairs;
  bool busy = false;
};

// The stacks of one decode. They outlive the decode on their thread, so a
// run of short texts does not allocate them call after call; a decode that
// finds them in use (a nested one; decoding itself runs no foreign code)
// gets stacks of its own. They are empty between decodes, and stacks that a
// large document grew are given back.
class WorkStacksLease {
 public:
  WorkStacksLease() {
    WorkStacks* shared = ThreadHeapObject<WorkStacks, ThreadSlot::DecodeStacks>::get();
    if (shared && !shared->busy) [[likely]] {
      s_ = shared;
    } else {
      own_ = std::make_unique<WorkStacks>();
      s_ = own_.get();
    }
    s_->busy = true;
    // Room for a few levels of typical collections, so small documents do
    // not grow (and move) the stacks item by item.
    s_->items.reserve(32);
    s_->pairs.reserve(32);
  }
  ~WorkStacksLease() {
    constexpr size_t kKeptBytes = 16 * 1024;
    s_->items.clear();  // a failed decode leaves values behind
    s_->pairs.clear();
    if (s_->items.capacity() * sizeof(Value) > kKeptBytes) s_->items.release_memory();
    if (s_->pairs.capacity() * sizeof(ValuePair) > kKeptBytes) s_->pairs.release_memory();
    s_->busy = false;
  }
  WorkStacksLease(const WorkStacksLease&) = delete;
  WorkStacksLease& operator=(const WorkStacksLease&) = delete;

  RelocatingStack<Value>& items() noexcept { return s_->items; }
  RelocatingStack<ValuePair>& pairs() noexcept { return s_->pairs; }

 private:
  WorkStacks* s_ = nullptr;
  std::unique_ptr<WorkStacks> own_;
};

class Decoder {
 public:
  Decoder(TokenPump& tokens, const DecodeSettings& settings, std::vector<std::string>& warnings)
      : pump_(tokens),
        s_(settings),
        warnings_(warnings),
        item_stack_(stacks_.items()),
        pair_stack_(stacks_.pairs()) {
    dup_policy_ = s_.dup_error || s_.dup_warn;
    key_checks_ = dup_policy_ || s_.reject_complex_keys;
    fast_collections_ = s_.fast_paths;
    nest_in_loop_ = s_.fast_paths && !key_checks_;
    yaml11_warn_ = s_.yaml11_warn;
    timestamps_ = s_.timestamps;
    mode_ = s_.mode;
    first_byte_ = resolver_detail::plain_first_byte_table(s_.mode);
  }

  bool merge_seen() const noexcept { return merge_seen_; }

  // The first document (most streams have only it) takes an exactly sized
  // block at once, without the vector's growth steps.
  static void push_document(ValueList& docs, Value&& root) {
    if (docs.capacity() == 0) [[likely]] {
      ValueList one(std::make_move_iterator(&root), std::make_move_iterator(&root + 1));
      docs.swap(one);
    } else {
      docs.push_back(std::move(root));
    }
  }
  KeyTags key_tags() const noexcept { return s_.custom_tags_dropped ? KeyTags::Dropped : KeyTags::Kept; }

  void run(ValueList& docs) {
    bool directives_allowed = true;
    while (has(index_)) {
      const Token& t = tok(index_);
      switch (t.kind) {
        case TokenKind::StreamStart:
        case TokenKind::StreamEnd:
          ++index_;
          break;
        case TokenKind::DocumentEnd:
          ++index_;
          directives_allowed = true;
          break;
        case TokenKind::Directive:
          if (!directives_allowed)
            fail("a directive must be at the start of the stream or follow a document-end marker (...)",
                 t.span);
          read_directive_group();
          break;
        case TokenKind::DocumentStart: {
          ++index_;
          Value root;
          decode_node(false, root);
          push_document(docs, std::move(root));
          trailing_check();
          reset_document();
          directives_allowed = false;
          if (kind_at(index_) == TokenKind::DocumentEnd) {
            ++index_;
            directives_allowed = true;
          }
          break;
        }
        default: {
          size_t start = index_;
          Value root;
          if (decode_node(false, root)) {
            push_document(docs, std::move(root));
            trailing_check();
          }
          reset_document();
          directives_allowed = false;
          if (index_ == start) ++index_;
          break;
        }
      }
    }
  }

 private:
  // Tokens come from the scanner as decoding needs them; a Token reference
  // stays valid until a token past the last one handed out is asked for
  // (has, tok, kind_at, span_at on a new index), so none is held across a
  // call that decodes further.
  TokenPump& pump_;
  const DecodeSettings& s_;
  std::vector<std::string>& warnings_;
  bool dup_policy_ = false;
  bool key_checks_ = false;  // a duplicate-key or complex-key policy is on
  bool fast_collections_ = true;  // see bare_collection
  // A block mapping that is a bare key's value is decoded by its parent's
  // loop (see decode_mapping).
  bool nest_in_loop_ = true;
  bool yaml11_warn_ = false;
  bool timestamps_ = false;
  ResolverMode mode_ = ResolverMode::Yaml12;
  const uint8_t* first_byte_ = nullptr;  // the rule set's plain first-byte classes
  bool merge_seen_ = false;
  size_t index_ = 0;
  uint64_t depth_ = 0;
  uint64_t expanded_ = 0;
  // Nodes built so far; the difference across one node is its node count.
  uint64_t made_ = 0;
  LazyNameMap<AnchorEntry> anchors_;
  LazyNameMap<std::string_view> tag_handles_;
  // Items and pairs of the collections under construction, stacked; each
  // collection moves its own run into an exactly sized vector when it ends.
  WorkStacksLease stacks_;
  RelocatingStack<Value>& item_stack_;
  RelocatingStack<ValuePair>& pair_stack_;

  // Token `i`, or nullptr past the end; a scan error ends the decode.
  [[gnu::always_inline]] const Token* peek(size_t i) {
    const Token* t = pump_.get(i, index_);
    if (!t && pump_.error()) [[unlikely]]
      throw DecodeFailure{LoadError::from_scan_error(*pump_.error())};
    return t;
  }
  bool has(size_t i) { return peek(i) != nullptr; }
  const Token& tok(size_t i) { return *peek(i); }  // `i` must exist (has)
  [[gnu::always_inline]] TokenKind kind_at(size_t i) {
    const Token* t = peek(i);
    return t ? t->kind : TokenKind::StreamEnd;
  }
  Span span_at(size_t i) {
    const Token* t = peek(i);
    return t ? t->span : Span{};
  }

  // ---- stream structure ----

  void trailing_check() {
    if (has(index_) && !may_follow_document(tok(index_).kind))
      fail("trailing content after document", tok(index_).span);
  }

  void reset_document() {
    anchors_.reset();
    tag_handles_.reset();
  }

  void read_directive_group() {
    const Span first = tok(index_).span;
    bool yaml_seen = false;
    while (kind_at(index_) == TokenKind::Directive) {
      const Token& d = tok(index_);
      const DirectiveWords w = read_directive(d.text);
      const bool known = w.kind == DirectiveWords::Kind::Tag && !tag_handles_.get().emplace(w.handle, w.prefix).second;
      if (std::optional<std::string> error = directive_error(w, yaml_seen, known)) fail(*error, d.span);
      ++index_;
    }
    if (kind_at(index_) != TokenKind::DocumentStart)
      fail("directive must be followed by a document start (---)", first);
  }

  // ---- nodes ----

  // Decodes one node into `out` (which must be Null); false when there is no
  // node (an empty node without properties), leaving `out` Null.
  bool decode_node(bool as_mapping_value, Value& out) {
    uint64_t depth = ++depth_;
    if (depth > kMaxNestingDepth) {
      --depth_;
      fail("maximum nesting depth (1000) exceeded", span_at(index_));
    }
    bool produced;
    if ((depth & 7) == 1) {
      produced = ensure_stack([&] { return decode_node_content(as_mapping_value, out); });
    } else {
      produced = decode_node_content(as_mapping_value, out);
    }
    --depth_;
    return produced;
  }

  // A missing node stands as Null.
  void node_or_null(bool as_mapping_value, Value& out) {
    if (!decode_node(as_mapping_value, out)) ++made_;
  }

  void expand_tag(const Token& t, std::string& out) {
    std::string_view tag = t.text;
    out.clear();
    if (tag.starts_with("!<")) {
      out.assign(tag);
    } else if (tag.starts_with("!!")) {
      if (const std::string_view* prefix = tag_handles_.find("!!")) out.assign(*prefix);
      else out.assign(kCoreTagPrefix);
      out.append(tag.substr(2));
    } else if (tag.starts_with("!")) {
      size_t second = tag.find('!', 1);
      if (second != std::string_view::npos) {
        std::string_view handle = tag.substr(0, second + 1);
        const std::string_view* prefix = tag_handles_.find(handle);
        if (!prefix) fail("undefined tag handle: " + std::string(handle), t.span);
        out.assign(*prefix);
        out.append(tag.substr(second + 1));
      } else {
        if (const std::string_view* prefix = tag_handles_.find("!")) {
          out.assign(*prefix);
          out.append(tag.substr(1));
        } else {
          out.assign(tag);
        }
      }
    } else {
      out.assign(tag);
    }
  }

  // A node without properties, the common case, is dispatched here; the
  // rest (properties, aliases, empty nodes) out of line.
  bool decode_node_content(bool as_mapping_value, Value& v) {
    const Token* first = peek(index_);
    if (!first) return false;
    switch (first->kind) {
      case TokenKind::MappingStart:
        ++index_;
        decode_mapping(first->flow(), v);
        return true;
      case TokenKind::SequenceStart:
        ++index_;
        decode_sequence(first->flow(), v);
        return true;
      case TokenKind::Scalar:
        decode_scalar(*first, std::nullopt, v);
        return true;
      default:
        return decode_node_general(as_mapping_value, v);
    }
  }

  [[gnu::noinline]] bool decode_node_general(bool as_mapping_value, Value& v) {
    bool has_anchor = false, has_tag = false;
    std::string_view anchor;
    std::string tag;
    const Token* next;
    for (;;) {
      next = peek(index_);
      if (!next) return false;
      const Token& t = *next;
      if (t.kind == TokenKind::Anchor) {
        if (has_anchor) fail("a node cannot have two anchors", t.span);
        has_anchor = true;
        anchor = t.text;
      } else if (t.kind == TokenKind::Tag) {
        expand_tag(t, tag);
        has_tag = true;
      } else {
        break;
      }
      ++index_;
    }

    const Token& t = *next;
    const uint64_t made_before = made_;
    switch (t.kind) {
      case TokenKind::MappingStart:
        ++index_;
        decode_mapping(t.flow(), v);
        break;
      case TokenKind::SequenceStart:
        ++index_;
        decode_sequence(t.flow(), v);
        break;
      case TokenKind::Scalar:
        decode_scalar(t, has_tag ? ScalarTag(tag) : std::nullopt, v);
        break;
      case TokenKind::Alias:
        if (has_anchor || has_tag) fail("an alias node cannot have an anchor or tag", t.span);
        decode_alias(v);
        return true;
      default:
        if (t.kind == TokenKind::SequenceEntry && as_mapping_value) {
          decode_indentless_sequence(v);
          break;
        }
        if (!has_tag) {
          if (t.kind == TokenKind::StreamStart || t.kind == TokenKind::Directive) {
            ++index_;
            return decode_node(as_mapping_value, v);
          }
          if (!has_anchor) return false;
          ++made_;
          register_anchor(anchor, v, 1);
          return true;
        }
        v = tagged_empty(tag);
        break;
    }
    if (has_tag && is_custom_tag(tag)) {
      v = Value::tagged(std::move(tag), std::move(v));
      ++made_;
    }
    if (has_anchor) register_anchor(anchor, v, made_ - made_before);
    return true;
  }

  Value tagged_empty(const std::string& tag) {
    Resolution r = resolve_scalar(s_.mode, std::string_view(), ScalarStyle::Plain, ScalarTag(tag));
    ++made_;
    switch (r.kind) {
      case ResolvedKind::Null:
        return Value::null();
      case ResolvedKind::Bool:
        return Value::boolean(r.truth);
      case ResolvedKind::Int:
        return Value::integer(r.int_value);
      case ResolvedKind::Float:
        return Value::floating(r.float_value);
      case ResolvedKind::Merge:
        merge_seen_ = true;
        ++made_;
        return make_merge_marker();
      default:
        return Value::string(std::string_view());
    }
  }

  // Decodes the scalar token `t`, the one at index_, into `out` (Null)
  // directly, so each kind's move is resolved here. The common kinds are
  // handled inline; warnings and the rarer kinds are out of line, which
  // keeps this call cheap.
  [[gnu::always_inline]] void decode_scalar(const Token& t, ScalarTag tag, Value& out) {
    ++index_;
    const std::string_view text = t.text;
    const ScalarStyle style = t.style;
    // Every rule set reads an untagged quoted or block scalar as a string,
    // and most plain ones by their first byte (and length); only the rest
    // reach the resolver. A scalar read as a string gives no 1.1 warning,
    // so those are looked for past this point only.
    if (!tag && (style != ScalarStyle::Plain ||
                 (!text.empty() && resolver_detail::plain_is_string_early(first_byte_, text)))) {
      ++made_;
      out.set_string(text);
      return;
    }
    if (yaml11_warn_) [[unlikely]]
      warn_yaml11_ambiguity(t, tag);
    const Resolution r = resolve(text, style, tag);
    ++made_;
    assert(out.is_null());
    // Tested in order of frequency: a chain of predictable branches rather
    // than one indirect jump.
    if (r.kind == ResolvedKind::Str) [[likely]] {
      if (!may_be_timestamp(text, style, tag)) {
        out.set_string(text);
        return;
      }
    } else if (r.kind == ResolvedKind::Int) {
      out.set_int(r.int_value);
      return;
    } else if (r.kind == ResolvedKind::Bool) {
      out.set_bool(r.truth);
      return;
    } else if (r.kind == ResolvedKind::Null) {
      return;
    } else if (r.kind == ResolvedKind::Float) {
      out.set_float(r.float_value);
      return;
    }
    decode_rare_scalar(r.kind, text, style, tag, out);
  }

  Resolution resolve(std::string_view text, ScalarStyle style, const ScalarTag& tag) const noexcept {
    return resolve_scalar(mode_, text, style, tag);
  }

  bool may_be_timestamp(std::string_view text, ScalarStyle style, const ScalarTag& tag) const {
    return timestamps_ && !tag && style == ScalarStyle::Plain && !text.empty() &&
           text[0] >= '0' && text[0] <= '9';
  }

  [[gnu::noinline]] void decode_rare_scalar(ResolvedKind kind, std::string_view text,
                                            ScalarStyle style, const ScalarTag& tag, Value& out) {
    switch (kind) {
      case ResolvedKind::BigInt:
        if (auto big = big_int_text(text)) {
          out = Value::big_int(*big);
          return;
        }
        out = Value::big_int(text, 10);
        return;
      case ResolvedKind::Merge:
        merge_seen_ = true;
        ++made_;
        out = make_merge_marker();
        return;
      default:
        if (may_be_timestamp(text, style, tag)) {
          if (auto ts = parse_timestamp(text)) {
            out = Value::timestamp(*ts);
            return;
          }
        }
        out.set_string(text);
        return;
    }
  }

  [[gnu::noinline]] void warn_yaml11_ambiguity(const Token& t, const ScalarTag& tag) {
    const std::string_view text = t.text;
    if (auto amb = yaml11_ambiguity(s_.mode, text, t.style, tag)) {
      std::string w = "YAML 1.1 syntax '";
      w.append(text);
      w += "' resolves as ";
      w.append(amb->mode_kind);
      w += " in 1.1 but ";
      w.append(amb->yaml12_kind);
      w += " in 1.2 at line " + std::to_string(t.span.line + 1) + ", column " +
           std::to_string(t.span.column + 1);
      warnings_.push_back(std::move(w));
    }
  }

  void decode_alias(Value& out) {
    const Token& t = tok(index_++);
    const AnchorEntry* found = anchors_.find(t.text);
    if (!found) fail("unknown alias: *" + std::string(t.text), t.span);
    const AnchorEntry& e = *found;
    uint64_t total = expanded_ + e.count;
    if (total < expanded_) total = UINT64_MAX;
    expanded_ = total;
    if (expanded_ > kMaxAliasExpansion)
      fail("document expands to too many nodes (possible alias bomb)", t.span);
    made_ += e.count;
    switch (e.kind) {
      case ValueKind::Sequence: {
        ValueList items;
        items.reserve(e.size);
        for (size_t i = 0; i < e.size; ++i) items.push_back(deep_copy_value(e.items[i]));
        out = Value::sequence(std::move(items));
        return;
      }
      case ValueKind::Mapping: {
        PairList pairs;
        pairs.reserve(e.size);
        for (size_t i = 0; i < e.size; ++i)
          pairs.emplace_back(deep_copy_value(e.pairs[i].key), deep_copy_value(e.pairs[i].value));
        out = Value::mapping(std::move(pairs));
        return;
      }
      case ValueKind::Tagged:
        out = Value::tagged(e.box->tag, deep_copy_value(e.box->inner));
        return;
      default:
        out = deep_copy_value(e.scalar);
        return;
    }
  }

  void register_anchor(std::string_view name, const Value& v, uint64_t count) {
    // The running count must agree with the tree (checked where cheap).
    assert(count > 4096 || count == value_node_count(v));
    AnchorEntry e;
    e.kind = v.kind();
    e.count = count;
    switch (v.kind()) {
      case ValueKind::Sequence:
        e.items = v.items().data();
        e.size = v.items().size();
        break;
      case ValueKind::Mapping:
        e.pairs = v.pairs().data();
        e.size = v.pairs().size();
        break;
      case ValueKind::Tagged:
        e.box = v.tagged_box();
        break;
      default:
        e.scalar = deep_copy_value(v);
        break;
    }
    anchors_.get().insert_or_assign(name, std::move(e));
  }

  // ---- collections ----

  // `out` is Null; it takes the collection's run of the work stack.
  [[gnu::always_inline]] void finish_sequence(size_t base, Value& out) {
    out.set_sequence(item_stack_.relocated_from(base), item_stack_.relocated_end());
    item_stack_.forget_from(base);
    ++made_;
  }

  [[gnu::always_inline]] void finish_mapping(size_t base, Value& out) {
    out.set_mapping(pair_stack_.relocated_from(base), pair_stack_.relocated_end());
    pair_stack_.forget_from(base);
    ++made_;
  }

  // Whether the node at index_ is a scalar without properties. Such a node
  // is decoded straight into its slot of a work stack: decoding a scalar
  // touches neither stack, so the slot stays put, and the move from a
  // temporary into the slot is saved. The depth it would take is checked as
  // decode_node checks it.
  // Returns that token, or nullptr.
  [[gnu::always_inline]] const Token* bare_scalar_next() {
    const Token* t = peek(index_);
    return t && t->kind == TokenKind::Scalar && depth_ < kMaxNestingDepth ? t : nullptr;
  }

  // A collection without properties at index_ (most nested nodes; as a
  // mapping's value, an indentless sequence too) decoded into `out` (Null)
  // without the general node road; false, with nothing consumed, for any
  // other node, and at the depths where decode_node checks the stack or
  // fails.
  [[gnu::always_inline]] bool bare_collection(Value& out, bool as_mapping_value) {
    if (!fast_collections_) return false;
    const Token* t = peek(index_);
    if (!t) return false;
    const TokenKind kind = t->kind;
    if (kind != TokenKind::MappingStart && kind != TokenKind::SequenceStart &&
        (kind != TokenKind::SequenceEntry || !as_mapping_value))
      return false;
    const uint64_t depth = depth_ + 1;
    if ((depth & 7) == 1 || depth > kMaxNestingDepth) return false;
    const bool flow = t->flow();
    depth_ = depth;
    if (kind == TokenKind::SequenceEntry) {
      decode_indentless_sequence(out);
    } else {
      ++index_;
      if (kind == TokenKind::MappingStart) decode_mapping(flow, out);
      else decode_sequence(flow, out);
    }
    --depth_;
    return true;
  }

  // Decodes the node at index_ into pair_stack_[slot].key or .value (Null);
  // a missing node stands as Null.
  // The bare scalar, most keys and values, is taken inline; the rest out of
  // line, whose frame (a temporary node, recursion) costs more to set up.
  [[gnu::always_inline]] void pair_node_or_null(size_t slot, bool value, bool as_mapping_value) {
    if (const Token* t = bare_scalar_next()) {
      ValuePair& p = pair_stack_[slot];
      decode_scalar(*t, std::nullopt, value ? p.value : p.key);
      return;
    }
    pair_node_general(slot, value, as_mapping_value);
  }
  [[gnu::noinline]] void pair_node_general(size_t slot, bool value, bool as_mapping_value) {
    Value node;
    if (!bare_collection(node, as_mapping_value)) node_or_null(as_mapping_value, node);
    ValuePair& p = pair_stack_[slot];  // the stack may have grown meanwhile
    (value ? p.value : p.key) = std::move(node);
  }

  std::string fingerprint(const Value& key) const {
    std::string fp;
    append_key_fingerprint(key, fp, key_tags());
    return fp;
  }

  // Whether the key at `slot` equals an earlier key of the mapping whose
  // pairs start at `base` (merge markers excepted); records it if not.
  bool is_duplicate(KeyCheck& keys, size_t base, size_t slot) {
    const Value& key = pair_stack_[slot].key;
    if (!keys.fingerprints) {
      if (key.is(ValueKind::String)) {
        const std::string_view text = key.as_string();
        if (slot - base <= KeyCheck::kDirectKeys) {
          for (size_t i = base; i < slot; ++i) {
            const Value& k = pair_stack_[i].key;
            if (k.is(ValueKind::String) && k.as_string() == text) return true;
          }
          return false;
        }
        const ValuePair* pairs = &pair_stack_[base];
        if (!keys.strings) {
          keys.strings = std::make_unique<StringKeyIndex>();
          for (size_t i = base; i < slot; ++i) {
            const Value& k = pair_stack_[i].key;
            if (k.is(ValueKind::String)) keys.strings->seen_or_add(pairs, k.as_string(), i - base);
          }
        }
        return keys.strings->seen_or_add(pairs, text, slot - base);
      }
      keys.fingerprints = std::make_unique<FingerprintSet>();
      for (size_t i = base; i < slot; ++i) {
        const Value& k = pair_stack_[i].key;
        if (!is_merge_marker(k)) keys.fingerprints->insert(fingerprint(k));
      }
      keys.strings.reset();
    }
    return !keys.fingerprints->insert(fingerprint(key)).second;
  }

  void check_duplicate_key(KeyCheck& keys, size_t base, size_t slot, const Span& span) {
    const Value& key = pair_stack_[slot].key;
    if (!dup_policy_ || is_merge_marker(key)) return;
    if (!is_duplicate(keys, base, slot)) return;
    std::string shown = duplicate_key_display(key, key_tags());
    if (s_.dup_error)
      fail("duplicate mapping key: " + shown, span, LoadErrorKind::DuplicateKey);
    warnings_.push_back("duplicate mapping key '" + shown + "' at line " +
                        std::to_string(span.line + 1) + ", column " +
                        std::to_string(span.column + 1) + "; keeping the last value");
  }

  // The key policies for the pair just decoded into pair_stack_[slot] of
  // the mapping whose pairs start at `base`.
  void check_pair(KeyCheck& keys, size_t base, size_t slot, const Span& span) {
    if (!key_checks_) return;
    check_pair_policies(keys, base, slot, span);
  }
  [[gnu::noinline]] void check_pair_policies(KeyCheck& keys, size_t base, size_t slot,
                                             const Span& span) {
    if (s_.reject_complex_keys) [[unlikely]] {
      if (auto err = complex_key_error(true, pair_stack_[slot].key, span))
        throw DecodeFailure{std::move(*err)};
    }
    check_duplicate_key(keys, base, slot, span);
  }

  // A block mapping that is the value of a bare key, entered from its
  // parent's loop rather than by recursion: what the parent resumes with
  // once the nested mapping ends.
  struct NestedMapping {
    size_t parent_base;  // the parent's run of the pair stack
    size_t slot;         // the parent's pair whose value the mapping is
    bool parent_flow;
  };
  // Nested levels one decode_mapping call takes in its loop; deeper ones
  // recurse.
  static constexpr size_t kLoopLevels = 16;

  void decode_mapping(bool flow, Value& out) {
    size_t base = pair_stack_.size();
    KeyCheck keys;
    NestedMapping nested[kLoopLevels];
    size_t levels = 0;
    // Ends the innermost mapping the loop entered, into its parent's pair;
    // false at the mapping of this call.
    auto close_nested = [&]() __attribute__((always_inline)) -> bool {
      if (levels == 0) return false;
      const NestedMapping& n = nested[--levels];
      finish_mapping(base, pair_stack_[n.slot].value);
      base = n.parent_base;
      flow = n.parent_flow;
      --depth_;
      return true;
    };
    while (const Token* next = peek(index_)) {
      const Token& t = *next;
      // Most entries start with a key: tested before the dispatch.
      if (t.kind == TokenKind::Key) [[likely]] {
        // "key: value" of two bare scalars, its tokens already scanned:
        // stepped through in place of a lookup per token, and so on to the
        // next such pair. Decoding scalars scans nothing, so the tokens stay
        // put.
        const Token* const k = next;  // k[j]: j tokens on from the Key
        const size_t scanned = static_cast<size_t>(pump_.ready_end() - next);
        auto bare_pair_at = [&](size_t j) {
          return j + 4 <= scanned && k[j].kind == TokenKind::Key &&
                 k[j + 1].kind == TokenKind::Scalar && k[j + 2].kind == TokenKind::Value &&
                 k[j + 3].kind == TokenKind::Scalar && depth_ < kMaxNestingDepth;
        };
        if (bare_pair_at(0)) {
          size_t j = 0;
          do {
            ++index_;
            const size_t slot = pair_stack_.size();
            ValuePair& p = pair_stack_.emplace_back();
            decode_scalar(k[j + 1], std::nullopt, p.key);
            ++index_;
            decode_scalar(k[j + 3], std::nullopt, p.value);
            check_pair(keys, base, slot, k[j].span);
            j += 4;
          } while (bare_pair_at(j));
          continue;
        }
        // A bare key whose value is a block mapping without properties: the
        // mapping is decoded by this loop, at the depths where decode_node
        // would neither check the stack nor fail. The key policies need the
        // pair once its value is whole, so they take the general road.
        if (scanned >= 4 && k[1].kind == TokenKind::Scalar && k[2].kind == TokenKind::Value &&
            k[3].kind == TokenKind::MappingStart && !k[3].flow() && levels < kLoopLevels &&
            nest_in_loop_) {
          const uint64_t depth = depth_ + 1;
          if ((depth & 7) != 1 && depth <= kMaxNestingDepth) {
            ++index_;
            const size_t slot = pair_stack_.size();
            decode_scalar(k[1], std::nullopt, pair_stack_.emplace_back().key);
            index_ += 2;  // the Value and the MappingStart
            nested[levels++] = NestedMapping{base, slot, flow};
            depth_ = depth;
            base = pair_stack_.size();
            flow = false;
            continue;
          }
        }
        const Span span = t.span;
        ++index_;
        const size_t slot = pair_stack_.size();
        pair_stack_.emplace_back();
        // An explicit key may be a block sequence at the column of its
        // "?", like a value at the column of its key; its entries end at
        // the ":".
        pair_node_or_null(slot, false, true);
        if (kind_at(index_) == TokenKind::Value) ++index_;
        pair_node_or_null(slot, true, true);
        check_pair(keys, base, slot, span);
        continue;
      }
      switch (t.kind) {
        case TokenKind::StreamEnd:
        case TokenKind::DocumentStart:
        case TokenKind::DocumentEnd:
          if (close_nested()) continue;
          return finish_mapping(base, out);
        case TokenKind::MappingEnd:
        case TokenKind::BlockEnd:
          ++index_;
          if (close_nested()) continue;
          return finish_mapping(base, out);
        case TokenKind::FlowEntry:
          ++index_;
          continue;
        default: {
          const size_t start = index_;
          const Span span = t.span;
          const bool starts_with_scalar = t.kind == TokenKind::Scalar;
          if (!flow && !starts_with_scalar) {
            size_t j = start;
            const Token* k = &t;
            while (k && (k->kind == TokenKind::Anchor || k->kind == TokenKind::Tag)) k = peek(++j);
            if (k && (((k->kind == TokenKind::MappingStart || k->kind == TokenKind::SequenceStart) &&
                       !k->flow()) ||
                      k->kind == TokenKind::SequenceEntry))
              fail("a block collection cannot be a mapping key", k->span);
          }
          const size_t slot = pair_stack_.size();
          pair_stack_.emplace_back();
          pair_node_or_null(slot, false, false);
          if (kind_at(index_) == TokenKind::Value) {
            ++index_;
            pair_node_or_null(slot, true, true);
          } else if (!flow && starts_with_scalar) {
            fail("expected ':' after mapping key", span);
          } else {
            ++made_;
          }
          check_pair(keys, base, slot, span);
          if (index_ <= start) {
            if (close_nested()) continue;
            return finish_mapping(base, out);
          }
          continue;
        }
      }
    }
    while (close_nested()) {
    }
    return finish_mapping(base, out);
  }

  void decode_sequence(bool flow, Value& out) {
    const size_t base = item_stack_.size();
    while (const Token* next = peek(index_)) {
      const Token& t = *next;
      switch (t.kind) {
        case TokenKind::SequenceEntry:
        case TokenKind::FlowEntry: {
          // A block entry's bare scalar, already scanned: taken in place.
          const Token* item_token = next + 1;
          if (!flow && item_token < pump_.ready_end() && item_token->kind == TokenKind::Scalar &&
              depth_ < kMaxNestingDepth) {
            ++index_;
            decode_scalar(*item_token, std::nullopt, item_stack_.emplace_back());
            continue;
          }
          ++index_;
          if (const Token* s = bare_scalar_item_next(flow)) {
            decode_scalar(*s, std::nullopt, item_stack_.emplace_back());
            continue;
          }
          Value item;
          if (!flow && bare_collection(item, false)) {
            item_stack_.push_back(std::move(item));
            continue;
          }
          if (decode_sequence_item(flow, item)) item_stack_.push_back(std::move(item));
          continue;
        }
        case TokenKind::StreamEnd:
        case TokenKind::DocumentStart:
        case TokenKind::DocumentEnd:
          return finish_sequence(base, out);
        case TokenKind::MappingEnd:
        case TokenKind::SequenceEnd:
        case TokenKind::BlockEnd:
          ++index_;
          return finish_sequence(base, out);
        default: {
          // In a block sequence every entry starts with "-": content at the
          // sequence's column without one (a mapping after "- - a") would
          // otherwise pass for another item.
          if (!flow) fail("a block sequence entry must start with '-'", t.span);
          const size_t start = index_;
          if (const Token* s = bare_scalar_item_next(flow)) {
            decode_scalar(*s, std::nullopt, item_stack_.emplace_back());
            continue;
          }
          Value item;
          if (!decode_sequence_item(flow, item)) return finish_sequence(base, out);
          item_stack_.push_back(std::move(item));
          if (index_ <= start) return finish_sequence(base, out);
          continue;
        }
      }
    }
    return finish_sequence(base, out);
  }

  // A sequence item that is a bare scalar (see bare_scalar_next); in a flow
  // sequence, one not followed by ":" (which would make it a pair's key).
  [[gnu::always_inline]] const Token* bare_scalar_item_next(bool flow) {
    const Token* t = bare_scalar_next();
    if (!t || !flow) return t;
    // Looking ahead may move the queue: the token is looked up again.
    return kind_at(index_ + 1) != TokenKind::Value ? peek(index_) : nullptr;
  }

  Value one_pair_mapping(Value key, Value value) {
    PairList pairs;
    pairs.reserve(1);
    pairs.emplace_back(std::move(key), std::move(value));
    ++made_;
    return Value::mapping(std::move(pairs));
  }

  bool decode_sequence_item(bool flow, Value& out) {
    const TokenKind k = kind_at(index_);
    if (!flow) {
      if (k == TokenKind::MappingEnd || k == TokenKind::SequenceEnd || k == TokenKind::BlockEnd ||
          k == TokenKind::SequenceEntry) {
        ++made_;
        return true;
      }
      return decode_node(false, out);
    }
    if (k == TokenKind::Key) {
      const Span span = tok(index_).span;
      ++index_;
      Value key, value;
      node_or_null(false, key);
      if (kind_at(index_) == TokenKind::Value) ++index_;
      node_or_null(false, value);
      if (auto err = complex_key_error(s_.reject_complex_keys, key, span))
        throw DecodeFailure{std::move(*err)};
      out = one_pair_mapping(std::move(key), std::move(value));
      return true;
    }
    if (k == TokenKind::Value) {
      ++index_;
      ++made_;
      Value value;
      node_or_null(false, value);
      out = one_pair_mapping(Value::null(), std::move(value));
      return true;
    }
    const Span span = span_at(index_);
    if (!decode_node(false, out)) return false;
    if (kind_at(index_) == TokenKind::Value) {
      ++index_;
      Value value;
      node_or_null(false, value);
      if (auto err = complex_key_error(s_.reject_complex_keys, out, span))
        throw DecodeFailure{std::move(*err)};
      out = one_pair_mapping(std::move(out), std::move(value));
    }
    return true;
  }

  void decode_indentless_sequence(Value& out) {
    const size_t base = item_stack_.size();
    while (kind_at(index_) == TokenKind::SequenceEntry) {
      ++index_;
      const TokenKind k = kind_at(index_);
      if (k == TokenKind::MappingEnd || k == TokenKind::SequenceEnd || k == TokenKind::BlockEnd ||
          k == TokenKind::Key || k == TokenKind::SequenceEntry) {
        ++made_;
        item_stack_.emplace_back();
        continue;
      }
      if (const Token* s = bare_scalar_next()) {
        decode_scalar(*s, std::nullopt, item_stack_.emplace_back());
        continue;
      }
      Value item;
      if (decode_node(false, item)) item_stack_.push_back(std::move(item));
    }
    if (kind_at(index_) == TokenKind::MappingEnd) ++index_;
    return finish_sequence(base, out);
  }
};

}  // namespace

DecodedStream decode_documents(std::string_view text, const DecodeSettings& settings) {
  DecodedStream out;
  Scanner scanner(text);
  // Tokens are scanned as decoding consumes them. A scan error anywhere in
  // the text still wins over a decode error before it: on a decode error
  // the rest of the text is scanned before the error is chosen.
  TokenPump tokens(scanner);
  bool merge_seen = false;
  try {
    Decoder decoder(tokens, settings, out.warnings);
    decoder.run(out.documents);
    merge_seen = decoder.merge_seen();
  } catch (DecodeFailure& failure) {
    out.documents.clear();
    out.warnings.clear();
    if (const std::optional<ScanError>& scan_error = tokens.finish())
      out.error = LoadError::from_scan_error(*scan_error);
    else
      out.error = std::move(failure.error);
    return out;
  }
  // The decoder stops at the end of the tokens; the scan ended there too.
  assert(!tokens.error());
  if (merge_seen)
    for (Value& doc : out.documents)
      apply_merge_keys(doc, settings.custom_tags_dropped ? KeyTags::Dropped : KeyTags::Kept);
  return out;
}

}  // namespace qf
