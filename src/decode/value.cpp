// Value tree: construction, iterative release, iterative deep copy, debug
// rendering and structural equality. No walk here recurses.
#include "decode/value.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace qf {

static_assert(std::is_nothrow_move_constructible_v<Value>);
static_assert(std::is_nothrow_move_assignable_v<Value>);
static_assert(sizeof(Value) <= 32, "Value is stored inline in item and pair vectors");
// Moves copy a vector's bytes and forget the source (see move_from).
static_assert(std::is_empty_v<PoolAllocator<Value>> && sizeof(ValueList) == 3 * sizeof(void*));

const char* value_kind_name(ValueKind kind) noexcept {
  static constexpr const char* kNames[] = {"Null",   "Bool",      "Int",      "BigInt",  "Float",
                                           "String", "Timestamp", "Sequence", "Mapping", "Tagged"};
  auto i = static_cast<size_t>(kind);
  return i < std::size(kNames) ? kNames[i] : "?";
}

// ---- construction ----

void Value::set_heap_text(std::string_view text) {
  const size_t n = text.size();
  char* p = static_cast<char*>(block_pool::allocate(n + 1));
  std::memcpy(p, text.data(), n);
  p[n] = '\0';
  heap_text_ = HeapText{p, n};
  text_len_ = kHeapText;
  owns_ = true;
}

Value Value::big_int(std::string_view text, uint8_t radix) {
  Value v;
  v.set_text(text);
  v.kind_ = ValueKind::BigInt;
  v.aux_ = radix;
  return v;
}

Value Value::timestamp(const YamlTimestamp& ts) noexcept {
  Value v;
  new (&v.timestamp_) YamlTimestamp(ts);
  v.kind_ = ValueKind::Timestamp;
  return v;
}

Value Value::tagged(std::string tag, Value inner) {
  Value v;
  v.tagged_ = new TaggedValue{std::move(tag), std::move(inner)};
  v.kind_ = ValueKind::Tagged;
  v.owns_ = true;
  return v;
}

// ---- moves and release ----

namespace {

// A value that owns children which may own further children. A tagged
// value counts when its inner value is a non-empty container or tagged
// itself: dropping one around a leaf or an empty container recurses once.
inline bool has_subtree(const Value& v) noexcept {
  switch (v.kind()) {
    case ValueKind::Sequence:
      return !v.items().empty();
    case ValueKind::Mapping:
      return !v.pairs().empty();
    case ValueKind::Tagged: {
      const Value& inner = v.inner();
      switch (inner.kind()) {
        case ValueKind::Sequence:
          return !inner.items().empty();
        case ValueKind::Mapping:
          return !inner.pairs().empty();
        case ValueKind::Tagged:
          return true;
        default:
          return false;
      }
    }
    default:
      return false;
  }
}

}  // namespace

void Value::release_shallow() noexcept {
  switch (kind_) {
    case ValueKind::BigInt:
    case ValueKind::String:
      if (text_len_ == kHeapText) block_pool::deallocate(heap_text_.data, heap_text_.size + 1);
      break;
    case ValueKind::Sequence:
      items_.~ValueList();
      break;
    case ValueKind::Mapping:
      pairs_.~PairList();
      break;
    case ValueKind::Tagged:
      delete tagged_;
      break;
    default:
      break;
  }
  kind_ = ValueKind::Null;
  aux_ = 0;
  text_len_ = 0;
  owns_ = false;
  int_ = 0;
}

// Release without recursion (see run).
struct ValueReleaser {
  // Finds a descendant (or v itself) none of whose children owns a subtree.
  static Value& bottom(Value& v) noexcept {
    Value* cur = &v;
    while (true) {
      Value* next = nullptr;
      if (cur->kind_ == ValueKind::Sequence) {
        for (Value& item : cur->items_)
          if (has_subtree(item)) {
            next = &item;
            break;
          }
      } else if (cur->kind_ == ValueKind::Mapping) {
        for (ValuePair& p : cur->pairs_) {
          if (has_subtree(p.key)) {
            next = &p.key;
            break;
          }
          if (has_subtree(p.value)) {
            next = &p.value;
            break;
          }
        }
      } else if (cur->kind_ == ValueKind::Tagged && has_subtree(cur->tagged_->inner)) {
        next = &cur->tagged_->inner;
      }
      if (!next) return *cur;
      cur = next;
    }
  }

  // Release without a work stack (used only when the stack cannot grow):
  // repeatedly free a bottom node. Slow on deep trees, but needs no memory.
  static void run_without_memory(Value& root) noexcept {
    while (has_subtree(root)) bottom(root).release_shallow();
    root.release_shallow();
  }

