// The round-trip composer: documents, positions, properties, layout hints and
// its errors.
#include <gtest/gtest.h>

#include "helpers.hpp"

namespace qf {
namespace {

using test::compose_ok;
using test::compose_one;
using test::value_of;

std::string compose_error(std::string_view text) {
  ComposeResult r = compose_documents(text);
  EXPECT_FALSE(r.ok()) << text;
  if (r.ok()) return "";
  return r.error->message + " @" + std::to_string(r.error->span.line) + ":" + std::to_string(r.error->span.column);
}

TEST(Composer, DocumentsAndEmptyStreams) {
  for (const char* text : {"", "# only a comment\n", "\n\n"}) {
    EXPECT_TRUE(compose_documents(text).roots.empty()) << text;
    EXPECT_TRUE(compose_documents_keep_empty(text).roots.empty()) << text;
    EXPECT_TRUE(compose_file_documents(text, 3).roots.empty()) << text;
  }
  EXPECT_TRUE(compose_documents("---\n").roots.empty());
  ComposeResult kept = compose_documents_keep_empty("---\n");
  ASSERT_EQ(kept.roots.size(), 1u);
  EXPECT_TRUE(kept.roots[0].is_null());
  EXPECT_TRUE(kept.roots[0].explicit_start);

  std::vector<YamlNode> roots = compose_ok("%YAML 1.2\n---\na: 1\n---\nb\n");
  ASSERT_EQ(roots.size(), 2u);
  EXPECT_EQ(roots[0].directives(), std::vector<std::string>{"YAML 1.2"});
  EXPECT_TRUE(roots[0].explicit_start);
  EXPECT_TRUE(roots[1].explicit_start);
  EXPECT_TRUE(roots[1].directives().empty());
  EXPECT_FALSE(compose_one("a: 1\n").explicit_start);
}

TEST(Composer, DocumentStartsSliceTheStream) {
  std::string text = "a: 1\n# between\n...\n%YAML 1.2\n---\nb: 2\n---\nc\n";
  ComposeResult r = compose_documents(text);
  ASSERT_TRUE(r.ok());
  ASSERT_EQ(r.document_starts.size(), 3u);
  EXPECT_EQ(r.document_starts[0], 0u);
  EXPECT_EQ(text.substr(r.document_starts[1], 9), "%YAML 1.2");
  EXPECT_EQ(text.substr(r.document_starts[2], 3), "---");
  EXPECT_TRUE(r.roots[0].explicit_end);
  EXPECT_FALSE(r.roots[1].explicit_end);
}

TEST(Composer, EmptyDocumentsDroppedAreCounted) {
  std::vector<YamlNode> roots = compose_ok("---\n---\na: 1\n---\n---\n");
  ASSERT_EQ(roots.size(), 1u);
  EXPECT_EQ(roots[0].empty_documents_before(), 1u);
  EXPECT_EQ(roots[0].empty_documents_after(), 2u);
}

TEST(Composer, SpansEndsAndProperties) {
  YamlNode root = compose_one("key: &a !t value\nother: 'q'  \nlast: [x, y]\n");
  const YamlNode& v = value_of(root, "key");
  EXPECT_EQ(v.span.line, 0u);
  EXPECT_EQ(v.span.column, 11u);  // the scalar, not its properties
  EXPECT_EQ(v.anchor(), "a");
  EXPECT_EQ(v.tag(), "!t");
  EXPECT_EQ(v.end_column, 16u);
  const YamlNode& q = value_of(root, "other");
  EXPECT_EQ(q.scalar_style, ScalarStyle::SingleQuoted);
  EXPECT_EQ(q.end_column, 10u);  // past the closing quote
  const YamlNode& flow = value_of(root, "last");
  EXPECT_EQ(flow.style, CollectionStyle::Flow);
  EXPECT_EQ(flow.end_line, 2u);
  EXPECT_EQ(flow.end_column, 12u);  // past the closing bracket
  std::string text = "k: [a, {b: c}]\n";
  YamlNode r2 = compose_one(text);
  const YamlNode& f2 = value_of(r2, "k");
  EXPECT_EQ(text.substr(f2.span.offset, f2.end_offset - f2.span.offset), "[a, {b: c}]");
}

TEST(Composer, DuplicateKeysStayAsPairs) {
  YamlNode root = compose_one("a: 1\na: 2\n");
  ASSERT_EQ(root.pairs.size(), 2u);
  EXPECT_EQ(root.pairs[1].value.text, "2");
}

TEST(Composer, EmptyValuesSitAtTheirIndicator) {
  YamlNode root = compose_one("a:\nlist:\n  -\n  - x\n");
  const YamlNode& a = value_of(root, "a");
  EXPECT_TRUE(a.is_null());
  EXPECT_EQ(a.span.line, 0u);
  EXPECT_EQ(a.span.column, 1u);  // the ":"
  const YamlNode& item = value_of(root, "list").items[0];
  EXPECT_TRUE(item.is_null());
  EXPECT_EQ(item.span.line, 2u);
  EXPECT_EQ(item.span.column, 2u);  // the "-"
}

TEST(Composer, Errors) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"a: &x 1\n---\nb: *x\n", "unknown alias: *x @2:3"},
      {"&x [*x]\n", "unknown alias: *x @0:4"},
      {"&a &b x\n", "a node cannot have two anchors @0:3"},
      {"a: &x 1\nb: &y *x\n", "an alias node cannot have an anchor or tag @1:6"},
  };
  for (const Case& c : cases) EXPECT_EQ(compose_error(c.text), c.error) << c.text;
  EXPECT_EQ(compose_one("!a !b x\n").tag(), "!b");
}

