// The compact node's parts: texts that view or own their bytes, child blocks
// that grow, shrink and take entries from themselves, and side records made
// only for nodes that need them.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "helpers.hpp"
#include "roundtrip/ast.hpp"
#include "roundtrip/node_list.hpp"
#include "roundtrip/node_text.hpp"

namespace qf {
namespace {

TEST(NodeText, ViewsInlineAndHeapTextsCopyAndAssignByValue) {
  const std::string source = "a text of the source, longer than the inline room";
  const std::string_view cases[] = {"", "short", "exactly12byt", "thirteen byte", source};
  for (std::string_view s : cases) {
    NodeText owned(s);
    EXPECT_EQ(owned, s);
    EXPECT_FALSE(owned.is_view());
    NodeText copy = owned;
    EXPECT_EQ(copy, s);
    NodeText moved = std::move(copy);
    EXPECT_EQ(moved, s);
    EXPECT_TRUE(copy.empty());  // NOLINT: a moved-from text is empty
    // Assigning a text its own bytes (or a part of them) keeps them right.
    moved.assign(moved.substr(s.size() / 2));
    EXPECT_EQ(moved, s.substr(s.size() / 2));
  }
  NodeText view = NodeText::view(std::string_view(source).substr(2, 4));
  EXPECT_TRUE(view.is_view());
  EXPECT_EQ(view.data(), source.data() + 2);
  NodeText view_copy = view;
  EXPECT_EQ(view_copy.data(), source.data() + 2);  // copies of a view view the same bytes
  view = "edited";
  EXPECT_FALSE(view.is_view());
  EXPECT_EQ(std::string("<") + view + ">", "<edited>");
}

TEST(NodeList, GrowsShrinksAndTakesEntriesFromItself) {
  NodeList<YamlNode> items;
  EXPECT_TRUE(items.empty());
  EXPECT_EQ(items.begin(), items.end());
  items.push_back(YamlNode::scalar("a long first text that lives on the heap"));
  for (int i = 0; i < 40; ++i) items.push_back(items[0]);  // the source entry moves as the block grows
  ASSERT_EQ(items.size(), 41u);
  for (const YamlNode& n : items) EXPECT_EQ(n.text, "a long first text that lives on the heap");
  items.insert(items.begin() + 1, items.back());
  items.insert(items.begin(), YamlNode::scalar("first"));
  EXPECT_EQ(items.front().text, "first");
  items.erase(items.begin() + 2, items.end() - 1);
  ASSERT_EQ(items.size(), 3u);
  items.shrink_to_fit();
  EXPECT_EQ(items.capacity(), 3u);
  EXPECT_EQ(items[2].text, "a long first text that lives on the heap");
  NodeList<YamlNode> copy = items;
  items.clear();
  EXPECT_TRUE(items.empty());
  EXPECT_EQ(copy.size(), 3u);
}

TEST(CompactNode, SideRecordsOnlyWhereSomethingRareIsSet) {
  EXPECT_EQ(sizeof(YamlNode), 80u);
  YamlNode root = test::compose_one("plain: value\nlist:\n  - a\n  - b\nlong: a value with spaces, past the inline room\n");
  std::vector<const YamlNode*> stack{&root};
  size_t nodes = 0;
  while (!stack.empty()) {
    const YamlNode* n = stack.back();
    stack.pop_back();
    ++nodes;
    // The root keeps the source text; nothing else here has a comment, an
    // anchor or a tag.
    EXPECT_EQ(n->has_extra(), n == &root);
    if (n->is_scalar()) {
      EXPECT_TRUE(n->text.is_view()) << n->text;
    }
    for (const YamlNode& i : n->items) stack.push_back(&i);
    for (const MappingEntry& e : n->pairs) {
      stack.push_back(&e.key);
      stack.push_back(&e.value);
    }
  }
  EXPECT_EQ(nodes, 9u);
  // Unescaped and folded texts differ from their source bytes: owned.
  YamlNode escaped = test::compose_one("a: \"tab\\there\"\nb: >\n  folded\n  text\n");
  EXPECT_FALSE(escaped.pairs[0].value.text.is_view());
  EXPECT_FALSE(escaped.pairs[1].value.text.is_view());
  EXPECT_TRUE(escaped.pairs[1].value.comments().raw->is_view());
  // Clearing the only rare field gives the side record back.
  YamlNode n = YamlNode::scalar("x");
  n.set_anchor("a");
  EXPECT_TRUE(n.has_extra());
  n.set_anchor(std::nullopt);
  EXPECT_FALSE(n.has_extra());
}

TEST(CompactNode, SharedSideRecordsAreCopiedBeforeAWriteAndFreedByTheirLastHolder) {
  // Every order of release: the model first, last, or between the sharers.
  for (int model_released_after = 0; model_released_after <= 2; ++model_released_after) {
    auto model = std::make_unique<YamlNode>();
    model->set_tag("!node");
    std::vector<YamlNode> sharers;
    for (int i = 0; i < 2; ++i) {
      sharers.push_back(YamlNode::mapping());
      sharers.back().share_extra(*model);
    }
    // A write to one holder leaves the others as they were.
    sharers[0].edit_comments().inline_ = "note";
    sharers[1].set_anchor("id001");
    model->set_tag("!other");
    EXPECT_EQ(sharers[0].tag(), "!node");
    EXPECT_EQ(sharers[0].comments().inline_, "note");
    EXPECT_FALSE(sharers[0].anchor());
    EXPECT_EQ(sharers[1].tag(), "!node");
    EXPECT_EQ(sharers[1].anchor(), "id001");
    EXPECT_FALSE(sharers[1].comments().inline_);
    EXPECT_EQ(model->tag(), "!other");
    // Shared again, then released in turn (the sanitizer build sees a
    // double free or a leak).
    sharers[0].share_extra(*model);
    sharers[1].share_extra(*model);
    YamlNode copy = sharers[0];
    if (model_released_after == 0) model.reset();
    EXPECT_EQ(copy.tag(), "!other");
    sharers.erase(sharers.begin());
    if (model_released_after == 1) model.reset();
    EXPECT_EQ(sharers[0].tag(), "!other");
    drop_node_tree(std::move(sharers[0]));
    sharers.clear();
    EXPECT_EQ(copy.tag(), "!other");
  }
}

TEST(CompactNode, ComposedTreesKeepTheirTextWhenTheCallerDropsIt) {
  YamlNode root;
  {
    std::string text = "key: a value viewed from the text\nother: [x, y]\n";
    root = test::compose_one(text);
  }
  // The caller's string is gone; the root keeps the composed copy.
  EXPECT_EQ(test::value_of(root, "key").text, "a value viewed from the text");
  YamlNode subtree = clone_node(test::value_of(root, "other"));
  EXPECT_EQ(subtree.items[1].text, "y");
}

}  // namespace
}  // namespace qf
