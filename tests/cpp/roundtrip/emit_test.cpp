// The round-trip emitter: unchanged documents, re-emission of edited trees,
// layout, comments, nulls, properties and the YAML 1.2 header.
#include <gtest/gtest.h>

#include "helpers.hpp"

namespace qf {
namespace {

using test::compose_ok;
using test::compose_one;
using test::reemit;
using test::render;

struct Reemission {
  const char* in;
  const char* out;
};

void expect_reemissions(const std::vector<Reemission>& cases) {
  for (const Reemission& c : cases) EXPECT_EQ(reemit(c.in), c.out) << "input:\n" << c.in;
}

TEST(Emitter, UnchangedDocumentsRenderTheirSource) {
  for (const char* text : {"a:   1 # odd spacing\r\nb:\r\n  - x\r\n", "\xEF\xBB\xBF" "k: v", "# only\n"}) {
    RoundTripDocument doc;
    doc.docs = compose_ok(text);
    doc.source = text;
    EXPECT_EQ(render_document(doc), text);
  }
  RoundTripDocument empty;
  EXPECT_EQ(render_document(empty), "");
  empty.declare_yaml_1_2 = true;
  EXPECT_EQ(render_document(empty), "%YAML 1.2\n---\n");
}

TEST(Emitter, LayoutIsKept) {
  expect_reemissions({
      {"top:\n- a\n- b\nind:\n    - a\n", "top:\n- a\n- b\nind:\n  - a\n"},
      {"- - a\n  - b\n- !t\n  - c\n", "- - a\n  - b\n- !t\n  - c\n"},
      {"- &a\n  k: v\n  j: w\n- k: v\n  j: w\n", "- &a\n  k: v\n  j: w\n- k: v\n  j: w\n"},
      {"a: &x 1\n*x : 2\n", "a: &x 1\n*x : 2\n"},
      {"? a\n: b\n? [x, y]\n: z\n? - block\n: seq\n", "? a\n: b\n? [x, y]\n: z\n?\n  - block\n: seq\n"},
      {"a: {x: 1, y: [2, 3]}\nb: []\nc: {}\n", "a: {x: 1, y: [2, 3]}\nb: []\nc: {}\n"},
      {"%YAML 1.2\n---\na: 1\n", "%YAML 1.2\n---\na: 1\n"},
      {"--- |\n  text\n", "---\n|\n  text\n"},
  });
  EXPECT_EQ(reemit("k:   spaced\nj:\n-   x\n"), "k:   spaced\nj:\n-   x\n");
  EXPECT_EQ(reemit("-   x\n"), "-   x\n");
}

TEST(Emitter, CommentsAndBlankLinesAreKept) {
  expect_reemissions({
      {"# head\na: 1  # inline\n\n\n# above b\nb: 2\n# foot\n", "# head\na: 1  # inline\n\n\n# above b\nb: 2\n# foot\n"},
      {"key: # note\n  # below\n  value\n", "key: # note\n  # below\n  value\n"},
      {"key:\n  # above the value\n  value\n", "key:\n  # above the value\n  value\n"},
      {"key: # intro\n  value # trailing\n", "key: # intro\n  value # trailing\n"},
      {"- # intro\n  - item  # trailing\n", "- # intro\n  - item  # trailing\n"},
      {"a:   # why empty\nb: 1\n", "a:   # why empty\nb: 1\n"},
      {"- # on the dash\n  item\n", "- # on the dash\n  item\n"},
      {"k: [a, # one\n  b]\n", "k: [\n    a, # one\n    b\n  ]\n"},
      {"k: {x: 1, # c\n  y: 2}\n", "k: {\n    x: 1, # c\n    y: 2\n  }\n"},
      // A one-line flow collection keeps the comment after it on its line.
      {"a: [x, y]  # after\n", "a: [x, y]  # after\n"},
      {"m: {a: 1, b: [2]}  # after\n", "m: {a: 1, b: [2]}  # after\n"},
  });
}

TEST(Emitter, ValuesNeverChangeOnReemission) {
  expect_reemissions({
      // A line break in a plain or single-quoted value is kept through
      // double quotes.
      {"k: 'a\n\n  b'\n", "k: \"a\\nb\"\n"},
      {"k: plain\n\n  more\n", "k: \"plain\\nmore\"\n"},
      // A folded scalar written from its value is written literal.
      {"k: >\n  folded\n  text\n\n  para\n", "k: |\n  folded text\n  para\n"},
      // A leading space needs an indentation indicator: written quoted.
      {"k: |2\n   lead\n  x\n", "k: \" lead\\nx\\n\"\n"},
      {"k: [a: b]\n", "k: [{a: b}]\n"},
      {"k: \"\\ttab\"\n", "k: \"\\ttab\"\n"},
  });
  YamlNode flow = compose_one("k: [x]\n");
  flow.pairs[0].value.items[0].text = "a, b";
  flow.pairs[0].value.items[0].edit_comments().modified = true;
  EXPECT_EQ(test::render({flow}), "k: [\"a, b\"]\n");
}

TEST(Emitter, EmptyAndTaggedEmptyNodes) {
  expect_reemissions({
      {"a:\nb: !!str\nc: &x\nd: !!str # c\n", "a:\nb: !!str\nc: &x\nd: !!str # c\n"},
      {"k: [a, !!str , b]\n", "k: [a, !!str, b]\n"},
      {"!!str : v\n", "!!str : v\n"},
      {"- \n- !t\n", "-\n- !t\n"},
      {"{a, b: c}\n", "{a, b: c}\n"},
      {"? a\n", "? a\n"},
  });
  YamlNode synthetic = compose_one("k: 1\n");
  synthetic.pairs[0].value = YamlNode::null_at(Span{});
  synthetic.pairs[0].value.synthetic = true;
  synthetic.pairs[0].value.edit_comments().modified = true;
  for (auto [style, out] : {std::pair{NullStyle::Default, "k:\n"}, {NullStyle::Keyword, "k: null\n"},
                            {NullStyle::Tilde, "k: ~\n"}})
    EXPECT_EQ(emit_root(synthetic, style), out);
}

TEST(Emitter, DocumentsAndMarkers) {
  expect_reemissions({
      {"a: x\n...\n%YAML 1.2\n---\nb\n", "a: x\n...\n%YAML 1.2\n---\nb\n"},
      {"a\n---\nb\n--- c\n", "a\n---\nb\n---\nc\n"},
      // Empty documents are neither lost nor added.
      {"---\n---\na: 1\n---\n", "---\n---\na: 1\n---\n"},
  });
  std::string text = "a: 1\n---\n...\nb\n";
  ComposeResult again = compose_documents(reemit(text));
  ASSERT_TRUE(again.ok());
  ComposeResult keep = compose_documents_keep_empty(reemit(text));
  EXPECT_EQ(keep.roots.size(), compose_documents_keep_empty(text).roots.size());
}

TEST(Emitter, BlockScalarTextIsPastedOnlyWhereItFits) {
  // The source indents by one column; the emitter indents by two, so the
  // kept text of "c" would no longer be inside its key.
  std::string text = "a:\n b:\n  c: |\n   text\n  d: 1\n";
  std::vector<YamlNode> roots = compose_ok(text);
  YamlNode& d = roots[0].pairs[0].value.pairs[0].value.pairs[1].value;
  d.text = "2";
  d.edit_comments().modified = true;
  EXPECT_EQ(render(std::move(roots)), "a:\n  b:\n    c: |\n      text\n    d: 2\n");

  std::string fits = "a:\n    c: |\n        text\n    d: 1\n";
  std::vector<YamlNode> kept = compose_ok(fits);
  kept[0].pairs[0].value.pairs[1].value.edit_comments().modified = true;
  EXPECT_EQ(render(std::move(kept)), "a:\n  c: |\n        text\n  d: 1\n");

  // With an explicit indentation indicator the text is kept where the
  // content indentation it gives is the one it was read with, and written
  // from its value where that moved.
  std::vector<YamlNode> indicator = compose_ok("a:\n  c: |2\n     lead\n  d: 1\n");
  indicator[0].pairs[0].value.pairs[1].value.edit_comments().modified = true;
  EXPECT_EQ(render(std::move(indicator)), "a:\n  c: |2\n     lead\n  d: 1\n");
  std::vector<YamlNode> moved = compose_ok("a:\n c: |2\n    lead\n d: 1\n");
  moved[0].pairs[0].value.pairs[1].value.edit_comments().modified = true;
  EXPECT_EQ(render(std::move(moved)), "a:\n  c: \" lead\\n\"\n  d: 1\n");

  // Verbatim text without a final line break keeps lacking it.
  std::vector<YamlNode> last = compose_ok("x: 1\nk: |\n  no break");
  last[0].pairs[0].value.edit_comments().modified = true;
  EXPECT_EQ(render(std::move(last)), "x: 1\nk: |\n  no break");
}

TEST(Emitter, DirectiveProducedNodesAreWrittenAsTheirDirective) {
  YamlNode root = compose_one("a: x\nb: [y]\n");
  root.pairs[0].value.set_source(IncludeSource{"!include", "a.yaml", 1});
  root.pairs[1].value.items[0].set_source(IncludeSource{"!secret", "pw", std::nullopt});
  root.pairs[0].value.edit_comments().modified = true;
  EXPECT_EQ(render({root}), "a: !include a.yaml\nb: [!secret pw]\n");
  YamlNode included = compose_one("k: v\n");
  included.set_source(IncludeSource{"!include", "k.yaml", 1});
  EXPECT_EQ(emit_root(included, NullStyle::Default), "!include k.yaml\n");
  EXPECT_EQ(emit_included_root(included), "k: v\n");
}

TEST(Emitter, SubtreeAsAStandaloneDocument) {
  YamlNode root = compose_one("outer:\n  # above\n  inner: 1\n  # below\n");
  const YamlNode& outer = root.pairs[0].value;
  EXPECT_EQ(emit_root(outer, NullStyle::Default), "# above\ninner: 1\n# below\n");
}

TEST(Emitter, Yaml12Header) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"%YAML 1.1\n---\na: 1\n", "%YAML 1.2\n---\na: 1\n"},
      {"a: 1\n", "%YAML 1.2\n---\na: 1\n"},
      {"%TAG ! tag:x,2000:\n%YAML 1.1\n---\na\n", "%YAML 1.2\n%TAG ! tag:x,2000:\n---\na\n"},
      {"%YAML 1.1\n---\ta\n", "%YAML 1.2\n---\ta\n"},
      {"\xEF\xBB\xBF%YAML 1.1\n---\na\n", "\xEF\xBB\xBF%YAML 1.2\n---\na\n"},
      // Comment and blank lines above the directive are passed over.
      {"# c\n\n%YAML 1.1\n---\na\n", "%YAML 1.2\n# c\n\n---\na\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(apply_yaml12_header(c.in), c.out) << c.in;
  RoundTripDocument doc;
  doc.source = "%YAML 1.1\n---\na: yes\n";
  doc.docs = compose_ok(*doc.source);
  doc.declare_yaml_1_2 = true;
  EXPECT_EQ(render_document(doc), "%YAML 1.2\n---\na: yes\n");
}

TEST(Emitter, WidthWrapsAndRequotes) {
  YamlNode root = compose_one("k: one two three four five six\n'quoted key with spaces': v\n");
  test::mark_all_modified(root);
  RoundTripEmitter e;
  e.width = 20;
  emit_document(e, root);
  close_output(e);
  EXPECT_EQ(e.out, "k: \"one two three\n   four five six\"\n'quoted key with spaces': v\n");
  RoundTripEmitter s;
  s.single_quotes = true;
  s.width = 10;
  YamlNode apostrophe = compose_one("- it's a long text\n- a long plain text\n");
  test::mark_all_modified(apostrophe);
  emit_document(s, apostrophe);
  EXPECT_EQ(s.out, "- \"it's a\n  long\n  text\"\n- 'a long\n  plain\n  text'\n");
}

}  // namespace
}  // namespace qf

