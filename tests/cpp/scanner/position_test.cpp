// Spans, end offsets, byte-order marks, line breaks, file ids and kept
// comments.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "scanner/scanner.hpp"
#include "token_dump.hpp"

namespace {

using qf::Span;
using qf::Token;
using qf::TokenKind;

struct Pos {
  TokenKind kind;
  uint32_t line, column;
  uint64_t offset, end;
};

// Keeps the scanner alive with its tokens: rebuilt texts live in it.
struct Scanned {
  std::unique_ptr<qf::Scanner> scanner;
  qf::TokenVector tokens;
  const Token& operator[](size_t i) const { return tokens.at(i); }
  size_t size() const { return tokens.size(); }
};

Scanned scan_ok(std::string_view text, uint32_t file_id = 0) {
  Scanned out{std::make_unique<qf::Scanner>(text), {}};
  out.scanner->cursor.file_id = file_id;
  auto r = qf::tokenize(*out.scanner);
  EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.error->message);
  out.tokens = std::move(r.tokens);
  return out;
}

void expect_positions(std::string_view text, const std::vector<Pos>& want) {
  auto tokens = scan_ok(text);
  ASSERT_EQ(tokens.size(), want.size()) << qf::test::render_tokens(tokens.tokens);
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE("token " + std::to_string(i) + " of " + qf::test::escape_text(text));
    EXPECT_EQ(tokens[i].kind, want[i].kind);
    EXPECT_EQ(tokens[i].span.line, want[i].line);
    EXPECT_EQ(tokens[i].span.column, want[i].column);
    EXPECT_EQ(tokens[i].span.offset, want[i].offset);
    EXPECT_EQ(tokens[i].end_offset, want[i].end);
  }
}

constexpr auto SS = TokenKind::StreamStart;
constexpr auto SE = TokenKind::StreamEnd;
constexpr auto MS = TokenKind::MappingStart;
constexpr auto SQ = TokenKind::SequenceStart;
constexpr auto BE = TokenKind::BlockEnd;
constexpr auto K = TokenKind::Key;
constexpr auto V = TokenKind::Value;
constexpr auto SC = TokenKind::Scalar;
constexpr auto EN = TokenKind::SequenceEntry;

TEST(ScannerPositions, StreamBounds) {
  expect_positions("", {{SS, 0, 0, 0, 0}, {SE, 0, 0, 0, 0}});
  expect_positions("\xEF\xBB\xBF", {{SS, 0, 0, 3, 3}, {SE, 0, 0, 3, 3}});
  expect_positions("\xEF\xBB\xBF" "a", {{SS, 0, 0, 3, 3}, {SC, 0, 0, 3, 4}, {SE, 0, 1, 4, 4}});
  // Two bytes that merely start like a byte-order mark are text.
  expect_positions("\xEF\xBB", {{SS, 0, 0, 0, 0}, {SC, 0, 0, 0, 2}, {SE, 0, 1, 2, 2}});
  expect_positions("a\n\n", {{SS, 0, 0, 0, 0}, {SC, 0, 0, 0, 1}, {SE, 2, 0, 3, 3}});
}

