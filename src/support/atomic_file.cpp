#include "support/atomic_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

namespace qf {

namespace {

std::atomic<uint64_t> g_temp_counter{0};
ReplaceStepHook g_hook = nullptr;
void* g_hook_context = nullptr;

// errno of a step the hook fails, else 0.
int hook(ReplaceStep step, const std::string& temp) {
  return g_hook ? g_hook(step, temp, g_hook_context) : 0;
}

FileError fixed(FileError::Kind kind, const char* text) { return FileError{kind, 0, text}; }

FileError no_file_name() {
  return fixed(FileError::Kind::NoFileName, "cannot write a path that ends in `..` or is empty");
}

// Symbolic links followed before giving up, as the kernel does.
constexpr int kMaxLinks = 40;

// Splits `path` into directory and file name. False when it has no file
// name; `trailing_slash` is set for "name/".
bool split_path(std::string_view path, std::string& dir, std::string& name, bool& trailing_slash) {
  trailing_slash = false;
  size_t end = path.size();
  while (end > 0 && path[end - 1] == '/') --end;
  if (end == 0) return false;  // "" or only slashes
  trailing_slash = end != path.size();
  std::string_view p = path.substr(0, end);
  size_t slash = p.rfind('/');
  std::string_view n = slash == std::string_view::npos ? p : p.substr(slash + 1);
  if (n == "." || n == "..") return false;
  name.assign(n);
  if (slash == std::string_view::npos) dir = ".";
  else if (slash == 0) dir = "/";
  else dir.assign(p.substr(0, slash));
  return true;
}

std::string join(const std::string& dir, std::string_view name) {
  std::string out = dir;
  if (out.empty() || out.back() != '/') out.push_back('/');
  out.append(name);
  return out;
}

void close_quietly(int fd) noexcept {
  int saved = errno;
  ::close(fd);
  errno = saved;
}

std::optional<FileError> write_all(int fd, std::string_view bytes) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return FileError::os(errno);
    }
    if (n == 0) return fixed(FileError::Kind::ShortWrite, "failed to write whole buffer");
    p += n;
    left -= static_cast<size_t>(n);
  }
  return std::nullopt;
}

// Syncs a directory so that a rename in it is durable. Some file systems
// cannot sync a directory (EINVAL): nothing more can be done there.
std::optional<FileError> sync_directory(int dir_fd, const std::string& temp) {
  if (int e = hook(ReplaceStep::SyncDir, temp)) return FileError::os(e);
  if (::fsync(dir_fd) != 0 && errno != EINVAL) return FileError::os(errno);
  return std::nullopt;
}

std::optional<FileError> open_directory(int base, const std::string& dir, std::shared_ptr<const DirHandle>& out) {
  int fd;
  do fd = ::openat(base, dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return FileError::os(errno);
  out = std::make_shared<const DirHandle>(fd);
  return std::nullopt;
}

}  // namespace

FileError FileError::os(int err) { return FileError{Kind::Os, err, os_error_text(err)}; }

std::string os_error_text(int err) {
  char buf[256];
  // The GNU form returns the message (maybe not in buf).
  const char* msg = strerror_r(err, buf, sizeof buf);
  std::string out(msg ? msg : "unknown error");
  out += " (os error ";
  out += std::to_string(err);
  out += ')';
  return out;
}

DirHandle::~DirHandle() {
  if (fd_ >= 0) ::close(fd_);
}

