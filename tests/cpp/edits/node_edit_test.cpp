// Tree logic behind the node handles: comment slots, anchor names, renames
// that carry their aliases, the make_alias decision, anchors an edit would
// take from an alias, detach copies, directive provenance.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "roundtrip/anchors.hpp"
#include "roundtrip/comment_slot.hpp"
#include "roundtrip/composer.hpp"
#include "roundtrip/document.hpp"
#include "roundtrip/edit.hpp"
#include "roundtrip/emit.hpp"
#include "roundtrip/node_edits.hpp"
#include "roundtrip/source_tag.hpp"

namespace qf {
namespace {

YamlNode compose(std::string_view text) {
  ComposeResult r = compose_documents(text);
  EXPECT_TRUE(r.ok()) << (r.error ? r.error->message : "") << "\n" << text;
  return r.roots.empty() ? YamlNode() : std::move(r.roots.front());
}

std::string render(YamlNode root) {
  RoundTripDocument d;
  d.docs.push_back(std::move(root));
  return render_document(d);
}

PathSegment K(std::string k) { return PathSegment::key_step(std::move(k)); }
PathSegment I(uint64_t i) { return PathSegment::index_step(i); }

YamlNode& at(YamlNode& root, const NodePath& path) {
  YamlNode* n = &root;
  for (const PathSegment& s : path) {
    n = child_by_segment(*n, s);
    EXPECT_NE(n, nullptr);
    if (!n) return root;
  }
  return *n;
}

const YamlNode* no_alias(const YamlNode&) { return nullptr; }

std::optional<std::string> comment_before(YamlNode& root, const NodePath& path) {
  auto slot = head_comment_slot(root, path, no_alias);
  if (!slot) return "<stale>";
  return head_comment_text(slot->node->comments().head, slot->part);
}

TEST(CommentSlot, ItemsKeysAndTheFirstKeyOfAMapping) {
  YamlNode root = compose(
      "# root\n"
      "a: 1\n"
      "# above b\n"
      "b: 2\n"
      "list:\n"
      "  # above dash\n"
      "  - # on dash\n"
      "    # below dash\n"
      "    k: v\n"
      "  # plain item\n"
      "  - x\n"
      "outer:\n"
      "  # first of both\n"
      "  - - deep\n");
  using P = NodePath;
  EXPECT_EQ(comment_before(root, P{}), "root");
  EXPECT_EQ(comment_before(root, P{K("a")}), "root");  // the first key: the mapping's lines
  EXPECT_EQ(comment_before(root, P{K("b")}), "above b");
  EXPECT_EQ(comment_before(root, P{PathSegment::key_node_step("b")}), "above b");
  EXPECT_EQ(comment_before(root, P{K("list"), I(0)}), "above dash");
  EXPECT_EQ(comment_before(root, P{K("list"), I(0), K("k")}), "below dash");
  EXPECT_EQ(comment_before(root, P{K("list"), I(1)}), "plain item");
  EXPECT_EQ(comment_before(root, P{K("list"), I(2)}), "<stale>");
  EXPECT_EQ(comment_before(root, P{K("nope")}), "<stale>");
  // Lines above the first item of the first item: kept by the outer sequence.
  EXPECT_EQ(comment_before(root, P{K("outer"), I(0), I(0)}), "first of both");
  EXPECT_EQ(comment_before(root, P{K("outer"), I(0)}), "first of both");
  EXPECT_EQ(comment_before(root, P{K("outer")}), std::nullopt);
}

TEST(CommentSlot, WritingOnePartKeepsTheOther) {
  const std::string text =
      "list:\n"
      "  # above dash\n"
      "  - # on dash\n"
      "    # below dash\n"
      "    k: v\n";
  struct Case {
    NodePath path;
    std::vector<std::string> lines;
    std::string expected;
  };
  const Case cases[] = {
      {{K("list"), I(0)}, {"new 1", "new 2"},
       "list:\n  # new 1\n  # new 2\n  - # on dash\n    # below dash\n    k: v\n"},
      {{K("list"), I(0), K("k")}, {"new"}, "list:\n  # above dash\n  - # on dash\n    # new\n    k: v\n"},
      {{K("list"), I(0)}, {}, "list:\n  - # on dash\n    # below dash\n    k: v\n"},
      {{K("list"), I(0), K("k")}, {}, "list:\n  # above dash\n  - # on dash\n    k: v\n"},
  };
  for (const Case& c : cases) {
    YamlNode root = compose(text);
    auto slot = head_comment_slot(root, c.path, no_alias);
    ASSERT_TRUE(slot);
    write_head_comment_part(*slot, c.lines);
    EXPECT_TRUE(slot->node->comments().modified);
    EXPECT_EQ(render(std::move(root)), c.expected);
  }
}

TEST(AnchorNames, FirstRefusedCharacterPicksTheMessage) {
  struct Case {
    std::string name;
    std::optional<std::string> error;
  };
  const std::string ws = "whitespace, line breaks, or flow indicators";
  const Case cases[] = {
      {"ok-name_1.x", std::nullopt},
      {"caf\xC3\xA9", std::nullopt},
      {"", "anchor name cannot be empty"},
      {"a b", "invalid anchor name \"a b\": cannot contain " + ws + " (found ' ')"},
      {"a\tb", "invalid anchor name \"a\\tb\": cannot contain " + ws + " (found '\\t')"},
      {std::string("a\0b", 3), "invalid anchor name \"a\\0b\": cannot contain " + ws + " (found '\\0')"},
      {"q\"{", "invalid anchor name \"q\\\"{\": cannot contain " + ws + " (found '{')"},
      {"a\x01,", "invalid anchor name \"a\\u{1},\": cannot contain control characters (found '\\u{1}')"},
      {"d\x7F", "invalid anchor name \"d\\u{7f}\": cannot contain control characters (found '\\u{7f}')"},
      {"c\xC2\x9B", "invalid anchor name \"c\\u{9b}\": cannot contain control characters (found '\\u{9b}')"},
      {"n\xEF\xBF\xBF", "invalid anchor name \"n\\u{ffff}\": cannot contain control characters (found '\\u{ffff}')"},
      {"x,\x01", "invalid anchor name \"x,\\u{1}\": cannot contain " + ws + " (found ',')"},
  };
  for (const Case& c : cases) EXPECT_EQ(anchor_name_error(c.name), c.error) << c.name;
}

TEST(AnchorRename, CarriesTheAliasesThatReferToTheNode) {
  // The first x is redefined: only the aliases of the renamed definition move.
  YamlNode root = compose("a: &x 1\nb: *x\n*x : key\nc: &x 2\nd: *x\n");
  AnchorResolver resolver;
  resolver.add_document(root);
  rename_anchor(root, at(root, {K("a")}), "y", resolver);
  EXPECT_EQ(render(std::move(root)), "a: &y 1\nb: *y\n*y : key\nc: &x 2\nd: *x\n");
}

TEST(MakeAlias, DecidesOnNodesInDocumentOrder) {
  struct Case {
    std::string text;
    NodePath path;
    MakeAliasOutcome outcome;
  };
  const Case cases[] = {
      {"- &a 1\n- 2\n", {I(1)}, MakeAliasOutcome::Ok},
      {"- 1\n- &a 2\n", {I(0)}, MakeAliasOutcome::Order},
      {"- &a [1, 2]\n", {I(0)}, MakeAliasOutcome::Cycle},
      {"- &a [1, 2]\n", {I(0), I(1)}, MakeAliasOutcome::Cycle},
      {"- 1\n", {I(0)}, MakeAliasOutcome::NoAnchor},
      // The key of the node's own entry is complete before its value.
      {"&a k: v\n", {K("k")}, MakeAliasOutcome::Ok},
      // An earlier complete definition wins over one around the node.
      {"- &a 0\n- &a [1, 2]\n", {I(1), I(0)}, MakeAliasOutcome::Ok},
      // Duplicate keys: the path's last entry comes after the definition.
      {"k: 1\nd: &a 2\nk: 3\n", {K("k")}, MakeAliasOutcome::Ok},
      // A definition under a collection key still precedes.
      {"? [&a 1]\n: x\nk: 2\n", {K("k")}, MakeAliasOutcome::Ok},
  };
  for (const Case& c : cases) {
    YamlNode root = compose(c.text);
    EXPECT_EQ(make_alias_outcome(root, at(root, c.path), "a"), c.outcome) << c.text;
  }
}

TEST(MakeAlias, NodeBecomesAnAliasKeepingItsComments) {
  YamlNode root = compose("a: &x 1\n# above\nb: !t [1, 2] # note\n");
  YamlNode& b = at(root, {K("b")});
  make_alias_in_place(b, "x");
  EXPECT_TRUE(b.is_alias());
  EXPECT_FALSE(b.tag());
  EXPECT_TRUE(b.items.empty());
  EXPECT_EQ(render(std::move(root)), "a: &x 1\n# above\nb: *x # note\n");
}

TEST(AnchorRemoval, NamesTheAnchorAnOutsideAliasRefersTo) {
  struct Case {
    std::string text;
    NodePath path;
    AnchorsRemoved removed;
    std::optional<std::string> name;
  };
  const Case cases[] = {
      {"a: &x {b: &y 1}\nc: *y\n", {K("a")}, AnchorsRemoved::Below, "y"},
      {"a: &x {b: &y 1}\nc: *x\n", {K("a")}, AnchorsRemoved::Below, std::nullopt},
      {"a: &x {b: &y 1}\nc: *x\n", {K("a")}, AnchorsRemoved::Root, "x"},
      {"a: &x {b: &y 1}\nc: *x\n", {K("a")}, AnchorsRemoved::All, "x"},
      // Aliases inside the subtree go with it.
      {"a: {b: &y 1, c: *y}\n", {K("a")}, AnchorsRemoved::All, std::nullopt},
      // An alias that refers to a later redefinition is not affected.
      {"a: &x 1\nb: &x 2\nc: *x\n", {K("a")}, AnchorsRemoved::All, std::nullopt},
      {"a: &x 1\nb: &x 2\nc: *x\n", {K("b")}, AnchorsRemoved::All, "x"},
  };
  for (const Case& c : cases) {
    YamlNode root = compose(c.text);
    AnchorResolver resolver;
    resolver.add_document(root);
    EXPECT_EQ(anchor_referenced_from_outside(root, at(root, c.path), resolver, c.removed), c.name) << c.text;
  }
}

TEST(Detach, CopiesTheDefinitionWithinTheNestingLimit) {
  YamlNode root = compose("y: &y 2\na: &x\n  k: [1, *y]\nb: *x\n");
  AnchorResolver resolver;
  resolver.add_document(root);
  DetachCopy ok = detach_copy(at(root, {K("b")}), resolver, 1);
  ASSERT_EQ(ok.status, DetachCopy::Status::Ok);
  EXPECT_FALSE(ok.node.anchor());
  EXPECT_EQ(ok.node.pairs.at(0).value.items.at(1).text, "2");  // the inner alias expanded too
  EXPECT_EQ(subtree_height(ok.node), 2u);
  EXPECT_EQ(detach_copy(at(root, {K("b")}), resolver, 997).status, DetachCopy::Status::Ok);
  EXPECT_EQ(detach_copy(at(root, {K("b")}), resolver, 998).status, DetachCopy::Status::TooDeep);
  YamlNode alias = YamlNode::alias("nope");
  EXPECT_EQ(detach_copy(alias, AnchorResolver(), 0).status, DetachCopy::Status::NoDefinition);
}

TEST(ReplaceWhole, RootKeepsWhatBelongsToTheDocument) {
  YamlNode root = compose("%YAML 1.2\n---\na: 1\n...\n");
  replace_whole_node(root, root, YamlNode::scalar("x"));
  EXPECT_EQ(render(std::move(root)), "%YAML 1.2\n---\nx\n...\n");
}

TEST(SourceTag, DirectiveWinsOverTagAndStandardTagsGiveNothing) {
  YamlNode n = YamlNode::scalar("v");
  EXPECT_EQ(effective_source_tag(n), std::nullopt);
  n.set_tag("!!str");
  EXPECT_EQ(effective_source_tag(n), std::nullopt);
  n.set_tag("tag:yaml.org,2002:str");
  EXPECT_EQ(effective_source_tag(n), std::nullopt);
  n.set_tag("!secret");
  EXPECT_EQ(effective_source_tag(n), "!secret");
  n.set_source(IncludeSource{"!include_dir_named", "conf.d", 2});
  EXPECT_EQ(effective_source_tag(n), "!include_dir_named");
  for (std::string_view t : {"!include", "!include_dir_list", "!include_dir_named", "!include_dir_merge_list",
                             "!include_dir_merge_named"})
    EXPECT_TRUE(is_include_tag(t)) << t;
  for (std::string_view t : {"!Include", "!include ", "!secret", "!"}) EXPECT_FALSE(is_include_tag(t)) << t;
  EXPECT_FALSE(is_include_tag(std::nullopt));
}

}  // namespace
}  // namespace qf
