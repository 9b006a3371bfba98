#include <gtest/gtest.h>

#include "roundtrip/comment_text.hpp"
#include "roundtrip/composer.hpp"
#include "roundtrip/document.hpp"
#include "roundtrip/emit.hpp"

namespace qf {
namespace {

TEST(CommentText, InlineValidation) {
  struct Case {
    std::string text;
    std::optional<std::string_view> error;
  };
  const Case cases[] = {
      {"", std::nullopt},
      {"plain # with hash", std::nullopt},
      {"tab\there", std::nullopt},
      {"caf\xC3\xA9 \xE2\x80\x94 ok", std::nullopt},
      {"a\nb", kInlineCommentBreakMessage},
      {"a\rb", kInlineCommentBreakMessage},
      {"a\xC2\x85" "b", kInlineCommentBreakMessage},
      {"a\xE2\x80\xA8" "b", kInlineCommentBreakMessage},
      {"a\xE2\x80\xA9" "b", kInlineCommentBreakMessage},
      {std::string("nul\0here", 8), kCommentControlCharMessage},
      {"bell\x07", kCommentControlCharMessage},
      {"del\x7F", kCommentControlCharMessage},
      {"c1\xC2\x9B", kCommentControlCharMessage},
      {"nonchar\xEF\xBF\xBE", kCommentControlCharMessage},
      // A line break is reported before a control character.
      {"\x01\n", kInlineCommentBreakMessage},
  };
  for (const Case& c : cases) EXPECT_EQ(validate_inline_comment(c.text), c.error) << c.text;
}

TEST(CommentText, Splitting) {
  using V = std::vector<std::string>;
  struct Case {
    std::string text;
    V lines;
  };
  const Case cases[] = {
      {"a\r\nb", V{"a", "b"}},       {"a\n", V{"a", ""}},   {"", V{""}},
      {"\na", V{"", "a"}},           {"a\n\nb", V{"a", "", "b"}},
      {"a\rb\nc", V{"a", "b", "c"}}, {"a\r\rb", V{"a", "", "b"}},
      {"tab\tok", V{"tab\tok"}},
  };
  for (const Case& c : cases) {
    CommentLines r = split_comment_lines(c.text);
    ASSERT_TRUE(r.ok()) << c.text;
    EXPECT_EQ(r.lines, c.lines) << c.text;
  }
  // Refused wherever it stands, after an ordinary line break too.
  for (std::string bad : {"a\xC2\x85" "b", "a\xE2\x80\xA8", "\xE2\x80\xA9", "a\nb\xC2\x85" "c", "a\r\n\xE2\x80\xA8"}) {
    CommentLines r = split_comment_lines(bad);
    EXPECT_EQ(r.error, kCommentUnicodeBreakMessage);
  }
  for (std::string bad : {std::string("a\nb\0", 4), std::string("\x1b[0m"), std::string("x\xC2\x80")}) {
    CommentLines r = split_comment_lines(bad);
    EXPECT_EQ(r.error, kCommentControlCharMessage);
    EXPECT_TRUE(r.lines.empty());
  }
  EXPECT_EQ(kCommentUnicodeBreakMessage,
            "a comment cannot contain NEL, LS, or PS line breaks; use \\n to separate comment lines");
}

TEST(CommentText, HeadCommentSelection) {
  std::vector<HeadComment> head{{"above 1", false}, {"below", true}, {"above 2", false}};
  EXPECT_EQ(head_comment_text(head, HeadCommentFilter::All), "above 1\nbelow\nabove 2");
  EXPECT_EQ(head_comment_text(head, HeadCommentFilter::Above), "above 1\nabove 2");
  EXPECT_EQ(head_comment_text(head, HeadCommentFilter::Below), "below");
  std::vector<HeadComment> only_above{{"x", false}};
  EXPECT_EQ(head_comment_text(only_above, HeadCommentFilter::Below), std::nullopt);
  EXPECT_EQ(head_comment_text({}, HeadCommentFilter::All), std::nullopt);
  std::vector<HeadComment> empty_line{{"", false}};
  EXPECT_EQ(head_comment_text(empty_line, HeadCommentFilter::All), std::string());
}

// Every text the checks accept reads back as a comment: the scanner takes
// it without complaint.
TEST(CommentText, AcceptedTextsScan) {
  for (std::string text : {"tab\there", "unicode \xE2\x9C\x93", "# nested", "\xC2\xA0nbsp"}) {
    ASSERT_FALSE(validate_inline_comment(text));
    std::string doc = "a: 1 # " + text + "\n";
    EXPECT_TRUE(compose_documents(doc).ok()) << text;
  }
  for (std::string text : {std::string("a\x07"), std::string("a\xC2\x9F")}) {
    ASSERT_TRUE(validate_inline_comment(text));
    std::string doc = "a: 1 # " + text + "\n";
    EXPECT_FALSE(compose_documents(doc).ok()) << text;
  }
}

}  // namespace
}  // namespace qf

namespace qf {
namespace {

// Inline comments a setter may put on a node are written where the scanner
// reads them back; on a mapping key (where the emitter has no place for
// one) the setter is told to refuse.
TEST(CommentText, InlineCommentsAreWrittenOrRefused) {
  enum Target { Key, Value, Root, Item };
  struct Case {
    const char* text;
    Target target;
  };
  const Case cases[] = {
      {"a: 1\nb: 2\n", Value},    {"a:\n  x: 1\nb: 2\n", Value}, {"a: [1, 2]\n", Value},
      {"a: 1\nb: 2\n", Root},     {"- 1\n- 2\n", Root},          {"- 1\n- [2]\n", Item},
      {"a: *x\n", Value},          {"a:\nb: 1\n", Value},         {"{a: 1, b: 2}\n", Value},
      {"[1, 2]\n", Item},          {"a: 1\nb: 2\n", Key},         {"? [k]\n: v\n", Key},
      {"- a: 1\n  b: 2\n", Item},  {"- - 1\n  - 2\n", Item},      {"a: |\n  text\n", Value},
      {"a: >-\n  text\n", Value}, {"- |\n  text\n", Item},       {"a:\n- 1\n", Value},
      {"--- |\n  text\n", Root},  {"x\n", Root},
  };
  for (const Case& c : cases) {
    ComposeResult r = compose_documents(c.text);
    if (!r.ok()) r = compose_documents(std::string("x: &x 1\n") + c.text);
    ASSERT_TRUE(r.ok()) << c.text;
    RoundTripDocument d;
    d.docs = std::move(r.roots);
    YamlNode& root = d.docs[0];
    YamlNode& target = c.target == Root    ? root
                       : c.target == Item  ? root.items.back()
                       : c.target == Key   ? root.pairs.back().key
                                           : root.pairs.back().value;
    auto refusal = inline_comment_placement_error(target, c.target == Key);
    if (c.target == Key) {
      EXPECT_EQ(refusal, kInlineCommentOnKeyMessage) << c.text;
      continue;
    }
    ASSERT_FALSE(refusal) << c.text;
    target.edit_comments().inline_ = "set here";
    target.edit_comments().inline_spaces = 1;
    target.edit_comments().modified = true;
    std::string out = render_document(d);
    EXPECT_NE(out.find("# set here"), std::string::npos) << c.text << "\n--\n" << out;
    ComposeResult again = compose_documents(out);
    EXPECT_TRUE(again.ok()) << out;
  }
}

}  // namespace
}  // namespace qf
