// Comment attachment: where each comment and blank line of the text lands.
#include <gtest/gtest.h>

#include "helpers.hpp"

namespace qf {
namespace {

using test::compose_ok;
using test::compose_one;
using test::value_of;

std::vector<std::string> head_texts(const YamlNode& n) {
  std::vector<std::string> out;
  for (const HeadComment& h : n.comments().head) out.push_back(h.text);
  return out;
}

TEST(CommentAttachment, HeadCommentsAndBlankLines) {
  YamlNode root = compose_one("# top\na: 1\n\n\n# above b\nb: 2\n");
  EXPECT_EQ(head_texts(root), std::vector<std::string>{"top"});  // the mapping starts on the first key's line
  const YamlNode& b = root.pairs[1].key;
  EXPECT_EQ(head_texts(b), std::vector<std::string>{"above b"});
  EXPECT_EQ(b.comments().blank_before, 2u);
  YamlNode gap = compose_one("a: 1\n# c\n\nb: 2\n");
  EXPECT_EQ(gap.pairs[1].key.comments().blank_before, 0u);  // blank lines between a comment and its key count nowhere
}

TEST(CommentAttachment, InlineComments) {
  YamlNode root = compose_one("a: x  # after\nb: 'q' # quoted\n");
  const YamlNode& a = value_of(root, "a");
  EXPECT_EQ(a.comments().inline_, "after");
  EXPECT_EQ(a.comments().inline_spaces, 2u);
  EXPECT_EQ(value_of(root, "b").comments().inline_spaces, 1u);  // measured from the closing quote
}

TEST(CommentAttachment, IntroducerLineComments) {
  YamlNode root = compose_one("key:  # intro\n  # below\n  value\n");
  const YamlNode& v = value_of(root, "key");
  EXPECT_EQ(v.comments().inline_, "intro");
  EXPECT_TRUE(v.comments().inline_before_value);
  EXPECT_EQ(v.comments().inline_spaces, 2u);  // columns between the key's end and "#", less one
  ASSERT_EQ(v.comments().head.size(), 1u);
  EXPECT_TRUE(v.comments().head[0].below_introducer);

  YamlNode plain = compose_one("key:\n  # below\n  value\n");
  const YamlNode& p = value_of(plain, "key");
  ASSERT_EQ(p.comments().head.size(), 1u);
  EXPECT_FALSE(p.comments().head[0].below_introducer);

  YamlNode seq = compose_one("- # on the dash\n  item\n");
  EXPECT_EQ(seq.items[0].comments().inline_, "on the dash");
  EXPECT_TRUE(seq.items[0].comments().inline_before_value);
}

TEST(CommentAttachment, IntroducerAndTrailingCommentsBothKept) {
  YamlNode root = compose_one("key: # intro\n  value # trailing\n");
  const YamlNode& v = value_of(root, "key");
  EXPECT_EQ(v.comments().inline_, "intro");
  EXPECT_TRUE(v.comments().inline_before_value);
  EXPECT_EQ(v.comments().inline_after_value, "trailing");
  EXPECT_TRUE(v.comments().head.empty());
}

TEST(CommentAttachment, EmptyValueKeepsItsComment) {
  YamlNode root = compose_one("a:   # why empty\nb: 1\n");
  EXPECT_EQ(value_of(root, "a").comments().inline_, "why empty");
  EXPECT_TRUE(root.pairs[1].key.comments().head.empty());
}

TEST(CommentAttachment, FlowAndFootComments) {
  // A comment after a one-line flow collection belongs to the collection;
  // one inside the brackets to the entry before it.
  YamlNode flow = compose_one("[a, b]  # c\n");
  EXPECT_EQ(flow.comments().inline_, "c");
  EXPECT_EQ(flow.comments().inline_spaces, 2u);
  EXPECT_FALSE(flow.items[0].comments().inline_);
  YamlNode nested = compose_one("k: {a: [1, 2]}   # c\n");
  EXPECT_EQ(value_of(nested, "k").comments().inline_, "c");
  EXPECT_FALSE(value_of(value_of(nested, "k"), "a").comments().inline_);
  YamlNode open = compose_one("[a,  # one\n b\n]  # two\n");
  EXPECT_EQ(open.items[0].comments().inline_, "one");
  EXPECT_EQ(open.comments().inline_, "two");
  EXPECT_EQ(open.comments().inline_spaces, 2u);
  YamlNode foot = compose_one("a:\n  b: 1\n  # under b\n# at zero\n");
  EXPECT_EQ(value_of(foot, "a").comments().foot, std::vector<std::string>{"under b"});
  EXPECT_EQ(foot.comments().foot, std::vector<std::string>{"at zero"});
}

TEST(CommentAttachment, CommentsBetweenDocuments) {
  std::string text = "a: 1\n# after a\n---\nb: 2\n";
  std::vector<YamlNode> joined = compose_ok(text);
  ASSERT_EQ(joined.size(), 2u);
  EXPECT_EQ(head_texts(joined[1]), std::vector<std::string>{"after a"});
  ComposeOptions o;
  o.per_document_comments = true;
  ComposeResult split = compose_text(text, o);
  ASSERT_TRUE(split.ok());
  EXPECT_EQ(split.roots[0].comments().foot, std::vector<std::string>{"after a"});
  EXPECT_TRUE(split.roots[1].comments().head.empty());
}

TEST(CommentAttachment, BlankLinesWithCarriageReturns) {
  YamlNode root = compose_one("a: 1\r\n  \r\nb: 2\r\n");
  EXPECT_EQ(root.pairs[1].key.comments().blank_before, 1u);
}

}  // namespace
}  // namespace qf