TEST(ScannerPositions, LineBreaksAndColumns) {
  expect_positions("a: x\r\nb: c", {{SS, 0, 0, 0, 0},
                                    {MS, 0, 0, 0, 0},
                                    {K, 0, 0, 0, 0},
                                    {SC, 0, 0, 0, 1},
                                    {V, 0, 1, 1, 1},
                                    {SC, 0, 3, 3, 4},
                                    {K, 1, 0, 6, 6},
                                    {SC, 1, 0, 6, 7},
                                    {V, 1, 1, 7, 7},
                                    {SC, 1, 3, 9, 10},
                                    {BE, 1, 4, 10, 10},
                                    {SE, 1, 4, 10, 10}});
  auto cr = scan_ok("a\rb");
  // "a b" folded: one scalar ending after b, the stream end on line 1.
  ASSERT_EQ(cr.size(), 3u);
  EXPECT_EQ(cr[1].end_offset, 3u);
  EXPECT_EQ(cr[2].span, (Span{0, 1, 1, 3}));
  auto cr2 = scan_ok("- a\r- b");
  EXPECT_EQ(cr2[4].kind, EN);
  EXPECT_EQ(cr2[4].span, (Span{0, 1, 0, 4}));
  // Columns count characters; offsets count bytes.
  expect_positions("\xC3\xA9: 1", {{SS, 0, 0, 0, 0},
                                   {MS, 0, 0, 0, 0},
                                   {K, 0, 0, 0, 0},
                                   {SC, 0, 0, 0, 2},
                                   {V, 0, 1, 2, 2},
                                   {SC, 0, 3, 4, 5},
                                   {BE, 0, 4, 5, 5},
                                   {SE, 0, 4, 5, 5}});
  // NEL is an ordinary character: no new line.
  auto nel = scan_ok("a\xC2\x85" "b: c");
  ASSERT_EQ(nel[3].kind, SC);
  EXPECT_EQ(nel[3].text, "a\xC2\x85" "b");
  EXPECT_EQ(nel[4].span, (Span{0, 0, 3, 4}));
  // A TAB is one column.
  auto tab = scan_ok("a:\tb");
  EXPECT_EQ(tab[5].span, (Span{0, 0, 3, 3}));
  // Four-byte characters, and columns after a quoted multi-byte text.
  auto wide = scan_ok("'\xF0\x9F\x98\x80\xC3\xA9': x");
  EXPECT_EQ(wide[4].span, (Span{0, 0, 4, 8}));
}

