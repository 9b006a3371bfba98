// Scanner throughput over the real-world corpus: every .yaml/.yml file under
// ../shared/corpus is tokenized repeatedly; reports MB/s on one core.
//
//   scanner_bench [corpus-dir] [min-seconds]
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "corpus_texts.hpp"
#include "scanner/scanner.hpp"

int main(int argc, char** argv) {
  const qf::bench::CorpusTexts corpus = qf::bench::read_corpus(argc, argv);
  if (corpus.texts.empty()) return 1;
  const auto& [texts, total, min_seconds] = corpus;
  size_t failed = 0;
  size_t tokens = 0;
  for (const auto& t : texts) {
    qf::Scanner s(t);
    auto r = qf::tokenize(s);
    if (!r.ok()) ++failed;
    tokens += r.tokens.size();
  }

  using clock = std::chrono::steady_clock;
  const auto start = clock::now();
  double elapsed = 0;
  size_t rounds = 0;
  size_t sink = 0;
  double best = 1e300;
  while (elapsed < min_seconds || rounds < 3) {
    const auto round_start = clock::now();
    for (const auto& t : texts) {
      qf::Scanner s(t);
      auto r = qf::tokenize(s);
      sink += r.tokens.size();
    }
    const double round = std::chrono::duration<double>(clock::now() - round_start).count();
    if (round < best) best = round;
    ++rounds;
    elapsed = std::chrono::duration<double>(clock::now() - start).count();
  }
  const double mb = static_cast<double>(total) / 1e6;
  std::printf("files: %zu (%zu rejected), bytes: %zu, tokens per pass: %zu\n", texts.size(),
              failed, total, tokens);
  std::printf("rounds: %zu, mean: %.1f MB/s, best: %.1f MB/s%s\n", rounds,
              mb * static_cast<double>(rounds) / elapsed, mb / best, sink ? "" : " ");
  return 0;
}
