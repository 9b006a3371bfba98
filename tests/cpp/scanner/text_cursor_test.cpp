#include <gtest/gtest.h>

#include "scanner/text_cursor.hpp"

namespace {

using qf::TextCursor;

TEST(TextCursor, ByteOrderMarkOnlyAtTheStart) {
  TextCursor bom("\xEF\xBB\xBF" "a");
  EXPECT_TRUE(bom.has_bom);
  EXPECT_EQ(bom.position, 3u);
  EXPECT_EQ(bom.current(), U'a');
  TextCursor short_text("\xEF\xBB");
  EXPECT_FALSE(short_text.has_bom);
  EXPECT_EQ(short_text.position, 0u);
  TextCursor later("a\xEF\xBB\xBF");
  EXPECT_FALSE(later.has_bom);
}

TEST(TextCursor, AdvanceCountsCharacters) {
  TextCursor c("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80x");
  EXPECT_EQ(c.current(), U'\u00E9');
  EXPECT_EQ(c.peek_next(), U'\u20AC');
  EXPECT_EQ(c.peek_third(), U'x');
  c.advance3();
  EXPECT_EQ(c.position, 9u);
  EXPECT_EQ(c.column, 3u);
  EXPECT_EQ(c.current(), U'x');
  EXPECT_EQ(c.peek_next(), std::nullopt);
  c.advance();
  EXPECT_TRUE(c.at_end());
  EXPECT_EQ(c.current(), U'\0');
  c.advance();  // nothing at the end
  EXPECT_EQ(c.position, 10u);
  EXPECT_EQ(c.column, 4u);
}

TEST(TextCursor, LineBreaks) {
  // CR LF is one break; NEL is an ordinary character.
  TextCursor c("\r\n\r\n\xC2\x85" "a");
  c.consume_line_break();
  EXPECT_EQ(c.position, 2u);
  EXPECT_EQ(c.line, 1u);
  c.consume_line_break();
  EXPECT_EQ(c.position, 4u);
  EXPECT_EQ(c.line, 2u);
  c.consume_line_break();
  EXPECT_EQ(c.position, 4u);
  EXPECT_EQ(c.line, 2u);
  c.advance();
  EXPECT_EQ(c.line, 2u);
  EXPECT_EQ(c.column, 1u);
  TextCursor cr("\r\ra");
  cr.consume_line_break();
  cr.consume_line_break();
  EXPECT_EQ(cr.line, 2u);
  EXPECT_EQ(cr.column, 0u);
  EXPECT_EQ(cr.current(), U'a');
}

TEST(TextCursor, BlanksAndMarkers) {
  TextCursor c(" \t x");
  EXPECT_EQ(c.first_non_blank(), U'x');
  c.skip_spaces();
  EXPECT_EQ(c.column, 1u);
  c.skip_blanks();
  EXPECT_EQ(c.column, 3u);
  EXPECT_EQ(TextCursor("  ").first_non_blank(), std::nullopt);

  struct Case {
    const char* text;
    bool marker;
  } cases[] = {{"---", true},  {"--- a", true}, {"---\tx", true}, {"...\n", true},
               {"...\r", true}, {"---a", false}, {"--", false},   {"..", false},
               {"-- -", false}};
  for (const auto& k : cases) EXPECT_EQ(TextCursor(k.text).is_document_marker(), k.marker) << k.text;
  TextCursor indented(" ---");
  indented.skip_spaces();
  EXPECT_FALSE(indented.is_document_marker());
  EXPECT_FALSE(TextCursor("ab").starts_with3("ab\0"));
}

}  // namespace
