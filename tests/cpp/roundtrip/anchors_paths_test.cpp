// Paths, walks, anchors, alias resolution and expansion limits.
#include <gtest/gtest.h>

#include "helpers.hpp"
#include "roundtrip/anchors.hpp"
#include "roundtrip/paths.hpp"

namespace qf {
namespace {

using test::compose_ok;
using test::compose_one;

using P = PathSegment;

TEST(Paths, StepsAndLookups) {
  std::vector<YamlNode> roots = compose_ok("a: 1\na: 2\n\"q\": [x, y]\n? [c]\n: z\n---\nother: 3\n");
  EXPECT_EQ(lookup_path(roots, {P::key_step("a")})->text, "2");  // the last entry with the text
  EXPECT_EQ(lookup_path(roots, {P::key_step("q"), P::index_step(1)})->text, "y");
  EXPECT_EQ(lookup_path(roots, {P::key_node_step("q")})->scalar_style, ScalarStyle::DoubleQuoted);
  EXPECT_EQ(lookup_path(roots, {P::key_step("q"), P::index_step(2)}), nullptr);
  EXPECT_EQ(lookup_path(roots, {P::index_step(0)}), nullptr);
  EXPECT_EQ(lookup_path(roots, {P::key_step("a"), P::key_step("b")}), nullptr);
  // Handles carry their document: the same path resolves inside document 1.
  EXPECT_EQ(lookup_path(roots, {P::key_step("other")}, 1)->text, "3");
  EXPECT_EQ(lookup_path(roots, {P::key_step("other")}, 0), nullptr);
  EXPECT_EQ(lookup_path(roots, {}, 2), nullptr);
  EXPECT_TRUE(mapping_has_str_key(roots[0], "q"));
  EXPECT_FALSE(mapping_has_str_key(roots[0], "c"));
  EXPECT_FALSE(mapping_has_str_key(roots[0].pairs[2].value, "x"));
}

TEST(Paths, RangesAreOneBased) {
  YamlNode root = compose_one("key: value\n");
  EXPECT_EQ(node_range(root), (NodeRange{1, 1, 1, 11}));
  EXPECT_EQ(node_range(root.pairs[0].value), (NodeRange{1, 6, 1, 11}));
}

TEST(Paths, WalkVisitsLeavesInDocumentOrder) {
  YamlNode root = compose_one("a:\n- 1\n- b: 2\n- []\n[k]: skipped\nc:\n");
  std::vector<std::string> seen;
  walk_scalar_leaves(root, [&](const std::vector<WalkStep>& path, const YamlNode& leaf) {
    std::string s;
    for (const WalkStep& st : path) s += (st.is_index ? std::to_string(st.index) : st.key->text) + "/";
    seen.push_back(s + "=" + (leaf.is_null() ? "~" : leaf.text));
    return true;
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"a/0/=1", "a/1/b/=2", "c/=~"}));
  YamlNode scalar = compose_one("just\n");
  int count = 0;
  walk_scalar_leaves(scalar, [&](const std::vector<WalkStep>& path, const YamlNode&) {
    EXPECT_TRUE(path.empty());
    return ++count, true;
  });
  EXPECT_EQ(count, 1);
}

TEST(Anchors, AliasesReferToTheNearestPrecedingDefinition) {
  std::vector<YamlNode> roots = compose_ok("- &a first\n- *a\n- &a second\n- *a\n---\n- &a third\n- *a\n");
  AnchorResolver r(roots);
  EXPECT_EQ(r.target(roots[0].items[1])->text, "first");
  EXPECT_EQ(r.target(roots[0].items[3])->text, "second");
  EXPECT_EQ(r.target(roots[1].items[1])->text, "third");
  EXPECT_EQ(find_anchor_definition(roots[0], "a", &roots[0].items[3]), (NodePath{P::index_step(2)}));
  EXPECT_EQ(find_anchor_definition(roots[0], "a"), (NodePath{P::index_step(0)}));
  EXPECT_FALSE(find_anchor_definition(roots[0], "missing").has_value());
  EXPECT_EQ(collect_aliases_with_paths(roots[0], "a").size(), 2u);
  EXPECT_EQ(collect_aliases_of(roots[0], roots[0].items[2], r), (std::vector<NodePath>{{P::index_step(3)}}));
  auto anchors = collect_anchors_with_paths(roots[0]);
  ASSERT_EQ(anchors.size(), 2u);
  EXPECT_EQ(anchors[1].second, (NodePath{P::index_step(2)}));
}

TEST(Anchors, AnchoredKeysAndAliasPaths) {
  std::vector<YamlNode> roots = compose_ok("&k key: &v {x: 1}\nuse: *v\n");
  EXPECT_EQ(find_anchor_definition(roots[0], "k"), (NodePath{P::key_step_for(roots[0].pairs[0].key, true)}));
  AnchorResolver r(roots);
  // A path continues below an alias to what it refers to.
  const YamlNode* x = lookup_path(roots, {P::key_step("use"), P::key_step("x")}, 0, &r);
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->text, "1");
  EXPECT_EQ(lookup_path(roots, {P::key_step("use"), P::key_step("x")}), nullptr);
}

