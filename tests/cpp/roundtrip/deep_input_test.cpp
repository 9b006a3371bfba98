// Deep inputs on a small thread stack: composition, comment attachment,
// emission, expansion and release all survive 1000-level nesting and long
// alias chains.
#include <gtest/gtest.h>

#include "../small_stack.hpp"
#include "helpers.hpp"
#include "roundtrip/anchors.hpp"
#include "roundtrip/postparse.hpp"

namespace qf {
namespace {

// Composes, re-emits with everything modified, and checks the text reloads
// with the same values.
void round_trip(const std::string& text) {
  ComposeResult r = compose_documents(text);
  ASSERT_TRUE(r.ok()) << r.error->message;
  std::vector<YamlNode> original = r.roots;
  for (YamlNode& root : r.roots) test::mark_all_modified(root);
  std::string out = test::render(std::move(r.roots));
  ComposeResult again = compose_documents(out);
  ASSERT_TRUE(again.ok()) << again.error->message;
  ASSERT_EQ(again.roots.size(), original.size());
  for (size_t i = 0; i < original.size(); ++i) EXPECT_TRUE(test::same_values(original[i], again.roots[i], nullptr));
  EXPECT_FALSE(find_duplicate_key(again.roots[0], ResolverMode::Yaml12).has_value());
}

TEST(DeepInput, ThousandLevelsOnASmallStack) {
  test::run_on_small_stack([] {
    round_trip(std::string(1000, '[') + std::string(1000, ']') + "\n");
    std::string mappings;  // 999 block mappings and a scalar, with comments
    for (int i = 0; i < 999; ++i) mappings += std::string(size_t(i), ' ') + "k: # c\n";
    mappings += std::string(999, ' ') + "v # end\n";
    round_trip(mappings);
    std::string sequences;
    for (int i = 0; i < 999; ++i) sequences += "- ";
    sequences += "x\n";
    round_trip(sequences);
    std::string keys = std::string(999, '[') + std::string(999, ']') + ": v\n";
    round_trip(keys);
  });
}

TEST(DeepInput, LongAliasChainsExpandOnASmallStack) {
  test::run_on_small_stack([] {
    // Each anchor nests 500 levels and ends in an alias of the previous one:
    // the last expands to a tree 50,000 levels deep.
    std::string text;
    for (int i = 0; i < 100; ++i) {
      text += "a" + std::to_string(i) + ": &a" + std::to_string(i) + " " + std::string(500, '[');
      text += i == 0 ? "x" : "*a" + std::to_string(i - 1);
      text += std::string(500, ']') + "\n";
    }
    ComposeResult r = compose_documents(text);
    ASSERT_TRUE(r.ok()) << r.error->message;
    AnchorResolver resolver(r.roots);
    ExpansionBudget budget;
    ExpansionResult e = expand_aliases(r.roots[0].pairs.back().value, resolver, budget);
    ASSERT_TRUE(e.ok()) << e.error->message;
    YamlNode copy(e.node);
    EXPECT_TRUE(nodes_equal(copy, e.node));
    drop_node_tree(std::move(copy));
    // The detached copy keeps the flow style, so it is written on one line.
    ExpansionBudget detach_budget;
    ExpansionResult d = expand_aliases_for_detach(r.roots[0].pairs.back().value, resolver, detach_budget);
    ASSERT_TRUE(d.ok());
    copy = std::move(d.node);
    test::mark_all_modified(copy);
    std::string out = emit_root(copy, NullStyle::Default);
    EXPECT_EQ(out.size(), 100u * 1000u + 2u);  // brackets, "x" and the line break
    drop_node_tree(std::move(copy));
    // Every anchor expanded with one shared budget goes past it.
    ExpandedAnchorMapBuild all = build_expanded_anchor_map(r.roots);
    EXPECT_FALSE(all.ok());
  });
}

}  // namespace
}  // namespace qf
