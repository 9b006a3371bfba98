// The plain value tree: one record per node of a loaded (or to-be-written)
// document, with its meaning already decided. Built without the interpreter.
//
// A Value owns everything inside it. It is move-only: copying is the explicit,
// iterative deep_copy_value. Releasing never recurses, so trees of any depth
// are safe to drop (the destructor releases containers with a work stack).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "resolver/big_int.hpp"
#include "resolver/timestamp.hpp"
#include "decode/load_error.hpp"
#include "support/block_pool.hpp"
#include "support/short_copy.hpp"

namespace qf {

// Kind codes in this order.
enum class ValueKind : uint8_t {
  Null = 0,
  Bool = 1,
  Int = 2,
  BigInt = 3,
  Float = 4,
  String = 5,
  Timestamp = 6,
  Sequence = 7,
  Mapping = 8,
  Tagged = 9,
};

const char* value_kind_name(ValueKind kind) noexcept;  // "Null", "Bool", ...

class Value;
struct ValuePair;
struct TaggedValue;

// Collection storage comes from the block pool: a loaded tree's blocks are
// freed soon after they are made, in the same numbers.
using ValueList = std::vector<Value, PoolAllocator<Value>>;
using PairList = std::vector<ValuePair, PoolAllocator<ValuePair>>;

class Value {
 public:
  Value() noexcept : kind_(ValueKind::Null), aux_(0), text_len_(0), owns_(false) {
    words_[0] = words_[1] = words_[2] = 0;
  }
  ~Value() { release(); }

  Value(Value&& other) noexcept { move_from(std::move(other)); }
  Value& operator=(Value&& other) noexcept {
    if (this != &other) {
      release();
      move_from(std::move(other));
    }
    return *this;
  }
  Value(const Value&) = delete;             // use deep_copy_value
  Value& operator=(const Value&) = delete;  // use deep_copy_value

  // ---- construction ----
  static Value null() noexcept { return Value(); }
  static Value boolean(bool b) noexcept;
  static Value integer(int64_t i) noexcept;
  static Value floating(double d) noexcept;
  // `text` is canonical (see big_int.hpp): optional '-', digits of `radix`,
  // no '+', '_' or prefix. Loader-made BigInts come from big_int_text.
  static Value big_int(std::string_view text, uint8_t radix = 10);
  static Value big_int(const BigIntText& big) { return big_int(big.text, big.radix); }
  static Value string(std::string_view text);
  static Value string(const char* text) { return string(std::string_view(text)); }
  static Value timestamp(const YamlTimestamp& ts) noexcept;
  // No default arguments: ValuePair is still incomplete here, and a `{}`
  // default would instantiate its vector too early for some compilers.
  static Value sequence() noexcept;
  static Value sequence(ValueList items) noexcept;
  static Value mapping() noexcept;
  static Value mapping(PairList pairs) noexcept;
  static Value tagged(std::string tag, Value inner);

  // ---- inspection ----
  ValueKind kind() const noexcept { return kind_; }
  bool is(ValueKind k) const noexcept { return kind_ == k; }
  bool is_null() const noexcept { return kind_ == ValueKind::Null; }
  bool is_collection() const noexcept {
    return kind_ == ValueKind::Sequence || kind_ == ValueKind::Mapping;
  }

  // Accessors: the kind must match (unchecked in release builds).
  bool as_bool() const noexcept { return aux_ != 0; }
  int64_t as_int() const noexcept { return int_; }
  double as_float() const noexcept { return float_; }
  // String and BigInt texts are followed by a NUL (not part of the text).
  std::string_view as_string() const noexcept { return text(); }  // String
  std::string_view big_int_text() const noexcept { return text(); }  // BigInt
  const char* big_int_c_str() const noexcept { return text().data(); }  // BigInt
  uint8_t big_int_radix() const noexcept { return aux_; }             // BigInt
  const YamlTimestamp& as_timestamp() const noexcept { return timestamp_; }
  const ValueList& items() const noexcept { return items_; }  // Sequence
  ValueList& items() noexcept { return items_; }
  const PairList& pairs() const noexcept { return pairs_; }  // Mapping
  PairList& pairs() noexcept { return pairs_; }
  const std::string& tag() const noexcept;  // Tagged
  const Value& inner() const noexcept;      // Tagged
  Value& inner() noexcept;
  TaggedValue* tagged_box() const noexcept { return tagged_; }