  // Frees a container's buffer or a tag box whose children own nothing
  // any more: the buffer goes back as it came, without a destructor call per
  // element. Leaves `v` Null.
  static void release_emptied(Value& v) noexcept {
    switch (v.kind_) {
      case ValueKind::Sequence: {
        ValueList& items = v.items_;
        if (Value* p = items.data()) PoolAllocator<Value>().deallocate(p, items.capacity());
        break;
      }
      case ValueKind::Mapping: {
        PairList& pairs = v.pairs_;
        if (ValuePair* p = pairs.data()) PoolAllocator<ValuePair>().deallocate(p, pairs.capacity());
        break;
      }
      default:
        v.release_shallow();
        return;
    }
    v.kind_ = ValueKind::Null;
    v.aux_ = 0;
    v.text_len_ = 0;
    v.owns_ = false;
    v.int_ = 0;
  }

  // Releases the owning children of `v` from position `next` on, leaves
  // first; returns the first child that owns children of its own (a
  // container or a tag box), with `next` past it, or nullptr once every
  // child owns nothing. Positions count a mapping's keys and values in turn,
  // from the last child back (see run).
  [[gnu::always_inline]] static Value* release_leaves(Value& v, size_t& next) noexcept {
    auto visit = [](Value& c) noexcept -> bool {
      if (!c.owns_) return false;
      if (c.kind_ >= ValueKind::Sequence) return true;
      c.release_shallow();  // a long text
      return false;
    };
    static_assert(ValueKind::Sequence < ValueKind::Mapping && ValueKind::Mapping < ValueKind::Tagged);
    switch (v.kind_) {
      case ValueKind::Sequence: {
        Value* items = v.items_.data();
        for (const size_t n = v.items_.size(); next < n;) {
          Value& c = items[n - 1 - next++];
          if (visit(c)) return &c;
        }
        return nullptr;
      }
      case ValueKind::Mapping: {
        ValuePair* pairs = v.pairs_.data();
        const size_t n = v.pairs_.size();
        size_t i = next / 2;
        if (next & 1) {  // resuming at a value
          ValuePair& p = pairs[n - 1 - i];
          next = 2 * i + 2;
          if (visit(p.value)) return &p.value;
          ++i;
        }
        for (; i < n; ++i) {
          ValuePair& p = pairs[n - 1 - i];
          // Most pairs own nothing: one test for both.
          if (!(p.key.owns_ | p.value.owns_)) continue;
          if (visit(p.key)) {
            next = 2 * i + 1;
            return &p.key;
          }
          if (visit(p.value)) {
            next = 2 * i + 2;
            return &p.value;
          }
        }
        next = 2 * n;
        return nullptr;
      }
      case ValueKind::Tagged:
        if (next++ == 0 && visit(v.tagged_->inner)) return &v.tagged_->inner;
        return nullptr;
      default:
        return nullptr;
    }
  }

  // One walk, depth first over the containers in place: each child is
  // looked at once; leaves are released as they are passed, and a
  // container's buffer is freed once its last owning child has been
  // emptied. Nothing moves. The frames grow with the depth only, and live on
  // the stack for the depths documents have.
  //
  // Children go from the last to the first: blocks are made roughly in
  // document order, so the first ones freed, the ones the block pool keeps,
  // are the newest, nearest the top of the heap. Kept there they stop the
  // general allocator from handing a large tree's whole span back to the
  // system at the end of the walk, only to fault it in again on the next
  // load (front to back, the kept blocks were the oldest, and every load of
  // a 20 MB document gave back and re-faulted some 75 MB).
  static void run(Value& root) noexcept {
    if (!root.owns_ || root.kind_ < ValueKind::Sequence) {
      root.release_shallow();
      return;
    }
    struct Frame {
      Value* value;
      size_t next;
    };
    constexpr size_t kInlineFrames = 64;
    Frame inline_frames[kInlineFrames];
    std::vector<Frame> more;  // frames past the inline ones
    size_t depth = 0;
    Value* cur = &root;
    size_t next = 0;
    for (;;) {
      if (Value* child = release_leaves(*cur, next)) {
        if (depth < kInlineFrames) {
          inline_frames[depth] = {cur, next};
        } else {
          try {
            more.push_back({cur, next});
          } catch (...) {
            // The tree is whole at every step: finish without memory.
            run_without_memory(root);
            return;
          }
        }
        ++depth;
        cur = child;
        next = 0;
        continue;
      }
      release_emptied(*cur);
      if (depth == 0) return;
      --depth;
      const Frame f = depth < kInlineFrames ? inline_frames[depth] : more.back();
      if (depth >= kInlineFrames) more.pop_back();
      cur = f.value;
      next = f.next;
    }
  }
};

