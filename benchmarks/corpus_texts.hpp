// Shared by the C++ benchmarks: their command line, [corpus-dir]
// [min-seconds], the corpus they time, read whole up front, and the timing
// of passes over it.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace qf::bench {

struct CorpusTexts {
  std::vector<std::string> texts;
  size_t total = 0;          // bytes over all texts
  double min_seconds = 2.0;  // how long to time at least
};

// Every .yaml/.yml file under the folder named by argv[1] (the corpus under
// ../shared by default); reports on stderr when there is none.
inline CorpusTexts read_corpus(int argc, char** argv) {
  namespace fs = std::filesystem;
  const fs::path dir = argc > 1 ? fs::path(argv[1]) : fs::path(QF_SOURCE_DIR "/../shared/corpus");
  CorpusTexts out;
  if (argc > 2) out.min_seconds = std::stod(argv[2]);
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    const auto ext = entry.path().extension();
    if (ext != ".yaml" && ext != ".yml") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    out.texts.push_back(ss.str());
    out.total += out.texts.back().size();
  }
  if (out.texts.empty()) std::fprintf(stderr, "no YAML files under %s\n", dir.c_str());
  return out;
}

// Seconds of the fastest of the passes made in `min_seconds` (three at
// least): the least disturbed by whatever else runs on the machine.
template <class Pass>
double best_seconds_per_pass(double min_seconds, Pass&& pass) {
  using clock = std::chrono::steady_clock;
  const auto start = clock::now();
  double best = 1e300, elapsed = 0;
  size_t passes = 0;
  while (elapsed < min_seconds || passes < 3) {
    const auto pass_start = clock::now();
    pass();
    const double seconds = std::chrono::duration<double>(clock::now() - pass_start).count();
    if (seconds < best) best = seconds;
    ++passes;
    elapsed = std::chrono::duration<double>(clock::now() - start).count();
  }
  return best;
}

}  // namespace qf::bench
