// Write-back plans on hand-built include trees: which files a save rewrites,
// their texts, and the refusals that come before anything is written.
#include <gtest/gtest.h>

#include <variant>

#include "helpers.hpp"
#include "roundtrip/write_back.hpp"

namespace qf {
namespace {

using test::compose_ok;

YamlNode& value_at(YamlNode& mapping, std::string_view key) {
  for (MappingEntry& e : mapping.pairs)
    if (e.key.is_scalar() && e.key.text == key) return e.value;
  ADD_FAILURE() << "no key " << key;
  static YamlNode none;
  return none;
}

// The root of an included file's first document, recorded as the `!include`
// that read it.
YamlNode included(std::string_view text, uint32_t id, std::string target) {
  ComposeResult r = compose_file_documents(text, id);
  EXPECT_TRUE(r.ok());
  YamlNode root = r.roots.empty() ? YamlNode::mapping() : std::move(r.roots.front());
  root.set_source(IncludeSource{"!include", std::move(target), id});
  return root;
}

YamlNode directive_value(std::string_view tag, std::string target, YamlNode content) {
  content.set_source(IncludeSource{std::string(tag), std::move(target), std::nullopt});
  return content;
}

// main.yaml includes a.yaml (which includes b.yaml) and holds a secret, an
// environment value and a directory listing.
struct Tree {
  static constexpr const char* kMain =
      "# main\nname: app   # kept\ninc: !include a.yaml\npw: !secret db\nhome: !env_var HOME\n"
      "all: !include_dir_list conf\nlist: [1, !secret db]\n";
  static constexpr const char* kA = "x: 1\nnested: !include b.yaml\n";
  static constexpr const char* kB = "- b1\n- b2\n";
  RoundTripDocument doc;
  Tree() {
    doc.docs = compose_ok(kMain);
    doc.source = kMain;
    doc.files = {"main.yaml", "a.yaml", "b.yaml", "conf/one.yaml"};
    doc.texts = {kMain, kA, kB, "k: v\n"};
    YamlNode& root = doc.docs[0];
    YamlNode a = included(kA, 1, "a.yaml");
    value_at(a, "nested") = included(kB, 2, "b.yaml");
    value_at(root, "inc") = std::move(a);
    YamlNode secret = YamlNode::mapping();
    secret.pairs.push_back({YamlNode::scalar("user"), YamlNode::scalar("hunter2")});
    value_at(root, "pw") = directive_value("!secret", "db", std::move(secret));
    value_at(root, "home") = directive_value("!env_var", "HOME", YamlNode::scalar("/root", ScalarStyle::SingleQuoted));
    YamlNode listing = YamlNode::sequence();
    listing.items.push_back(included("k: v\n", 3, ""));
    listing.items[0].set_source(std::nullopt);  // documents of a listing carry no record
    value_at(root, "all") = directive_value("!include_dir_list", "conf", std::move(listing));
    value_at(root, "list").items[1] = directive_value("!secret", "db", YamlNode::scalar("hunter2"));
  }
  YamlNode& root() { return doc.docs[0]; }
  YamlNode& a() { return value_at(root(), "inc"); }
  YamlNode& b() { return value_at(a(), "nested"); }
};

void set_text(YamlNode& node, std::string text) {
  node.text = std::move(text);
  node.scalar_style = ScalarStyle::Plain;
  node.edit_comments().modified = true;
}

std::vector<PlannedWrite> plan_ok(const WritePlan& p) {
  if (const auto* e = std::get_if<WriteBackError>(&p)) {
    ADD_FAILURE() << e->message;
    return {};
  }
  return std::get<std::vector<PlannedWrite>>(p);
}

std::vector<std::pair<std::string, std::string>> writes(const WritePlan& p) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const PlannedWrite& w : plan_ok(p)) out.emplace_back(w.path, std::string(w.bytes()));
  return out;
}

using Writes = std::vector<std::pair<std::string, std::string>>;

TEST(WriteBack, AnUnchangedDocumentWritesNothingOrItsLoadedText) {
  Tree t;
  EXPECT_TRUE(writes(plan_save(t.doc, std::nullopt)).empty());
  EXPECT_EQ(writes(plan_save(t.doc, "out.yaml")), (Writes{{"out.yaml", Tree::kMain}}));
  EXPECT_EQ(writes(plan_include_files(t.doc)),
            (Writes{{"a.yaml", Tree::kA}, {"b.yaml", Tree::kB}}));  // listed files are not written
}