// Quoted texts are searched in blocks of bytes: the column after one counts
// its characters whatever the blocks cut, escapes and doubled quotes as
// written.
TEST(ScannerPositions, ColumnsAfterLongQuotedTexts) {
  const char* const kChars[] = {"a", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", " "};
  for (const char* extra : {"", "\\t", "''"}) {
    for (size_t n = 0; n < 48; ++n) {
      std::string body;
      uint32_t chars = 0;
      for (size_t i = 0; i < n; ++i, ++chars) body += kChars[(i * 7 + n) % std::size(kChars)];
      body += extra;
      chars += static_cast<uint32_t>(std::string_view(extra).size());
      const char quote = std::string_view(extra) == "''" ? '\'' : '"';
      const std::string text = quote + body + quote + ": x";
      SCOPED_TRACE(qf::test::escape_text(text));
      auto tokens = scan_ok(text);
      ASSERT_EQ(tokens.size(), 8u);
      EXPECT_EQ(tokens[4].kind, V);
      EXPECT_EQ(tokens[4].span, (Span{0, 0, chars + 2, body.size() + 2}));
      EXPECT_EQ(tokens[5].span.column, chars + 4);
    }
  }
}

// Columns of lines skipped whole (comments, directives, block scalar lines)
// count characters too; the stream end shows them when no break follows.
TEST(ScannerPositions, ColumnsAfterSkippedLines) {
  const std::string wide = "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80" "abcdefgh\xC3\xA9";  // 12 chars, 19 bytes
  auto c = scan_ok("# " + wide);
  EXPECT_EQ(c.tokens.back().span, (Span{0, 0, 14, 21}));
  auto d = scan_ok("%X " + wide);
  EXPECT_EQ(d.tokens.back().span, (Span{0, 0, 15, 22}));
  auto b = scan_ok("|\n  " + wide);
  EXPECT_EQ(b.tokens.back().span, (Span{0, 1, 14, 23}));
}

TEST(ScannerPositions, InsertedKeysAndBlockEnds) {
  // Key and mapping start inserted at a saved key take the ":" position with
  // the key's column.
  expect_positions("&x key: v", {{SS, 0, 0, 0, 0},
                                 {MS, 0, 0, 6, 6},
                                 {K, 0, 0, 6, 6},
                                 {TokenKind::Anchor, 0, 0, 0, 0},
                                 {SC, 0, 3, 3, 6},
                                 {V, 0, 6, 6, 6},
                                 {SC, 0, 8, 8, 9},
                                 {BE, 0, 9, 9, 9},
                                 {SE, 0, 9, 9, 9}});
  auto seq = scan_ok("- [a]: b");
  ASSERT_EQ(seq[3].kind, MS);
  EXPECT_EQ(seq[3].span, (Span{0, 0, 2, 5}));
  // A block end stands at the token that caused the dedent.
  auto dedent = scan_ok("a:\n  b: c\nd: e");
  ASSERT_EQ(dedent[10].kind, BE);
  EXPECT_EQ(dedent[10].span, (Span{0, 2, 0, 10}));
  // Block sequence start and entry at the "-"; empty-key mapping at ":".
  auto s = scan_ok("  - a");
  EXPECT_EQ(s[1].kind, SQ);
  EXPECT_EQ(s[1].span, (Span{0, 0, 2, 2}));
  EXPECT_EQ(s[2].span, (Span{0, 0, 2, 2}));
  auto e = scan_ok(": v");
  EXPECT_EQ(e[1].kind, MS);
  EXPECT_EQ(e[1].span, (Span{0, 0, 0, 0}));
}

TEST(ScannerPositions, ScalarEndOffsets) {
  // Plain: just past the last content character, trailing blanks excluded.
  auto p = scan_ok("a b  # c");
  EXPECT_EQ(p[1].end_offset, 3u);
  auto m = scan_ok("k: a\n  b   \n");
  EXPECT_EQ(m[5].text, "a b");
  EXPECT_EQ(m[5].end_offset, 8u);
  // Quoted: past the closing quote, also as a key.
  auto q = scan_ok("'a''b': \"c\\n\"");
  EXPECT_EQ(q[3].span.offset, 0u);
  EXPECT_EQ(q[3].end_offset, 6u);
  EXPECT_EQ(q[5].span.offset, 8u);
  EXPECT_EQ(q[5].end_offset, 13u);
  // Block: where the scan stopped, past trailing empty lines and the
  // indentation of the next line up to the content indentation.
  auto b = scan_ok("k:\n  s: |\n    a\n\n  t: b");
  ASSERT_EQ(b[9].kind, SC);
  EXPECT_EQ(b[9].span, (Span{0, 1, 5, 8}));
  EXPECT_EQ(b[9].end_offset, 19u);
  auto b2 = scan_ok("a: |\n  x\n\n  \nb: c");
  EXPECT_EQ(b2[5].end_offset, 13u);
  auto b3 = scan_ok("a: >-\n  x");
  EXPECT_EQ(b3[5].end_offset, 9u);
}

TEST(ScannerPositions, PropertyAndMarkerSpans) {
  auto t = scan_ok("%YAML 1.2\n--- !t &a *b\n...");
  ASSERT_EQ(t.size(), 8u);
  EXPECT_EQ(t[1].kind, TokenKind::Directive);
  EXPECT_EQ(t[1].span, (Span{0, 0, 0, 0}));
  EXPECT_EQ(t[2].kind, TokenKind::DocumentStart);
  EXPECT_EQ(t[2].span, (Span{0, 1, 0, 10}));
  EXPECT_EQ(t[3].span, (Span{0, 1, 4, 14}));
  EXPECT_EQ(t[4].span, (Span{0, 1, 7, 17}));
  EXPECT_EQ(t[5].span, (Span{0, 1, 10, 20}));
  EXPECT_EQ(t[6].kind, TokenKind::DocumentEnd);
  EXPECT_EQ(t[6].span, (Span{0, 2, 0, 23}));
  EXPECT_EQ(t[6].end_offset, 23u);
  auto f = scan_ok("{a: [b], ? c}");
  std::vector<uint64_t> offsets;
  for (auto& tok : f.tokens) offsets.push_back(tok.span.offset);
  EXPECT_EQ(offsets, (std::vector<uint64_t>{0, 0, 1, 1, 2, 4, 5, 6, 7, 9, 11, 12, 13}));
}

TEST(ScannerPositions, FileIdOnEverySpan) {
  auto tokens = scan_ok("a: [b, 'c']\n- d", 7);
  for (const auto& t : tokens.tokens) EXPECT_EQ(t.span.file_id, 7u);
  qf::Scanner s("a: [b");
  s.cursor.file_id = 7;
  auto r = qf::tokenize(s);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error->span, (Span{7, 0, 5, 5}));
  qf::Scanner c("a\x01");
  c.cursor.file_id = 7;
  c.keep_comments = true;
  auto rc = qf::tokenize(c);
  ASSERT_FALSE(rc.ok());
  EXPECT_EQ(rc.error->span.file_id, 7u);
}

