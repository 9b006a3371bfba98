// The early string test for untagged plain scalars against the resolvers
// themselves: whenever it calls a text a string by its first byte and
// length, resolving the whole text gives a string too, under every rule set.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "../test_files.hpp"
#include "resolver/plain_first_byte.hpp"
#include "resolver/resolver.hpp"
#include "scanner/scanner.hpp"

namespace qf::test {
namespace {

namespace fs = std::filesystem;
using resolver_detail::plain_is_string_early;
using resolver_detail::plain_first_byte_table;

constexpr ResolverMode kModes[] = {ResolverMode::Yaml12, ResolverMode::Yaml11, ResolverMode::KestilCompat};

// Fails when the table would take `text` as a string but the resolver does not.
void expect_agrees(ResolverMode mode, std::string_view text) {
  if (text.empty() || !plain_is_string_early(plain_first_byte_table(mode), text)) return;
  const Resolution r = resolve_scalar(mode, text, ScalarStyle::Plain);
  EXPECT_EQ(r.kind, ResolvedKind::Str) << "mode " << static_cast<int>(mode) << " text \"" << text << '"';
}

// Every first byte before the tails that turn a text into a null, a bool, a
// number or the merge key under some rule set.
TEST(PlainFirstByte, EveryByteBeforeMeaningfulTails) {
  const char* tails[] = {"",    "ull", "ULL", "rue", "RUE", "alse", "ALSE", "es",   "ES",  "o",   "O",
                         "n",   "N",   "ff",  "FF",  "<",   "0",    "1",    "9",    "x1f", "o17", "b101",
                         ".5",  "5.",  "e3",  "1e3", "inf", "Inf",  "nan",  "NaN",  "_1",  "1_0", ":30",
                         "0:1", "1:30.5", ".inf", ".nan", "~", "alse_", "ALSE:", "ull00"};
  for (ResolverMode mode : kModes) {
    for (int b = 1; b < 256; ++b) {
      for (const char* tail : tails) expect_agrees(mode, std::string(1, static_cast<char>(b)) + tail);
    }
  }
}

// Random texts over the characters of words and numbers, any first byte.
TEST(PlainFirstByte, RandomTexts) {
  const std::string alphabet = "0123456789.+-_:eExXoObB~nulNULtrueTRUEfalsFALSyesYESoffOFFinfINFnaNA<";
  std::mt19937 rng(1913);
  for (int i = 0; i < 200'000; ++i) {
    std::string text(1, static_cast<char>(1 + rng() % 255));
    for (size_t n = rng() % 10; n > 0; --n) text += alphabet[rng() % alphabet.size()];
    for (ResolverMode mode : kModes) expect_agrees(mode, text);
  }
}

// Every plain scalar of the test suite and the corpus.
TEST(PlainFirstByte, SuiteAndCorpusScalars) {
  const fs::path shared = fs::path(QF_SOURCE_DIR) / ".." / "shared";
  size_t scalars = 0;
  for (const char* dir : {"yaml-test-suite", "corpus"}) {
    if (!fs::exists(shared / dir)) continue;
    for (const auto& e : fs::recursive_directory_iterator(shared / dir)) {
      const fs::path ext = e.path().extension();
      if (!e.is_regular_file() || (ext != ".yaml" && ext != ".yml")) continue;
      const std::string text = read_file(e.path());
      Scanner s(text);
      const TokenizeResult r = tokenize(s);
      for (const Token& t : r.tokens) {
        if (t.kind != TokenKind::Scalar || t.style != ScalarStyle::Plain) continue;
        ++scalars;
        for (ResolverMode mode : kModes) expect_agrees(mode, t.text);
      }
    }
  }
  if (scalars == 0) GTEST_SKIP() << "no test data under " << shared;
}

}  // namespace
}  // namespace qf::test
