// Plain loader throughput over the real-world corpus, split by stage: the
// scanner alone, then scanning and decoding to value trees (what runs
// without the interpreter lock in loads/loads_all), on one core.
//
//   decode_bench [corpus-dir] [min-seconds] [scan|decode]   (default: both)
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "corpus_texts.hpp"
#include "decode/loader.hpp"
#include "scanner/scanner.hpp"

namespace {

template <class Fn>
double best_round(const std::vector<std::string>& texts, double min_seconds, Fn&& fn) {
  using clock = std::chrono::steady_clock;
  const auto start = clock::now();
  double best = 1e300, elapsed = 0;
  size_t rounds = 0;
  while (elapsed < min_seconds || rounds < 3) {
    const auto round_start = clock::now();
    for (const auto& t : texts) fn(t);
    const double round = std::chrono::duration<double>(clock::now() - round_start).count();
    if (round < best) best = round;
    ++rounds;
    elapsed = std::chrono::duration<double>(clock::now() - start).count();
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const qf::bench::CorpusTexts corpus = qf::bench::read_corpus(argc, argv);
  if (corpus.texts.empty()) return 1;
  // One stage alone, for a profiler.
  const std::string only = argc > 3 ? argv[3] : "";
  size_t sink = 0;
  const double mb = static_cast<double>(corpus.total) / 1e6;
  std::printf("files: %zu, bytes: %zu\n", corpus.texts.size(), corpus.total);
  if (only != "decode") {
    const double scan = best_round(corpus.texts, corpus.min_seconds, [&](const std::string& t) {
      qf::Scanner s(t);
      sink += qf::tokenize(s).tokens.size();
    });
    std::printf("scan:          %7.3f ms per pass, %6.1f MB/s\n", scan * 1e3, mb / scan);
  }
  if (only != "scan") {
    const qf::DecodeSettings settings;
    const double decode = best_round(corpus.texts, corpus.min_seconds, [&](const std::string& t) {
      sink += qf::decode_documents(t, settings).documents.size();
    });
    std::printf("scan + decode: %7.3f ms per pass, %6.1f MB/s\n", decode * 1e3, mb / decode);
  }
  return sink ? 0 : 2;
}
