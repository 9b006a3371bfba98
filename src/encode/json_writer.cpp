#include "encode/json_writer.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "encode/scalar_text.hpp"
#include "resolver/big_int.hpp"
#include "resolver/timestamp.hpp"
#include "support/stack_guard.hpp"

namespace qf {

namespace {

constexpr char kHex[] = "0123456789abcdef";

// Bytes write_json_string must look at: C0 controls, '"', '\\', and 0xE2
// (lead byte of U+2028/U+2029).
constexpr std::array<bool, 256> make_json_table() {
  std::array<bool, 256> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = true;
  t['"'] = true;
  t['\\'] = true;
  t[0xE2] = true;
  return t;
}
constexpr auto kJsonSpecial = make_json_table();

void append_big_int_decimal(std::string& out, const Value& v) {
  if (v.big_int_radix() == 10) out.append(v.big_int_text());
  else out.append(big_int_to_decimal(v.big_int_text(), v.big_int_radix()));
}

inline void newline_indent(std::string& out, uint64_t indent, uint64_t depth) {
  out.push_back('\n');
  append_spaces(out, indent * depth);
}

struct JsonEntry {
  std::string key;
  const Value* value;
};

// The raw key text of an object key, or false for a collection key.
bool json_key_text(const Value& key, std::string& text) {
  const Value* k = &key;
  while (k->kind() == ValueKind::Tagged) k = &k->inner();
  switch (k->kind()) {
    case ValueKind::Null: text = "null"; return true;
    case ValueKind::Bool: text = k->as_bool() ? "true" : "false"; return true;
    case ValueKind::Int: append_int64(text, k->as_int()); return true;
    case ValueKind::BigInt: append_big_int_decimal(text, *k); return true;
    case ValueKind::Float: write_json_float(text, k->as_float()); return true;
    case ValueKind::String: text = k->as_string(); return true;
    case ValueKind::Timestamp: append_timestamp_text(k->as_timestamp(), text); return true;
    default: return false;
  }
}

std::optional<JsonWriteError> write_json_impl(std::string& out, const Value& v, const JsonSettings& s,
                                              uint64_t depth);

std::optional<JsonWriteError> write_json_array(std::string& out, const ValueList& items,
                                               const JsonSettings& s, uint64_t depth) {
  if (items.empty()) {
    out.append("[]");
    return std::nullopt;
  }
  out.push_back('[');
  bool first = true;
  for (const Value& item : items) {
    if (!first) out.push_back(',');
    first = false;
    if (s.indent > 0) newline_indent(out, s.indent, depth + 1);
    auto err = ensure_stack([&] { return write_json_impl(out, item, s, depth + 1); });
    if (err) return err;
  }
  if (s.indent > 0) newline_indent(out, s.indent, depth);
  out.push_back(']');
  return std::nullopt;
}

std::optional<JsonWriteError> write_json_object(std::string& out, const PairList& pairs,
                                                const JsonSettings& s, uint64_t depth) {
  if (pairs.empty()) {
    out.append("{}");
    return std::nullopt;
  }
  std::vector<JsonEntry> entries;
  entries.reserve(pairs.size());
  for (const ValuePair& p : pairs) {
    JsonEntry e{std::string(), &p.value};
    if (!json_key_text(p.key, e.key)) return JsonWriteError{std::string(kJsonCollectionKeyError)};
    entries.push_back(std::move(e));
  }
  if (s.sort_keys && entries.size() >= 2) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const JsonEntry& a, const JsonEntry& b) { return a.key < b.key; });
  }
  out.push_back('{');
  bool first = true;
  for (const JsonEntry& e : entries) {
    if (!first) out.push_back(',');
    first = false;
    if (s.indent > 0) newline_indent(out, s.indent, depth + 1);
    write_json_string(out, e.key);
    out.push_back(':');
    if (s.indent > 0) out.push_back(' ');
    auto err = ensure_stack([&] { return write_json_impl(out, *e.value, s, depth + 1); });
    if (err) return err;
  }
  if (s.indent > 0) newline_indent(out, s.indent, depth);
  out.push_back('}');
  return std::nullopt;
}

std::optional<JsonWriteError> write_json_impl(std::string& out, const Value& v, const JsonSettings& s,
                                              uint64_t depth) {
  const Value* cur = &v;
  while (cur->kind() == ValueKind::Tagged) cur = &cur->inner();
  switch (cur->kind()) {
    case ValueKind::Null: out.append("null"); break;
    case ValueKind::Bool: out.append(cur->as_bool() ? "true" : "false"); break;
    case ValueKind::Int: append_int64(out, cur->as_int()); break;
    case ValueKind::BigInt: append_big_int_decimal(out, *cur); break;
    case ValueKind::Float: write_json_float(out, cur->as_float()); break;
    case ValueKind::String: write_json_string(out, cur->as_string()); break;
    case ValueKind::Timestamp: {
      std::string text;
      append_timestamp_text(cur->as_timestamp(), text);
      write_json_string(out, text);
      break;
    }
    case ValueKind::Sequence: return write_json_array(out, cur->items(), s, depth);
    case ValueKind::Mapping: return write_json_object(out, cur->pairs(), s, depth);
    case ValueKind::Tagged: break;  // unreachable: unwrapped above
  }
  return std::nullopt;
}

}  // namespace

std::optional<JsonWriteError> write_json_value(std::string& out, const Value& v,
                                               const JsonSettings& settings, uint64_t depth) {
  return ensure_stack([&] { return write_json_impl(out, v, settings, depth); });
}

void write_json_float(std::string& out, double x) {
  if (!std::isfinite(x)) {
    out.append("null");
    return;
  }
  append_yaml_float(out, x);
}

void write_json_string(std::string& out, std::string_view text) {
  out.push_back('"');
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t run = 0;
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = p[i];
    if (!kJsonSpecial[c]) continue;
    if (c == 0xE2) {
      if (i + 2 < n && p[i + 1] == 0x80 && (p[i + 2] == 0xA8 || p[i + 2] == 0xA9)) {
        out.append(text.data() + run, i - run);
        out.append(p[i + 2] == 0xA8 ? "\\u2028" : "\\u2029");
        i += 2;
        run = i + 1;
      }
      continue;
    }
    out.append(text.data() + run, i - run);
    switch (c) {
      case '\b': out.append("\\b"); break;
      case '\t': out.append("\\t"); break;
      case '\n': out.append("\\n"); break;
      case '\f': out.append("\\f"); break;
      case '\r': out.append("\\r"); break;
      case '"': out.append("\\\""); break;
      case '\\': out.append("\\\\"); break;
      default:
        out.append("\\u00");
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 0xF]);
        break;
    }
    run = i + 1;
  }
  out.append(text.data() + run, n - run);
  out.push_back('"');
}

}  // namespace qf