void Value::release_slow() noexcept {
  // A long text, or a container without storage (an empty collection):
  // neither needs the walk.
  if (kind_ == ValueKind::Sequence ? !items_.data() : kind_ == ValueKind::Mapping && !pairs_.data()) {
    // An empty vector holds nothing to give back.
    kind_ = ValueKind::Null;
    aux_ = 0;
    text_len_ = 0;
    owns_ = false;
    int_ = 0;
    return;
  }
  if (kind_ < ValueKind::Sequence) {
    release_shallow();
    return;
  }
  ValueReleaser::run(*this);
}

void drop_value_tree(Value&& value) noexcept {
  Value v = std::move(value);
  ValueReleaser::run(v);
}

// ---- deep copy ----

namespace {

void copy_leaf(const Value& src, Value& dst) {
  switch (src.kind()) {
    case ValueKind::Null:
      dst = Value();
      break;
    case ValueKind::Bool:
      dst = Value::boolean(src.as_bool());
      break;
    case ValueKind::Int:
      dst = Value::integer(src.as_int());
      break;
    case ValueKind::Float:
      dst = Value::floating(src.as_float());
      break;
    case ValueKind::BigInt:
      dst = Value::big_int(src.big_int_text(), src.big_int_radix());
      break;
    case ValueKind::String:
      dst = Value::string(src.as_string());
      break;
    case ValueKind::Timestamp:
      dst = Value::timestamp(src.as_timestamp());
      break;
    default:
      break;
  }
}

}  // namespace

Value deep_copy_value(const Value& value) {
  struct Task {
    const Value* src;
    Value* dst;
  };
  Value root;
  std::vector<Task> stack;
  stack.push_back({&value, &root});
  while (!stack.empty()) {
    Task t = stack.back();
    stack.pop_back();
    const Value& s = *t.src;
    switch (s.kind()) {
      case ValueKind::Sequence: {
        // Sized once, so the slots handed out below stay put.
        *t.dst = Value::sequence(ValueList(s.items().size()));
        ValueList& items = t.dst->items();
        for (size_t i = items.size(); i-- > 0;) stack.push_back({&s.items()[i], &items[i]});
        break;
      }
      case ValueKind::Mapping: {
        *t.dst = Value::mapping(PairList(s.pairs().size()));
        PairList& pairs = t.dst->pairs();
        for (size_t i = pairs.size(); i-- > 0;) {
          stack.push_back({&s.pairs()[i].value, &pairs[i].value});
          stack.push_back({&s.pairs()[i].key, &pairs[i].key});
        }
        break;
      }
      case ValueKind::Tagged:
        *t.dst = Value::tagged(s.tag(), Value());
        stack.push_back({&s.inner(), &t.dst->inner()});
        break;
      default:
        copy_leaf(s, *t.dst);
        break;
    }
  }
  return root;
}

size_t value_node_count(const Value& value) {
  size_t count = 0;
  std::vector<const Value*> stack;
  stack.push_back(&value);
  while (!stack.empty()) {
    const Value* v = stack.back();
    stack.pop_back();
    ++count;
    switch (v->kind()) {
      case ValueKind::Sequence:
        for (const Value& item : v->items()) stack.push_back(&item);
        break;
      case ValueKind::Mapping:
        for (const ValuePair& p : v->pairs()) {
          stack.push_back(&p.key);
          stack.push_back(&p.value);
        }
        break;
      case ValueKind::Tagged:
        stack.push_back(&v->inner());
        break;
      default:
        break;
    }
  }
  return count;
}

// ---- debug text ----

namespace {

void append_hex(std::string& out, uint32_t v) {
  char buf[16];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, 16);
  out.append(buf, end);
}