TEST(WriteBack, EachFileIsRewrittenForItsOwnEditsOnly) {
  Tree t;
  set_text(value_at(t.a(), "x"), "2");
  // The change stops at b.yaml's record; the main text shows the directive.
  EXPECT_FALSE(main_text_changed(t.doc));
  EXPECT_EQ(render_document(t.doc), Tree::kMain);
  EXPECT_EQ(writes(plan_save(t.doc, std::nullopt)), (Writes{{"a.yaml", "x: 2\nnested: !include b.yaml\n"}}));

  Tree nested;
  set_text(nested.b().items[1], "changed");
  EXPECT_EQ(writes(plan_save(nested.doc, std::nullopt)), (Writes{{"b.yaml", "- b1\n- changed\n"}}));
  EXPECT_EQ(writes(plan_include_files(nested.doc)),
            (Writes{{"a.yaml", Tree::kA}, {"b.yaml", "- b1\n- changed\n"}}));

  // A root-level edit as well: the main text first, written with every
  // directive as written and no included, secret or environment content.
  set_text(value_at(nested.root(), "name"), "other");
  nested.doc.origin = "main.yaml";
  const std::string main_text =
      "# main\nname: other   # kept\ninc: !include a.yaml\npw: !secret db\nhome: !env_var HOME\n"
      "all: !include_dir_list conf\nlist: [1, !secret db]\n";
  EXPECT_EQ(writes(plan_save(nested.doc, std::nullopt)),
            (Writes{{"main.yaml", main_text}, {"b.yaml", "- b1\n- changed\n"}}));
  nested.doc.origin.reset();
  auto p = plan_save(nested.doc, std::nullopt);
  ASSERT_TRUE(std::holds_alternative<WriteBackError>(p));
  EXPECT_EQ(std::get<WriteBackError>(p).kind, WriteBackError::Kind::NeedsPath);
  EXPECT_EQ(std::get<WriteBackError>(p).message, "save() needs a path: this document was not loaded from a file");
}

TEST(WriteBack, AWholeDocumentIncludeLeavesTheMainTextAlone) {
  RoundTripDocument doc;
  doc.source = "!include a.yaml\n";
  doc.files = {"main.yaml", "a.yaml"};
  doc.texts = {std::string(*doc.source), "# a\nk: 1\n"};
  doc.docs.push_back(included("# a\nk: 1\n", 1, "a.yaml"));
  set_text(doc.docs[0].pairs[0].value, "2");
  EXPECT_FALSE(main_text_changed(doc));
  EXPECT_EQ(render_document(doc), "!include a.yaml\n");
  EXPECT_EQ(writes(plan_save(doc, std::nullopt)), (Writes{{"a.yaml", "# a\nk: 2\n"}}));
  // Deleting a whole document drops the kept text: a root-level change.
  doc.source.reset();
  EXPECT_TRUE(main_text_changed(doc));
}

