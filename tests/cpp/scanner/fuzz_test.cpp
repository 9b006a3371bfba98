// Short, deterministic fuzzing in the regular suite: the test suite's inputs
// cut, spliced and mutated, and random text, must scan or fail cleanly
// (invariants in tests/fuzz/scanner_fuzz_check.hpp, which aborts on a
// violation). Pathological shapes must scan in linear time.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "../../fuzz/scanner_fuzz_check.hpp"
#include "scanner/scanner.hpp"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> seed_texts() {
  std::vector<std::string> out;
  const fs::path root(QF_SOURCE_DIR "/../shared/yaml-test-suite");
  if (!fs::exists(root)) return out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file() || e.path().filename() != "in.yaml") continue;
    std::ifstream in(e.path(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    out.push_back(ss.str());
  }
  std::sort(out.begin(), out.end());
  return out;
}

const char* const kFragments[] = {
    "- ", ": ", "? ", "-", ":", "?", "[", "]", "{", "}", ",", "#", " #c", "&a ", "*a", "!t ",
    "!!str ", "!<x> ", "|", ">", "|+", ">-", "|2", "'", "\"", "\\", "\\x4", "\\u00e9", "\\\n",
    "''", "\t", "\n", "\r", "\r\n", "\n\n", "---", "--- ", "...", "...\n", "%YAML 1.2\n",
    "%TAG ! x\n", "  ", "    ", "\xC2\x85", "\xEF\xBB\xBF", "\xE2\x80\xA8", "\xC3\xA9", "a", "b: c",
    "@", "`", "%", "a: [", "{a: ", "\x01", "\x7F",
};

std::string mutate(std::string text, const std::vector<std::string>& seeds, std::mt19937_64& rng) {
  auto pick = [&](size_t n) { return n == 0 ? size_t(0) : size_t(rng() % n); };
  const int rounds = 1 + static_cast<int>(rng() % 4);
  for (int i = 0; i < rounds; ++i) {
    switch (rng() % 8) {
      case 0:  // cut
        text.resize(pick(text.size() + 1));
        break;
      case 1: {  // splice with another input
        const std::string& other = seeds[pick(seeds.size())];
        text = text.substr(0, pick(text.size() + 1)) + other.substr(pick(other.size() + 1));
        break;
      }
      case 2:
      case 3: {  // insert a YAML fragment
        const char* f = kFragments[pick(std::size(kFragments))];
        text.insert(pick(text.size() + 1), f);
        break;
      }
      case 4: {  // delete a range
        size_t at = pick(text.size() + 1);
        text.erase(at, pick(8) + 1);
        break;
      }
      case 5: {  // overwrite a byte
        if (!text.empty()) text[pick(text.size())] = static_cast<char>(rng() % 128);
        break;
      }
      case 6: {  // shift the indentation of a line
        size_t at = text.find('\n', pick(text.size() + 1));
        if (at != std::string::npos) text.insert(at + 1, std::string(pick(4), ' '));
        break;
      }
      default: {  // duplicate a stretch
        size_t at = pick(text.size() + 1);
        text.insert(pick(text.size() + 1), text.substr(at, pick(40)));
        break;
      }
    }
  }
  return qf::fuzz::make_valid_utf8(text);
}

TEST(ScannerFuzz, MutatedSuiteInputs) {
  const auto seeds = seed_texts();
  if (seeds.empty()) GTEST_SKIP() << "yaml-test-suite not found";
  std::mt19937_64 rng(0x5eed);
  size_t ok = 0, failed = 0;
  for (int i = 0; i < 200000; ++i) {
    const std::string text = mutate(seeds[rng() % seeds.size()], seeds, rng);
    (qf::fuzz::scan_and_check(text, i % 2 == 0, i % 3) ? ok : failed)++;
  }
  // Both outcomes must be well represented, or the mutations are too tame
  // or too wild to test anything.
  EXPECT_GT(ok, 4000u);
  EXPECT_GT(failed, 4000u);
}

TEST(ScannerFuzz, RandomText) {
  std::mt19937_64 rng(42);
  const std::string alphabet = "ab :-?[]{},#&*!|>'\"\\%.@`\t\n\r01xu";
  for (int i = 0; i < 100000; ++i) {
    std::string text;
    const size_t n = rng() % 64;
    for (size_t k = 0; k < n; ++k) {
      if (rng() % 8 == 0)
        text += static_cast<char>(rng() % 256);
      else
        text += alphabet[rng() % alphabet.size()];
    }
    qf::fuzz::scan_and_check(qf::fuzz::make_valid_utf8(text), true);
  }
}

TEST(ScannerFuzz, PathologicalShapesScanInLinearTime) {
  auto repeat = [](std::string_view s, size_t n) {
    std::string out;
    out.reserve(s.size() * n);
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
  };
  const std::vector<std::pair<const char*, std::string>> inputs = {
      {"deep block sequence", repeat("- ", 200000) + "a"},
      {"deep flow nesting", repeat("[", 1000) + repeat("]", 1000) + "\n" + repeat("{", 300000)},
      {"long plain line", "a: " + repeat("b ", 300000)},
      {"carriage returns", "a" + repeat("\r", 300000) + "b"},
      {"big flow key", "[" + repeat("a, ", 200000) + "a]: v"},
      {"escapes", "\"" + repeat("\\n\\t", 150000) + "\""},
      {"comment lines", repeat("  # c\n", 100000)},
      {"blank block scalar", "k: |\n" + repeat("\n", 300000) + "  x"},
      {"empty block scalars", repeat("- |\n", 100000)},
      {"explicit keys", repeat("? a\n: b\n", 100000)},
      {"single quotes", "'" + repeat("''\n", 100000) + "'"},
      {"nested mappings", [&] {
         std::string s;
         for (int i = 0; i < 2000; ++i) s += std::string(i, ' ') + "k:\n";
         return s;
       }()},
      {"tabs in flow", "[" + repeat("a,\n\t", 100000) + "b]"},
      {"long anchor line", repeat("&a ", 100000) + "x"},
  };
  for (const auto& [name, text] : inputs) {
    const auto start = std::chrono::steady_clock::now();
    qf::fuzz::scan_and_check(text, true);
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Milliseconds in a release build; the bound leaves room for sanitizers
    // while still catching quadratic behaviour on these sizes.
    EXPECT_LT(s, 3.0) << name;
  }
}

}  // namespace