// Decodes one UTF-8 sequence at s[i]; returns its length, or 0 when invalid.
size_t decode_utf8(std::string_view s, size_t i, uint32_t& cp) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  size_t len;
  uint32_t min;
  if (c < 0x80) {
    cp = c;
    return 1;
  } else if ((c & 0xE0) == 0xC0) {
    len = 2, cp = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3, cp = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4, cp = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    unsigned char cc = static_cast<unsigned char>(s[i + k]);
    if ((cc & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (cc & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

// Characters shown escaped: controls and the invisible formatting and
// separator characters.
bool is_printable(uint32_t cp) {
  if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return false;
  if (cp == 0xAD || cp == 0x34F || cp == 0x61C || cp == 0x180E) return false;
  if ((cp >= 0x200B && cp <= 0x200F) || (cp >= 0x2028 && cp <= 0x202E) ||
      (cp >= 0x2060 && cp <= 0x206F))
    return false;
  if (cp == 0xFEFF || (cp >= 0xFFF0 && cp <= 0xFFFB) || (cp >= 0xFE00 && cp <= 0xFE0F)) return false;
  if ((cp >= 0xE0000 && cp <= 0xE0FFF)) return false;
  if ((cp & 0xFFFE) == 0xFFFE) return false;  // noncharacters U+xFFFE/U+xFFFF
  return true;
}

void append_quoted(std::string& out, std::string_view s) {
  out.push_back('"');
  for (size_t i = 0; i < s.size();) {
    uint32_t cp;
    size_t len = decode_utf8(s, i, cp);
    if (len == 0) {
      // Not UTF-8: show the byte.
      out += "\\x";
      unsigned char b = static_cast<unsigned char>(s[i]);
      const char* hex = "0123456789abcdef";
      out.push_back(hex[b >> 4]);
      out.push_back(hex[b & 15]);
      ++i;
      continue;
    }
    switch (cp) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case 0:
        out += "\\0";
        break;
      default:
        if (is_printable(cp)) {
          out.append(s.data() + i, len);
        } else {
          out += "\\u{";
          append_hex(out, cp);
          out.push_back('}');
        }
    }
    i += len;
  }
  out.push_back('"');
}

void append_int(std::string& out, int64_t v) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, end);
}

// Shortest round-trip form; exponent form for |x| >= 1e16 or below 1e-4.
void append_debug_float(std::string& out, double d) {
  if (std::isnan(d)) {
    out += "NaN";
    return;
  }
  if (std::isinf(d)) {
    out += d < 0 ? "-inf" : "inf";
    return;
  }
  char buf[64];
  double mag = std::fabs(d);
  if (mag >= 1e16 || (mag < 1e-4 && mag != 0.0)) {
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
    // "1.5e-05" -> "1.5e-5", "1e+16" -> "1e16"
    std::string_view s(buf, static_cast<size_t>(end - buf));
    size_t e = s.find('e');
    out.append(s.substr(0, e));
    out.push_back('e');
    size_t k = e + 1;
    if (s[k] == '-') {
      out.push_back('-');
      ++k;
    } else if (s[k] == '+') {
      ++k;
    }
    while (k + 1 < s.size() && s[k] == '0') ++k;
    out.append(s.substr(k));
    return;
  }
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed);
  std::string_view s(buf, static_cast<size_t>(end - buf));
  out.append(s);
  if (s.find('.') == std::string_view::npos) out += ".0";
}

// Decimal digits as the integer's text; a radix text too long to convert
// cheaply keeps its radix prefix ("0x...") instead.
void append_big_int_debug(std::string& out, std::string_view text, uint8_t radix) {
  constexpr size_t kMaxConvertedDigits = 4096;
  if (radix == 10) {
    append_quoted(out, text);
  } else if (text.size() <= kMaxConvertedDigits) {
    append_quoted(out, big_int_to_decimal(text, radix));
  } else {
    std::string_view digits = text;
    std::string shown;
    if (!digits.empty() && digits[0] == '-') {
      shown.push_back('-');
      digits.remove_prefix(1);
    }
    shown += radix == 16 ? "0x" : radix == 8 ? "0o" : "0b";
    shown += digits;
    append_quoted(out, shown);
  }
}

void append_timestamp_debug(std::string& out, const YamlTimestamp& ts) {
  out += ts.is_date() ? "Date { year: " : "DateTime { year: ";
  append_int(out, ts.year);
  out += ", month: ";
  append_int(out, ts.month);
  out += ", day: ";
  append_int(out, ts.day);
  if (ts.is_date_time()) {
    out += ", hour: ";
    append_int(out, ts.hour);
    out += ", minute: ";
    append_int(out, ts.minute);
    out += ", second: ";
    append_int(out, ts.second);
    out += ", microsecond: ";
    append_int(out, ts.microsecond);
    out += ", offset_minutes: ";
    if (ts.offset_minutes) {
      out += "Some(";
      append_int(out, *ts.offset_minutes);
      out += ")";
    } else {
      out += "None";
    }
  }
  out += " }";
}

}  // namespace