TEST(Composer, FlowEntriesAndMissingValues) {
  YamlNode root = compose_one("s: [a: b, c]\nm: {k}\n");
  const YamlNode& s = value_of(root, "s");
  ASSERT_EQ(s.items.size(), 2u);
  EXPECT_TRUE(s.items[0].is_mapping());
  EXPECT_EQ(s.items[0].style, CollectionStyle::Flow);
  EXPECT_EQ(s.items[0].pairs[0].value.text, "b");
  const YamlNode& m = value_of(root, "m");
  ASSERT_EQ(m.pairs.size(), 1u);
  EXPECT_TRUE(m.pairs[0].value.is_null());
}

TEST(Composer, ExplicitKeyMayBeASequenceAtItsColumn) {
  YamlNode root = compose_one("?\n- a\n- b\n:\n- c\n");
  ASSERT_EQ(root.pairs.size(), 1u);
  const MappingEntry& e = root.pairs[0];
  EXPECT_TRUE(e.key.explicit_key);
  ASSERT_TRUE(e.key.is_sequence());
  EXPECT_EQ(e.key.items.size(), 2u);
  ASSERT_TRUE(e.value.is_sequence());
  EXPECT_EQ(e.value.items[0].text, "c");
}

TEST(Composer, NestingLimit) {
  // The root counts as level 1: 1000 nested flow sequences are accepted.
  std::string ok = std::string(1000, '[') + std::string(1000, ']');
  std::string too_deep = std::string(1001, '[') + std::string(1001, ']');
  ComposeResult a = compose_documents(ok);
  EXPECT_TRUE(a.ok()) << a.error->message;
  ComposeResult b = compose_documents(too_deep);
  ASSERT_FALSE(b.ok());
  // The scanner's own flow-level limit may report it first.
  EXPECT_NE(b.error->message.find("1000"), std::string::npos) << b.error->message;
  std::string block;  // 1000 nested block mappings and a scalar: 1001 levels
  for (int i = 0; i < 1000; ++i) block += std::string(size_t(i) * 2, ' ') + "k:\n";
  block += std::string(2000, ' ') + "v\n";
  ComposeResult c = compose_documents(block);
  ASSERT_FALSE(c.ok());
  EXPECT_EQ(c.error->message, "maximum nesting depth (1000) exceeded");
}

TEST(Composer, RawBlockScalarText) {
  YamlNode root = compose_one("a: |\n  one\n  two\n\nb: >-\n  x\n");
  EXPECT_EQ(value_of(root, "a").comments().raw, "|\n  one\n  two\n\n");
  EXPECT_EQ(value_of(root, "b").comments().raw, ">-\n  x\n");
  YamlNode nested = compose_one("outer:\n  a: |\n    text\n  b: 1\n");
  EXPECT_EQ(value_of(value_of(nested, "outer"), "a").comments().raw, "|\n    text\n");
}

TEST(Composer, LineBreaksAndByteOrderMark) {
  YamlNode crlf = compose_one("a: 1\r\nb: xy\r\n");
  EXPECT_EQ(value_of(crlf, "b").end_line, 1u);
  EXPECT_EQ(value_of(crlf, "b").end_column, 5u);
  YamlNode cr = compose_one("a: 1\rb: xy\r");
  EXPECT_EQ(value_of(cr, "b").end_line, 1u);
  std::vector<YamlNode> bom = compose_ok("\xEF\xBB\xBF" "a: xy\n");
  ASSERT_EQ(bom.size(), 1u);
  EXPECT_TRUE(bom[0].leading_bom);
  EXPECT_EQ(value_of(bom[0], "a").end_column, 5u);
}

TEST(Composer, LayoutHints) {
  YamlNode root = compose_one("- - a\n-   b\n-\n  c\n");
  EXPECT_TRUE(root.items[0].comments().compact);
  EXPECT_EQ(root.items[1].value_pad, 3u);  // columns after "-", less one
  EXPECT_EQ(root.items[2].span.line, 3u);
  YamlNode key = compose_one("? a\n: b\n");
  EXPECT_TRUE(key.pairs[0].key.explicit_key);
}

TEST(Composer, FileIdIsStamped) {
  ComposeResult r = compose_file_documents("a: [b]\n", 7);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.roots[0].span.file_id, 7u);
  EXPECT_EQ(r.roots[0].pairs[0].value.items[0].span.file_id, 7u);
}

}  // namespace
}  // namespace qf
