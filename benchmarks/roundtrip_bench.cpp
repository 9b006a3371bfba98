// Round-trip throughput over the real-world corpus: compose every .yaml/.yml
// file under ../shared/corpus into source trees and render it back, both
// unchanged (the kept text) and fully re-emitted (every node marked
// modified). Reports the best pass over the corpus and MB/s on one core.
//
//   roundtrip_bench [corpus-dir] [min-seconds]
#include <cstdio>
#include <string>
#include <vector>

#include "corpus_texts.hpp"
#include "roundtrip/composer.hpp"
#include "roundtrip/document.hpp"
#include "roundtrip/emit.hpp"

namespace {

void mark_all_modified(qf::YamlNode& root) {
  std::vector<qf::YamlNode*> stack{&root};
  while (!stack.empty()) {
    qf::YamlNode* n = stack.back();
    stack.pop_back();
    n->edit_comments().modified = true;
    for (qf::YamlNode& item : n->items) stack.push_back(&item);
    for (qf::MappingEntry& e : n->pairs) {
      stack.push_back(&e.key);
      stack.push_back(&e.value);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const qf::bench::CorpusTexts corpus = qf::bench::read_corpus(argc, argv);
  if (corpus.texts.empty()) return 1;
  const auto& [texts, total, min_seconds] = corpus;
  size_t sink = 0;
  double unchanged = qf::bench::best_seconds_per_pass(min_seconds, [&] {
    for (const std::string& t : texts) {
      qf::RoundTripDocument doc;
      qf::ComposeResult r = qf::compose_documents(t);
      doc.docs = std::move(r.roots);
      doc.source = t;
      sink += qf::render_document(doc).size();
    }
  });
  double reemitted = qf::bench::best_seconds_per_pass(min_seconds, [&] {
    for (const std::string& t : texts) {
      qf::RoundTripDocument doc;
      qf::ComposeResult r = qf::compose_documents(t);
      for (qf::YamlNode& root : r.roots) mark_all_modified(root);
      doc.docs = std::move(r.roots);
      sink += qf::render_document(doc).size();
    }
  });
  double mb = double(total) / 1e6;
  std::printf("corpus: %zu files, %.2f MB\n", texts.size(), mb);
  std::printf("compose + unchanged render: %.2f ms per pass, %.1f MB/s\n", unchanged * 1e3, mb / unchanged);
  std::printf("compose + full re-emission: %.2f ms per pass, %.1f MB/s\n", reemitted * 1e3, mb / reemitted);
  return sink == 0;
}
