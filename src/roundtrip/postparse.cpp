#include "roundtrip/postparse.hpp"

#include <cmath>
#include <cstring>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "encode/scalar_text.hpp"
#include "resolver/big_int.hpp"
#include "roundtrip/anchors.hpp"
#include "roundtrip/walk.hpp"
#include "support/hash.hpp"
#include "support/stack_guard.hpp"

namespace qf {

namespace {

std::string position_text(const Span& s) {
  return "at line " + std::to_string(s.line + 1) + ", column " + std::to_string(s.column + 1);
}

ScalarTag tag_of(const YamlNode& n) { return n.tag() ? ScalarTag(std::string_view(*n.tag())) : std::nullopt; }

bool readings_agree(const ResolvedScalar& a, const ResolvedScalar& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case ResolvedKind::Bool:
      return a.truth == b.truth;
    case ResolvedKind::Int:
      return a.int_value == b.int_value;
    case ResolvedKind::BigInt:
      return a.text == b.text && a.radix == b.radix;
    case ResolvedKind::Float:
      return a.float_value == b.float_value || (std::isnan(a.float_value) && std::isnan(b.float_value));
    default:
      return true;
  }
}

struct KeyedHash {
  uint64_t seed = process_hash_seed();
  size_t operator()(const std::string& s) const noexcept { return size_t(hash_bytes(s, seed)); }
};

void append_debug(const YamlNode& n, std::string& out) {
  ensure_stack([&] {
    switch (n.kind) {
      case NodeKind::Null:
        out += "Null";
        return;
      case NodeKind::Alias:
        out += "Alias(\"" + n.text + "\")";
        return;
      case NodeKind::Scalar:
        out += "Scalar(\"" + n.text + "\")";
        return;
      case NodeKind::Sequence:
        out += "Sequence([";
        for (size_t i = 0; i < n.items.size(); ++i) {
          if (i) out += ", ";
          append_debug(n.items[i], out);
        }
        out += "])";
        return;
      case NodeKind::Mapping:
        out += "Mapping([";
        for (size_t i = 0; i < n.pairs.size(); ++i) {
          if (i) out += ", ";
          out += "(";
          append_debug(n.pairs[i].key, out);
          out += ", ";
          append_debug(n.pairs[i].value, out);
          out += ")";
        }
        out += "])";
        return;
    }
  });
}

// The identity text of a scalar or null key.
void append_scalar_key_text(const YamlNode& key, ResolverMode mode, std::string& out) {
  if (key.kind == NodeKind::Null) {
    out += "null";
    return;
  }
  ResolvedScalar r = resolve_scalar_owned(mode, key.text, key.scalar_style, tag_of(key));
  switch (r.kind) {
    case ResolvedKind::Null:
      out += "null";
      return;
    case ResolvedKind::Bool:
      out += r.truth ? "n:1" : "n:0";
      return;
    case ResolvedKind::Int:
      out += "n:";
      append_int64(out, r.int_value);
      return;
    case ResolvedKind::BigInt:
      out += "n:";
      out += big_int_to_decimal(r.text, r.radix);
      return;
    case ResolvedKind::Float: {
      double v = r.float_value;
      if (std::isfinite(v) && v == std::floor(v) && v >= -9223372036854775808.0 && v < 9223372036854775808.0) {
        out += "n:";
        append_int64(out, int64_t(v));
      } else {
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        out += "f:";
        out += std::to_string(bits);
      }
      return;
    }
    default:
      // Length-prefixed, so "a,s:b" inside one key never equals two keys.
      out += "s:";
      out += std::to_string(r.text.size());
      out += ':';
      out += r.text;
      return;
  }
}

// Key identity within one tree. An alias key stands for the key it names,
// found as every reader of the tree finds it. A collection's text is made of its children's
// texts; one longer than a few words is replaced by a number given to each
// distinct text, so that equal keys still get equal texts while a key whose
// aliases multiply (an alias bomb) costs only its written size.
class KeyIdentity {
 public:
  KeyIdentity(const YamlNode& root, ResolverMode mode) : root_(root), mode_(mode) {}

  std::string text(const YamlNode& key) {
    std::string out;
    append(key, out);
    return out;
  }

  // The node a key stands for: an alias's anchored node, else the key.
  const YamlNode& named(const YamlNode& key) {
    if (key.kind != NodeKind::Alias) return key;
    const YamlNode* t = target(key);
    return t ? *t : key;
  }

 private:
  static constexpr size_t kInlineText = 64;

