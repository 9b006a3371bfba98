// The replay driver of the fuzz targets in this folder, built instead of
// libFuzzer's main with QF_FUZZ_STANDALONE: it runs LLVMFuzzerTestOneInput
// over every file named on the command line and every regular file under the
// folders named there. Included once, at the end of a target's .cpp.
#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  size_t files = 0;
  auto run = [&](const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string s = ss.str();
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    ++files;
  };
  for (int i = 1; i < argc; ++i) {
    fs::path p(argv[i]);
    if (fs::is_directory(p)) {
      for (const auto& e : fs::recursive_directory_iterator(p))
        if (e.is_regular_file()) run(e.path());
    } else {
      run(p);
    }
  }
  std::cout << "replayed " << files << " inputs\n";
  return 0;
}
