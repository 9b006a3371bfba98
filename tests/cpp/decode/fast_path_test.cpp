// The loader's shortcuts for nested collections (a collection without
// properties decoded straight from its parent's loop, a block mapping that
// is a bare key's value decoded by the parent mapping's own loop) against
// the general node road: the same documents, warnings and errors, positions
// included, over the suite, the corpus, mutated texts and nestings around
// every depth where the general road checks the stack or fails.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "decode/loader.hpp"
#include "render.hpp"
#include "../test_files.hpp"

namespace {

using qf::DecodedStream;
using qf::DecodeSettings;

std::vector<std::string> shared_texts() {
  std::vector<std::string> texts = qf::test::shared_texts(false);
  for (std::string& t : qf::test::shared_texts(true)) texts.push_back(std::move(t));
  return texts;
}

// Edits that move nodes between nesting levels, end mappings early or put
// properties, aliases and errors where a nested mapping starts.
std::string mutate(std::string s, std::mt19937& rng) {
  static const std::string pieces[] = {"\n", "\n  ", "\n    ", "  ", ": ", ":\n  k: v\n", "- ", "? ",
                                       "&a ", "*a", "!t ", "!!map ", "{", "}", "[", "]", ", ", "---\n",
                                       "...\n", "# c\n", "\t", "\"", "<<: ", "k: &a\n  x: 1\n"};
  const int edits = 1 + static_cast<int>(rng() % 3);
  for (int e = 0; e < edits; ++e) {
    size_t pos = s.empty() ? 0 : rng() % (s.size() + 1);
    while (pos > 0 && pos < s.size() && (static_cast<unsigned char>(s[pos]) & 0xC0) == 0x80) --pos;
    if (rng() % 4 == 0) {
      size_t end = s.find('\n', pos);
      s.erase(pos, (end == std::string::npos ? s.size() : end + 1) - pos);
    } else {
      s.insert(pos, pieces[rng() % std::size(pieces)]);
    }
  }
  return s;
}

void expect_same(const std::string& text, DecodeSettings s) {
  s.fast_paths = true;
  const DecodedStream fast = qf::decode_documents(text, s);
  s.fast_paths = false;
  const DecodedStream general = qf::decode_documents(text, s);
  ASSERT_EQ(fast.ok(), general.ok()) << text;
  if (!fast.ok()) {
    EXPECT_EQ(fast.error->message, general.error->message) << text;
    EXPECT_EQ(fast.error->span, general.error->span) << fast.error->message << "\n" << text;
    EXPECT_EQ(fast.error->kind, general.error->kind) << text;
    return;
  }
  EXPECT_EQ(fast.warnings, general.warnings) << text;
  ASSERT_EQ(fast.documents.size(), general.documents.size()) << text;
  for (size_t i = 0; i < fast.documents.size(); ++i)
    ASSERT_TRUE(qf::value_structurally_equal(fast.documents[i], general.documents[i]))
        << qf::value_debug_text(fast.documents[i]) << "\n"
        << qf::value_debug_text(general.documents[i]) << "\n"
        << text;
}

// The policies under which the shortcuts differ: none (both shortcuts), a
// key policy (nested mappings by recursion), the 1.1 rules with their
// warnings and timestamps.
std::vector<DecodeSettings> policies() {
  DecodeSettings plain;
  DecodeSettings dup_warn;
  dup_warn.dup_warn = true;
  DecodeSettings yaml11;
  yaml11.mode = qf::ResolverMode::Yaml11;
  yaml11.yaml11_warn = true;
  yaml11.timestamps = true;
  return {plain, dup_warn, yaml11};
}

TEST(NestedCollectionShortcuts, SuiteCorpusAndMutatedTextsDecodeAsTheGeneralRoad) {
  const std::vector<std::string> texts = shared_texts();
  ASSERT_FALSE(texts.empty());
  const std::vector<DecodeSettings> settings = policies();
  std::mt19937 rng(2024);
  for (const std::string& t : texts) {
    for (const DecodeSettings& s : settings) {
      expect_same(t, s);
      if (HasFatalFailure()) return;
    }
    for (int i = 0; i < 4; ++i) {
      expect_same(mutate(t.substr(0, 4000), rng), settings[static_cast<size_t>(i) % settings.size()]);
      if (HasFatalFailure()) return;
    }
  }
}

// `depth` lines "kN:", each indented one space more than the last, then the
// lines of `inner` at the next indentation, then `tail` from column 0.
std::string nested(int depth, const std::string& inner, const std::string& tail) {
  std::string s;
  for (int i = 0; i < depth; ++i)
    s += std::string(static_cast<size_t>(i), ' ') + "k" + std::to_string(i % 3) + ":\n";
  std::istringstream lines(inner);
  for (std::string line; std::getline(lines, line);) s += std::string(static_cast<size_t>(depth), ' ') + line + "\n";
  return s + tail;
}

TEST(NestedCollectionShortcuts, EveryDepthAndEndingDecodesAsTheGeneralRoad) {
  // What the innermost level holds and what follows it: a dedent to an outer
  // key, markers, a second document, properties and aliases on the way in,
  // errors and scan errors at the bottom.
  const std::vector<std::pair<std::string, std::string>> shapes = {
      {"a: 1", ""},
      {"a: 1\nb: [x, {y: z}]", "k9: after\n"},
      {"a: 1", "...\n"},
      {"a: 1", "---\nnext: doc\n"},
      {"a: &x\n b: 1", "k0: *x\n"},
      {"a: !!map\n b: 1", ""},
      {"a:\n- 1\n- b: 2", ""},
      {"? a\n: b", ""},
      {"a: 1\na: 2", ""},
      {"a: [unclosed", ""},
      {"a: *missing", ""},
      {"a: \"unterminated", ""},
      {"a: 1\n\tb: 2", ""},
      {"&a &b x: 1", ""},
  };
  const std::vector<DecodeSettings> settings = policies();
  DecodeSettings dup_error;
  dup_error.dup_error = true;
  for (int depth = 0; depth <= 40; ++depth) {
    for (const auto& [inner, tail] : shapes) {
      const std::string text = nested(depth, inner, tail);
      for (const DecodeSettings& s : settings) {
        expect_same(text, s);
        if (HasFatalFailure()) return;
      }
      expect_same(text, dup_error);
      if (HasFatalFailure()) return;
    }
  }
}

// Nested mappings side by side, far more of them than the nesting limit,
// and an anchored mapping holding nested ones, aliased (the anchor's node
// count is checked against its tree where assertions are on).
TEST(NestedCollectionShortcuts, SiblingsAndAliasedNestingsDecodeAsTheGeneralRoad) {
  std::string wide;
  for (int i = 0; i < 1200; ++i) wide += "k" + std::to_string(i) + ":\n  a:\n    b: " + std::to_string(i) + "\n  c: d\n";
  const std::string aliased =
      "top: &x\n  k0:\n    k1:\n      a: 1\n    k2: {f: [1]}\n  k3:\n    b: 2\nagain: *x\nmore: [*x, *x]\n";
  for (const DecodeSettings& s : policies()) {
    for (const std::string& text : {wide, aliased, "- " + aliased, std::string("- k:\n    a: 1\n  k2: *missing\n")}) {
      expect_same(text, s);
      if (HasFatalFailure()) return;
    }
  }
  const DecodedStream out = qf::decode_documents(wide, {});
  ASSERT_TRUE(out.ok()) << out.error->message;
  ASSERT_EQ(out.documents.size(), 1u);
  EXPECT_EQ(out.documents[0].pairs().size(), 1200u);
  EXPECT_EQ(qf_test::render(out.documents[0].pairs()[1199].value), R"({"a": {"b": 1199}, "c": "d"})");
}

// Around the nesting limit: the last depth that loads and the first that
// fails, with the same message and position on both roads.
TEST(NestedCollectionShortcuts, NestingLimitIsMetAtTheSameNode) {
  int first_failing = 0;
  for (int depth = 990; depth <= 1002; ++depth) {
    const std::string text = nested(depth, "a: 1", "");
    expect_same(text, {});
    if (HasFatalFailure()) return;
    const DecodedStream out = qf::decode_documents(text, {});
    if (!out.ok()) {
      EXPECT_EQ(out.error->message, "maximum nesting depth (1000) exceeded");
      if (!first_failing) first_failing = depth;
    }
  }
  // `depth` + 1 mappings, the root included, and the scalars one level
  // deeper than the innermost.
  EXPECT_EQ(first_failing, 999);
}

}  // namespace
