// No input crashes or hangs the loader: the suite's texts, mutated at random
// with YAML's indicator characters, and random token soups go through
// decode_documents under every mode and policy. The duplicate keys it finds
// agree with fingerprints of every key on those texts, the corpus and
// generated mappings.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "decode/keys.hpp"
#include "decode/loader.hpp"
#include "decode/merge.hpp"
#include "../test_files.hpp"

namespace {


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
  std::vector<std::string> texts = qf::test::shared_texts(false);
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

// The duplicate keys a load reported, as its warnings show them.
std::vector<std::string> reported_duplicates(const qf::DecodedStream& out) {
  static const std::string head = "duplicate mapping key '";
  std::vector<std::string> shown;
  for (const std::string& w : out.warnings) {
    if (!w.starts_with(head)) continue;
    shown.push_back(w.substr(head.size(), w.rfind("' at line ") - head.size()));
  }
  return shown;
}

// The same found afresh in the loaded tree by fingerprints, in the loader's
// order: a pair is checked after its key and value, against the earlier keys
// of its mapping.
void fingerprint_duplicates(const qf::Value& v, qf::KeyTags tags, std::vector<std::string>& shown) {
  switch (v.kind()) {
    case qf::ValueKind::Sequence:
      for (const qf::Value& item : v.items()) fingerprint_duplicates(item, tags, shown);
      break;
    case qf::ValueKind::Mapping: {
      std::set<std::string> seen;
      for (const qf::ValuePair& p : v.pairs()) {
        fingerprint_duplicates(p.key, tags, shown);
        fingerprint_duplicates(p.value, tags, shown);
        if (qf::is_merge_marker(p.key)) continue;
        if (!seen.insert(qf::duplicate_key_fingerprint(p.key, tags)).second)
          shown.push_back(qf::duplicate_key_display(p.key, tags));
      }
      break;
    }
    case qf::ValueKind::Tagged:
      fingerprint_duplicates(v.inner(), tags, shown);
      break;
    default:
      break;
  }
}

// Under the warning policy and the error policy alike, the loader finds the
// duplicates fingerprints find. Texts with aliases or merge keys are left
// out: their trees hold copies and merged pairs the loader never checked.
void check_duplicates(const std::string& text, unsigned k) {
  if (text.find('*') != std::string::npos || text.find("<<") != std::string::npos ||
      text.find("merge") != std::string::npos)
    return;
  qf::DecodeSettings s;
  s.mode = static_cast<qf::ResolverMode>(k % 3);
  s.timestamps = k & 4;
  s.custom_tags_dropped = k & 8;
  s.dup_warn = true;
  const qf::DecodedStream warned = qf::decode_documents(text, s);
  if (!warned.ok()) return;
  const qf::KeyTags tags = s.custom_tags_dropped ? qf::KeyTags::Dropped : qf::KeyTags::Kept;
  std::vector<std::string> expected;
  for (const qf::Value& doc : warned.documents) fingerprint_duplicates(doc, tags, expected);
  ASSERT_EQ(reported_duplicates(warned), expected) << text;
  s.dup_warn = false;
  s.dup_error = true;
  const qf::DecodedStream failed = qf::decode_documents(text, s);
  if (expected.empty()) {
    ASSERT_TRUE(failed.ok()) << text;
  } else {
    ASSERT_FALSE(failed.ok()) << text;
    ASSERT_EQ(failed.error->message, "duplicate mapping key: " + expected.front()) << text;
  }
}

// A mapping of many keys, mostly texts from a small set so that some repeat,
// now and then a key of another kind, a long text, or a nested mapping with
// repeats of its own; in block or flow style.
std::string generated_mapping(std::mt19937& rng) {
  static const std::string others[] = {"'k1'", "\"k2\"", "1", "'1'", "1.0", "true", "~", "!t k1",
                                       "!t k3", "[k1]", "{k1: 1}", "0x1", "2001-02-03",
                                       "a-text-longer-than-a-value-keeps-inline",
                                       "'a-text-longer-than-a-value-keeps-inline'"};
  const bool flow = rng() % 3 == 0;
  const size_t n = rng() % 40;
  std::string t = flow ? "{" : "";
  for (size_t i = 0; i < n; ++i) {
    std::string key = rng() % 10 == 0 ? others[rng() % std::size(others)] : "k" + std::to_string(rng() % 30);
    std::string value = rng() % 8 == 0 ? "{k1: a, k2: b, k1: c}" : "v";
    t += flow ? (i ? ", " : "") + key + ": " + value : key + ": " + value + "\n";
  }
  if (flow) t += "}\n";
  return t;
}

TEST(DuplicateKeys, AgreeWithFingerprints) {
  std::vector<std::string> texts = qf::test::shared_texts(false);
  ASSERT_FALSE(texts.empty());
  const std::vector<std::string> corpus = qf::test::shared_texts(true);
  texts.insert(texts.end(), corpus.begin(), corpus.end());
  std::mt19937 rng(4242);
  const size_t plain = texts.size();
  for (size_t i = 0; i < plain; ++i) texts.push_back(mutate(texts[i], rng));
  for (int i = 0; i < 3000; ++i) texts.push_back(generated_mapping(rng));
  unsigned k = 0;
  for (const std::string& t : texts) {
    check_duplicates(t, k++);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
