// libFuzzer target for compose-then-emit. Inputs that are not valid UTF-8
// are skipped (the loaders hand the composer validated text); every other
// input either fails to compose with a positioned error or satisfies the
// round-trip property of roundtrip_fuzz_check.hpp.
//
//   CXX=clang++ cmake -S tests/cpp/roundtrip/fuzz -B build/rt-fuzz -G Ninja
//   cmake --build build/rt-fuzz
//   build/rt-fuzz/roundtrip_fuzz -max_len=4096 -timeout=10 corpus-dir ../shared/yaml-test-suite
//
// Without clang, -DQF_FUZZ_STANDALONE=ON builds a driver that replays the
// files and folders given on its command line and then mutates them at
// random for the number of seconds given with --mutate=N (--seed=N picks the
// random sequence).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "roundtrip_fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!qf::fuzz::valid_utf8(text)) return -1;
  if (std::optional<std::string> failure = qf::fuzz::check_round_trip(text)) {
    std::fprintf(stderr, "%s\n", failure->c_str());
    std::abort();
  }
  return 0;
}

#ifdef QF_FUZZ_STANDALONE
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<std::string> inputs;
  double mutate_seconds = 0;
  uint64_t seed = 12345;
  auto load = [&](const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    inputs.push_back(ss.str());
  };
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.rfind("--mutate=", 0) == 0) {
      mutate_seconds = std::stod(arg.substr(9));
      continue;
    }
    if (arg.rfind("--seed=", 0) == 0) {
      seed = std::stoull(arg.substr(7));
      continue;
    }
    fs::path p(arg);
    if (fs::is_directory(p)) {
      for (const auto& e : fs::recursive_directory_iterator(p)) {
        auto ext = e.path().extension();
        if (e.is_regular_file() && (ext == ".yaml" || ext == ".yml")) load(e.path());
      }
    } else {
      load(p);
    }
  }
  size_t composed = 0;
  for (const std::string& s : inputs)
    if (LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(s.data()), s.size()) == 0 &&
        qf::compose_documents(s).ok())
      ++composed;
  std::cout << inputs.size() << " inputs replayed, " << composed << " composed\n";
  if (mutate_seconds <= 0 || inputs.empty()) return 0;
  std::mt19937_64 rng(seed);
  const std::string alphabet = " \n\n\t-:?,[]{}#&*!|>'\"%@`.0aZ~\\\r";
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(mutate_seconds);
  size_t runs = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    std::string s = inputs[rng() % inputs.size()];
    int edits = 1 + int(rng() % 4);
    for (int k = 0; k < edits; ++k) {
      size_t pos = s.empty() ? 0 : rng() % (s.size() + 1);
      switch (rng() % 4) {
        case 0:
          s.insert(pos, 1, alphabet[rng() % alphabet.size()]);
          break;
        case 1:
          if (pos < s.size()) s.erase(pos, 1 + rng() % 3);
          break;
        case 2:
          if (pos < s.size()) s[pos] = alphabet[rng() % alphabet.size()];
          break;
        default: {
          const std::string& other = inputs[rng() % inputs.size()];
          if (!other.empty()) {
            size_t from = rng() % other.size();
            s.insert(pos, other.substr(from, 1 + rng() % 40));
          }
        }
      }
    }
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    ++runs;
  }
  std::cout << runs << " mutated inputs checked\n";
  return 0;
}
#endif