  // Takes the value out, leaving Null behind.
  Value take() noexcept { return std::move(*this); }

  // In-place construction into a Null value: no temporary and no move (the
  // loader's hot path, where most nodes are scalars written into their slot).
  void set_bool(bool b) noexcept {
    kind_ = ValueKind::Bool;
    aux_ = b ? 1 : 0;
  }
  void set_int(int64_t i) noexcept {
    int_ = i;
    kind_ = ValueKind::Int;
  }
  void set_float(double d) noexcept {
    float_ = d;
    kind_ = ValueKind::Float;
  }
  [[gnu::always_inline]] void set_string(std::string_view text) {
    set_text(text);
    kind_ = ValueKind::String;
  }
  void set_sequence(ValueList&& items) noexcept {
    new (&items_) ValueList(std::move(items));
    kind_ = ValueKind::Sequence;
    owns_ = true;
  }
  void set_mapping(PairList&& pairs) noexcept;
  // A collection built in place from the bytes of a run of values (see
  // RelocatedBytes).
  void set_sequence(const RelocatedBytes<Value>* first, const RelocatedBytes<Value>* last) {
    new (&items_) ValueList(first, last);
    kind_ = ValueKind::Sequence;
    owns_ = true;
  }
  void set_mapping(const RelocatedBytes<ValuePair>* first, const RelocatedBytes<ValuePair>* last);

 private:
  friend void drop_value_tree(Value&& value) noexcept;
  friend struct ValueReleaser;

  void move_from(Value&& other) noexcept;
  // Releases what this value owns (iteratively for containers); leaves Null.
  void release() noexcept {
    if (owns_) release_slow();
  }
  void release_slow() noexcept;
  // Releases only this value's own storage; its children must already have
  // been moved out.
  void release_shallow() noexcept;

  // Texts of up to kInlineText bytes live in the value itself (with their
  // NUL), longer ones in a pool block. Nothing in a value points into the
  // value, so a move is a copy of its bytes.
  static constexpr size_t kInlineText = 23;
  static_assert(kInlineText <= kShortCopyMax);
  static constexpr uint8_t kHeapText = 0xFF;
  struct HeapText {
    char* data;
    size_t size;
  };
  // Short texts inline at every call (the loader's hot path), long ones
  // out of line.
  [[gnu::always_inline]] void set_text(std::string_view text) {
    const size_t n = text.size();
    if (n <= kInlineText) [[likely]] {
      copy_short_bytes(inline_text_, text.data(), n);
      inline_text_[n] = '\0';
      text_len_ = static_cast<uint8_t>(n);
      return;
    }
    set_heap_text(text);
  }
  void set_heap_text(std::string_view text);
  std::string_view text() const noexcept {
    return text_len_ != kHeapText ? std::string_view(inline_text_, text_len_)
                                  : std::string_view(heap_text_.data, heap_text_.size);
  }

  union {
    int64_t int_;
    double float_;
    char inline_text_[kInlineText + 1];  // BigInt, String (short)
    HeapText heap_text_;                 // BigInt, String (long)
    YamlTimestamp timestamp_;
    ValueList items_;
    PairList pairs_;
    TaggedValue* tagged_;
    uint64_t words_[3];  // the raw bytes, for moves
  };
  ValueKind kind_;
  uint8_t aux_;       // Bool: truth; BigInt: radix
  uint8_t text_len_;  // BigInt, String: inline length, or kHeapText
  bool owns_;         // storage to release: a long text, a collection, a tag box
};

// Mapping entry; pairs are stored inline in their vector, in source order,
// duplicates kept.
struct ValuePair {
  Value key;
  Value value;