  void append(const YamlNode& key, std::string& out) {
    ensure_stack([&] {
      switch (key.kind) {
        case NodeKind::Sequence:
        case NodeKind::Mapping:
          out += collection_text(key);
          return;
        case NodeKind::Alias:
          if (const YamlNode* t = target(key)) {
            if (!t->is_collection()) return append(*t, out);
            auto [it, fresh] = named_texts_.try_emplace(t);
            if (fresh) it->second = collection_text(*t);
            out += it->second;
            return;
          }
          // An alias no definition before it names (only after an edit).
          out += "alias:";
          out += std::to_string(key.text.size());
          out += ':';
          out += key.text;
          return;
        default:
          append_scalar_key_text(key, mode_, out);
          return;
      }
    });
  }

  std::string collection_text(const YamlNode& key) {
    std::string level;
    if (key.kind == NodeKind::Sequence) {
      level += "seq:[";
      for (size_t i = 0; i < key.items.size(); ++i) {
        if (i) level += ',';
        append(key.items[i], level);
      }
      level += ']';
    } else {
      level += "map:{";
      for (size_t i = 0; i < key.pairs.size(); ++i) {
        if (i) level += ',';
        append(key.pairs[i].key, level);
        level += '=';
        append(key.pairs[i].value, level);
      }
      level += '}';
    }
    if (level.size() <= kInlineText) return level;
    auto [it, fresh] = interned_.try_emplace(std::move(level), interned_.size());
    return "#" + std::to_string(it->second);
  }

  const YamlNode* target(const YamlNode& alias) {
    if (!resolver_) resolver_.emplace().add_document(root_);
    return resolver_->target(alias);
  }

  const YamlNode& root_;
  ResolverMode mode_;
  std::optional<AnchorResolver> resolver_;  // made when a key first holds an alias
  std::unordered_map<const YamlNode*, std::string> named_texts_;
  std::unordered_map<std::string, size_t, KeyedHash> interned_;
};

// Walks mappings in pre-order; calls on_dup(key, named) for every key whose
// identity already occurred in its mapping, `named` being the node the key
// stands for. Stops when on_dup returns false.
template <class F>
void for_each_duplicate(const YamlNode& root, ResolverMode mode, F&& on_dup) {
  const std::string merge = merge_key_canonical_text();
  KeyIdentity identity(root, mode);
  walk_tree(root, [&](const YamlNode& n) {
    if (!n.is_mapping()) return Walk::Into;
    std::unordered_set<std::string, KeyedHash> seen;
    seen.reserve(n.pairs.size());
    for (const MappingEntry& e : n.pairs) {
      std::string text = identity.text(e.key);
      if (text == merge) continue;
      if (!seen.insert(std::move(text)).second && !on_dup(e.key, identity.named(e.key))) return Walk::Stop;
    }
    return Walk::Into;
  });
}

// The nodes of a !secret copy, found on first use (only when a message is
// about to be made): their text never reaches a warning or an error.
class SecretNodes {
 public:
  explicit SecretNodes(const YamlNode& root) : root_(root) {}
  bool contains(const YamlNode& n) {
    if (!built_) build();
    return nodes_.count(&n) != 0;
  }

 private:
  void build() {
    built_ = true;
    walk_tree(root_, [&](const YamlNode& n) {
      if (!n.source() || !n.source()->is_secret()) return Walk::Into;
      walk_tree(n, [&](const YamlNode& m) { nodes_.insert(&m); });
      return Walk::Over;
    });
  }

  const YamlNode& root_;
  bool built_ = false;
  std::unordered_set<const YamlNode*> nodes_;
};

constexpr std::string_view kSecretText = "<secret>";

}  // namespace

std::string key_display_text(const YamlNode& key) {
  if (key.is_scalar()) return key.text.str();
  std::string out;
  append_debug(key, out);
  return out;
}

std::string merge_key_canonical_text() { return "s:2:<<"; }

std::string canonical_key_text(const YamlNode& key, ResolverMode mode) { return KeyIdentity(key, mode).text(key); }

void collect_yaml11_warnings(const YamlNode& node, ResolverMode mode, std::vector<std::string>& out) {
  if (mode == ResolverMode::Yaml12) return;
  SecretNodes secrets(node);
  walk_tree(node, [&](const YamlNode& n) {
    if (!n.is_scalar()) return;
    std::optional<KindNamePair> amb = yaml11_ambiguity(mode, n.text, n.scalar_style, tag_of(n));
    if (!amb) return;
    const std::string shown = secrets.contains(n) ? std::string(kSecretText) : n.text.str();
    out.push_back("YAML 1.1 syntax '" + shown + "' resolves as " + std::string(amb->mode_kind) + " in 1.1 but " +
                  std::string(amb->yaml12_kind) + " in 1.2 " + position_text(n.span));
  });
}

