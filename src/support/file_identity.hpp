// Which file a path led to: its device and inode numbers.
#pragma once
#include <cstdint>

namespace qf {

struct FileIdentity {
  uint64_t dev = 0;
  uint64_t ino = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

}  // namespace qf
