// The token pump must hand out exactly what tokenize makes: the same tokens
// (kind, payload, span, end offset) in the same order, and the same error,
// however the reader walks them: keeping everything, dropping each token once
// read, and across the drops and scan-ahead batches of long texts, including
// keys that are confirmed after many tokens were queued behind them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "../test_files.hpp"
#include "scanner/scanner.hpp"
#include "token_dump.hpp"

namespace fs = std::filesystem;

namespace {

// The token with its span and end offset.
std::string describe(const qf::Token& t) {
  return qf::test::render_token(t) + " " + std::to_string(t.span.line) + ":" +
         std::to_string(t.span.column) + "@" + std::to_string(t.span.offset) + "-" +
         std::to_string(t.end_offset);
}

std::string error_text(const std::optional<qf::ScanError>& e) {
  return e ? e->message + " " + std::to_string(e->span.line) + ":" + std::to_string(e->span.column)
           : "";
}

std::vector<std::string> whole_scan(const std::string& text, std::string& error) {
  qf::Scanner s(text);
  qf::TokenizeResult r = qf::tokenize(s);
  std::vector<std::string> out;
  for (const qf::Token& t : r.tokens) out.push_back(describe(t));
  error = error_text(r.error);
  return out;
}

// Reads through a pump; `keep_all` keeps every token, otherwise only the last
// one read (re-reading it after the next one, as a reader peeking back does).
std::vector<std::string> pumped(const std::string& text, bool keep_all, std::string& error) {
  qf::Scanner s(text);
  qf::TokenPump pump(s);
  std::vector<std::string> out;
  for (uint64_t i = 0;; ++i) {
    const uint64_t keep = keep_all ? 0 : (i > 0 ? i - 1 : 0);
    const qf::Token* t = pump.get(i, keep);
    if (!t) break;
    out.push_back(describe(*t));
    if (i > 0) {
      EXPECT_EQ(describe(*pump.get(i - 1, keep)), out[i - 1]) << "token " << i - 1;
    }
  }
  const std::optional<qf::ScanError>& e = pump.finish();
  EXPECT_EQ(e.has_value(), pump.error().has_value());
  error = error_text(e);
  return out;
}

void expect_same(const std::string& text, const std::string& name) {
  std::string want_error;
  const std::vector<std::string> want = whole_scan(text, want_error);
  for (bool keep_all : {true, false}) {
    std::string error;
    const std::vector<std::string> got = pumped(text, keep_all, error);
    ASSERT_EQ(error, want_error) << name;
    if (!want_error.empty()) continue;  // a failed scan hands out a prefix only
    ASSERT_EQ(got.size(), want.size()) << name;
    for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], want[i]) << name << " token " << i;
  }
}

TEST(TokenPump, LongTextsMatchWholeScans) {
  std::string mapping, nested, flow_keys, comments;
  for (int i = 0; i < 3000; ++i) {
    const std::string n = std::to_string(i);
    mapping += "key" + n + ": value " + n + "\n";
    nested += "k" + n + ":\n  - a: 1\n    'b': \"q" + n + "\"\n  - [x, {y: z}]\n";
    flow_keys += "[a" + n + ", b]: {x: y}\n";
    comments += "# comment " + n + " \xC3\xA9\n  k" + n + ": v  # trailing\n";
  }
  // A key confirmed only after a long line of tokens was queued behind it.
  std::string long_key = "? a\n: b\n{";
  for (int i = 0; i < 2000; ++i) long_key += "k" + std::to_string(i) + ": v, ";
  long_key += "z: v}: tail\n";
  for (const auto& [name, text] : std::vector<std::pair<std::string, std::string>>{
           {"mapping", mapping},
           {"nested", "top:\n" + nested},
           {"flow keys", flow_keys},
           {"comments", comments},
           {"long key", long_key},
           {"late scan error", mapping + "bad: [\n"},
           {"late control character", mapping + "x: \"\x01\"\n"},
           {"comment at end of input", mapping + "# last \xC3\xA9 line"},
       })
    expect_same(text, name);
}

TEST(TokenPump, SuiteAndCorpusMatchWholeScans) {
  const fs::path shared = fs::path(QF_SOURCE_DIR "/../shared");
  std::vector<fs::path> files;
  for (const char* dir : {"yaml-test-suite", "corpus"}) {
    if (!fs::exists(shared / dir)) continue;
    for (const auto& e : fs::recursive_directory_iterator(shared / dir))
      if (e.is_regular_file() && (e.path().filename() == "in.yaml" || std::string(dir) == "corpus"))
        files.push_back(e.path());
  }
  if (files.empty()) GTEST_SKIP() << "no shared test data";
  std::sort(files.begin(), files.end());
  for (const fs::path& f : files) expect_same(qf::test::read_file(f), f.string());
}

// Once the last token is handed out (or the scan failed), every later ask
// is none, as often as a reader asks; the tokens handed out stay valid and
// the error stays what it was.
TEST(TokenPump, AsksPastTheEndAreNone) {
  std::string long_text;
  for (int i = 0; i < 700; ++i) long_text += "k" + std::to_string(i) + ": v\n";
  for (const std::string& text : {std::string(""), std::string("a: 1\n"), long_text,
                                  std::string("a: [1\n"), long_text + "b: \"\x01\"\n"}) {
    std::string want_error;
    const std::vector<std::string> want = whole_scan(text, want_error);
    qf::Scanner s(text);
    qf::TokenPump pump(s);
    uint64_t n = 0;
    while (pump.get(n, 0)) ++n;
    if (want_error.empty()) {
      EXPECT_EQ(n, want.size()) << text;
    }
    for (int round = 0; round < 3; ++round) {
      EXPECT_EQ(pump.get(n, 0), nullptr) << text;
      EXPECT_EQ(pump.get(n + 5, 0), nullptr) << text;
      EXPECT_EQ(error_text(pump.error()), want_error) << text;
      if (n > 0 && want_error.empty()) {
        ASSERT_NE(pump.get(n - 1, 0), nullptr) << text;
        EXPECT_EQ(describe(*pump.get(n - 1, 0)), want[n - 1]) << text;
      }
    }
    EXPECT_EQ(error_text(pump.finish()), want_error) << text;
    EXPECT_EQ(pump.get(n, 0), nullptr) << text;
  }
}

// The scan runs a small batch ahead of the reader: however long a run of
// lines the scanner takes in one go, a reader that drops what it read keeps
// the queue small.
TEST(TokenPump, QueueStaysSmallOverLongRuns) {
  std::string entries = "k: v\n", quoted = "k: v\n", plain = "k: v\n";
  for (int i = 0; i < 20000; ++i) {
    const std::string n = std::to_string(i);
    entries += "- 'item " + n + "'\n";
    quoted += "\"q" + n + "\": 'v'\n";
    plain += "key" + n + ": value\n";
  }
  for (const auto& [name, text] : std::vector<std::pair<std::string, std::string>>{
           {"quoted entries", entries}, {"quoted pairs", quoted}, {"plain pairs", plain}}) {
    qf::Scanner s(text);
    qf::TokenPump pump(s);
    uint64_t most = 0, i = 0;
    for (; pump.get(i, i); ++i) most = std::max<uint64_t>(most, s.queue_size);
    EXPECT_FALSE(pump.error()) << name;
    EXPECT_GT(i, 40000u) << name;
    EXPECT_LT(most, 1024u) << name;
  }
}

}  // namespace
