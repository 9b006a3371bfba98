#include "directives/file_access.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "support/byte_path.hpp"
#include "support/utf8.hpp"

namespace qf::directives {

namespace {

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

// The path the kernel holds for an open descriptor, when /proc tells it.
std::optional<std::string> descriptor_path(int fd) {
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  std::string buf(256, '\0');
  for (;;) {
    ssize_t n = ::readlink(link.c_str(), buf.data(), buf.size());
    if (n < 0) return std::nullopt;
    if (static_cast<size_t>(n) < buf.size()) {
      buf.resize(static_cast<size_t>(n));
      return buf;
    }
    if (buf.size() > (size_t{1} << 20)) return std::nullopt;
    buf.resize(buf.size() * 2);
  }
}

// The open descriptor is what `path` named when it was checked: inside the
// root by its kernel path, or, without /proc, the same file as the path.
bool descriptor_inside(int fd, const struct stat& st, const std::string& path, const std::string& root) {
  if (std::optional<std::string> at = descriptor_path(fd)) return path::is_inside(*at, root);
  struct stat by_path {};
  if (::stat(path.c_str(), &by_path) != 0) return false;
  return by_path.st_dev == st.st_dev && by_path.st_ino == st.st_ino && path::is_inside(path, root);
}

constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW;

}  // namespace

std::string os_error_text(int err) {
  return std::string(std::strerror(err)) + " (os error " + std::to_string(err) + ")";
}

Canonical canonicalize(const std::string& p) {
  Canonical out;
  if (p.find('\0') != std::string::npos) {
    out.error = EINVAL;
    return out;
  }
  errno = 0;
  std::unique_ptr<char, decltype(&std::free)> r(::realpath(p.c_str(), nullptr), &std::free);
  if (!r) {
    out.error = errno ? errno : ENOENT;
    return out;
  }
  out.path = r.get();
  return out;
}

std::optional<std::string> current_directory() {
  std::unique_ptr<char, decltype(&std::free)> r(::getcwd(nullptr, 0), &std::free);
  if (!r) return std::nullopt;
  return std::string(r.get());
}

bool is_symlink_entry(const std::string& p) {
  struct stat st {};
  return ::lstat(p.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool is_directory(const std::string& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

FileRead read_confined_file(const std::string& p, const std::string& root) {
  FileRead out;
  auto fail = [&](AccessFailure f, std::string m) {
    out.failure = f;
    out.message = std::move(m);
    out.text.clear();
    return std::move(out);
  };
  // Anything but a regular file or a directory is refused before the open
  // for reading, which a socket fails with an error of its own and a device
  // may act upon; what is reported is judged by a descriptor of the entry
  // itself (O_PATH opens nothing), so only an entry inside the root is told.
  struct stat entry {};
  if (::lstat(p.c_str(), &entry) == 0 && !S_ISREG(entry.st_mode) && !S_ISDIR(entry.st_mode) &&
      !S_ISLNK(entry.st_mode)) {
    Fd probe{::open(p.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC)};
    if (probe.fd < 0) return fail(AccessFailure::Os, os_error_text(errno));
    struct stat st {};
    if (::fstat(probe.fd, &st) != 0) return fail(AccessFailure::Os, os_error_text(errno));
    if (!descriptor_inside(probe.fd, st, p, root)) return fail(AccessFailure::Outside, {});
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode))
      return fail(AccessFailure::NotRegular, "not a regular file");
  }
  Fd f{::open(p.c_str(), kOpenFlags)};
  if (f.fd < 0) return fail(AccessFailure::Os, os_error_text(errno));
  struct stat st {};
  if (::fstat(f.fd, &st) != 0) return fail(AccessFailure::Os, os_error_text(errno));
  if (!descriptor_inside(f.fd, st, p, root)) return fail(AccessFailure::Outside, {});
  if (S_ISDIR(st.st_mode)) return fail(AccessFailure::Os, os_error_text(EISDIR));
  if (!S_ISREG(st.st_mode)) return fail(AccessFailure::NotRegular, "not a regular file");
  out.identity = FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  if (st.st_size > 0) out.text.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(f.fd, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(AccessFailure::Os, os_error_text(errno));
    }
    out.text.append(buf, static_cast<size_t>(n));
  }
  if (!check_utf8(out.text).ok) return fail(AccessFailure::NotUtf8, "stream did not contain valid UTF-8");
  return out;
}

DirRead list_confined_directory(const std::string& p, const std::string& root) {
  DirRead out;
  auto fail = [&](AccessFailure f, int err) {
    out.failure = f;
    out.message = err ? os_error_text(err) : std::string();
    out.names.clear();
    return std::move(out);
  };
  Fd f{::open(p.c_str(), kOpenFlags | O_DIRECTORY)};
  if (f.fd < 0) return fail(AccessFailure::Os, errno);
  struct stat st {};
  if (::fstat(f.fd, &st) != 0) return fail(AccessFailure::Os, errno);
  if (!descriptor_inside(f.fd, st, p, root)) return fail(AccessFailure::Outside, 0);
  out.device = st.st_dev;
  out.inode = st.st_ino;
  DIR* d = ::fdopendir(f.fd);
  if (!d) return fail(AccessFailure::Os, errno);
  f.fd = -1;  // owned by the DIR now
  std::unique_ptr<DIR, decltype(&::closedir)> dir(d, &::closedir);
  for (;;) {
    errno = 0;
    struct dirent* e = ::readdir(d);
    if (!e) {
      if (errno != 0) return fail(AccessFailure::Os, errno);
      break;
    }
    std::string_view name(e->d_name);
    if (name == "." || name == "..") continue;
    out.names.emplace_back(name);
  }
  return out;
}

}  // namespace qf::directives
