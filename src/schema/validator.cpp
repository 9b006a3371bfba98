#include "schema/validator.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "decode/seeded_hash.hpp"
#include "schema/number_text.hpp"
#include "schema/pattern.hpp"
#include "schema/values.hpp"
#include "support/stack_guard.hpp"

namespace qf {

namespace {

enum Kw : uint8_t {
  kRef, kType, kEnum, kConst, kMinimum, kMaximum, kExclusiveMinimum, kExclusiveMaximum, kMultipleOf,
  kMinLength, kMaxLength, kPattern, kRequired, kProperties, kPatternProperties, kAdditionalProperties,
  kMinProperties, kMaxProperties, kPropertyNames, kDependencies, kMinItems, kMaxItems, kItems,
  kAdditionalItems, kUniqueItems, kContains, kAllOf, kAnyOf, kOneOf, kNot, kKwCount
};

constexpr std::string_view kKeywordNames[kKwCount] = {
    "$ref", "type", "enum", "const", "minimum", "maximum", "exclusiveMinimum", "exclusiveMaximum", "multipleOf",
    "minLength", "maxLength", "pattern", "required", "properties", "patternProperties", "additionalProperties",
    "minProperties", "maxProperties", "propertyNames", "dependencies", "minItems", "maxItems", "items",
    "additionalItems", "uniqueItems", "contains", "allOf", "anyOf", "oneOf", "not"};

int keyword_of(std::string_view name) {
  for (int k = 0; k < kKwCount; ++k)
    if (kKeywordNames[k] == name) return k;
  return -1;
}

// A schema mapping looked at once per validation: the first pair of each
// keyword, `properties` hashed, patterns looked up on first use (they belong
// to the validation's PatternSet).
struct SchemaIndex {
  const Value* kw[kKwCount] = {};
  bool has_pairs = false;
  std::unordered_map<std::string_view, const Value*, SeededStringHash> properties;
  bool pattern_ready = false;
  const CompiledPattern* pattern = nullptr;
  struct PatternProperty {
    std::string_view text;
    const CompiledPattern* re;
    const Value* schema;
  };
  bool pattern_properties_ready = false;
  std::vector<PatternProperty> pattern_properties;
  bool ref_ready = false;
  const Value* ref_target = nullptr;

