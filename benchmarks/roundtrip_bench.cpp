// Round-trip throughput over the real-world corpus: compose every .yaml/.yml
// file under ../shared/corpus into source trees and render it back, both
// unchanged (the kept text) and fully re-emitted (every node marked
// modified). Reports seconds per pass over the corpus and MB/s on one core.
//
//   roundtrip_bench [corpus-dir] [min-seconds]
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "roundtrip/composer.hpp"
#include "roundtrip/document.hpp"
#include "roundtrip/emit.hpp"

namespace fs = std::filesystem;

namespace {

void mark_all_modified(qf::YamlNode& root) {
  std::vector<qf::YamlNode*> stack{&root};
  while (!stack.empty()) {
    qf::YamlNode* n = stack.back();
    stack.pop_back();
    n->comments.modified = true;
    for (qf::YamlNode& item : n->items) stack.push_back(&item);
    for (qf::MappingEntry& e : n->pairs) {
      stack.push_back(&e.key);
      stack.push_back(&e.value);
    }
  }
}

template <class F>
double seconds_per_pass(double min_seconds, F&& pass) {
  using clock = std::chrono::steady_clock;
  size_t passes = 0;
  auto start = clock::now();
  double elapsed = 0;
  do {
    pass();
    ++passes;
    elapsed = std::chrono::duration<double>(clock::now() - start).count();
  } while (elapsed < min_seconds);
  return elapsed / double(passes);
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path dir = argc > 1 ? fs::path(argv[1]) : fs::path(QF_SOURCE_DIR "/../shared/corpus");
  const double min_seconds = argc > 2 ? std::stod(argv[2]) : 2.0;
  std::vector<std::string> texts;
  size_t total = 0;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    const auto ext = entry.path().extension();
    if (ext != ".yaml" && ext != ".yml") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    texts.push_back(ss.str());
    total += texts.back().size();
  }
  if (texts.empty()) {
    std::fprintf(stderr, "no YAML files under %s\n", dir.c_str());
    return 1;
  }
  size_t sink = 0;
  double unchanged = seconds_per_pass(min_seconds, [&] {
    for (const std::string& t : texts) {
      qf::RoundTripDocument doc;
      qf::ComposeResult r = qf::compose_documents(t);
      doc.docs = std::move(r.roots);
      doc.source = t;
      sink += qf::render_document(doc).size();
    }
  });
  double reemitted = seconds_per_pass(min_seconds, [&] {
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
