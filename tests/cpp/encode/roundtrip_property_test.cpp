// Written YAML reads back as the same tree: random value trees are dumped
// under every resolver mode and layout option and loaded again with the
// same mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "../test_files.hpp"
#include "decode/loader.hpp"
#include "encode/key_order.hpp"
#include "encode/value_writer.hpp"
#include "value_builders.hpp"

namespace qf {
namespace {

using namespace qf::test;
using namespace qf::dump_option;

const std::vector<std::string>& text_pool() {
  static const std::vector<std::string> pool = {
      "", "a", "abc", "a b", "null", "Null", "~", "true", "False", "yes", "no", "on", "OFF", "y",
      "n", "Y", "<<", "=", ".inf", "-.inf", ".nan", "inf", "nan", "0", "-0", "+1", "007", "0777",
      "0o17", "0x1F", "0b101", "1_000", "_1", "1.5", "1.", ".5", "1e3", "1.0e+3", "12:30",
      "1:30.5", "190:20:30", "9223372036854775808", "2001-12-14", "2001-12-14 21:59:43.10 -5",
      "2001-12-15T02:59:43.1z", "2001-1-5T01:02:03", "-", "---", "--- x", "...", "... x", "? x",
      "a: b", "a:b", "a #b", "a#b", "key:", "- x", "[a]", "{a}", "a, b", "&a", "*a", "!a", "|",
      ">", "'", "\"", "%x", "@x", "`x", " ", " a", "a ", "a  b", "\ta", "a\tb", "a\nb", "a\nb\n",
      "a\n\n", "\n", "\n\n", "\na", " a\nb", "a\n b", "a\r\nb", "a\rb", std::string("a\0b", 3),
      "\x1b[0m", "a\x7f", "caf\xc3\xa9", "\xe6\x97\xa5\xe6\x9c\xac", "\xf0\x9f\x98\x80",
      "a\xc2\xa0" "b", "a\xc2\x80", "it's", "say \"hi\"", "back\\slash", "http://x.y/a#b",
      "aaaa bbbb cccc dddd eeee ffff gggg", "word word word word word word word word word word",
      "long-long-long-long-long-long-long-long", "x: y z w v u t s r q p o n m l k j i",
      "a\t b c d e f g h i j k l m n", "a \tb c d e f g h i j k l", "tab\tin the middle of words here",
      "ends with colon:", "# comment-like", "a :b", "a?b", "a- b", "x:", "::", "a]b", "a}b", "a,b",
      "a[b", "a{b", "\xc2\x85", "a\xc2\x85" "b", "\xe2\x80\xa8", "a\xe2\x80\xa8" "b", "a\xe2\x80\xa9",
      "a\xef\xbb\xbf" "b", "\xef\xbb\xbf" "a", "a\xc2\x85\nb\n", "a\xe2\x80\xa8\nb", "a\xef\xbf\xbe",
      "line one\nline two\n\n  indented\n\ttabbed\n", "x\n---\ny\n", "x\n...\ny", "#x\n#y\n",
      "a\n  \nb", "trailing  \nspaces  ", "- a\n- b\n", "a: 1\nb: 2\n", "\"\n'", "a # b c d e f g h i j", "\"quoted\" words here and there",
  };
  return pool;
}

struct Gen {
  std::mt19937_64 rng;
  explicit Gen(uint64_t seed) : rng(seed) {}

  size_t below(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); }

  Value text() { return S(text_pool()[below(text_pool().size())]); }

  Value scalar() {
    switch (below(9)) {
      case 0: return N();
      case 1: return B(below(2) == 1);
      case 2: {
        const int64_t ints[] = {0, 1, -1, 42, INT64_MIN, INT64_MAX, 1 << 20};
        return I(ints[below(std::size(ints))]);
      }
      case 3: {
        const double fl[] = {0.0, -0.0, 1.0, 0.1, -2.5, 1e16, 1.5e-7, 1e300, 5e-324,
                             std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN()};
        return F(fl[below(std::size(fl))]);
      }
      case 4: return Big(below(2) ? "18446744073709551616" : "-9223372036854775809");
      default: return text();
    }
  }