  ValuePair() = default;
  ValuePair(Value&& k, Value&& v) noexcept : key(std::move(k)), value(std::move(v)) {}
};

// The boxed content of a Tagged value: the tag text after handle expansion
// and the inner value.
struct TaggedValue {
  std::string tag;
  Value inner;
};

// The common constructors are inline so that moving a freshly made value
// into place needs no dispatch on its kind.
inline Value Value::boolean(bool b) noexcept {
  Value v;
  v.kind_ = ValueKind::Bool;
  v.aux_ = b ? 1 : 0;
  return v;
}

inline Value Value::integer(int64_t i) noexcept {
  Value v;
  v.kind_ = ValueKind::Int;
  v.int_ = i;
  return v;
}

inline Value Value::floating(double d) noexcept {
  Value v;
  v.kind_ = ValueKind::Float;
  v.float_ = d;
  return v;
}

inline Value Value::string(std::string_view text) {
  Value v;
  v.set_string(text);
  return v;
}

inline Value Value::sequence(ValueList items) noexcept {
  Value v;
  v.set_sequence(std::move(items));
  return v;
}

inline void Value::set_mapping(PairList&& pairs) noexcept {
  new (&pairs_) PairList(std::move(pairs));
  kind_ = ValueKind::Mapping;
  owns_ = true;
}

inline void Value::set_mapping(const RelocatedBytes<ValuePair>* first,
                               const RelocatedBytes<ValuePair>* last) {
  new (&pairs_) PairList(first, last);
  kind_ = ValueKind::Mapping;
  owns_ = true;
}

inline Value Value::sequence() noexcept { return sequence(ValueList()); }
inline Value Value::mapping() noexcept { return mapping(PairList()); }

inline Value Value::mapping(PairList pairs) noexcept {
  Value v;
  v.set_mapping(std::move(pairs));
  return v;
}

// Inline: every item and pair of a tree is moved at least once on its way
// into the tree, so this is on the loader's hot path. Every kind is moved by
// its bytes: inline texts hold no pointer to themselves, and a vector, a
// heap text or a tag box only changes owner.
// The four one-byte fields after the payload are copied, and reset to Null,
// as one word each.
inline void Value::move_from(Value&& o) noexcept {
  static_assert(offsetof(Value, aux_) == offsetof(Value, kind_) + 1 &&
                offsetof(Value, text_len_) == offsetof(Value, kind_) + 2 &&
                offsetof(Value, owns_) == offsetof(Value, kind_) + 3 &&
                static_cast<uint8_t>(ValueKind::Null) == 0);
  constexpr size_t head = offsetof(Value, kind_);
  char* const to = reinterpret_cast<char*>(this);
  char* const from = reinterpret_cast<char*>(&o);
  words_[0] = o.words_[0];
  words_[1] = o.words_[1];
  words_[2] = o.words_[2];
  uint32_t fields;
  std::memcpy(&fields, from + head, 4);
  std::memcpy(to + head, &fields, 4);
  const uint32_t null_fields = 0;
  std::memcpy(from + head, &null_fields, 4);
  o.words_[0] = 0;
}

inline const std::string& Value::tag() const noexcept { return tagged_->tag; }
inline const Value& Value::inner() const noexcept { return tagged_->inner; }
inline Value& Value::inner() noexcept { return tagged_->inner; }

// The merge marker's tag; the marker is Tagged(kMergeTag, String "<<").
inline constexpr std::string_view kMergeTag = "tag:yaml.org,2002:merge";

// Releases a tree without recursion (what ~Value does; kept as the named
// operation every owner may call).
void drop_value_tree(Value&& value) noexcept;

// An independent tree with the same kinds, payloads and order. Iterative.
Value deep_copy_value(const Value& value);

// Number of nodes in the tree (every Value counts one, pairs count key and
// value). Iterative.
size_t value_node_count(const Value& value);

// Debug rendering used in messages: Int(1), String("a"),
// Sequence([Int(1), String("a")]), Tagged("!x", String("a")), ... Iterative.
std::string value_debug_text(const Value& value);
void append_value_debug_text(const Value& value, std::string& out);

// Structural equality (same kinds, payloads by bits/bytes, same order).
// Iterative. For tests and assertions, not key identity.
bool value_structurally_equal(const Value& a, const Value& b);

}  // namespace qf
