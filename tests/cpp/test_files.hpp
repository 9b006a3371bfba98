// Shared by the C++ tests of several subsystems: test data read whole.
#pragma once
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace qf::test {

inline std::string read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace qf::test