  Value key(int depth) {
    switch (below(10)) {
      case 0: return depth < 2 ? value(depth + 1) : scalar();
      case 1: return T("!k", text());
      default: return below(4) == 0 ? scalar() : text();
    }
  }

  Value value(int depth) {
    size_t r = below(depth >= 4 ? 6 : 10);
    if (r < 5) return scalar();
    if (r == 5) return T(below(2) ? "!t" : "!<tag:x.org,2024:t>", below(2) ? text() : collection(depth));
    return collection(depth);
  }

  Value collection(int depth) {
    size_t n = below(4);
    if (below(2) == 0) {
      ValueList items;
      for (size_t i = 0; i < n; ++i) items.push_back(value(depth + 1));
      return Value::sequence(std::move(items));
    }
    PairList pairs;
    for (size_t i = 0; i < n; ++i) pairs.emplace_back(key(depth + 1), value(depth + 1));
    return Value::mapping(std::move(pairs));
  }
};

// What a load gives back for a dumped tree: tagged nulls come back as the
// tagged empty string in the Default null style, and as the tagged text of
// the keyword otherwise (a custom tag makes its scalar a string).
Value expected_after_load(const Value& v, NullStyle null_style, bool sort_keys) {
  switch (v.kind()) {
    case ValueKind::Tagged: {
      // A tag expanded through %TAG comes back in its verbatim form.
      if (v.tag().empty() || v.tag()[0] != '!') {
        Value copy = deep_copy_value(v);
        return T("!<" + v.tag() + ">", expected_after_load(copy.inner(), null_style, sort_keys));
      }
      const Value& in = v.inner();
      if (in.kind() == ValueKind::Null)
        return T(v.tag(), S(null_style == NullStyle::Tilde ? "~" : null_style == NullStyle::Keyword ? "null" : ""));
      return T(v.tag(), expected_after_load(in, null_style, sort_keys));
    }
    case ValueKind::Sequence: {
      ValueList items;
      for (const Value& i : v.items()) items.push_back(expected_after_load(i, null_style, sort_keys));
      return Value::sequence(std::move(items));
    }
    case ValueKind::Mapping: {
      PairList pairs;
      for (const ValuePair* p : mapping_entry_order(v.pairs(), sort_keys))
        pairs.emplace_back(expected_after_load(p->key, null_style, sort_keys),
                           expected_after_load(p->value, null_style, sort_keys));
      return Value::mapping(std::move(pairs));
    }
    default: return deep_copy_value(v);
  }
}

const uint64_t kOptionSets[] = {
    0,
    kFlowStyle,
    kIndent4,
    kIndentlessSequences,
    kSingleQuotes,
    kNullAsKeyword | kExplicitStart,
    kNullAsTilde | kExplicitEnd,
    kIndent4 | kIndentlessSequences | kSingleQuotes,
    kFlowStyle | kSingleQuotes | kNullAsTilde,
    kSortKeys,
    kSortKeys | kFlowStyle | kIndent4,
};
const uint64_t kModes[] = {0, kYaml11, kKestilCompat};
const uint64_t kWidths[] = {0, 12, 30};

void check_round_trip(const Value& v, uint64_t option, uint64_t width, const char* what) {
  EmitSettings s = emit_settings_from_options(option, width);
  std::string text = dump_value_to_yaml(v, s);
  // The compatibility mode always resolves timestamps; Yaml11 may be asked to.
  DecodeSettings load;
  load.mode = s.resolver_mode;
  load.timestamps = s.resolver_mode != ResolverMode::Yaml12;
  DecodedStream back = decode_documents(text, load);
  ASSERT_TRUE(back.ok()) << what << ": " << back.error->message << " at line " << back.error->span.line + 1
                         << "\n--- text ---\n" << text << "--- value ---\n" << value_debug_text(v);
  ASSERT_EQ(back.documents.size(), 1u) << text;
  Value expected = expected_after_load(v, s.null_style, s.sort_keys);
  ASSERT_TRUE(value_structurally_equal(back.documents[0], expected))
      << what << " option=" << option << " width=" << width << "\n--- text ---\n" << text
      << "--- expected ---\n" << value_debug_text(expected) << "\n--- loaded ---\n"
      << value_debug_text(back.documents[0]);
}

TEST(RoundTripProperty, EveryPoolTextInEveryPosition) {
  for (const std::string& t : text_pool()) {
    Value v = Map(P(S(t), Seq(S(t), Map(P(S("k"), S(t))))), P(S("z"), S(t)));
    for (uint64_t mode : kModes)
      for (uint64_t opt : kOptionSets)
        for (uint64_t width : kWidths) {
          check_round_trip(v, mode | opt, width, "pool text");
          check_round_trip(S(t), mode | opt, width, "pool root");
          if (HasFatalFailure()) return;
        }
  }
}

TEST(RoundTripProperty, RandomTrees) {
  Gen g(20261210);
  for (int i = 0; i < 5000; ++i) {
    Value v = g.value(0);
    for (uint64_t mode : kModes) {
      uint64_t opt = kOptionSets[g.below(std::size(kOptionSets))];
      uint64_t width = kWidths[g.below(std::size(kWidths))];
      check_round_trip(v, mode | opt, width, "random tree");
      if (HasFatalFailure()) return;
    }
  }
}


// ---- real documents: the corpus and the YAML test suite ----

namespace corpus {

// Every document that loads is dumped under each mode and a spread of
// options and must load back as the same tree.
struct CorpusRun {
  size_t checked = 0;
  // The files the loader refused, once per mode.
  std::vector<std::filesystem::path> refused;
};

CorpusRun round_trip_all_documents(const std::filesystem::path& root, bool yaml_files_only,
                                   const std::string& only_name) {
  CorpusRun run;
  if (!std::filesystem::exists(root)) return run;
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    std::string ext = e.path().extension().string();
    std::string name = e.path().filename().string();
    if (yaml_files_only && ext != ".yaml" && ext != ".yml") continue;
    if (!only_name.empty() && name != only_name) continue;
    files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  for (const auto& path : files) {
    std::string text = read_file(path);
    for (uint64_t mode : kModes) {
      DecodedStream loaded = decode_documents(text, DecodeSettings{dump_resolver_mode(mode)});
      if (!loaded.ok()) {
        run.refused.push_back(path);
        continue;
      }
      for (const Value& doc : loaded.documents) {
        for (uint64_t opt : {uint64_t{0}, kFlowStyle | kSortKeys, kIndent4 | kIndentlessSequences,
                             kSingleQuotes | kNullAsTilde})
          for (uint64_t width : {uint64_t{0}, uint64_t{40}}) {
            check_round_trip(doc, mode | opt, width, path.string().c_str());
            if (::testing::Test::HasFatalFailure()) return run;
          }
        ++run.checked;
      }
    }
  }
  return run;
}

}  // namespace corpus

TEST(RoundTripProperty, CorpusDocuments) {
  corpus::CorpusRun run = corpus::round_trip_all_documents(QF_SOURCE_DIR "/../shared/corpus", true, "");
  // Every file loads in every mode: 490 documents, three times.
  EXPECT_EQ(run.refused, std::vector<std::filesystem::path>{});
  EXPECT_EQ(run.checked, 3 * 490u);
}

TEST(RoundTripProperty, YamlTestSuiteDocuments) {
  const std::filesystem::path suite = QF_SOURCE_DIR "/../shared/yaml-test-suite";
  corpus::CorpusRun run = corpus::round_trip_all_documents(suite, false, "in.yaml");
  // Exactly the cases marked as errors are refused, in every mode; the
  // other 308 cases hold 1002 documents over the three modes.
  size_t error_cases = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(suite))
    if (e.path().filename() == "in.yaml" && std::filesystem::exists(e.path().parent_path() / "error")) ++error_cases;
  EXPECT_EQ(error_cases, 94u);
  EXPECT_EQ(run.refused.size(), 3 * error_cases);
  for (const auto& path : run.refused) EXPECT_TRUE(std::filesystem::exists(path.parent_path() / "error")) << path;
  EXPECT_EQ(run.checked, 1002u);
}

}  // namespace
}  // namespace qf