  explicit SchemaIndex(const Value& schema) {
    has_pairs = !schema.pairs().empty();
    for (const ValuePair& p : schema.pairs()) {
      if (!p.key.is(ValueKind::String)) continue;
      int k = keyword_of(p.key.as_string());
      if (k >= 0 && !kw[k]) kw[k] = &p.value;
    }
    if (const Value* props = kw[kProperties]; props && props->is(ValueKind::Mapping))
      for (const ValuePair& p : props->pairs())
        if (p.key.is(ValueKind::String)) properties.try_emplace(p.key.as_string(), &p.value);
  }
  const Value* get(Kw k, ValueKind kind) const { return kw[k] && kw[k]->is(kind) ? kw[k] : nullptr; }
};

// An instance path as a chain of steps on the stack, turned into text only
// for the violation that is reported.
struct PathStep {
  const PathStep* parent;
  std::string_view key;
  size_t index;
  bool is_index;
  bool secret;  // the step enters a node inside a !secret copy
  bool hidden;  // the key is secret text: written as kSecretText
};

// Whether instance text of `n` may be quoted in a message: never for a node
// inside a !secret copy.
bool inside_secret(const ViewNode& n, const PathStep* path) { return (path && path->secret) || n.in_secret(); }

constexpr std::string_view kSecretText = "<secret>";

std::string path_text(const PathStep* step) {
  std::vector<const PathStep*> steps;
  for (; step; step = step->parent) steps.push_back(step);
  std::string out = "$";
  for (size_t i = steps.size(); i-- > 0;) {
    if (steps[i]->is_index) {
      out += '[';
      out += std::to_string(steps[i]->index);
      out += ']';
    } else {
      out += '.';
      out.append(steps[i]->hidden ? kSecretText : steps[i]->key);
    }
  }
  return out;
}

// The instance as the type and bound keywords see it: scalars resolved,
// collections by kind only.
struct Instance {
  ValueKind kind = ValueKind::Null;
  bool truth = false;
  int64_t i = 0;
  double f = 0;
  std::string_view text;  // String
  std::optional<BigIntText> big;  // BigInt (owned: an Instance may move)
};

std::optional<double> number_of(const Instance& x) {
  switch (x.kind) {
    case ValueKind::Int: return static_cast<double>(x.i);
    case ValueKind::Float: return x.f;
    case ValueKind::BigInt: return big_int_to_double(x.big->text, x.big->radix);
    default: return std::nullopt;
  }
}

std::optional<__int128> integer_of(const Instance& x) {
  if (x.kind == ValueKind::Int) return x.i;
  if (x.kind == ValueKind::BigInt) return big_int_to_int128(x.big->text, x.big->radix);
  return std::nullopt;
}

std::string_view type_name(const Instance& x) {
  switch (x.kind) {
    case ValueKind::Null: return "null";
    case ValueKind::Bool: return "boolean";
    case ValueKind::Int:
    case ValueKind::BigInt: return "integer";
    case ValueKind::Float: return "number";
    case ValueKind::Sequence: return "array";
    case ValueKind::Mapping: return "object";
    default: return "string";
  }
}

bool type_matches(std::string_view name, const Instance& x) {
  if (name == "null") return x.kind == ValueKind::Null;
  if (name == "boolean") return x.kind == ValueKind::Bool;
  if (name == "integer")
    return x.kind == ValueKind::Int || x.kind == ValueKind::BigInt ||
           (x.kind == ValueKind::Float && std::isfinite(x.f) && x.f == std::trunc(x.f));
  if (name == "number") return x.kind == ValueKind::Int || x.kind == ValueKind::BigInt || x.kind == ValueKind::Float;
  if (name == "string") return x.kind == ValueKind::String;
  if (name == "array") return x.kind == ValueKind::Sequence;
  if (name == "object") return x.kind == ValueKind::Mapping;
  return true;
}

// A count bound: an Int, or a finite integral Float saturated to 64 bits.
std::optional<int64_t> count_of(const Value* v) {
  if (!v) return std::nullopt;
  if (v->is(ValueKind::Int)) return v->as_int();
  if (!v->is(ValueKind::Float)) return std::nullopt;
  double f = v->as_float();
  if (!std::isfinite(f) || f != std::trunc(f)) return std::nullopt;
  if (f >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
  if (f <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(f);
}

size_t code_points(std::string_view s) {
  size_t n = 0;
  for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

std::string quoted_message(std::string_view head, std::string_view text, std::string_view tail) {
  std::string m(head);
  m.append(text);
  m.append(tail);
  return m;
}

// JSON Pointer reference within the schema ("#" or "#/a/b~1c/0").
const Value* resolve_ref(const Value& root, std::string_view ref) {
  if (ref == "#") return &root;
  if (ref.substr(0, 2) != "#/") return nullptr;
  std::string_view rest = ref.substr(2);
  const Value* cur = &root;
  while (true) {
    size_t slash = rest.find('/');
    std::string_view raw = rest.substr(0, slash);
    std::string seg;
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '~' && i + 1 < raw.size() && raw[i + 1] == '1') {
        seg += '/';
        ++i;
      } else {
        seg += raw[i];
      }
    }
    for (size_t p; (p = seg.find("~0")) != std::string::npos;) seg.replace(p, 2, "~");
    if (cur->is(ValueKind::Mapping)) {
      const Value* next = nullptr;
      for (const ValuePair& p : cur->pairs())
        if (p.key.is(ValueKind::String) && p.key.as_string() == seg) {
          next = &p.value;
          break;
        }
      if (!next) return nullptr;
      cur = next;
    } else if (cur->is(ValueKind::Sequence)) {
      std::string_view d = seg;
      if (!d.empty() && d[0] == '+') d.remove_prefix(1);
      if (d.empty()) return nullptr;
      uint64_t index = 0;
      for (char c : d) {
        if (c < '0' || c > '9') return nullptr;
        if (index > (std::numeric_limits<uint64_t>::max() - uint64_t(c - '0')) / 10) return nullptr;
        index = index * 10 + uint64_t(c - '0');
      }
      if (index >= cur->items().size()) return nullptr;
      cur = &cur->items()[index];
    } else {
      return nullptr;
    }
    if (slash == std::string_view::npos) return cur;
    rest = rest.substr(slash + 1);
  }
}

class Validator {
 public:
  Validator(ValidationView& view, const Value& root_schema) : view_(view), root_schema_(root_schema) {}

  std::optional<SchemaViolation> run() {
    Sink top{true};
    validate(view_.root(), root_schema_, nullptr, 0, top);
    return std::move(first_);
  }

 private:
  struct Sink {
    bool top;
    uint64_t count = 0;
  };

  template <class Message>
  void fail(Sink& sink, const ViewNode& n, const PathStep* path, Message&& message) {
    ++sink.count;
    if (sink.top && !first_) {
      first_ = SchemaViolation{message(), path_text(path), n.span};
      stop_ = true;  // only the first violation is reported
    }
  }

  SchemaIndex& index(const Value& schema) {
    auto it = indexes_.find(&schema);
    if (it == indexes_.end()) it = indexes_.emplace(&schema, std::make_unique<SchemaIndex>(schema)).first;
    return *it->second;
  }

  Instance classify(const ViewNode& n) {
    Instance x;
    switch (n.kind()) {
      case NodeKind::Sequence: x.kind = ValueKind::Sequence; return x;
      case NodeKind::Mapping: x.kind = ValueKind::Mapping; return x;
      case NodeKind::Alias: return x;
      default: break;
    }
    if (!n.node) return x;
    const YamlNode& node = *n.node;
    if (n.key_as_string) {
      x.kind = ValueKind::String;
      x.text = node.text;
      return x;
    }
    if (node.is_null() && !node.tag()) return x;
    std::string_view text = node.is_scalar() ? std::string_view(node.text) : std::string_view();
    ScalarStyle style = node.is_scalar() ? node.scalar_style : ScalarStyle::Plain;
    ScalarTag tag = node.tag() ? ScalarTag(std::string_view(*node.tag())) : ScalarTag();
    Resolution r = resolve_scalar(view_.mode(), text, style, tag);
    switch (r.kind) {
      case ResolvedKind::Null: break;
      case ResolvedKind::Bool: x.kind = ValueKind::Bool; x.truth = r.truth; break;
      case ResolvedKind::Int: x.kind = ValueKind::Int; x.i = r.int_value; break;
      case ResolvedKind::Float: x.kind = ValueKind::Float; x.f = r.float_value; break;
      case ResolvedKind::BigInt: {
        x.big = big_int_text(text);
        if (!x.big) x.big = BigIntText{std::string(text), 10};
        x.kind = ValueKind::BigInt;
        break;
      }
      case ResolvedKind::Merge: x.kind = ValueKind::String; x.text = "<<"; break;
      default: x.kind = ValueKind::String; x.text = text; break;
    }
    return x;
  }

  void validate(const ViewNode& n, const Value& schema, const PathStep* path, uint64_t ref_depth, Sink& sink) {
    if (stop_) return;
    if (schema.is(ValueKind::Bool)) {
      if (!schema.as_bool()) fail(sink, n, path, [] { return std::string("value is not allowed (schema is false)"); });
      return;
    }
    if (!schema.is(ValueKind::Mapping)) return;
    SchemaIndex& ix = index(schema);

    if (const Value* ref = ix.get(kRef, ValueKind::String)) {
      if (ref_budget_ == 0 && !budget_grown_) {
        // The share per node is counted only by validations that need it.
        ref_budget_ = kRefBudgetPerNode * view_.nodes_seen();
        budget_grown_ = true;
      }
      if (ref_depth >= kMaxRefDepth || ref_budget_ == 0) {
        fail(sink, n, path, [] { return std::string("schema $ref nesting too deep (cyclic reference?)"); });
        return;
      }
      --ref_budget_;
      if (!ix.ref_ready) {
        ix.ref_target = resolve_ref(root_schema_, ref->as_string());
        ix.ref_ready = true;
      }
      if (!ix.ref_target) {
        fail(sink, n, path, [&] { return quoted_message("unresolvable schema $ref '", ref->as_string(), "'"); });
        return;
      }
      const Value& target = *ix.ref_target;
      ensure_stack([&] { validate(n, target, path, ref_depth + 1, sink); });
      return;
    }

    const Instance x = classify(n);
    check_type(ix, n, x, path, sink);
    check_enum_const(ix, n, path, sink);
    check_numbers(ix, n, x, path, sink);
    check_string(ix, n, x, path, sink);
    if (n.kind() == NodeKind::Mapping && ix.has_pairs) object_keywords(ix, n, path, sink);
    if (n.kind() == NodeKind::Sequence && ix.has_pairs) array_keywords(ix, n, path, sink);
    combinators(ix, n, path, ref_depth, sink);
  }

  void check_type(const SchemaIndex& ix, const ViewNode& n, const Instance& x, const PathStep* path, Sink& sink) {
    const Value* t = ix.kw[kType];
    if (!t) return;
    if (t->is(ValueKind::String)) {
      if (!type_matches(t->as_string(), x))
        fail(sink, n, path, [&] { return quoted_message("expected type ", t->as_string(), ", found ") + std::string(type_name(x)); });
      return;
    }
    if (!t->is(ValueKind::Sequence)) return;
    for (const Value& item : t->items())
      if (item.is(ValueKind::String) && type_matches(item.as_string(), x)) return;
    fail(sink, n, path, [&] {
      std::string names;
      bool first = true;
      for (const Value& item : t->items()) {
        if (!item.is(ValueKind::String)) continue;
        if (!first) names += " | ";
        names.append(item.as_string());
        first = false;
      }
      return "expected type " + names + ", found " + std::string(type_name(x));
    });
  }

  void check_enum_const(const SchemaIndex& ix, const ViewNode& n, const PathStep* path, Sink& sink) {
    const Value* e = ix.get(kEnum, ValueKind::Sequence);
    const Value* c = ix.kw[kConst];
    if (!e && !c) return;
    const Value value = view_.to_value(n);
    if (e) {
      bool found = false;
      for (const Value& item : e->items())
        if (values_equal(item, value)) {
          found = true;
          break;
        }
      if (!found) fail(sink, n, path, [] { return std::string("value is not one of the allowed enum values"); });
    }
    if (c && !values_equal(*c, value))
      fail(sink, n, path, [] { return std::string("value does not equal the required const"); });
  }

  void check_numbers(const SchemaIndex& ix, const ViewNode& n, const Instance& x, const PathStep* path, Sink& sink) {
    std::optional<double> xv = number_of(x);
    if (!xv) return;
    const double v = *xv;
    auto bound = [&](Kw k) -> std::optional<double> { return ix.kw[k] ? numeric_value(*ix.kw[k]) : std::nullopt; };
    const bool secret = inside_secret(n, path);
    auto two = [&](const char* a, double p, const char* b, double q) {
      return std::string(a) + (secret ? std::string(kSecretText) : format_schema_number(p)) + b +
             format_schema_number(q);
    };
    if (auto m = bound(kMinimum); m && v < *m)
      fail(sink, n, path, [&] { return two("value ", v, " is less than minimum ", *m); });
    if (auto m = bound(kMaximum); m && v > *m)
      fail(sink, n, path, [&] { return two("value ", v, " is greater than maximum ", *m); });
    if (auto m = bound(kExclusiveMinimum); m && v <= *m)
      fail(sink, n, path, [&] { return two("value ", v, " is not greater than ", *m); });
    if (auto m = bound(kExclusiveMaximum); m && v >= *m)
      fail(sink, n, path, [&] { return two("value ", v, " is not less than ", *m); });
    if (auto d = bound(kMultipleOf); d && *d > 0) {
      bool violation;
      std::optional<__int128> xi = integer_of(x);
      std::optional<__int128> di = integer_value(*ix.kw[kMultipleOf]);
      if (xi && di) {
        violation = *xi % *di != 0;
      } else if (const double quotient = v / *d; std::isfinite(v) && !(std::fabs(quotient) < 9007199254740992.0)) {
        // From 2^53 on every double is an integer, so a quotient that large
        // (or one that overflows) leaves no fraction to find.
        violation = false;
      } else {
        const double q = std::round(quotient);
        const double diff = std::fabs(v - q * *d);
        const double scale = std::fmax(std::fabs(v), *d) * 2.220446049250313e-16 * 8.0;
        violation = !(diff <= scale);
      }
      if (violation) fail(sink, n, path, [&] { return two("value ", v, " is not a multiple of ", *d); });
    }
  }

  void check_string(SchemaIndex& ix, const ViewNode& n, const Instance& x, const PathStep* path, Sink& sink) {
    if (x.kind != ValueKind::String) return;
    const std::optional<int64_t> min = count_of(ix.kw[kMinLength]);
    const std::optional<int64_t> max = count_of(ix.kw[kMaxLength]);
    if (min || max) {
      const int64_t len = static_cast<int64_t>(code_points(x.text));
      if (min && len < *min)
        fail(sink, n, path, [&] { return "string is shorter than minLength " + std::to_string(*min); });
      if (max && len > *max)
        fail(sink, n, path, [&] { return "string is longer than maxLength " + std::to_string(*max); });
    }
    if (const Value* p = ix.get(kPattern, ValueKind::String)) {
      if (!ix.pattern_ready) {
        ix.pattern = patterns_.get(p->as_string());
        ix.pattern_ready = true;
      }
      if (!ix.pattern)
        fail(sink, n, path, [&] { return invalid_pattern_message(p->as_string()); });
      else if (!ix.pattern->search(x.text))
        fail(sink, n, path, [&] { return quoted_message("string does not match pattern /", p->as_string(), "/"); });
    }
  }

  // The text of a key, when the key is a scalar.
  static std::optional<std::string_view> key_text(const ViewNode& key) {
    if (key.kind() != NodeKind::Scalar) return std::nullopt;
    return std::string_view(key.node->text);
  }

  // Scalar key texts of a mapping, hashed only when a mapping is large.
  class KeyLookup {
   public:
    KeyLookup(ValidationView& view, const ValidationView::Pairs& pairs) : view_(view), pairs_(pairs) {}
    bool has(std::string_view name) {
      if (pairs_.size() <= 16) {
        for (size_t i = 0; i < pairs_.size(); ++i)
          if (auto t = key_text(view_.pair(pairs_, i).key); t && *t == name) return true;
        return false;
      }
      if (!built_) {
        for (size_t i = 0; i < pairs_.size(); ++i)
          if (auto t = key_text(view_.pair(pairs_, i).key)) set_.insert(*t);
        built_ = true;
      }
      return set_.count(name) != 0;
    }

   private:
    ValidationView& view_;
    const ValidationView::Pairs& pairs_;
    bool built_ = false;
    std::unordered_set<std::string_view, SeededStringHash> set_;
  };

  void object_keywords(SchemaIndex& ix, const ViewNode& n, const PathStep* path, Sink& sink) {
    const bool secret = inside_secret(n, path);
    const ValidationView::Pairs pairs = view_.pairs(n);
    KeyLookup keys(view_, pairs);
    const Value* props = ix.get(kProperties, ValueKind::Mapping);
    if (const Value* req = ix.get(kRequired, ValueKind::Sequence)) {
      for (const Value& name : req->items()) {
        if (!name.is(ValueKind::String) || keys.has(name.as_string())) continue;
        fail(sink, n, path, [&] { return quoted_message("missing required property '", name.as_string(), "'"); });
        if (stop_) return;
      }
    }
    const Value* additional = ix.kw[kAdditionalProperties];
    const Value* pattern_props = ix.get(kPatternProperties, ValueKind::Mapping);
    if (pattern_props && !ix.pattern_properties_ready) {
      for (const ValuePair& p : pattern_props->pairs())
        if (p.key.is(ValueKind::String))
          ix.pattern_properties.push_back({p.key.as_string(), patterns_.get(p.key.as_string()), &p.value});
      ix.pattern_properties_ready = true;
    }
    if (pattern_props)
      for (const SchemaIndex::PatternProperty& pp : ix.pattern_properties)
        if (!pp.re) fail(sink, n, path, [&] { return invalid_pattern_message(pp.text); });
    if (props || pattern_props || additional) {
      for (size_t i = 0; i < pairs.size() && !stop_; ++i) {
        const ViewPair p = view_.pair(pairs, i);
        std::optional<std::string_view> key = key_text(p.key);
        if (!key) continue;
        const PathStep child{path, *key, 0, false, secret, secret || p.key.in_secret()};
        bool matched = false;
        if (props) {
          auto it = ix.properties.find(*key);
          if (it != ix.properties.end()) {
            validate_child(p.value, *it->second, &child, sink);
            matched = true;
          }
        }
        if (pattern_props)
          for (const SchemaIndex::PatternProperty& pp : ix.pattern_properties)
            if (pp.re && pp.re->search(*key)) {
              validate_child(p.value, *pp.schema, &child, sink);
              matched = true;
            }
        if (!matched && additional) {
          if (additional->is(ValueKind::Mapping))
            validate_child(p.value, *additional, &child, sink);
          else if (additional->is(ValueKind::Bool) && !additional->as_bool())
            fail(sink, p.value, &child, [&] {
              return quoted_message("additional property '", child.hidden ? kSecretText : *key, "' is not allowed");
            });
        }
      }
    }
    const int64_t count = static_cast<int64_t>(pairs.size());
    if (auto m = count_of(ix.kw[kMinProperties]); m && count < *m)
      fail(sink, n, path, [&] { return "object has fewer than minProperties " + std::to_string(*m); });
    if (auto m = count_of(ix.kw[kMaxProperties]); m && count > *m)
      fail(sink, n, path, [&] { return "object has more than maxProperties " + std::to_string(*m); });
    if (const Value* names = ix.kw[kPropertyNames]) {
      for (size_t i = 0; i < pairs.size() && !stop_; ++i) {
        const ViewPair p = view_.pair(pairs, i);
        std::optional<std::string_view> key = key_text(p.key);
        if (!key) continue;
        const PathStep child{path, *key, 0, false, secret, secret || p.key.in_secret()};
        ViewNode as_string = p.key;
        as_string.key_as_string = true;
        validate_child(as_string, *names, &child, sink);
      }
    }
    if (const Value* deps = ix.get(kDependencies, ValueKind::Mapping)) {
      for (const ValuePair& d : deps->pairs()) {
        if (stop_) return;
        if (!d.key.is(ValueKind::String) || !keys.has(d.key.as_string())) continue;
        if (d.value.is(ValueKind::Mapping) || d.value.is(ValueKind::Bool)) {
          validate_child(n, d.value, path, sink);
        } else if (d.value.is(ValueKind::Sequence)) {
          for (const Value& need : d.value.items()) {
            if (!need.is(ValueKind::String) || keys.has(need.as_string())) continue;
            fail(sink, n, path, [&] {
              return quoted_message("property '", d.key.as_string(), "' requires '") + std::string(need.as_string()) +
                     "' to also be present";
            });
          }
        }
      }
    }
  }

  void array_keywords(SchemaIndex& ix, const ViewNode& n, const PathStep* path, Sink& sink) {
    const bool secret = inside_secret(n, path);
    const size_t size = view_.item_count(n);
    const int64_t count = static_cast<int64_t>(size);
    if (auto m = count_of(ix.kw[kMinItems]); m && count < *m)
      fail(sink, n, path, [&] { return "array has fewer than minItems " + std::to_string(*m); });
    if (auto m = count_of(ix.kw[kMaxItems]); m && count > *m)
      fail(sink, n, path, [&] { return "array has more than maxItems " + std::to_string(*m); });
    if (const Value* items = ix.kw[kItems]) {
      const Value* extra = ix.kw[kAdditionalItems];
      for (size_t i = 0; i < size && !stop_; ++i) {
        const PathStep child{path, {}, i, true, secret, false};
        const ViewNode item = view_.item(n, i);
        if (!items->is(ValueKind::Sequence)) {
          validate_child(item, *items, &child, sink);
        } else if (i < items->items().size()) {
          validate_child(item, items->items()[i], &child, sink);
        } else if (extra && extra->is(ValueKind::Bool) && !extra->as_bool()) {
          const size_t allowed = items->items().size();
          fail(sink, item, &child, [&] { return "array has more items than the " + std::to_string(allowed) + " allowed"; });
        } else if (extra && (extra->is(ValueKind::Bool) || extra->is(ValueKind::Mapping))) {
          validate_child(item, *extra, &child, sink);
        }
      }
    }
    if (const Value* unique = ix.get(kUniqueItems, ValueKind::Bool); unique && unique->as_bool() && size > 1) {
      if (!all_unique(n, size)) fail(sink, n, path, [] { return std::string("array items are not unique"); });
    }
    if (const Value* contains = ix.kw[kContains]) {
      bool found = false;
      for (size_t i = 0; i < size && !found && !stop_; ++i) {
        const PathStep child{path, {}, i, true, secret, false};
        Sink fresh{false};
        validate_child(view_.item(n, i), *contains, &child, fresh);
        found = fresh.count == 0;
      }
      if (!found) fail(sink, n, path, [] { return std::string("no array item matches the 'contains' schema"); });
    }
  }

  // Hashes every item and compares only items whose hashes meet. A value
  // holding a NaN equals nothing, so it takes no part.
  bool all_unique(const ViewNode& n, size_t size) {
    std::vector<Value> values;
    values.reserve(size);
    std::vector<std::pair<uint64_t, size_t>> order;
    order.reserve(size);
    for (size_t i = 0; i < size; ++i) {
      Value v = view_.to_value(view_.item(n, i));
      if (holds_nan(v)) continue;
      order.emplace_back(value_hash(v), values.size());
      values.push_back(std::move(v));
    }
    std::sort(order.begin(), order.end());
    for (size_t a = 0; a < order.size();) {
      size_t b = a;
      while (b < order.size() && order[b].first == order[a].first) ++b;
      for (size_t i = a; i < b; ++i)
        for (size_t j = i + 1; j < b; ++j)
          if (values_equal(values[order[i].second], values[order[j].second])) return false;
      a = b;
    }
    return true;
  }

  void combinators(SchemaIndex& ix, const ViewNode& n, const PathStep* path, uint64_t ref_depth, Sink& sink) {
    if (const Value* all = ix.get(kAllOf, ValueKind::Sequence))
      for (const Value& s : all->items()) {
        if (stop_) return;
        ensure_stack([&] { validate(n, s, path, ref_depth, sink); });
      }
    if (const Value* any = ix.get(kAnyOf, ValueKind::Sequence)) {
      bool passed = false;
      for (const Value& s : any->items()) {
        if (stop_) return;
        Sink fresh{false};
        ensure_stack([&] { validate(n, s, path, ref_depth, fresh); });
        if (fresh.count == 0) {
          passed = true;
          break;
        }
      }
      if (!passed) fail(sink, n, path, [] { return std::string("value does not match any of the anyOf schemas"); });
    }
    if (const Value* one = ix.get(kOneOf, ValueKind::Sequence)) {
      uint64_t passing = 0;
      for (const Value& s : one->items()) {
        if (stop_) return;
        Sink fresh{false};
        ensure_stack([&] { validate(n, s, path, ref_depth, fresh); });
        passing += fresh.count == 0;
      }
      if (passing != 1)
        fail(sink, n, path, [&] {
          return "value matches " + std::to_string(passing) + " of the oneOf schemas (exactly one required)";
        });
    }
    if (const Value* no = ix.kw[kNot]) {
      if (stop_) return;
      Sink fresh{false};
      ensure_stack([&] { validate(n, *no, path, ref_depth, fresh); });
      if (fresh.count == 0) fail(sink, n, path, [] { return std::string("value must not match the 'not' schema"); });
    }
  }

  // Children start a new $ref count.
  void validate_child(const ViewNode& n, const Value& schema, const PathStep* path, Sink& sink) {
    ensure_stack([&] { validate(n, schema, path, 0, sink); });
  }

  ValidationView& view_;
  const Value& root_schema_;
  uint64_t ref_budget_ = kRefBudgetBase;
  bool budget_grown_ = false;
  bool stop_ = false;
  std::optional<SchemaViolation> first_;
  PatternSet patterns_;  // released with the validation: nothing outlives the call
  std::unordered_map<const Value*, std::unique_ptr<SchemaIndex>> indexes_;
};

}  // namespace

SchemaOutcome validate_document(const YamlNode& root, const Value& schema, ResolverMode mode, MergeKeyRule rule,
                                bool aliases) {
  SchemaOutcome out;
  ValidationView view(root, mode, rule, aliases);
  out.limit = view.measure();
  if (out.limit) return out;
  out.violation = Validator(view, schema).run();
  return out;
}

std::string schema_failure_message(const SchemaViolation& v) {
  return "schema validation failed: " + v.message + " at " + v.path + " (line " + std::to_string(v.span.line + 1) +
         ", column " + std::to_string(v.span.column + 1) + ")";
}

}  // namespace qf
