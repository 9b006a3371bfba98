// Shared by the C++ tests of several subsystems: test data read whole.
#pragma once
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace qf::test {

inline std::string read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The test suite's `in.yaml` texts, or with `corpus` the corpus's YAML
// files; none when the shared data is missing.
inline std::vector<std::string> shared_texts(bool corpus) {
  namespace fs = std::filesystem;
  std::vector<std::string> texts;
  const fs::path root = fs::path(QF_SOURCE_DIR) / ".." / "shared" / (corpus ? "corpus" : "yaml-test-suite");
  if (!fs::exists(root)) return texts;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    const fs::path ext = e.path().extension();
    if (corpus ? ext != ".yaml" && ext != ".yml" : e.path().filename() != "in.yaml") continue;
    texts.push_back(read_file(e.path()));
  }
  return texts;
}

}  // namespace qf::test
