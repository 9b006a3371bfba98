#include "decode/merge.hpp"

#include <cstdio>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <vector>

#include "decode/keys.hpp"
#include "decode/seeded_hash.hpp"
#include "resolver/timestamp.hpp"

namespace qf {
namespace {

using KeyIndex = std::unordered_map<std::string, size_t, SeededStringHash, std::equal_to<>>;

constexpr std::string_view kLeftoverKeyFingerprint = "s:2:<<";

Value merge_text() { return Value::string("<<"); }

bool has_merge_marker_key(const PairList& pairs) {
  for (const ValuePair& p : pairs)
    if (is_merge_marker(p.key)) return true;
  return false;
}

// Adds the pairs of mapping `m` whose keys `out` lacks; m's own repeated keys
// collapse first (first place, last value).
void merge_mapping(PairList& out, KeyIndex& index, Value m, KeyTags tags) {
  PairList& src = m.pairs();
  PairList collapsed;
  collapsed.reserve(src.size());
  std::vector<std::string> prints;
  prints.reserve(src.size());
  KeyIndex local;
  std::string fp;
  for (ValuePair& p : src) {
    fp.clear();
    append_key_fingerprint(p.key, fp, tags);
    auto [it, inserted] = local.try_emplace(fp, collapsed.size());
    if (!inserted) {
      collapsed[it->second].value = std::move(p.value);
      continue;
    }
    prints.push_back(fp);
    collapsed.push_back(std::move(p));
  }
  for (size_t i = 0; i < collapsed.size(); ++i) {
    auto [it, inserted] = index.try_emplace(std::move(prints[i]), out.size());
    if (inserted) out.push_back(std::move(collapsed[i]));
  }
}

// Merges one merge value into `out`; what is not mergeable comes back as the
// leftover (a sequence keeps the nesting of its unmergeable items).
std::optional<Value> merge_value_into_pairs(PairList& out, KeyIndex& index, Value value, KeyTags tags) {
  switch (value.kind()) {
    case ValueKind::Null:
      return std::nullopt;
    case ValueKind::Mapping:
      merge_mapping(out, index, std::move(value), tags);
      return std::nullopt;
    case ValueKind::Sequence:
      break;
    default:
      return value;
  }
  struct Frame {
    Value seq;
    size_t next = 0;
    ValueList leftovers;
  };
  std::vector<Frame> stack;
  stack.push_back(Frame{std::move(value), 0, {}});
  std::optional<Value> result;
  while (!stack.empty()) {
    Frame& f = stack.back();
    if (f.next < f.seq.items().size()) {
      Value item = std::move(f.seq.items()[f.next++]);
      switch (item.kind()) {
        case ValueKind::Null:
          break;
        case ValueKind::Mapping:
          merge_mapping(out, index, std::move(item), tags);
          break;
        case ValueKind::Sequence:
          stack.push_back(Frame{std::move(item), 0, {}});
          break;
        default:
          f.leftovers.push_back(std::move(item));
          break;
      }
      continue;
    }
    std::optional<Value> lo;
    if (!f.leftovers.empty()) lo = Value::sequence(std::move(f.leftovers));
    stack.pop_back();
    if (stack.empty()) result = std::move(lo);
    else if (lo) stack.back().leftovers.push_back(std::move(*lo));
  }
  return result;
}

void rebuild_mapping(Value& mapping, KeyTags tags) {
  PairList old = std::move(mapping.pairs());
  PairList out;
  out.reserve(old.size());
  KeyIndex index;
  index.reserve(old.size());
  constexpr size_t kNoSlot = static_cast<size_t>(-1);
  size_t slot = kNoSlot;
  std::string fp;
  for (ValuePair& p : old) {
    if (!is_merge_marker(p.key)) {
      fp.clear();
      append_key_fingerprint(p.key, fp, tags);
      auto [it, inserted] = index.try_emplace(fp, out.size());
      if (inserted) {
        out.push_back(std::move(p));
      } else {
        out[it->second].value = std::move(p.value);
        if (slot == it->second) slot = kNoSlot;
      }
      continue;
    }
    std::optional<Value> left = merge_value_into_pairs(out, index, std::move(p.value), tags);
    if (!left) continue;
    if (slot != kNoSlot) {
      Value& held = out[slot].value;
      ValueList items;
      if (held.is(ValueKind::Sequence)) items = std::move(held.items());
      else items.push_back(std::move(held));
      if (left->is(ValueKind::Sequence)) {
        for (Value& v : left->items()) items.push_back(std::move(v));
      } else {
        items.push_back(std::move(*left));
      }
      held = Value::sequence(std::move(items));
    } else {
      auto [it, inserted] = index.try_emplace(std::string(kLeftoverKeyFingerprint), out.size());
      if (!inserted) continue;  // a "<<" string key is already present; it wins
      out.emplace_back(merge_text(), std::move(*left));
      slot = out.size() - 1;
    }
  }
  mapping.pairs() = std::move(out);
}

void append_u64(std::string& out, uint64_t v) {
  char buf[24];
  int n = std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(v));
  out.append(buf, static_cast<size_t>(n));
}

}  // namespace