TEST(ScannerPositions, ErrorsDiscardTokens) {
  qf::Scanner s("a: b\nc: [d");
  auto r = qf::tokenize(s);
  ASSERT_FALSE(r.ok());
  EXPECT_TRUE(r.tokens.empty());
  EXPECT_EQ(r.error->message, "unclosed flow collection at end of input");
  EXPECT_EQ(r.error->span, (Span{0, 1, 5, 10}));
}

TEST(ScannerComments, KeptWithTextAndSpan) {
  qf::Scanner s(
      "#top\n"
      "a: b # one  \n"
      "#\n"
      "c: [d, # two\n"
      "  e] #\tthree\xE2\x80\x83\xC2\xA0\n"
      "f: | # header\n"
      "  x\n"
      "#  spaced\n");
  s.keep_comments = true;
  auto r = qf::tokenize(s);
  ASSERT_TRUE(r.ok()) << r.error->message;
  struct Want {
    const char* text;
    Span span;
  };
  std::vector<Want> want = {{"top", {0, 0, 0, 0}},      {"one", {0, 1, 5, 10}},
                            {"", {0, 2, 0, 18}},         {"two", {0, 3, 7, 27}},
                            {"\tthree", {0, 4, 5, 38}}, {" spaced", {0, 7, 0, 69}}};
  ASSERT_EQ(s.comments.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(s.comments[i].text, want[i].text) << i;
    EXPECT_EQ(s.comments[i].span, want[i].span) << i;
  }
}

TEST(ScannerComments, EndAPlainScalar) {
  qf::Scanner s("a: b #c");
  s.keep_comments = true;
  auto r = qf::tokenize(s);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(qf::test::render_tokens(r.tokens), "BM K P\"a\" : P\"b\" BE");
  ASSERT_EQ(s.comments.size(), 1u);
  EXPECT_EQ(s.comments[0].text, "c");
  EXPECT_EQ(s.comments[0].span, (Span{0, 0, 5, 5}));
}

TEST(ScannerComments, NotKeptByDefault) {
  qf::Scanner s("a # c\n");
  auto r = qf::tokenize(s);
  ASSERT_TRUE(r.ok());
  EXPECT_TRUE(s.comments.empty());
  // A comment after a byte-order mark starts the text.
  qf::Scanner b("\xEF\xBB\xBF# c");
  b.keep_comments = true;
  ASSERT_TRUE(qf::tokenize(b).ok());
  ASSERT_EQ(b.comments.size(), 1u);
  EXPECT_EQ(b.comments[0].span, (Span{0, 0, 0, 3}));
}

TEST(ScannerTokensStorage, ViewsIntoInputWhenNothingWasRebuilt) {
  const std::string text = "key: 'v' # c\nother: \"w\\n\"\nthird: a\n  b\n";
  qf::Scanner s(text);
  auto r = qf::tokenize(s);
  ASSERT_TRUE(r.ok());
  auto inside = [&](std::string_view v) {
    return v.data() >= text.data() && v.data() + v.size() <= text.data() + text.size();
  };
  std::vector<std::string_view> scalars;
  for (auto& t : r.tokens)
    if (t.kind == TokenKind::Scalar) scalars.push_back(t.text);
  ASSERT_EQ(scalars.size(), 6u);
  EXPECT_TRUE(inside(scalars[0]));   // key
  EXPECT_TRUE(inside(scalars[1]));   // 'v'
  EXPECT_FALSE(inside(scalars[3]));  // escaped
  EXPECT_EQ(scalars[3], "w\n");
  EXPECT_FALSE(inside(scalars[5]));  // folded
  EXPECT_EQ(scalars[5], "a b");
  // Rebuilt texts stay valid when the scanner is moved.
  qf::Scanner moved = std::move(s);
  EXPECT_EQ(scalars[5], "a b");
}

TEST(ScannerTokensStorage, ReservesByTextLength) {
  const std::string text(100, 'a');
  qf::Scanner s(text);
  auto r = qf::tokenize(s);
  ASSERT_TRUE(r.ok());
  EXPECT_GE(r.tokens.capacity(), 50u);
  EXPECT_EQ(r.tokens.size(), 3u);
}

}  // namespace
