// Shared helpers of the round-trip tests: test data listing, semantic
// comparison of source trees, and the mark-everything-modified switch.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "../test_files.hpp"
#include "resolver/resolver.hpp"
#include "roundtrip/ast.hpp"
#include "scanner/scanner.hpp"

namespace qf::test {

struct Case {
  std::string name;
  std::filesystem::path path;
};

// Valid cases of the YAML test suite (folders with in.yaml and no error file,
// numbered sub-folders included).
inline std::vector<Case> suite_cases() {
  namespace fs = std::filesystem;
  std::vector<Case> out;
  fs::path root = fs::path(QF_SOURCE_DIR) / ".." / "shared" / "yaml-test-suite";
  if (!fs::exists(root)) return out;
  auto consider = [&](const fs::path& dir, const std::string& name) {
    if (fs::exists(dir / "in.yaml") && !fs::exists(dir / "error")) out.push_back({name, dir / "in.yaml"});
  };
  for (const auto& e : fs::directory_iterator(root)) {
    if (!e.is_directory()) continue;
    std::string name = e.path().filename().string();
    consider(e.path(), name);
    for (const auto& sub : fs::directory_iterator(e.path()))
      if (sub.is_directory()) consider(sub.path(), name + "/" + sub.path().filename().string());
  }
  std::sort(out.begin(), out.end(), [](const Case& a, const Case& b) { return a.name < b.name; });
  return out;
}

inline std::vector<Case> corpus_files() {
  namespace fs = std::filesystem;
  std::vector<Case> out;
  fs::path root = fs::path(QF_SOURCE_DIR) / ".." / "shared" / "corpus";
  if (!fs::exists(root)) return out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    std::string ext = e.path().extension().string();
    if (ext != ".yaml" && ext != ".yml") continue;
    out.push_back({fs::relative(e.path(), root).string(), e.path()});
  }
  std::sort(out.begin(), out.end(), [](const Case& a, const Case& b) { return a.name < b.name; });
  return out;
}

// The test-only switch: every node marked modified, so nothing is written
// from kept text.
inline void mark_all_modified(YamlNode& root) {
  std::vector<YamlNode*> stack{&root};
  while (!stack.empty()) {
    YamlNode* n = stack.back();
    stack.pop_back();
    n->edit_comments().modified = true;
    for (YamlNode& item : n->items) stack.push_back(&item);
    for (MappingEntry& e : n->pairs) {
      stack.push_back(&e.key);
      stack.push_back(&e.value);
    }
  }
}

// What a scalar or null node means under a resolver mode.
inline ResolvedScalar meaning(const YamlNode& n, ResolverMode mode) {
  ScalarTag tag = n.tag() ? ScalarTag(std::string_view(*n.tag())) : std::nullopt;
  if (n.is_null()) {
    if (!n.tag()) {
      ResolvedScalar null_value;
      null_value.kind = ResolvedKind::Null;
      return null_value;
    }
    return resolve_scalar_owned(mode, "", ScalarStyle::Plain, tag);
  }
  return resolve_scalar_owned(mode, n.text, n.scalar_style, tag);
}

inline bool same_meaning(const ResolvedScalar& a, const ResolvedScalar& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case ResolvedKind::Null:
      return true;
    case ResolvedKind::Bool:
      return a.truth == b.truth;
    case ResolvedKind::Int:
      return a.int_value == b.int_value;
    case ResolvedKind::Float:
      return (std::isnan(a.float_value) && std::isnan(b.float_value)) ||
             std::memcmp(&a.float_value, &b.float_value, sizeof(double)) == 0;
    default:
      return a.text == b.text && a.radix == b.radix;
  }
}

// Two trees read the same: same structure, anchors, aliases and tags, and
// scalars with the same meaning under YAML 1.2 and YAML 1.1. `why` receives
// the first difference.
inline bool same_values(const YamlNode& x, const YamlNode& y, std::string* why) {
  std::vector<std::pair<const YamlNode*, const YamlNode*>> stack{{&x, &y}};
  while (!stack.empty()) {
    const YamlNode* a = stack.back().first;
    const YamlNode* b = stack.back().second;
    stack.pop_back();
    auto differ = [&](const std::string& what) {
      if (why)
        *why = what + " at line " + std::to_string(a->span.line + 1) + " / " + std::to_string(b->span.line + 1) +
               " ('" + a->text + "' vs '" + b->text + "')";
      return false;
    };
    if (a->anchor() != b->anchor()) return differ("anchor");
    if (a->tag() != b->tag()) return differ("tag");
    bool a_leaf = a->is_scalar() || a->is_null(), b_leaf = b->is_scalar() || b->is_null();
    if (a_leaf && b_leaf) {
      for (ResolverMode m : {ResolverMode::Yaml12, ResolverMode::Yaml11})
        if (!same_meaning(meaning(*a, m), meaning(*b, m))) return differ("scalar");
      continue;
    }
    if (a->kind != b->kind) return differ("kind");
    if (a->is_alias()) {
      if (a->text != b->text) return differ("alias");
      continue;
    }
    if (a->items.size() != b->items.size() || a->pairs.size() != b->pairs.size()) return differ("size");
    for (size_t i = 0; i < a->items.size(); ++i) stack.push_back({&a->items[i], &b->items[i]});
    for (size_t i = 0; i < a->pairs.size(); ++i) {
      stack.push_back({&a->pairs[i].key, &b->pairs[i].key});
      stack.push_back({&a->pairs[i].value, &b->pairs[i].value});
    }
  }
  return true;
}

// Every comment text of a text, sorted (what the scanner keeps).
inline std::vector<std::string> comment_texts(std::string_view text) {
  Scanner scanner(text);
  scanner.keep_comments = true;
  TokenizeResult r = tokenize(scanner);
  std::vector<std::string> out;
  for (RawComment& c : scanner.comments) out.push_back(std::move(c.text));
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace qf::test
