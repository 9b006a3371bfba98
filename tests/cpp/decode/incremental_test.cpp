// The loader scans tokens as it decodes them and drops the ones it is done
// with. These tests pin what that must not change: a scan error anywhere in
// the text wins over an earlier decode error, and long texts (many dropped
// token batches, keys pending across a batch) decode as whole-text scans do.
#include <gtest/gtest.h>

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

}  // namespace
