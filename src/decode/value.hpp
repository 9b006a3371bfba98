// The plain value tree: one record per node of a loaded (or to-be-written)
// document, with its meaning already decided. Built without the interpreter.
//
// A Value owns everything inside it. It is move-only: copying is the explicit,
// iterative deep_copy_value. Releasing never recurses, so trees of any depth
// are safe to drop (the destructor releases containers with a work stack).
#pragma once
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "resolver/big_int.hpp"
#include "resolver/timestamp.hpp"
#include "decode/load_error.hpp"

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

using ValueList = std::vector<Value>;
using PairList = std::vector<ValuePair>;

class Value {
 public:
  Value() noexcept : kind_(ValueKind::Null), aux_(0) { int_ = 0; }
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
  static Value big_int(std::string text, uint8_t radix = 10);
  static Value big_int(BigIntText big) { return big_int(std::move(big.text), big.radix); }
  static Value string(std::string text) noexcept;
  static Value string(std::string_view text) { return string(std::string(text)); }
  static Value string(const char* text) { return string(std::string(text)); }
  // A constant text ("<<" of the merge marker, "" of a tagged empty node);
  // such texts are short and stored inline, so they own no heap storage.
  static Value static_string(std::string_view text) { return string(std::string(text)); }
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
  const std::string& as_string() const noexcept { return text_; }  // String
  std::string& as_string() noexcept { return text_; }
  const std::string& big_int_text() const noexcept { return text_; }  // BigInt
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
  void set_string(std::string_view text) {
    new (&text_) std::string(text);
    kind_ = ValueKind::String;
  }
  void set_sequence(ValueList&& items) noexcept {
    new (&items_) ValueList(std::move(items));
    kind_ = ValueKind::Sequence;
  }
  void set_mapping(PairList&& pairs) noexcept;

 private:
  friend void drop_value_tree(Value&& value) noexcept;
  friend struct ValueReleaser;

  void move_from(Value&& other) noexcept;
  // Releases what this value owns (iteratively for containers); leaves Null.
  void release() noexcept {
    if (kind_ >= ValueKind::BigInt && kind_ != ValueKind::Float) release_slow();
  }
  void release_slow() noexcept;
  // Releases only this value's own storage; its children must already have
  // been moved out.
  void release_shallow() noexcept;

  union {
    int64_t int_;
    double float_;
    std::string text_;  // BigInt, String
    YamlTimestamp timestamp_;
    ValueList items_;
    PairList pairs_;
    TaggedValue* tagged_;
  };
  ValueKind kind_;
  uint8_t aux_;  // Bool: truth; BigInt: radix
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

inline Value Value::string(std::string text) noexcept {
  Value v;
  new (&v.text_) std::string(std::move(text));
  v.kind_ = ValueKind::String;
  return v;
}

inline Value Value::sequence(ValueList items) noexcept {
  Value v;
  new (&v.items_) ValueList(std::move(items));
  v.kind_ = ValueKind::Sequence;
  return v;
}

inline void Value::set_mapping(PairList&& pairs) noexcept {
  new (&pairs_) PairList(std::move(pairs));
  kind_ = ValueKind::Mapping;
}

inline Value Value::sequence() noexcept { return sequence(ValueList()); }
inline Value Value::mapping() noexcept { return mapping(PairList()); }

inline Value Value::mapping(PairList pairs) noexcept {
  Value v;
  new (&v.pairs_) PairList(std::move(pairs));
  v.kind_ = ValueKind::Mapping;
  return v;
}

// Inline: every item and pair of a tree is moved at least once on its way
// into the tree, so this is on the loader's hot path.
inline void Value::move_from(Value&& o) noexcept {
  kind_ = o.kind_;
  aux_ = o.aux_;
  switch (o.kind_) {
    case ValueKind::BigInt:
    case ValueKind::String:
      new (&text_) std::string(std::move(o.text_));
      o.text_.~basic_string();
      break;
    case ValueKind::Timestamp:
      new (&timestamp_) YamlTimestamp(o.timestamp_);
      break;
    case ValueKind::Sequence:
      new (&items_) ValueList(std::move(o.items_));
      o.items_.~ValueList();
      break;
    case ValueKind::Mapping:
      new (&pairs_) PairList(std::move(o.pairs_));
      o.pairs_.~PairList();
      break;
    case ValueKind::Tagged:
      tagged_ = o.tagged_;
      break;
    default:
      int_ = o.int_;  // Null, Bool, Int, Float: the raw 64 bits
      break;
  }
  o.kind_ = ValueKind::Null;
  o.aux_ = 0;
  o.int_ = 0;
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