TEST(WriteBack, EditsThatBelongToNoFileAreRefusedBeforeAnyWrite) {
  struct Case {
    const char* what;
    void (*edit)(Tree&);
    const char* directive;
  };
  const Case cases[] = {
      {"inside a secret", [](Tree& t) { set_text(value_at(value_at(t.root(), "pw"), "user"), "x"); }, "!secret db"},
      {"a secret node itself", [](Tree& t) { value_at(t.root(), "home").edit_comments().modified = true; },
       "!env_var HOME"},
      {"a secret in flow", [](Tree& t) { value_at(t.root(), "list").items[1].edit_comments().modified = true; },
       "!secret db"},
      {"a directory listing", [](Tree& t) { set_text(value_at(value_at(t.root(), "all").items[0], "k"), "w"); },
       "!include_dir_list conf"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Tree t;
    set_text(value_at(t.a(), "x"), "2");  // a writable edit too: still nothing is planned
    c.edit(t);
    for (const WritePlan& p : {plan_save(t.doc, "out.yaml"), plan_include_files(t.doc)}) {
      ASSERT_TRUE(std::holds_alternative<WriteBackError>(p));
      const WriteBackError& e = std::get<WriteBackError>(p);
      EXPECT_EQ(e.kind, WriteBackError::Kind::Unwritable);
      EXPECT_EQ(e.message, std::string("cannot write back an edit inside '") + c.directive +
                               "': only the main text and files read by !include are written");
      EXPECT_EQ(e.file, "main.yaml");
    }
  }
  // A secret inside an included file is reported with that file.
  Tree t;
  value_at(t.a(), "x") = directive_value("!secret", "s", YamlNode::scalar("v"));
  value_at(t.a(), "x").edit_comments().modified = true;
  auto p = plan_save(t.doc, std::nullopt);
  ASSERT_TRUE(std::holds_alternative<WriteBackError>(p));
  EXPECT_EQ(std::get<WriteBackError>(p).file, "a.yaml");
}

// main.yaml includes b.yaml, whose root is itself a directive: the node's
// record chains b.yaml's record to that directive's.
TEST(WriteBack, AChainOfDirectivesWritesEachFileItsOwnText) {
  auto make = [](IncludeSource inner, YamlNode content) {
    RoundTripDocument doc;
    doc.source = "c: !include b.yaml\n";
    doc.docs = compose_ok(*doc.source);
    doc.files = {"main.yaml", "b.yaml", "c.yaml"};
    doc.texts = {std::string(*doc.source), std::nullopt, "x: 1\n"};  // b.yaml rendered from its record
    IncludeSource outer{"!include", "b.yaml", 1};
    IncludedRootFields own;
    own.anchor = "an";
    own.comments.head.push_back(HeadComment{"b"});
    outer.included_root = std::move(own);
    outer.inner.push_back(std::move(inner));
    content.set_source(std::move(outer));
    value_at(doc.docs[0], "c") = std::move(content);
    return doc;
  };
  YamlNode c = included("x: 1\n", 2, "c.yaml");
  IncludeSource to_c = *c.source();
  c.set_source(std::nullopt);
  RoundTripDocument doc = make(to_c, std::move(c));
  set_text(value_at(value_at(doc.docs[0], "c"), "x"), "2");
  EXPECT_EQ(render_document(doc), *doc.source);
  EXPECT_EQ(writes(plan_save(doc, std::nullopt)), (Writes{{"c.yaml", "x: 2\n"}}));
  EXPECT_EQ(writes(plan_include_files(doc)), (Writes{{"b.yaml", "# b\n&an !include c.yaml\n"}, {"c.yaml", "x: 2\n"}}));

  for (const char* tag : {"!secret", "!env_var", "!include_dir_named"}) {
    SCOPED_TRACE(tag);
    RoundTripDocument held = make(IncludeSource{tag, "s", std::nullopt}, compose_ok("user: hunter2\n")[0]);
    EXPECT_EQ(writes(plan_include_files(held)), (Writes{{"b.yaml", std::string("# b\n&an ") + tag + " s\n"}}));
    set_text(value_at(value_at(held.docs[0], "c"), "user"), "x");
    for (const WritePlan& p : {plan_save(held, std::nullopt), plan_include_files(held)}) {
      ASSERT_TRUE(std::holds_alternative<WriteBackError>(p));
      const WriteBackError& e = std::get<WriteBackError>(p);
      EXPECT_EQ(e.kind, WriteBackError::Kind::Unwritable);
      EXPECT_EQ(e.message, std::string("cannot write back an edit inside '") + tag +
                               " s': only the main text and files read by !include are written");
      EXPECT_EQ(e.file, "b.yaml");
    }
  }
}

TEST(WriteBack, OneFileIncludedTwice) {
  auto make = [] {
    RoundTripDocument doc;
    doc.source = "p: !include c.yaml\nq: !include c.yaml\n";
    doc.docs = compose_ok(*doc.source);
    doc.files = {"main.yaml", "c.yaml", "c.yaml"};  // read (and registered) once per include
    doc.texts = {std::string(*doc.source), "v: 1\n", "v: 1\n"};
    value_at(doc.docs[0], "p") = included("v: 1\n", 1, "c.yaml");
    value_at(doc.docs[0], "q") = included("v: 1\n", 2, "c.yaml");
    return doc;
  };
  RoundTripDocument one = make();
  set_text(value_at(value_at(one.docs[0], "p"), "v"), "2");
  EXPECT_EQ(writes(plan_save(one, std::nullopt)), (Writes{{"c.yaml", "v: 2\n"}}));
  // The unchanged copy contributes its loaded text: two versions.
  auto p = plan_include_files(one);
  ASSERT_TRUE(std::holds_alternative<WriteBackError>(p));
  EXPECT_EQ(std::get<WriteBackError>(p).message,
            "'c.yaml' is included more than once with conflicting edits; write-back cannot store two different "
            "versions of one file");

  RoundTripDocument equal = make();
  set_text(value_at(value_at(equal.docs[0], "p"), "v"), "2");
  set_text(value_at(value_at(equal.docs[0], "q"), "v"), "2");
  EXPECT_EQ(writes(plan_save(equal, std::nullopt)), (Writes{{"c.yaml", "v: 2\n"}}));
  EXPECT_EQ(writes(plan_include_files(equal)), (Writes{{"c.yaml", "v: 2\n"}}));

  RoundTripDocument differ = make();
  set_text(value_at(value_at(differ.docs[0], "p"), "v"), "2");
  set_text(value_at(value_at(differ.docs[0], "q"), "v"), "3");
  p = plan_save(differ, std::nullopt);
  ASSERT_TRUE(std::holds_alternative<WriteBackError>(p));
  EXPECT_EQ(std::get<WriteBackError>(p).kind, WriteBackError::Kind::Conflict);
  EXPECT_EQ(std::get<WriteBackError>(p).file, "c.yaml");
}

TEST(WriteBack, AFileWithoutADocumentKeepsItsCommentsAboveTheNewContent) {
  RoundTripDocument doc;
  doc.source = "e: !include empty.yaml\n";
  doc.docs = compose_ok(*doc.source);
  doc.files = {"main.yaml", "empty.yaml"};
  doc.texts = {std::string(*doc.source), "# nothing yet"};
  YamlNode empty = YamlNode::mapping();  // stands in at the directive, in main.yaml
  empty.set_source(IncludeSource{"!include", "empty.yaml", 1});
  YamlNode key = YamlNode::scalar("k");
  key.synthetic = true;
  YamlNode v = YamlNode::scalar("v");
  v.synthetic = true;
  empty.pairs.push_back({std::move(key), std::move(v)});
  empty.edit_comments().modified = true;
  value_at(doc.docs[0], "e") = std::move(empty);
  EXPECT_EQ(writes(plan_save(doc, std::nullopt)), (Writes{{"empty.yaml", "# nothing yet\nk: v\n"}}));
}

TEST(WriteBack, LaterDocumentsOfAFileFollowItsNewFirstDocument) {
  const std::string loaded = "a: 1\n# between\n---\nb: 2\n...\n";
  const uint64_t second = loaded.find("# between");
  EXPECT_EQ(splice_first_document("a: 9\n", loaded, second, true), "a: 9\n# between\n---\nb: 2\n...\n");
  EXPECT_EQ(splice_first_document("a: |-\n  x", loaded, second, true), "a: |-\n  x\n# between\n---\nb: 2\n...\n");
  EXPECT_EQ(splice_first_document("a: 9\n", loaded, std::nullopt, true), "a: 9\n");
  // Blank lines that ended the first document stay, once.
  const std::string blanks = "a: 1\n\n \r\n---\nb: 2\n";
  const uint64_t marker = blanks.find("---");
  EXPECT_EQ(splice_first_document("a: 9\n", blanks, marker, true), "a: 9\n\n\n---\nb: 2\n");
  EXPECT_EQ(splice_first_document("a: 9\n\n", blanks, marker, true), "a: 9\n\n\n---\nb: 2\n");
  EXPECT_EQ(splice_first_document("a: 9", blanks, marker, true), "a: 9\n\n\n---\nb: 2\n");
  EXPECT_EQ(splice_first_document("a: 9\n", "", std::nullopt, false), "a: 9\n");
  EXPECT_EQ(splice_first_document("a: 9\n", "# c\n", std::nullopt, false), "# c\na: 9\n");
}

TEST(WriteBack, DocumentsLoadedWithoutIncludesHaveNoIncludedFiles) {
  RoundTripDocument doc;
  doc.source = "a: 1\n";
  doc.docs = compose_ok(*doc.source);
  auto p = plan_include_files(doc);
  ASSERT_TRUE(std::holds_alternative<WriteBackError>(p));
  EXPECT_EQ(std::get<WriteBackError>(p).kind, WriteBackError::Kind::NoIncludes);
  EXPECT_EQ(std::get<WriteBackError>(p).message, "document was not loaded with OPT_INCLUDES; nothing to write back");
}

// No writer puts the content of a directive on disk: block and flow, keys'
// values, sequence items and roots are written as their directives.
TEST(WriteBack, EveryWriterWritesDirectivesNotTheirContent) {
  Tree t;
  test::mark_all_modified(t.root());
  const std::string out = render_document(t.doc);
  EXPECT_EQ(out.find("hunter2"), std::string::npos) << out;
  EXPECT_EQ(out.find("/root"), std::string::npos) << out;
  EXPECT_EQ(out.find("x: 1"), std::string::npos) << out;
  EXPECT_NE(out.find("list: [1, !secret db]"), std::string::npos) << out;

  YamlNode seq = YamlNode::sequence();
  seq.items.push_back(directive_value("!secret", "s", compose_ok("user: hunter2\npass: x\n")[0]));
  seq.items.push_back(directive_value("!env_var", "V", YamlNode::scalar("hunter2")));
  seq.edit_comments().modified = true;
  EXPECT_EQ(emit_root(seq, NullStyle::Default), "- !secret s\n- !env_var V\n");
  seq.style = CollectionStyle::Flow;
  EXPECT_EQ(emit_root(seq, NullStyle::Default), "[!secret s, !env_var V]\n");
}

}  // namespace
}  // namespace qf
