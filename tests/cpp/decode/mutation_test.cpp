// No input crashes or hangs the loader: the suite's texts, mutated at random
// with YAML's indicator characters, and random token soups go through
// decode_documents under every mode and policy.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "decode/loader.hpp"
#include "decode/merge.hpp"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> suite_texts() {
  std::vector<std::string> texts;
  fs::path root = fs::path(QF_SOURCE_DIR) / ".." / "shared" / "yaml-test-suite";
  if (!fs::exists(root)) return texts;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file() || e.path().filename() != "in.yaml") continue;
    std::ifstream in(e.path(), std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    texts.push_back(ss.str());
  }
  return texts;
}

bool is_boundary(const std::string& s, size_t i) {
  return i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80;
}

size_t boundary_at_or_before(const std::string& s, size_t i) {
  while (i > 0 && !is_boundary(s, i)) --i;
  return i;
}

std::string mutate(std::string s, std::mt19937& rng) {
  static const std::string pieces[] = {"-", ":", "?", "[", "]", "{", "}", ",", "#", "&a", "*a", "!t",
                                       "!!str", "|", ">", "'", "\"", "%YAML 1.2\n", "---\n", "...\n",
                                       " ", "\n", "\t", "<<: ", "- ", ": ", "&a [", "*a]", "\\", "\r\n"};
  int edits = 1 + static_cast<int>(rng() % 4);
  for (int e = 0; e < edits; ++e) {
    size_t pos = s.empty() ? 0 : boundary_at_or_before(s, rng() % (s.size() + 1));
    switch (rng() % 5) {
      case 0:
      case 1:
        s.insert(pos, pieces[rng() % std::size(pieces)]);
        break;
      case 2: {  // delete one character
        if (pos >= s.size()) break;
        size_t end = pos + 1;
        while (!is_boundary(s, end)) ++end;
        s.erase(pos, end - pos);
        break;
      }
      case 3: {  // duplicate a line
        size_t start = s.rfind('\n', pos == 0 ? 0 : pos - 1);
        start = start == std::string::npos ? 0 : start + 1;
        size_t end = s.find('\n', pos);
        end = end == std::string::npos ? s.size() : end + 1;
        s.insert(end, s.substr(start, end - start));
        break;
      }
      default:
        s.resize(pos);
        break;
    }
  }
  return s;
}

void check(const std::string& text, const qf::DecodeSettings& s) {
  qf::DecodedStream out = qf::decode_documents(text, s);
  if (!out.ok()) {
    ASSERT_FALSE(out.error->message.empty()) << text;
    ASSERT_LE(out.error->span.offset, text.size()) << text;
    ASSERT_TRUE(out.documents.empty());
  }
}

qf::DecodeSettings settings_for(unsigned k) {
  qf::DecodeSettings s;
  s.mode = static_cast<qf::ResolverMode>(k % 3);
  s.dup_error = k & 4;
  s.reject_complex_keys = k & 8;
  s.timestamps = k & 16;
  s.dup_warn = k & 32;
  s.yaml11_warn = k & 64;
  return s;
}

TEST(Robustness, MutatedSuiteTexts) {
  std::vector<std::string> texts = suite_texts();
  ASSERT_FALSE(texts.empty());
  std::mt19937 rng(12345);
  unsigned k = 0;
  for (const std::string& t : texts) {
    for (int i = 0; i < 12; ++i) {
      std::string m = mutate(t, rng);
      check(m, settings_for(k++));
      if (HasFatalFailure()) return;
    }
  }
}

TEST(Robustness, TokenSoup) {
  static const std::string pieces[] = {"a", "b", "1", "<<", "-", "- ", ": ", "? ", "[", "]", "{", "}",
                                       ", ", "&x ", "*x", "&y ", "*y ", "!t ", "!!int ", "\n", "\n  ",
                                       "\n    ", "'q'", "\"d\"", "|\n  l\n", "---\n", "...\n", "# c\n",
                                       "~", "true", "0x1F", "1.5", "%TAG !e! tag:e,\n", "!e!x "};
  std::mt19937 rng(777);
  for (unsigned i = 0; i < 20000; ++i) {
    std::string t;
    size_t n = 1 + rng() % 30;
    for (size_t j = 0; j < n; ++j) t += pieces[rng() % std::size(pieces)];
    check(t, settings_for(i));
    if (HasFatalFailure()) return;
  }
}

}  // namespace
