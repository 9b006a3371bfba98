// The post-parse pass: YAML 1.1 warnings, the upgrade to YAML 1.2 and
// duplicate keys on source trees.
#include <gtest/gtest.h>

#include "helpers.hpp"
#include "roundtrip/postparse.hpp"

namespace qf {
namespace {

using test::compose_ok;
using test::compose_one;

TEST(PostParse, Yaml11WarningsInDocumentOrder) {
  std::vector<YamlNode> roots = compose_ok("a: yes\nyes: b\n");
  std::vector<std::string> w = collect_yaml11_warnings_all(roots, ResolverMode::Yaml11);
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[0], "YAML 1.1 syntax 'yes' resolves as bool in 1.1 but str in 1.2 at line 1, column 4");
  EXPECT_EQ(w[1], "YAML 1.1 syntax 'yes' resolves as bool in 1.1 but str in 1.2 at line 2, column 1");
  EXPECT_TRUE(collect_yaml11_warnings_all(roots, ResolverMode::Yaml12).empty());
}

TEST(PostParse, UpgradeRewritesWhatChangesMeaning) {
  struct Case {
    const char* in;
    const char* text;
    ScalarStyle style;
    bool modified;
  } cases[] = {
      {"yes", "true", ScalarStyle::Plain, true},
      {"off", "false", ScalarStyle::Plain, true},
      {"010", "8", ScalarStyle::Plain, true},
      {"1_000", "1000", ScalarStyle::Plain, true},
      {"0b101", "5", ScalarStyle::Plain, true},
      {"12:30", "750", ScalarStyle::Plain, true},
      {"~", "~", ScalarStyle::Plain, false},
      {"null", "null", ScalarStyle::Plain, false},
      {"'yes'", "yes", ScalarStyle::SingleQuoted, false},
      {"!!str yes", "yes", ScalarStyle::Plain, false},
      {"plain", "plain", ScalarStyle::Plain, false},
      // A string under 1.1 that 1.2 reads as a number is quoted, never
      // rewritten.
      {"0o17", "0o17", ScalarStyle::DoubleQuoted, true},
  };
  for (const Case& c : cases) {
    std::vector<YamlNode> roots = compose_ok(std::string("k: ") + c.in + "\n");
    PostParseOutcome out = apply_post_parse_policies(roots, ResolverMode::Yaml11, true, false, false, false);
    const YamlNode& v = roots[0].pairs[0].value;
    EXPECT_EQ(v.text, c.text) << c.in;
    EXPECT_EQ(v.scalar_style, c.style) << c.in;
    EXPECT_EQ(v.comments().modified, c.modified) << c.in;
    EXPECT_FALSE(roots[0].pairs[0].key.comments().modified);
  }
}

TEST(PostParse, UpgradedDocumentRendersAsYaml12) {
  RoundTripDocument doc;
  doc.source = "%YAML 1.1\n---\n# keep\nflag: yes   # on\nmode: 0o17\n";
  doc.docs = compose_ok(*doc.source);
  apply_post_parse_policies(doc.docs, ResolverMode::Yaml11, true, false, false, false);
  doc.declare_yaml_1_2 = true;
  EXPECT_EQ(render_document(doc), "%YAML 1.2\n---\n# keep\nflag: true   # on\nmode: \"0o17\"\n");
}

TEST(PostParse, DuplicateKeys) {
  struct Case {
    const char* text;
    size_t warnings;
  } cases[] = {
      {"1: a\n1.0: b\n", 1},  {"x: a\n'x': b\n", 1},   {"a: &a k\n*a : 1\n*a : 2\n", 1},
      // An alias key is the key it names.
      {"&a k: 1\n*a : 2\n", 1}, {"a: &a k\nk: 1\n*a : 2\n", 1}, {"a: &a [k]\n[k]: 1\n*a : 2\n", 1},
      {"a: &a k\nb: &a j\nk: 1\n*a : 2\n", 0}, {"!t x: 1\nx: 2\n", 1},  {"<<: {a: 1}\n<<: {b: 2}\n'<<': 3\n", 0},
      {"!!int 1: a\n1: b\n", 1}, {"a: 1\na: 2\na: 3\n", 2},
      // Distinct keys never collide, whatever their texts hold.
      {"[\"a,s:1:b\"]: 1\n[a, b]: 2\n", 0},
  };
  for (const Case& c : cases) {
    std::vector<YamlNode> roots = compose_ok(c.text);
    std::vector<std::string> w = collect_duplicate_key_warnings(roots, ResolverMode::Yaml12);
    EXPECT_EQ(w.size(), c.warnings) << c.text;
  }
  std::vector<YamlNode> roots = compose_ok("a: 1\nb:\n  c: 1\n  c: 2\n");
  std::vector<std::string> w = collect_duplicate_key_warnings(roots, ResolverMode::Yaml12);
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0], "duplicate mapping key 'c' at line 4, column 3; keeping the last value");
}

TEST(PostParse, DuplicateErrorNamesTheFirstDocument) {
  std::vector<YamlNode> roots = compose_ok("a: 1\nb: 1\nb: 2\n---\nc: 1\nc: 2\n");
  PostParseOutcome out = apply_post_parse_policies(roots, ResolverMode::Yaml12, false, true, true, false);
  ASSERT_TRUE(out.duplicate.has_value());
  EXPECT_EQ(out.duplicate->message, "duplicate mapping key: b");
  EXPECT_EQ(out.duplicate->span.line, 2u);
  EXPECT_TRUE(out.warnings.empty());
  std::vector<YamlNode> seq = compose_ok("[a]: 1\n[a]: 2\n");
  EXPECT_EQ(find_duplicate_key(seq[0], ResolverMode::Yaml12)->message,
            "duplicate mapping key: Sequence([Scalar(\"a\")])");
}

TEST(PostParse, WarningsComeBeforeDuplicateWarnings) {
  std::vector<YamlNode> roots = compose_ok("on: 1\non: 2\n");
  PostParseOutcome out = apply_post_parse_policies(roots, ResolverMode::Yaml11, false, false, true, true);
  ASSERT_EQ(out.warnings.size(), 3u);
  EXPECT_NE(out.warnings[0].find("YAML 1.1 syntax 'on'"), std::string::npos);
  EXPECT_NE(out.warnings[2].find("duplicate mapping key 'on'"), std::string::npos);
}

}  // namespace
}  // namespace qf
