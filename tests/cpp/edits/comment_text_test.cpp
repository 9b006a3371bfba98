#include <gtest/gtest.h>

#include "roundtrip/comment_text.hpp"
#include "roundtrip/composer.hpp"

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
  for (std::string bad : {"a\xC2\x85" "b", "a\xE2\x80\xA8", "\xE2\x80\xA9"}) {
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