std::optional<FileError> resolve_target(std::string_view path, ReplaceTarget& out, DirCache* cache) {
  out = ReplaceTarget{};
  out.path.assign(path);
  if (path.find('\0') != std::string_view::npos) return FileError::os(EINVAL);
  // The path followed so far as text, and the same relative to `base`: the
  // caller's directory at first, then the directory the last link lies in.
  std::string current(path);
  std::string rel(path);
  std::shared_ptr<const DirHandle> base;
  std::string rel_dir;
  for (int hops = 0;; ++hops) {
    bool trailing_slash = false;
    if (!split_path(current, out.dir, out.name, trailing_slash)) return no_file_name();
    // "name/" designates a directory, whatever is there.
    if (trailing_slash) return FileError::os(EISDIR);
    split_path(rel, rel_dir, out.name, trailing_slash);  // the same last component
    out.final_path = join(out.dir, out.name);
    if (out.dir == "." && current.rfind("./", 0) != 0) out.final_path = out.name;

    std::shared_ptr<const DirHandle> dir;
    if (base && rel_dir == ".") {
      dir = base;
    } else {
      const bool from_cwd = !base || rel_dir.front() == '/';
      if (from_cwd && cache)
        if (auto it = cache->find(rel_dir); it != cache->end()) dir = it->second;
      if (!dir) {
        if (auto err = open_directory(base && !from_cwd ? base->fd() : AT_FDCWD, rel_dir, dir)) return err;
        if (from_cwd && cache) cache->emplace(rel_dir, dir);
      }
    }
    out.dir_handle = dir;

    struct stat st;
    if (::fstatat(dir->fd(), out.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) return FileError::os(errno);
      // A new file (possibly the target of a dangling link): its identity
      // is its directory's and its name.
      struct stat ds;
      if (::fstat(dir->fd(), &ds) == 0) {
        out.dev = ds.st_dev;
        out.ino = ds.st_ino;
      }
      return std::nullopt;
    }
    if (S_ISLNK(st.st_mode)) {
      if (hops >= kMaxLinks) return FileError::os(ELOOP);
      std::string link(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
      for (;;) {
        ssize_t n = ::readlinkat(dir->fd(), out.name.c_str(), link.data(), link.size());
        if (n < 0) return FileError::os(errno);
        if (static_cast<size_t>(n) < link.size()) {
          link.resize(static_cast<size_t>(n));
          break;
        }
        link.resize(link.size() * 2);
      }
      current = (!link.empty() && link[0] == '/') ? link : join(out.dir, link);
      rel = std::move(link);
      base = std::move(dir);
      continue;
    }
    if (!S_ISREG(st.st_mode)) return fixed(FileError::Kind::NotRegular, "not a regular file");
    out.exists = true;
    out.mode = st.st_mode;
    out.uid = st.st_uid;
    out.gid = st.st_gid;
    out.dev = st.st_dev;
    out.ino = st.st_ino;
    return std::nullopt;
  }
}

bool same_file(const ReplaceTarget& a, const ReplaceTarget& b) {
  if (a.final_path == b.final_path) return true;
  if (a.exists != b.exists) return false;
  if (a.exists) return a.dev == b.dev && a.ino == b.ino;
  // Two new files: the same name in the same directory.
  return a.name == b.name && a.ino != 0 && a.dev == b.dev && a.ino == b.ino;
}

PendingReplace::PendingReplace(PendingReplace&& o) noexcept
    : target_(std::move(o.target_)),
      temp_(std::move(o.temp_)),
      temp_name_(std::move(o.temp_name_)),
      written_(o.written_),
      live_(std::exchange(o.live_, false)),
      renamed_(o.renamed_) {}

PendingReplace& PendingReplace::operator=(PendingReplace&& o) noexcept {
  if (this != &o) {
    abort();
    target_ = std::move(o.target_);
    temp_ = std::move(o.temp_);
    temp_name_ = std::move(o.temp_name_);
    written_ = o.written_;
    live_ = std::exchange(o.live_, false);
    renamed_ = o.renamed_;
  }
  return *this;
}

void PendingReplace::abort() noexcept {
  if (!live_) return;
  live_ = false;
  if (hook(ReplaceStep::Unlink, temp_) == 0) ::unlinkat(target_.dir_handle->fd(), temp_name_.c_str(), 0);
}

std::optional<FileError> PendingReplace::commit() {
  if (!live_) return FileError::os(EINVAL);
  int e = hook(ReplaceStep::Rename, temp_);
  const int dir_fd = target_.dir_handle->fd();
  if (e == 0 && ::renameat(dir_fd, temp_name_.c_str(), dir_fd, target_.name.c_str()) != 0) e = errno;
  if (e != 0) {
    abort();
    return FileError::os(e);
  }
  live_ = false;
  renamed_ = true;
  return sync_directory(dir_fd, temp_);
}

std::optional<FileError> prepare_replace(const ReplaceTarget& target, std::string_view bytes, PendingReplace& out) {
  out.abort();
  if (!target.dir_handle) return FileError::os(EBADF);  // not resolved
  const int dir_fd = target.dir_handle->fd();
  const uint32_t pid = static_cast<uint32_t>(::getpid());
  const std::string base = target.name + ".quillfern-tmp." + std::to_string(pid) + '.';
  const std::string dir_prefix = join(target.dir, "");
  // An existing target's content is private until its mode is copied; a new
  // file gets 0666 less the umask, as open() would give it.
  const mode_t create_mode = target.exists ? 0600 : 0666;
  std::string name;
  std::string temp;
  int fd = -1;
  for (;;) {
    name = base + std::to_string(g_temp_counter.fetch_add(1, std::memory_order_relaxed));
    temp = dir_prefix + name;
    if (int e = hook(ReplaceStep::Create, temp)) return FileError::os(e);
    fd = ::openat(dir_fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, create_mode);
    if (fd >= 0) break;
    if (errno != EEXIST && errno != EINTR) return FileError::os(errno);
  }
  out.target_ = target;
  out.temp_ = std::move(temp);
  out.temp_name_ = std::move(name);
  out.live_ = true;
  out.renamed_ = false;
  auto fail = [&](FileError err) -> std::optional<FileError> {
    if (fd >= 0) close_quietly(fd);
    out.abort();
    return err;
  };
  struct stat st;
  if (::fstat(fd, &st) != 0) return fail(FileError::os(errno));
  out.written_ = FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  if (target.exists) {
    if (int e = hook(ReplaceStep::Chmod, temp)) return fail(FileError::os(e));
    // Only a privileged process can give a file away; keeping the group
    // works where the caller is a member. Either is best effort. Metadata
    // already right is left alone: each change is one more journal entry to
    // sync.
    if ((st.st_uid != target.uid || st.st_gid != target.gid) && ::fchown(fd, target.uid, target.gid) != 0 &&
        errno != EPERM && errno != EINVAL)
      return fail(FileError::os(errno));
    if ((st.st_mode & 07777) != (target.mode & 0777) && ::fchmod(fd, target.mode & 0777) != 0)
      return fail(FileError::os(errno));
  }
  if (int e = hook(ReplaceStep::Write, temp)) return fail(FileError::os(e));
  if (auto err = write_all(fd, bytes)) return fail(std::move(*err));
  if (int e = hook(ReplaceStep::Sync, temp)) return fail(FileError::os(e));
  if (::fsync(fd) != 0) return fail(FileError::os(errno));
  if (int e = hook(ReplaceStep::Close, temp)) return fail(FileError::os(e));
  int rc = ::close(fd);
  fd = -1;
  if (rc != 0) return fail(FileError::os(errno));
  return std::nullopt;
}

std::optional<FileError> write_file_atomically(std::string_view path, std::string_view bytes) {
  ReplaceTarget target;
  if (auto err = resolve_target(path, target)) return err;
  PendingReplace pending;
  if (auto err = prepare_replace(target, bytes, pending)) return err;
  return pending.commit();
}

std::optional<BatchFailure> replace_files(std::span<const FileWrite> writes, std::vector<size_t>& written,
                                          std::vector<FileIdentity>* now) {
  written.clear();
  if (now) now->clear();
  std::vector<ReplaceTarget> targets(writes.size());
  std::vector<size_t> todo;
  DirCache dirs;
  for (size_t i = 0; i < writes.size(); ++i) {
    if (auto err = resolve_target(writes[i].path, targets[i], &dirs)) return BatchFailure{i, std::move(*err)};
    if (writes[i].loaded && (!targets[i].exists || FileIdentity{targets[i].dev, targets[i].ino} != *writes[i].loaded))
      return BatchFailure{i, fixed(FileError::Kind::NotLoaded, "it no longer resolves to the file that was loaded")};
    bool duplicate = false;
    for (size_t j : todo) {
      if (!same_file(targets[j], targets[i])) continue;
      if (writes[j].bytes != writes[i].bytes)
        return BatchFailure{i, fixed(FileError::Kind::SameFile, "another write reaches the same file")};
      duplicate = true;
      break;
    }
    if (!duplicate) todo.push_back(i);
  }
  std::vector<PendingReplace> pending(todo.size());
  for (size_t k = 0; k < todo.size(); ++k) {
    if (auto err = prepare_replace(targets[todo[k]], writes[todo[k]].bytes, pending[k]))
      return BatchFailure{todo[k], std::move(*err)};  // the destructors remove the temporaries
  }
  for (size_t k = 0; k < todo.size(); ++k) {
    auto err = pending[k].commit();
    if (pending[k].renamed()) {
      written.push_back(todo[k]);
      if (now) now->push_back(pending[k].written());
    }
    if (err) return BatchFailure{todo[k], std::move(*err)};
  }
  return std::nullopt;
}

void set_replace_step_hook(ReplaceStepHook hook_fn, void* context) noexcept {
  g_hook = hook_fn;
  g_hook_context = context;
}

}  // namespace qf
