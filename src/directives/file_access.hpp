// The file-system reads of configuration directives, confined to the include
// root and failing closed: a path is opened without following a final link,
// and the descriptor itself must lie inside the root, so a link swapped in
// after the path was checked, or one that expands past PATH_MAX, reads
// nothing outside it. Paths are byte strings.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "support/file_identity.hpp"

namespace qf::directives {

// "{strerror} (os error {n})".
std::string os_error_text(int err);

// The canonical absolute path with every link resolved; the errno on failure.
struct Canonical {
  std::string path;
  int error = 0;
  bool ok() const noexcept { return error == 0; }
};
Canonical canonicalize(const std::string& p);

// The working directory, or none.
std::optional<std::string> current_directory();

// lstat: the entry itself is a symbolic link.
bool is_symlink_entry(const std::string& p);
// stat: a directory, links followed; false for anything missing.
bool is_directory(const std::string& p);

enum class AccessFailure : uint8_t {
  None,
  Os,          // the open or read failed: `message` is the OS text
  NotRegular,  // not a regular file (a FIFO, a device, a socket)
  NotUtf8,     // "stream did not contain valid UTF-8"
  Outside,     // the descriptor lies outside the root
};

struct FileRead {
  std::string text;
  FileIdentity identity;  // of the file read
  AccessFailure failure = AccessFailure::None;
  std::string message;
  bool ok() const noexcept { return failure == AccessFailure::None; }
};
// Reads a whole regular file as UTF-8 text, checking the open descriptor
// against `root` (an absolute canonical path).
FileRead read_confined_file(const std::string& path, const std::string& root);

struct DirRead {
  std::vector<std::string> names;  // without "." and ".."
  dev_t device = 0;
  ino_t inode = 0;
  AccessFailure failure = AccessFailure::None;
  std::string message;
  bool ok() const noexcept { return failure == AccessFailure::None; }
};
// Lists a directory whole: a failure while reading entries fails the
// listing rather than shortening it.
DirRead list_confined_directory(const std::string& path, const std::string& root);

}  // namespace qf::directives
