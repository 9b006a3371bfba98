// The source tree model: deep trees are released and copied without
// recursion, copies are independent and complete.
#include <gtest/gtest.h>

#include "../small_stack.hpp"
#include "helpers.hpp"
#include "roundtrip/ast.hpp"

namespace qf {
namespace {

YamlNode deep_chain(size_t depth) {
  YamlNode root = YamlNode::scalar("leaf");
  for (size_t i = 0; i < depth; ++i) {
    YamlNode parent = (i % 2) ? YamlNode::sequence() : YamlNode::mapping();
    if (parent.is_sequence()) {
      parent.items.push_back(std::move(root));
    } else {
      parent.pairs.push_back({YamlNode::scalar("k"), std::move(root)});
    }
    root = std::move(parent);
  }
  return root;
}

TEST(SourceTree, DeepTreesAreCopiedComparedAndReleasedWithoutRecursion) {
  test::run_on_small_stack([] {
    YamlNode tree = deep_chain(100000);
    YamlNode copy(tree);
    EXPECT_TRUE(nodes_equal(tree, copy));
    YamlNode* leaf = &copy;
    while (leaf->is_collection()) leaf = leaf->is_sequence() ? &leaf->items.front() : &leaf->pairs.front().value;
    EXPECT_EQ(leaf->text, "leaf");
    leaf->set_anchor("x");
    EXPECT_FALSE(nodes_equal(tree, copy));
    drop_node_tree(std::move(copy));
    YamlNode assigned;
    assigned = tree;
    EXPECT_TRUE(nodes_equal(tree, assigned));
  });
}

TEST(SourceTree, CopyKeepsEveryField) {
  YamlNode n = YamlNode::scalar("text", ScalarStyle::Literal);
  n.span = Span{3, 4, 5, 6};
  n.end_offset = 9;
  n.end_line = 7;
  n.end_column = 8;
  n.set_anchor("a");
  n.set_tag("!t");
  n.edit_comments().head.push_back({"above", true});
  n.edit_comments().inline_ = "after";
  n.edit_comments().raw = "|\n  text\n";
  n.edit_comments().foot.push_back("foot");
  n.edit_comments().modified = true;
  n.set_source(IncludeSource{"!include", "x.yaml", 2});
  n.set_directives({"YAML 1.2"});
  n.explicit_start = n.leading_bom = n.synthetic = n.explicit_key = n.explicit_end = true;
  YamlNode root = YamlNode::sequence(CollectionStyle::Flow);
  root.items.push_back(n);
  YamlNode copy = clone_node(root);
  ASSERT_EQ(copy.items.size(), 1u);
  EXPECT_TRUE(nodes_equal(copy, root));
  EXPECT_EQ(copy.items[0].comments(), n.comments());
  EXPECT_EQ(copy.items[0].source(), n.source());
}

}  // namespace
}  // namespace qf
