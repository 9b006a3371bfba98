// The round-trip guarantees over the YAML test suite and the real-world
// corpus: unchanged documents come back byte for byte (also split into
// documents), and fully re-emitted ones reload to the same values, keep every
// comment and are stable under a second re-emission.
#include <gtest/gtest.h>

#include "corpus_support.hpp"
#include "decode/loader.hpp"
#include "roundtrip/composer.hpp"
#include "roundtrip/document.hpp"
#include "roundtrip/emit.hpp"

namespace qf {
namespace {

using test::Case;

struct Outcome {
  size_t checked = 0;
  std::vector<std::string> failures;
};

// Marks the first scalar of the stream that is not a block scalar: the rest
// is re-emitted around it, block scalars pasted from their kept text.
void mark_first_plain_scalar(std::vector<YamlNode>& roots) {
  for (YamlNode& root : roots) {
    std::vector<YamlNode*> stack{&root};
    while (!stack.empty()) {
      YamlNode* n = stack.back();
      stack.pop_back();
      if (n->is_scalar() && !n->comments().raw) {
        n->edit_comments().modified = true;
        return;
      }
      for (YamlNode& item : n->items) stack.push_back(&item);
      for (MappingEntry& e : n->pairs) {
        stack.push_back(&e.value);
        stack.push_back(&e.key);
      }
    }
  }
}

// The kept source only comes back when no root is marked, that is for a
// stream without nodes (comments only).
std::string reemit_all(std::vector<YamlNode> roots, const std::string& text) {
  RoundTripDocument doc;
  doc.source = text;
  for (YamlNode& r : roots) test::mark_all_modified(r);
  doc.docs = std::move(roots);
  return render_document(doc);
}

void check_identity(const Case& c, const std::string& text, Outcome& out) {
  ComposeResult r = compose_documents(text);
  if (!r.ok()) {
    out.failures.push_back(c.name + ": compose failed: " + r.error->message + " at line " +
                           std::to_string(r.error->span.line + 1));
    return;
  }
  RoundTripDocument doc;
  doc.docs = std::move(r.roots);
  doc.source = text;
  if (render_document(doc) != text) out.failures.push_back(c.name + ": unchanged render differs");
  // Split into documents: each keeps its own slice, and the slices join to
  // the stream.
  ComposeOptions o;
  o.keep_empty = true;
  o.per_document_comments = true;
  ComposeResult split = compose_text(text, o);
  if (!split.ok()) {
    out.failures.push_back(c.name + ": keep-empty compose failed");
    return;
  }
  std::string joined;
  for (size_t i = 0; i < split.roots.size(); ++i) {
    uint64_t b = split.document_starts[i];
    uint64_t e = i + 1 < split.roots.size() ? split.document_starts[i + 1] : text.size();
    RoundTripDocument one;
    one.source = text.substr(b, e - b);
    one.docs.push_back(std::move(split.roots[i]));
    joined += render_document(one);
  }
  if (!split.roots.empty() && joined != text) out.failures.push_back(c.name + ": joined document slices differ");
  ++out.checked;
}

enum class Marking { All, One };

std::string reemit(std::vector<YamlNode> roots, const std::string& text, Marking marking) {
  if (marking == Marking::All) return reemit_all(std::move(roots), text);
  mark_first_plain_scalar(roots);
  RoundTripDocument doc;
  doc.source = text;
  doc.docs = std::move(roots);
  return render_document(doc);
}

void check_faithful(const Case& c, const std::string& text, Outcome& out, Marking marking = Marking::All) {
  ComposeResult r = compose_documents(text);
  if (!r.ok()) {
    out.failures.push_back(c.name + ": compose failed: " + r.error->message);
    return;
  }
  std::vector<YamlNode> original = r.roots;
  std::string first = reemit(std::move(r.roots), text, marking);
  ComposeResult again = compose_documents(first);
  if (!again.ok()) {
    out.failures.push_back(c.name + ": re-emitted text does not load: " + again.error->message + " at line " +
                           std::to_string(again.error->span.line + 1) + "\n---\n" + first);
    return;
  }
  if (again.roots.size() != original.size()) {
    out.failures.push_back(c.name + ": document count " + std::to_string(original.size()) + " became " +
                           std::to_string(again.roots.size()) + "\n---\n" + first);
    return;
  }
  for (size_t i = 0; i < original.size(); ++i) {
    std::string why;
    if (!test::same_values(original[i], again.roots[i], &why)) {
      out.failures.push_back(c.name + ": value changed (" + why + ")\n---\n" + first);
      return;
    }
  }
  // Independent check through the value loader: the same plain values under
  // both rule sets.
  for (ResolverMode mode : {ResolverMode::Yaml12, ResolverMode::Yaml11}) {
    DecodeSettings settings;
    settings.mode = mode;
    DecodedStream before = decode_documents(text, settings);
    if (!before.ok()) {
      out.failures.push_back(c.name + ": the value loader refuses the text: " + before.error->message);
      return;
    }
    DecodedStream after = decode_documents(first, settings);
    if (!after.ok()) {
      out.failures.push_back(c.name + ": loader rejects the re-emitted text: " + after.error->message + "\n---\n" +
                             first);
      return;
    }
    bool same = before.documents.size() == after.documents.size();
    for (size_t i = 0; same && i < before.documents.size(); ++i)
      same = value_structurally_equal(before.documents[i], after.documents[i]);
    if (!same) {
      out.failures.push_back(c.name + ": loader values differ\n---\n" + first);
      return;
    }
  }
  if (test::comment_texts(text) != test::comment_texts(first)) {
    out.failures.push_back(c.name + ": comments differ\n---\n" + first);
    return;
  }
  std::string second = reemit(std::move(again.roots), first, marking);
  if (second != first) {
    out.failures.push_back(c.name + ": not idempotent\n--- first\n" + first + "--- second\n" + second);
    return;
  }
  ++out.checked;
}

void report(const char* what, const Outcome& o, size_t total) {
  std::string msg;
  for (size_t i = 0; i < o.failures.size() && i < 15; ++i) msg += o.failures[i] + "\n=====\n";
  EXPECT_TRUE(o.failures.empty()) << what << ": " << o.failures.size() << " of " << total << " failed\n" << msg;
  EXPECT_EQ(o.checked, total) << what;
}

TEST(RoundTripSuite, UnchangedDocumentsComeBackByteForByte) {
  auto cases = test::suite_cases();
  ASSERT_FALSE(cases.empty());
  Outcome o;
  for (const Case& c : cases) check_identity(c, test::read_file(c.path), o);
  report("suite identity", o, cases.size());
}

TEST(RoundTripSuite, ReemittedDocumentsAreFaithfulAndStable) {
  auto cases = test::suite_cases();
  ASSERT_FALSE(cases.empty());
  Outcome o;
  for (const Case& c : cases) check_faithful(c, test::read_file(c.path), o);
  report("suite re-emission", o, cases.size());
}

TEST(RoundTripCorpus, UnchangedDocumentsComeBackByteForByte) {
  auto files = test::corpus_files();
  ASSERT_FALSE(files.empty());
  Outcome o;
  for (const Case& c : files) check_identity(c, test::read_file(c.path), o);
  report("corpus identity", o, files.size());
}

TEST(RoundTripCorpus, ReemittedDocumentsAreFaithfulAndStable) {
  auto files = test::corpus_files();
  ASSERT_FALSE(files.empty());
  Outcome o;
  for (const Case& c : files) check_faithful(c, test::read_file(c.path), o);
  report("corpus re-emission", o, files.size());
}

}  // namespace
}  // namespace qf

namespace qf {
namespace {

TEST(RoundTripSuite, OneEditReemitsTheRestFaithfully) {
  auto cases = test::suite_cases();
  ASSERT_FALSE(cases.empty());
  Outcome o;
  for (const Case& c : cases) check_faithful(c, test::read_file(c.path), o, Marking::One);
  report("suite one-edit re-emission", o, cases.size());
}

TEST(RoundTripCorpus, OneEditReemitsTheRestFaithfully) {
  auto files = test::corpus_files();
  ASSERT_FALSE(files.empty());
  Outcome o;
  for (const Case& c : files) check_faithful(c, test::read_file(c.path), o, Marking::One);
  report("corpus one-edit re-emission", o, files.size());
}

}  // namespace
}  // namespace qf