Value make_merge_marker() { return Value::tagged(std::string(kMergeTag), merge_text()); }

bool is_merge_marker(const Value& value) noexcept {
  return value.is(ValueKind::Tagged) && value.tag() == kMergeTag;
}

void strip_merge_markers(Value& value) {
  std::vector<Value*> stack;
  stack.push_back(&value);
  while (!stack.empty()) {
    Value* v = stack.back();
    stack.pop_back();
    switch (v->kind()) {
      case ValueKind::Tagged:
        if (is_merge_marker(*v)) *v = merge_text();
        else stack.push_back(&v->inner());
        break;
      case ValueKind::Sequence:
        for (Value& item : v->items())
          if (item.is_collection() || item.is(ValueKind::Tagged)) stack.push_back(&item);
        break;
      case ValueKind::Mapping:
        for (ValuePair& p : v->pairs()) {
          stack.push_back(&p.key);
          stack.push_back(&p.value);
        }
        break;
      default:
        break;
    }
  }
}

void apply_merge_keys(Value& root, KeyTags tags) {
  // Post-order: a mapping is rebuilt after its values, so a merge value has
  // its own merge keys expanded before it is merged.
  struct Frame {
    Value* value;
    size_t next;
  };
  std::vector<Frame> stack;
  stack.push_back({&root, 0});
  while (!stack.empty()) {
    Value* v = stack.back().value;
    size_t i = stack.back().next;
    switch (v->kind()) {
      case ValueKind::Tagged:
        if (is_merge_marker(*v)) {
          *v = merge_text();
          stack.pop_back();
        } else if (i == 0) {
          stack.back().next = 1;
          stack.push_back({&v->inner(), 0});
        } else {
          stack.pop_back();
        }
        break;
      case ValueKind::Sequence: {
        ValueList& items = v->items();
        while (i < items.size() && !(items[i].is_collection() || items[i].is(ValueKind::Tagged))) ++i;
        if (i < items.size()) {
          stack.back().next = i + 1;
          stack.push_back({&items[i], 0});
        } else {
          stack.pop_back();
        }
        break;
      }
      case ValueKind::Mapping: {
        PairList& pairs = v->pairs();
        if (i < pairs.size()) {
          stack.back().next = i + 1;
          ValuePair& p = pairs[i];
          if (!is_merge_marker(p.key) && (p.key.is_collection() || p.key.is(ValueKind::Tagged)))
            strip_merge_markers(p.key);
          if (p.value.is_collection() || p.value.is(ValueKind::Tagged))
            stack.push_back({&p.value, 0});
        } else {
          stack.pop_back();
          if (has_merge_marker_key(pairs)) rebuild_mapping(*v, tags);
        }
        break;
      }
      default:
        stack.pop_back();
        break;
    }
  }
}

void write_canonical_value_key(std::string& out, const Value& value) {
  std::vector<const Value*> stack;
  stack.push_back(&value);
  char buf[32];
  while (!stack.empty()) {
    const Value* v = stack.back();
    stack.pop_back();
    switch (v->kind()) {
      case ValueKind::Null:
        out += '0';
        break;
      case ValueKind::Bool:
        out += v->as_bool() ? "11" : "10";
        break;
      case ValueKind::Int: {
        int n = std::snprintf(buf, sizeof buf, "2:%lld;", static_cast<long long>(v->as_int()));
        out.append(buf, static_cast<size_t>(n));
        break;
      }
      case ValueKind::BigInt:
        // The radix is part of the text's meaning; decimal stays bare.
        out += "3:";
        if (v->big_int_radix() != 10) {
          append_u64(out, v->big_int_radix());
          out += 'r';
        }
        out += v->big_int_text();
        out += ';';
        break;
      case ValueKind::Float: {
        uint64_t bits;
        double d = v->as_float();
        std::memcpy(&bits, &d, sizeof bits);
        out += "4:";
        append_u64(out, bits);
        out += ';';
        break;
      }
      case ValueKind::String:
        out += "5:";
        append_u64(out, v->as_string().size());
        out += ':';
        out += v->as_string();
        break;
      case ValueKind::Timestamp:
        out += "9:";
        append_timestamp_text(v->as_timestamp(), out);
        out += ';';
        break;
      case ValueKind::Sequence: {
        const ValueList& items = v->items();
        out += "7:";
        append_u64(out, items.size());
        out += ':';
        for (size_t i = items.size(); i-- > 0;) stack.push_back(&items[i]);
        break;
      }
      case ValueKind::Mapping: {
        const PairList& pairs = v->pairs();
        out += "8:";
        append_u64(out, pairs.size());
        out += ':';
        for (size_t i = pairs.size(); i-- > 0;) {
          stack.push_back(&pairs[i].value);
          stack.push_back(&pairs[i].key);
        }
        break;
      }
      case ValueKind::Tagged:
        out += "6:";
        append_u64(out, v->tag().size());
        out += ':';
        out += v->tag();
        stack.push_back(&v->inner());
        break;
    }
  }
}

}  // namespace qf
