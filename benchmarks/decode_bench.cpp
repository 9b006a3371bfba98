// Plain loader throughput over the real-world corpus, by stage: the scanner
// alone, then scanning and decoding to value trees (what runs without the
// interpreter lock in loads/loads_all), on one core.
//
//   decode_bench [corpus-dir] [min-seconds] [scan|decode]   (default: both)
#include <cstdio>
#include <string>
#include <vector>

#include "corpus_texts.hpp"
#include "decode/loader.hpp"
#include "scanner/scanner.hpp"

int main(int argc, char** argv) {
  const qf::bench::CorpusTexts corpus = qf::bench::read_corpus(argc, argv);
  if (corpus.texts.empty()) return 1;
  // One stage alone, for a profiler.
  const std::string only = argc > 3 ? argv[3] : "";
  size_t sink = 0, rejected = 0;
  const double mb = static_cast<double>(corpus.total) / 1e6;
  std::printf("files: %zu, bytes: %zu\n", corpus.texts.size(), corpus.total);
  if (only != "decode") {
    const double scan = qf::bench::best_seconds_per_pass(corpus.min_seconds, [&] {
      rejected = 0;
      for (const std::string& t : corpus.texts) {
        qf::Scanner s(t);
        const qf::TokenizeResult r = qf::tokenize(s);
        sink += r.tokens.size();
        rejected += !r.ok();
      }
    });
    std::printf("scan:          %7.3f ms per pass, %6.1f MB/s (%zu texts rejected)\n", scan * 1e3,
                mb / scan, rejected);
  }
  if (only != "scan") {
    const qf::DecodeSettings settings;
    const double decode = qf::bench::best_seconds_per_pass(corpus.min_seconds, [&] {
      for (const std::string& t : corpus.texts) sink += qf::decode_documents(t, settings).documents.size();
    });
    std::printf("scan + decode: %7.3f ms per pass, %6.1f MB/s\n", decode * 1e3, mb / decode);
  }
  return sink ? 0 : 2;
}