TEST(Anchors, PathsTellKeysApartByHowTheyWereWritten) {
  // The plain key wins a text-only lookup (it comes last); anchor paths must
  // still lead to the entry that holds each anchor.
  std::vector<YamlNode> roots = compose_ok("\"1\": &q quoted\n!!str 1: &t tagged\n1: &p plain\n");
  auto anchors = collect_anchors_with_paths(roots[0]);
  ASSERT_EQ(anchors.size(), 3u);
  for (const auto& [name, path] : anchors) {
    const YamlNode* n = lookup_path(roots, path);
    ASSERT_NE(n, nullptr) << name;
    EXPECT_EQ(n->anchor(), name);
  }
  EXPECT_NE(anchors[0].second, anchors[2].second);
  EXPECT_EQ(lookup_path(roots, *find_anchor_definition(roots[0], "q"))->text, "quoted");
  EXPECT_EQ(lookup_path(roots, *find_anchor_definition(roots[0], "t"))->text, "tagged");
}

TEST(Anchors, ExpansionCopiesAndReplacesAliases) {
  std::vector<YamlNode> roots = compose_ok("base: &b [1, &i {k: v}]\nuse: [*b, *i]\n");
  AnchorResolver r(roots);
  ExpansionBudget budget;
  ExpansionResult e = expand_aliases(roots[0].pairs[1].value, r, budget);
  ASSERT_TRUE(e.ok());
  const YamlNode& copy = e.node;
  ASSERT_EQ(copy.items.size(), 2u);
  EXPECT_EQ(copy.items[0].items[1].pairs[0].value.text, "v");
  EXPECT_FALSE(copy.items[0].anchor().has_value());
  EXPECT_EQ(copy.items[0].style, CollectionStyle::Block);
  ExpansionResult d = expand_aliases_for_detach(roots[0].pairs[0].value, r, budget);
  EXPECT_EQ(d.node.style, CollectionStyle::Flow);
  EXPECT_FALSE(d.node.anchor().has_value());

  ExpandedAnchorMapBuild map = build_expanded_anchor_map(roots);
  ASSERT_TRUE(map.ok());
  const YamlNode* via = map.map.expanded(roots[0].pairs[1].value.items[1]);
  ASSERT_NE(via, nullptr);
  EXPECT_EQ(via->pairs[0].key.text, "k");
}

std::string alias_chain(int links) {
  std::string text = "a0: &a0 [x]\n";
  for (int i = 1; i < links; ++i)
    text += "a" + std::to_string(i) + ": &a" + std::to_string(i) + " [*a" + std::to_string(i - 1) + "]\n";
  return text;
}

TEST(Anchors, ExpansionLimitsFailLoudly) {
  // 101 anchored sequences: the last reaches the first through 100 aliases.
  std::vector<YamlNode> ok = compose_ok(alias_chain(101));
  AnchorResolver r(ok);
  ExpansionBudget budget;
  EXPECT_TRUE(expand_aliases(ok[0].pairs.back().value, r, budget).ok());
  std::vector<YamlNode> deep = compose_ok(alias_chain(102));
  AnchorResolver r2(deep);
  ExpansionBudget budget2;
  ExpansionResult e = expand_aliases(deep[0].pairs.back().value, r2, budget2);
  ASSERT_FALSE(e.ok());
  EXPECT_EQ(e.error->message, "alias expansion exceeded the maximum alias depth of 100");

  // Each level doubles: 2^21 nodes exceed the budget.
  std::string bomb = "l0: &l0 [x, x]\n";
  for (int i = 1; i <= 21; ++i)
    bomb += "l" + std::to_string(i) + ": &l" + std::to_string(i) + " [*l" + std::to_string(i - 1) + ", *l" +
            std::to_string(i - 1) + "]\n";
  std::vector<YamlNode> roots = compose_ok(bomb);
  ExpandedAnchorMapBuild built = build_expanded_anchor_map(roots);
  ASSERT_FALSE(built.ok());
  EXPECT_EQ(built.error->message, "alias expansion exceeded the budget of 1000000 nodes");
}

}  // namespace
}  // namespace qf