std::vector<std::string> collect_yaml11_warnings_all(const std::vector<YamlNode>& roots, ResolverMode mode) {
  std::vector<std::string> out;
  for (const YamlNode& r : roots) collect_yaml11_warnings(r, mode, out);
  return out;
}

void upgrade_yaml11_scalars(YamlNode& node, ResolverMode mode) {
  if (mode == ResolverMode::Yaml12) return;
  // Content that no file holds (a secret's value, an environment value, the
  // files of a directory listing) is upgraded for reading but not marked:
  // nothing could ever write it, so it is no edit.
  struct Frame {
    YamlNode* node;
    bool mark;
  };
  std::vector<Frame> stack{{&node, true}};
  while (!stack.empty()) {
    auto [n, mark] = stack.back();
    stack.pop_back();
    if (n->source()) mark = n->source()->innermost().target_file_id.has_value();
    for (size_t i = n->pairs.size(); i-- > 0;) {
      stack.push_back({&n->pairs[i].value, mark});
      stack.push_back({&n->pairs[i].key, mark});
    }
    for (size_t i = n->items.size(); i-- > 0;) stack.push_back({&n->items[i], mark});
    if (!n->is_scalar() || n->scalar_style != ScalarStyle::Plain) continue;
    ScalarTag tag = tag_of(*n);
    ResolvedScalar old_reading = resolve_scalar_owned(mode, n->text, ScalarStyle::Plain, tag);
    ResolvedScalar new_reading = resolve_scalar_owned(ResolverMode::Yaml12, n->text, ScalarStyle::Plain, tag);
    if (readings_agree(old_reading, new_reading)) continue;
    std::string text;
    switch (old_reading.kind) {
      case ResolvedKind::Null:
        text = "null";
        break;
      case ResolvedKind::Bool:
        text = old_reading.truth ? "true" : "false";
        break;
      case ResolvedKind::Int:
        append_int64(text, old_reading.int_value);
        break;
      case ResolvedKind::BigInt:
        text = big_int_to_decimal(old_reading.text, old_reading.radix);
        break;
      case ResolvedKind::Float:
        text = format_yaml_float(old_reading.float_value);
        break;
      default:
        // A string under 1.1 that 1.2 would read as something else: keep
        // the text, quoted.
        if (!tag) {
          n->scalar_style = ScalarStyle::DoubleQuoted;
          if (mark) n->edit_comments().modified = true;
        }
        continue;
    }
    n->text = std::move(text);
    if (mark) n->edit_comments().modified = true;
  }
}

std::optional<ScanError> find_duplicate_key(const YamlNode& node, ResolverMode mode) {
  std::optional<ScanError> error;
  SecretNodes secrets(node);
  for_each_duplicate(node, mode, [&](const YamlNode& key, const YamlNode& named) {
    const std::string shown = secrets.contains(named) ? std::string(kSecretText) : key_display_text(named);
    error = ScanError{"duplicate mapping key: " + shown, key.span};
    return false;
  });
  return error;
}

std::optional<ScanError> first_duplicate_key_error(const std::vector<YamlNode>& roots, ResolverMode mode) {
  for (const YamlNode& r : roots)
    if (auto e = find_duplicate_key(r, mode)) return e;
  return std::nullopt;
}

void duplicate_key_warnings_in_tree(const YamlNode& node, ResolverMode mode, std::vector<std::string>& out) {
  SecretNodes secrets(node);
  for_each_duplicate(node, mode, [&](const YamlNode& key, const YamlNode& named) {
    const std::string shown = secrets.contains(named) ? std::string(kSecretText) : key_display_text(named);
    out.push_back("duplicate mapping key '" + shown + "' " + position_text(key.span) +
                  "; keeping the last value");
    return true;
  });
}

std::vector<std::string> collect_duplicate_key_warnings(const std::vector<YamlNode>& roots, ResolverMode mode) {
  std::vector<std::string> out;
  for (const YamlNode& r : roots) duplicate_key_warnings_in_tree(r, mode, out);
  return out;
}

PostParseOutcome apply_post_parse_policies(std::vector<YamlNode>& roots, ResolverMode mode, bool upgrade,
                                           bool dup_error, bool dup_warn, bool yaml11_warn) {
  PostParseOutcome out;
  if (yaml11_warn) out.warnings = collect_yaml11_warnings_all(roots, mode);
  if (upgrade)
    for (YamlNode& r : roots) upgrade_yaml11_scalars(r, mode);
  if (dup_error) {
    out.duplicate = first_duplicate_key_error(roots, mode);
  } else if (dup_warn) {
    for (const YamlNode& r : roots) duplicate_key_warnings_in_tree(r, mode, out.warnings);
  }
  return out;
}

}  // namespace qf