namespace qf {
namespace {

// A stream split into documents that are kept apart: each owns its slice of
// the text, comments after a document's content stay with it, and an edited
// document re-emits with its "..." so the joined texts still form the stream.
TEST(Emitter, SplitDocumentsKeepTheirCommentsAndMarkers) {
  std::string text = "a: 1  # one\n# after a\n...\n%YAML 1.2\n---\nb: 2\n# after b\n---\n---\nc\n";
  ComposeOptions o;
  o.keep_empty = true;
  o.per_document_comments = true;
  ComposeResult r = compose_text(text, o);
  ASSERT_TRUE(r.ok());
  ASSERT_EQ(r.roots.size(), 4u);
  EXPECT_EQ(r.roots[0].comments().foot, std::vector<std::string>{"after a"});
  EXPECT_TRUE(r.roots[0].explicit_end);
  EXPECT_EQ(r.roots[1].comments().foot, std::vector<std::string>{"after b"});
  EXPECT_TRUE(r.roots[2].is_null());
  std::vector<std::string> texts;
  for (size_t i = 0; i < r.roots.size(); ++i) {
    uint64_t b = r.document_starts[i], e = i + 1 < r.roots.size() ? r.document_starts[i + 1] : text.size();
    RoundTripDocument doc;
    doc.source = text.substr(b, e - b);
    doc.docs.push_back(r.roots[i]);
    test::mark_all_modified(doc.docs[0]);
    texts.push_back(render_document(doc));
  }
  EXPECT_EQ(texts[0], "a: 1  # one\n# after a\n...\n");
  EXPECT_EQ(texts[1], "%YAML 1.2\n---\nb: 2\n# after b\n");
  EXPECT_EQ(texts[2], "---\n");
  EXPECT_EQ(texts[3], "---\nc\n");
  std::string joined = texts[0] + texts[1] + texts[2] + texts[3];
  ComposeResult again = compose_documents_keep_empty(joined);
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(again.roots.size(), 4u);
  EXPECT_EQ(test::comment_texts(joined), test::comment_texts(text));
}

}  // namespace
}  // namespace qf
