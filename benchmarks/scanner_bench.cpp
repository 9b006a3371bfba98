// Scanner throughput over the real-world corpus: every .yaml/.yml file under
// ../shared/corpus is tokenized repeatedly; reports MB/s on one core.
//
//   scanner_bench [corpus-dir] [min-seconds]
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "scanner/scanner.hpp"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  const fs::path dir = argc > 1 ? fs::path(argv[1]) : fs::path(QF_SOURCE_DIR "/../shared/corpus");
  const double min_seconds = argc > 2 ? std::stod(argv[2]) : 2.0;
  std::vector<std::string> texts;
  size_t total = 0, failed = 0;
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
