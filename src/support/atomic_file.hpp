// Replacing files so that a reader sees the old content or the complete new
// one, never a mix, and a failure leaves the target as it was.
//
// One replacement runs in three steps, so that several files can be written
// as one unit (every temporary written and synced before the first rename):
//   prepare: resolve the target (symbolic links followed to the file that is
//            really replaced), create a temporary beside it, give it the
//            target's mode bits and owner, write and sync it;
//   commit:  rename the temporary over the target, sync the directory;
//   abort:   remove the temporary.
// The target's directory is opened once, when the target is resolved, and
// every later step (the check of what is there, creation, rename, removal,
// the directory sync) is relative to that descriptor: a directory on the
// path renamed or swapped for a link afterwards cannot redirect the write.
// Temporaries are named "{file name}.quillfern-tmp.{pid}.{n}" with n from
// one process-wide counter; a name that already exists is skipped.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "support/file_identity.hpp"

namespace qf {

struct FileError {
  enum class Kind : uint8_t {
    Os,          // a system call failed: text "{message} (os error {errno})"
    NoFileName,  // the path is empty, ends in ".." or "." or is a root
    ShortWrite,  // write() reported zero bytes
    NotRegular,  // the target exists and is not a regular file
    SameFile,    // two writes of different bytes reach one file
    NotLoaded,   // the target is no longer the file the caller read
  };
  Kind kind = Kind::Os;
  int os_errno = 0;
  std::string text;  // the display text

  static FileError os(int err);
};

// "{strerror} (os error {err})".
std::string os_error_text(int err);

// An open directory, closed with its last owner.
class DirHandle {
 public:
  explicit DirHandle(int fd) noexcept : fd_(fd) {}
  ~DirHandle();
  DirHandle(const DirHandle&) = delete;
  DirHandle& operator=(const DirHandle&) = delete;
  int fd() const noexcept { return fd_; }

 private:
  int fd_;
};

// The file a path designates once symbolic links are followed.
struct ReplaceTarget {
  std::string path;        // as given
  std::string final_path;  // the file actually replaced, as text (messages, tests)
  std::string dir;         // its directory as text ("." when the path has none)
  std::string name;        // its file name
  std::shared_ptr<const DirHandle> dir_handle;  // that directory, opened by the resolution
  bool exists = false;
  uint32_t mode = 0;  // of an existing target
  uint32_t uid = 0;
  uint32_t gid = 0;
  uint64_t dev = 0;  // of the target when it exists, else of its directory
  uint64_t ino = 0;
};

// Directories already opened by the resolutions of one batch, by the text
// they were opened with: targets named in one directory share its
// descriptor, and a batch holds one descriptor per directory.
using DirCache = std::unordered_map<std::string, std::shared_ptr<const DirHandle>>;

// Follows the path's symbolic links (a dangling one designates its target,
// which will be created) and checks what is there. Each link is read from
// the directory descriptor it lies in, and the final directory stays open in
// `out`. Creates nothing.
std::optional<FileError> resolve_target(std::string_view path, ReplaceTarget& out, DirCache* cache = nullptr);

// Whether two resolved targets are one file.
bool same_file(const ReplaceTarget& a, const ReplaceTarget& b);

// A written and synced temporary waiting for its rename. Destroying it
// without commit() removes the temporary.
class PendingReplace {
 public:
  PendingReplace() = default;
  PendingReplace(PendingReplace&& o) noexcept;
  PendingReplace& operator=(PendingReplace&& o) noexcept;
  PendingReplace(const PendingReplace&) = delete;
  PendingReplace& operator=(const PendingReplace&) = delete;
  ~PendingReplace() { abort(); }

  const ReplaceTarget& target() const noexcept { return target_; }
  const std::string& temp_path() const noexcept { return temp_; }
  // The temporary's identity: the target's once renamed.
  const FileIdentity& written() const noexcept { return written_; }
  // The rename of commit() took place (even when the directory sync failed).
  bool renamed() const noexcept { return renamed_; }

  // Renames the temporary over the target and syncs the directory. After a
  // failed rename the temporary is removed and the target is unchanged; a
  // failed directory sync comes after the rename (the new content is in
  // place, its durability is not assured) and is reported all the same.
  std::optional<FileError> commit();
  // Removes the temporary (a failure to remove it is ignored).
  void abort() noexcept;

 private:
  friend std::optional<FileError> prepare_replace(const ReplaceTarget&, std::string_view, PendingReplace&);
  ReplaceTarget target_;
  std::string temp_;       // as text, for messages and tests
  std::string temp_name_;  // in target_.dir_handle
  FileIdentity written_;
  bool live_ = false;
  bool renamed_ = false;
};

// Creates, fills and syncs the temporary for `target`. On failure nothing is
// left behind.
std::optional<FileError> prepare_replace(const ReplaceTarget& target, std::string_view bytes, PendingReplace& out);

// One file: resolve, prepare, commit.
std::optional<FileError> write_file_atomically(std::string_view path, std::string_view bytes);

// Several files as one unit: every target is resolved and every temporary
// written and synced before the first rename, so a failure up to then
// changes no file. A later write that reaches the same file as an earlier
// one is skipped when its bytes are equal and refused (SameFile) otherwise.
// A write with `loaded` replaces only that file: a path that now leads
// elsewhere (a link swapped in, the file replaced or removed) is refused
// (NotLoaded) before anything is created. The check looks through the
// directory descriptor that the replacement then uses, so a swap after it
// changes nothing outside that directory.
struct FileWrite {
  std::string_view path;
  std::string_view bytes;
  std::optional<FileIdentity> loaded;
};
struct BatchFailure {
  size_t index;  // of the write that failed
  FileError error;
};
// `written` receives the indexes of the writes carried out, in order, and
// `now`, when given, the identity of the file each of them put in place.
std::optional<BatchFailure> replace_files(std::span<const FileWrite> writes, std::vector<size_t>& written,
                                          std::vector<FileIdentity>* now = nullptr);

// Test support: a hook called before each step of a replacement, with the
// temporary's path (empty before it exists). A non-zero return fails the
// step with that errno without running it (for Unlink: the temporary stays);
// the hook may also end the process.
enum class ReplaceStep : uint8_t { Create, Chmod, Write, Sync, Close, Rename, SyncDir, Unlink };
using ReplaceStepHook = int (*)(ReplaceStep step, const std::string& temp_path, void* context);
// nullptr removes the hook. Not synchronised: set it while no replacement runs.
void set_replace_step_hook(ReplaceStepHook hook, void* context) noexcept;

}  // namespace qf