void append_value_debug_text(const Value& value, std::string& out) {
  // Work items: a value to render, or a literal to append.
  struct Item {
    const Value* value;
    const char* literal;
  };
  std::vector<Item> stack;
  stack.push_back({&value, nullptr});
  while (!stack.empty()) {
    Item it = stack.back();
    stack.pop_back();
    if (it.literal) {
      out += it.literal;
      continue;
    }
    const Value& v = *it.value;
    switch (v.kind()) {
      case ValueKind::Null:
        out += "Null";
        break;
      case ValueKind::Bool:
        out += v.as_bool() ? "Bool(true)" : "Bool(false)";
        break;
      case ValueKind::Int:
        out += "Int(";
        append_int(out, v.as_int());
        out += ")";
        break;
      case ValueKind::BigInt:
        out += "BigInt(";
        append_big_int_debug(out, v.big_int_text(), v.big_int_radix());
        out += ")";
        break;
      case ValueKind::Float:
        out += "Float(";
        append_debug_float(out, v.as_float());
        out += ")";
        break;
      case ValueKind::String:
        out += "String(";
        append_quoted(out, v.as_string());
        out += ")";
        break;
      case ValueKind::Timestamp:
        out += "Timestamp(";
        append_timestamp_debug(out, v.as_timestamp());
        out += ")";
        break;
      case ValueKind::Sequence: {
        out += "Sequence([";
        stack.push_back({nullptr, "])"});
        const ValueList& items = v.items();
        for (size_t i = items.size(); i-- > 0;) {
          stack.push_back({&items[i], nullptr});
          if (i > 0) stack.push_back({nullptr, ", "});
        }
        break;
      }
      case ValueKind::Mapping: {
        out += "Mapping([";
        stack.push_back({nullptr, "])"});
        const PairList& pairs = v.pairs();
        for (size_t i = pairs.size(); i-- > 0;) {
          stack.push_back({nullptr, ")"});
          stack.push_back({&pairs[i].value, nullptr});
          stack.push_back({nullptr, ", "});
          stack.push_back({&pairs[i].key, nullptr});
          stack.push_back({nullptr, "("});
          if (i > 0) stack.push_back({nullptr, ", "});
        }
        break;
      }
      case ValueKind::Tagged:
        out += "Tagged(";
        append_quoted(out, v.tag());
        out += ", ";
        stack.push_back({nullptr, ")"});
        stack.push_back({&v.inner(), nullptr});
        break;
    }
  }
}

std::string value_debug_text(const Value& value) {
  std::string out;
  append_value_debug_text(value, out);
  return out;
}

// ---- structural equality ----

bool value_structurally_equal(const Value& a, const Value& b) {
  std::vector<std::pair<const Value*, const Value*>> stack;
  stack.emplace_back(&a, &b);
  while (!stack.empty()) {
    auto [x, y] = stack.back();
    stack.pop_back();
    if (x->kind() != y->kind()) return false;
    switch (x->kind()) {
      case ValueKind::Null:
        break;
      case ValueKind::Bool:
        if (x->as_bool() != y->as_bool()) return false;
        break;
      case ValueKind::Int:
        if (x->as_int() != y->as_int()) return false;
        break;
      case ValueKind::Float: {
        double dx = x->as_float(), dy = y->as_float();
        if (std::memcmp(&dx, &dy, sizeof dx) != 0) return false;
        break;
      }
      case ValueKind::BigInt:
        if (x->big_int_radix() != y->big_int_radix() || x->big_int_text() != y->big_int_text())
          return false;
        break;
      case ValueKind::String:
        if (x->as_string() != y->as_string()) return false;
        break;
      case ValueKind::Timestamp:
        if (!(x->as_timestamp() == y->as_timestamp())) return false;
        break;
      case ValueKind::Sequence:
        if (x->items().size() != y->items().size()) return false;
        for (size_t i = 0; i < x->items().size(); ++i) stack.emplace_back(&x->items()[i], &y->items()[i]);
        break;
      case ValueKind::Mapping:
        if (x->pairs().size() != y->pairs().size()) return false;
        for (size_t i = 0; i < x->pairs().size(); ++i) {
          stack.emplace_back(&x->pairs()[i].key, &y->pairs()[i].key);
          stack.emplace_back(&x->pairs()[i].value, &y->pairs()[i].value);
        }
        break;
      case ValueKind::Tagged:
        if (x->tag() != y->tag()) return false;
        stack.emplace_back(&x->inner(), &y->inner());
        break;
    }
  }
  return true;
}

}  // namespace qf
