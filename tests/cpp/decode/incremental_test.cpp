// The loader scans tokens as it decodes them and drops the ones it is done
// with. These tests pin what that must not change: a scan error anywhere in
// the text wins over an earlier decode error, and long texts (many dropped
// token batches, keys pending across a batch) decode as whole-text scans do.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "decode/loader.hpp"
#include "render.hpp"
#include "scanner/scanner.hpp"

namespace {

using qf::DecodedStream;
using qf::DecodeSettings;
using qf_test::render;

std::string filler(int lines) {
  std::string s;
  for (int i = 0; i < lines; ++i) s += "k" + std::to_string(i) + ": [v, " + std::to_string(i) + "]\n";
  return s;
}

size_t key_len(int i) { return 1 + std::to_string(i).size(); }

std::string all_docs(const DecodedStream& out) {
  std::string r;
  for (const qf::Value& d : out.documents) r += render(d) + " | ";
  return r;
}

TEST(IncrementalScan, ScanErrorAnywhereWinsOverEarlierDecodeError) {
  DecodeSettings dup;
  dup.dup_error = true;
  const std::string tail_error = "bad: \"unterminated\n";
  struct Case {
    std::string yaml;
    DecodeSettings settings;
  };
  const std::vector<Case> cases = {
      {"a: *nope\n" + tail_error, {}},
      {"a: *nope\n" + filler(3000) + tail_error, {}},
      {"a: 1\na: 2\n" + filler(3000) + "x: [1, 2\n", dup},
      {"!e!x a\n" + filler(2000) + "---\n" + filler(10) + "\tb: c\n", {}},
      {"- a\n- b\n  c: d\n" + filler(500) + "z: \"\\q\"\n", {}},
  };
  for (const Case& c : cases) {
    qf::Scanner scanner(c.yaml);
    const qf::TokenizeResult scanned = qf::tokenize(scanner);
    ASSERT_FALSE(scanned.ok()) << c.yaml.substr(0, 40);
    const DecodedStream out = qf::decode_documents(c.yaml, c.settings);
    ASSERT_FALSE(out.ok());
    EXPECT_EQ(out.error->message, scanned.error->message);
    EXPECT_EQ(out.error->span, scanned.error->span);
    EXPECT_EQ(out.error->kind, qf::LoadErrorKind::Parse);
    EXPECT_TRUE(out.documents.empty());
    EXPECT_TRUE(out.warnings.empty());
  }
}

TEST(IncrementalScan, DecodeErrorsKeepTheirPositionDeepInALongText) {
  const std::string text = filler(5000) + "late: *nope\n" + filler(10);
  const DecodedStream out = qf::decode_documents(text, {});
  ASSERT_FALSE(out.ok());
  EXPECT_EQ(out.error->message, "unknown alias: *nope");
  EXPECT_EQ(out.error->span.line, 5000u);
  EXPECT_EQ(out.error->span.column, 6u);
}

TEST(IncrementalScan, LongTextsDecodeLikeShortOnes) {
  // A long single-line flow mapping used as an implicit key keeps its tokens
  // pending until its ":" (the Key goes in front of all of them); anchors
  // named early are used late; folded scalars live in the scanner's arena.
  std::string flow_key = "{";
  std::string flow_key_rendered = "{";
  for (int i = 0; i < 400; ++i) {
    if (i) {
      flow_key += ", ";
      flow_key_rendered += ", ";
    }
    flow_key += "f" + std::to_string(i) + ": " + std::to_string(i);
    flow_key_rendered += "\"f" + std::to_string(i) + "\": " + std::to_string(i);
  }
  flow_key += "}";
  flow_key_rendered += "}";

  std::string text = "first: &A\n  folded\n  text\n";
  std::string expected = "{\"first\": \"folded text\"";
  for (int i = 0; i < 3000; ++i) {
    text += "k" + std::to_string(i) + ": [v, " + std::to_string(i) + "]\n";
    expected += ", \"k" + std::to_string(i) + "\": [\"v\", " + std::to_string(i) + "]";
  }
  text += "nested:\n  " + flow_key + ": value\n  again: *A\n";
  expected += ", \"nested\": {" + flow_key_rendered + ": \"value\", \"again\": \"folded text\"}}";
  text += "---\n- " + flow_key + "\n- last\n";
  expected += " | [" + flow_key_rendered + ", \"last\"] | ";

  const DecodedStream out = qf::decode_documents(text, {});
  ASSERT_TRUE(out.ok()) << out.error->message;
  EXPECT_EQ(all_docs(out), expected);
}

// A pair or entry of bare scalars is read straight from the scanned tokens
// when all of them are at hand, token by token when it straddles the end of
// a scan batch. At every length across several batches the trees, the
// duplicate-key error and the warnings must not tell the two apart.
TEST(IncrementalScan, BareScalarPairsAndEntriesAtEveryBatchEdge) {
  struct Shape {
    const char* yaml;  // after "k<i>:" or "-"
    const char* rendered;
  };
  // Bare scalars of every kind, mixed with nodes that are not bare scalars.
  const std::vector<Shape> shapes = {
      {" 7", "7"},           {" true", "true"},       {" ~", "null"},
      {" 'q'", "\"q\""},    {" two words", "\"two words\""}, {" 1.5", "1.5f"},
      {"", "null"},          {" [x]", "[\"x\"]"},     {" !!str 9", "\"9\""},
      {" &a v", "\"v\""},    {"\n  in: 1", "{\"in\": 1}"},
  };
  DecodeSettings dup;
  dup.dup_error = true;
  DecodeSettings warn;
  warn.mode = qf::ResolverMode::Yaml11;
  warn.yaml11_warn = true;
  for (int n = 1; n <= 300; ++n) {
    std::string map, map_expected = "{", seq, seq_expected = "[", yes_map;
    for (int i = 0; i < n; ++i) {
      const Shape& sh = shapes[size_t(i * 7 + n) % shapes.size()];
      const std::string key = "k" + std::to_string(i);
      map += key + ":" + sh.yaml + "\n";
      seq += std::string("-") + (sh.yaml[0] == '\n' ? " in: 1" : sh.yaml) + "\n";
      if (i) {
        map_expected += ", ";
        seq_expected += ", ";
      }
      map_expected += "\"" + key + "\": " + sh.rendered;
      seq_expected += sh.yaml[0] == '\n' ? "{\"in\": 1}" : sh.rendered;
      yes_map += key + ": yes\n";
    }
    map_expected += "}";
    seq_expected += "]";
    DecodedStream out = qf::decode_documents(map, {});
    ASSERT_TRUE(out.ok()) << n << ": " << out.error->message;
    EXPECT_EQ(all_docs(out), map_expected + " | ") << n;
    out = qf::decode_documents(seq, {});
    ASSERT_TRUE(out.ok()) << n << ": " << out.error->message;
    EXPECT_EQ(all_docs(out), seq_expected + " | ") << n;

    // The first key again, as the last pair: caught at its own line.
    out = qf::decode_documents(map + "k0: again\n", dup);
    ASSERT_FALSE(out.ok()) << n;
    EXPECT_EQ(out.error->message, "duplicate mapping key: k0") << n;
    EXPECT_EQ(out.error->span.line, uint32_t(std::count(map.begin(), map.end(), '\n'))) << n;
    EXPECT_EQ(out.error->span.column, 0u) << n;

    out = qf::decode_documents(yes_map, warn);
    ASSERT_TRUE(out.ok()) << n;
    ASSERT_EQ(out.warnings.size(), size_t(n)) << n;
    EXPECT_EQ(out.warnings.back(), "YAML 1.1 syntax 'yes' resolves as bool in 1.1 but str in 1.2 at line " +
                                       std::to_string(n) + ", column " + std::to_string(key_len(n - 1) + 3))
        << n;
  }
}

}  // namespace
