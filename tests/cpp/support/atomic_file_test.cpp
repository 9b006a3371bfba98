#include "support/atomic_file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using qf::FileError;
using qf::ReplaceStep;

// A fresh directory, removed with what is in it (one level) at the end.
struct TempDir {
  std::string path;
  TempDir() {
    char tmpl[] = "/tmp/qf-atomic-XXXXXX";
    path = ::mkdtemp(tmpl);
  }
  ~TempDir() {
    for (const std::string& n : entries()) {
      const std::string p = path + "/" + n;
      if (::unlink(p.c_str()) != 0) ::rmdir(p.c_str());
    }
    ::rmdir(path.c_str());
  }
  std::string operator/(const std::string& name) const { return path + "/" + name; }
  std::vector<std::string> entries() const {
    std::vector<std::string> out;
    if (DIR* d = ::opendir(path.c_str())) {
      while (dirent* e = ::readdir(d))
        if (std::string n = e->d_name; n != "." && n != "..") out.push_back(n);
      ::closedir(d);
    }
    std::sort(out.begin(), out.end());
    return out;
  }
};

std::string read_file(const std::string& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void write_plain(const std::string& p, const std::string& bytes, mode_t mode = 0644) {
  int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
  ::fchmod(fd, mode);
  ::close(fd);
}

mode_t mode_of(const std::string& p) {
  struct stat st;
  EXPECT_EQ(::lstat(p.c_str(), &st), 0);
  return st.st_mode;
}

// Records every step with its temporary, and fails one step when asked.
struct Recorder {
  std::vector<std::pair<ReplaceStep, std::string>> steps;
  std::optional<ReplaceStep> fail_at;
  int fail_errno = EIO;
  static int hook(ReplaceStep step, const std::string& temp, void* ctx) {
    auto* r = static_cast<Recorder*>(ctx);
    r->steps.emplace_back(step, temp);
    return r->fail_at == step ? r->fail_errno : 0;
  }
  Recorder() { qf::set_replace_step_hook(&Recorder::hook, this); }
  ~Recorder() { qf::set_replace_step_hook(nullptr, nullptr); }
  std::vector<ReplaceStep> order() const {
    std::vector<ReplaceStep> out;
    for (auto& s : steps) out.push_back(s.first);
    return out;
  }
};

// The counter value at the end of a temporary's name.
uint64_t counter_of(const std::string& temp) { return std::stoull(temp.substr(temp.rfind('.') + 1)); }

TEST(AtomicFile, NewAndExistingTargetsRunTheirStepsInOrder) {
  TempDir dir;
  Recorder rec;
  const std::string target = dir / "config.yaml";
  ASSERT_FALSE(qf::write_file_atomically(target, "a: 1\n"));
  EXPECT_EQ(read_file(target), "a: 1\n");
  using S = ReplaceStep;
  EXPECT_EQ(rec.order(), (std::vector<S>{S::Create, S::Write, S::Sync, S::Close, S::Rename, S::SyncDir}));
  const std::string temp = rec.steps[0].second;
  EXPECT_EQ(temp.substr(0, temp.rfind('.') + 1), target + ".quillfern-tmp." + std::to_string(::getpid()) + ".");

  rec.steps.clear();
  ASSERT_FALSE(qf::write_file_atomically(target, "a: 2\n"));
  EXPECT_EQ(read_file(target), "a: 2\n");
  // An existing target: its mode and owner go to the temporary first.
  EXPECT_EQ(rec.order(), (std::vector<S>{S::Create, S::Chmod, S::Write, S::Sync, S::Close, S::Rename, S::SyncDir}));
  EXPECT_EQ(counter_of(rec.steps[0].second), counter_of(temp) + 1);  // one counter, advanced per attempt
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"config.yaml"});
}

TEST(AtomicFile, ModeBitsAreKeptAndNewFilesFollowTheUmask) {
  TempDir dir;
  const std::string kept = dir / "kept.yaml";
  write_plain(kept, "old\n", 0640);
  ASSERT_FALSE(qf::write_file_atomically(kept, "new\n"));
  EXPECT_EQ(mode_of(kept) & 07777, 0640u);

  mode_t old_mask = ::umask(027);
  ASSERT_FALSE(qf::write_file_atomically(dir / "fresh.yaml", "x\n"));
  ::umask(old_mask);
  EXPECT_EQ(mode_of(dir / "fresh.yaml") & 07777, 0640u);  // 0666 & ~027

  ASSERT_FALSE(qf::write_file_atomically(dir / "empty.yaml", ""));
  EXPECT_EQ(read_file(dir / "empty.yaml"), "");
}

TEST(AtomicFile, OwnerAndGroupAreKeptWherePermitted) {
  TempDir dir;
  const std::string target = dir / "owned.yaml";
  write_plain(target, "old\n", 0644);
  if (::geteuid() == 0) ASSERT_EQ(::chown(target.c_str(), 65534, 65534), 0);
  struct stat before;
  ASSERT_EQ(::stat(target.c_str(), &before), 0);
  ASSERT_FALSE(qf::write_file_atomically(target, "new\n"));
  struct stat after;
  ASSERT_EQ(::stat(target.c_str(), &after), 0);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_NE(after.st_ino, before.st_ino);  // replaced, not rewritten
}

// A failure at each step before the rename leaves the target byte for byte
// and no temporary behind.
TEST(AtomicFile, AFailureAtAnyStepBeforeTheRenameChangesNothing) {
  using S = ReplaceStep;
  for (S step : {S::Create, S::Chmod, S::Write, S::Sync, S::Close, S::Rename}) {
    SCOPED_TRACE(int(step));
    TempDir dir;
    const std::string target = dir / "t.yaml";
    write_plain(target, "old: true\n", 0600);
    Recorder rec;
    rec.fail_at = step;
    rec.fail_errno = ENOSPC;
    auto err = qf::write_file_atomically(target, "new: true\n");
    ASSERT_TRUE(err);
    EXPECT_EQ(err->kind, FileError::Kind::Os);
    EXPECT_EQ(err->os_errno, ENOSPC);
    EXPECT_EQ(err->text, qf::os_error_text(ENOSPC));
    EXPECT_EQ(err->text.substr(err->text.size() - 13), "(os error 28)");
    EXPECT_EQ(read_file(target), "old: true\n");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"t.yaml"});
    if (step != S::Create) {
      EXPECT_EQ(rec.steps.back().first, S::Unlink);
    }
  }
}

TEST(AtomicFile, AFailedDirectorySyncIsReportedAfterTheRename) {
  TempDir dir;
  const std::string target = dir / "t.yaml";
  write_plain(target, "old\n");
  Recorder rec;
  rec.fail_at = ReplaceStep::SyncDir;
  auto err = qf::write_file_atomically(target, "new\n");
  ASSERT_TRUE(err);
  EXPECT_EQ(err->os_errno, EIO);
  EXPECT_EQ(read_file(target), "new\n");
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"t.yaml"});
}

TEST(AtomicFile, AnExistingTemporaryNameIsSkippedAndLeftAlone) {
  TempDir dir;
  const std::string target = dir / "t.yaml";
  struct Stale {
    std::string name;
    static int hook(ReplaceStep step, const std::string& temp, void* ctx) {
      auto* s = static_cast<Stale*>(ctx);
      if (step == ReplaceStep::Create && s->name.empty()) {
        s->name = temp;
        write_plain(temp, "stale");
      }
      return 0;
    }
  } stale;
  qf::set_replace_step_hook(&Stale::hook, &stale);
  auto err = qf::write_file_atomically(target, "fresh\n");
  qf::set_replace_step_hook(nullptr, nullptr);
  ASSERT_FALSE(err);
  EXPECT_EQ(read_file(target), "fresh\n");
  EXPECT_EQ(read_file(stale.name), "stale");
  EXPECT_EQ(dir.entries().size(), 2u);
}

TEST(AtomicFile, PathsWithoutAFileNameFailBeforeTouchingAnything) {
  TempDir dir;
  for (std::string p : {std::string(""), std::string("/"), std::string("."), std::string(".."), dir / "..",
                        dir / ".", dir.path + "/sub/.."}) {
    SCOPED_TRACE(p);
    Recorder rec;
    auto err = qf::write_file_atomically(p, "x");
    ASSERT_TRUE(err);
    EXPECT_EQ(err->kind, FileError::Kind::NoFileName);
    EXPECT_EQ(err->text, "cannot write a path that ends in `..` or is empty");
    EXPECT_TRUE(rec.steps.empty());
  }
  auto err = qf::write_file_atomically(dir / "name.yaml/", "x");
  ASSERT_TRUE(err);
  EXPECT_EQ(err->os_errno, EISDIR);
  EXPECT_TRUE(dir.entries().empty());
}

TEST(AtomicFile, LinksAreWrittenThroughAndStayLinks) {
  TempDir dir;
  ASSERT_EQ(::mkdir((dir / "real").c_str(), 0755), 0);
  write_plain(dir / "real/target.yaml", "old\n", 0604);
  // A relative link, followed by an absolute link to it.
  ASSERT_EQ(::symlink("real/target.yaml", (dir / "rel.yaml").c_str()), 0);
  ASSERT_EQ(::symlink((dir / "rel.yaml").c_str(), (dir / "abs.yaml").c_str()), 0);
  Recorder rec;
  ASSERT_FALSE(qf::write_file_atomically(dir / "abs.yaml", "new\n"));
  EXPECT_TRUE(S_ISLNK(mode_of(dir / "abs.yaml")));
  EXPECT_TRUE(S_ISLNK(mode_of(dir / "rel.yaml")));
  EXPECT_EQ(read_file(dir / "real/target.yaml"), "new\n");
  EXPECT_EQ(mode_of(dir / "real/target.yaml") & 0777, 0604u);
  // The temporary lies beside the file actually replaced.
  EXPECT_EQ(rec.steps[0].second.rfind(dir / "real/target.yaml.quillfern-tmp.", 0), 0u);

  // A dangling link creates its target.
  ASSERT_EQ(::symlink("real/created.yaml", (dir / "dangling.yaml").c_str()), 0);
  ASSERT_FALSE(qf::write_file_atomically(dir / "dangling.yaml", "made\n"));
  EXPECT_TRUE(S_ISLNK(mode_of(dir / "dangling.yaml")));
  EXPECT_EQ(read_file(dir / "real/created.yaml"), "made\n");

  ASSERT_EQ(::symlink("loop.yaml", (dir / "loop.yaml").c_str()), 0);
  auto err = qf::write_file_atomically(dir / "loop.yaml", "x");
  ASSERT_TRUE(err);
  EXPECT_EQ(err->os_errno, ELOOP);
  ::unlink((dir / "real/target.yaml").c_str());
  ::unlink((dir / "real/created.yaml").c_str());
}

TEST(AtomicFile, TargetsThatAreNotRegularFilesAreRefused) {
  TempDir dir;
  ASSERT_EQ(::mkdir((dir / "d").c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("d", (dir / "to_dir").c_str()), 0);
  for (const char* name : {"d", "fifo", "to_dir"}) {
    SCOPED_TRACE(name);
    Recorder rec;
    auto err = qf::write_file_atomically(dir / name, "x");
    ASSERT_TRUE(err);
    EXPECT_EQ(err->kind, FileError::Kind::NotRegular);
    EXPECT_EQ(err->text, "not a regular file");
    EXPECT_TRUE(rec.steps.empty());
  }
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"d", "fifo", "to_dir"}));
  auto err = qf::write_file_atomically(dir / "missing/t.yaml", "x");
  ASSERT_TRUE(err);
  EXPECT_EQ(err->os_errno, ENOENT);
}

// A process that dies between the sync and the rename leaves the old target
// and a complete temporary.
TEST(AtomicFile, AProcessEndingBeforeTheRenameLeavesTheOldTarget) {
  TempDir dir;
  const std::string target = dir / "t.yaml";
  write_plain(target, "old\n");
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    qf::set_replace_step_hook(
        [](ReplaceStep step, const std::string&, void*) -> int {
          if (step == ReplaceStep::Rename) ::_exit(7);
          return 0;
        },
        nullptr);
    qf::write_file_atomically(target, "new content\n");
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 7);
  EXPECT_EQ(read_file(target), "old\n");
  auto names = dir.entries();
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[1], "t.yaml.quillfern-tmp." + std::to_string(pid) + "." + names[1].substr(names[1].rfind('.') + 1));
  EXPECT_EQ(read_file(dir / names[1]), "new content\n");
}

TEST(AtomicFile, BatchesChangeNoFileWhenAnyWriteFailsBeforeTheRenames) {
  TempDir dir;
  write_plain(dir / "a.yaml", "a0\n");
  write_plain(dir / "b.yaml", "b0\n");
  std::vector<size_t> written;
  // FileWrite holds views: the paths live here.
  const std::string a = dir / "a.yaml", b = dir / "b.yaml", missing = dir / "missing/c.yaml";
  std::vector<qf::FileWrite> writes{{a, "a1\n"}, {b, "b1\n"}, {missing, "c1\n"}};
  auto failure = qf::replace_files(writes, written);
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->index, 2u);
  EXPECT_EQ(failure->error.os_errno, ENOENT);
  EXPECT_TRUE(written.empty());

  // The last write's sync fails: the earlier temporaries are removed too.
  writes.pop_back();
  {
    struct SecondSync {
      int syncs = 0;
      static int hook(ReplaceStep step, const std::string&, void* ctx) {
        return step == ReplaceStep::Sync && ++static_cast<SecondSync*>(ctx)->syncs == 2 ? EFBIG : 0;
      }
    } s;
    qf::set_replace_step_hook(&SecondSync::hook, &s);
    failure = qf::replace_files(writes, written);
    qf::set_replace_step_hook(nullptr, nullptr);
  }
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->index, 1u);
  EXPECT_EQ(failure->error.os_errno, EFBIG);
  EXPECT_EQ(read_file(dir / "a.yaml"), "a0\n");
  EXPECT_EQ(read_file(dir / "b.yaml"), "b0\n");
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.yaml", "b.yaml"}));

  ASSERT_FALSE(qf::replace_files(writes, written));
  EXPECT_EQ(written, (std::vector<size_t>{0, 1}));
  EXPECT_EQ(read_file(dir / "a.yaml"), "a1\n");
  EXPECT_EQ(read_file(dir / "b.yaml"), "b1\n");
}

TEST(AtomicFile, TwoWritesReachingOneFileAreOneWriteOrARefusal) {
  TempDir dir;
  write_plain(dir / "a.yaml", "a0\n");
  ASSERT_EQ(::symlink("a.yaml", (dir / "link.yaml").c_str()), 0);
  ASSERT_EQ(::link((dir / "a.yaml").c_str(), (dir / "hard.yaml").c_str()), 0);
  std::vector<size_t> written;
  const std::string a = dir / "a.yaml", link = dir / "link.yaml";
  for (std::string other : {link, dir / "hard.yaml", dir.path + "/./a.yaml"}) {
    SCOPED_TRACE(other);
    std::vector<qf::FileWrite> differ{{a, "x\n"}, {other, "y\n"}};
    auto failure = qf::replace_files(differ, written);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->index, 1u);
    EXPECT_EQ(failure->error.kind, FileError::Kind::SameFile);
    EXPECT_EQ(read_file(dir / "a.yaml"), "a0\n");
  }
  std::vector<qf::FileWrite> equal{{link, "z\n"}, {a, "z\n"}};
  ASSERT_FALSE(qf::replace_files(equal, written));
  EXPECT_EQ(written, std::vector<size_t>{0});
  EXPECT_EQ(read_file(dir / "a.yaml"), "z\n");
  // A new file named two ways.
  const std::string n1 = dir / "n.yaml", n2 = dir.path + "/./n.yaml";
  std::vector<qf::FileWrite> fresh{{n1, "1"}, {n2, "2"}};
  auto failure = qf::replace_files(fresh, written);
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->error.kind, FileError::Kind::SameFile);
}

qf::FileIdentity identity_of(const std::string& p) {
  struct stat st {};
  EXPECT_EQ(::stat(p.c_str(), &st), 0);
  return qf::FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

// A write that names the file it expects replaces that file only, and learns
// which file it put in place (the next write expects that one).
TEST(AtomicFile, AWriteOfALoadedFileRefusesAnotherFileAtItsPath) {
  TempDir dir;
  write_plain(dir / "a.yaml", "a0\n");
  const std::string a = dir / "a.yaml", main = dir / "main.yaml";
  std::vector<size_t> written;
  std::vector<qf::FileIdentity> now;
  std::vector<qf::FileWrite> writes{{main, "m\n"}, {a, "a1\n", identity_of(a)}};
  ASSERT_FALSE(qf::replace_files(writes, written, &now));
  ASSERT_EQ(now.size(), 2u);
  EXPECT_EQ(now[1], identity_of(a));
  EXPECT_NE(*writes[1].loaded, now[1]);
  auto failure = qf::replace_files(writes, written, &now);
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->error.kind, FileError::Kind::NotLoaded);
  writes[1].loaded = identity_of(a);
  ASSERT_FALSE(qf::replace_files(writes, written, &now));

  // Swapped for a link, replaced by another file, removed: refused before
  // anything is created.
  struct Swap {
    const char* what;
    void (*run)(const TempDir&);
  };
  const Swap cases[] = {
      {"a link", [](const TempDir& d) {
         ASSERT_EQ(::rename((d / "a.yaml").c_str(), (d / "a.old").c_str()), 0);
         ASSERT_EQ(::symlink("other.yaml", (d / "a.yaml").c_str()), 0);
       }},
      {"another file", [](const TempDir& d) {
         write_plain(d / "new.yaml", "n\n");
         ASSERT_EQ(::rename((d / "new.yaml").c_str(), (d / "a.yaml").c_str()), 0);
       }},
      {"removed", [](const TempDir& d) { ASSERT_EQ(::unlink((d / "a.yaml").c_str()), 0); }},
  };
  for (const Swap& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir d;
    write_plain(d / "a.yaml", "a0\n");
    write_plain(d / "other.yaml", "o0\n");
    const std::string path = d / "a.yaml", m = d / "main.yaml";
    std::vector<qf::FileWrite> w{{m, "m\n"}, {path, "a1\n", identity_of(path)}};
    c.run(d);
    const std::vector<std::string> before = d.entries();
    failure = qf::replace_files(w, written, &now);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->index, 1u);
    EXPECT_EQ(failure->error.kind, FileError::Kind::NotLoaded);
    EXPECT_EQ(failure->error.text, "it no longer resolves to the file that was loaded");
    EXPECT_TRUE(written.empty());
    EXPECT_EQ(d.entries(), before);
    EXPECT_EQ(read_file(d / "other.yaml"), "o0\n");
  }
}

}  // namespace

// A directory on the target's path, or the target itself, swapped for a link
// to another directory after the target was checked: every later step stays
// in the directory that was checked, and a failure removes the temporary
// from there.
TEST(AtomicFile, ALinkSwappedInAfterTheCheckRedirectsNothing) {
  namespace fs = std::filesystem;
  using S = ReplaceStep;
  struct Case {
    const char* what;
    bool directory;  // else the target
    S at;
    int fail;  // errno the step then fails with, or 0
  };
  const Case cases[] = {
      {"directory before create", true, S::Create, 0}, {"directory before rename", true, S::Rename, 0},
      {"directory before sync", true, S::SyncDir, 0},  {"directory, write fails", true, S::Write, EIO},
      {"directory, rename fails", true, S::Rename, EIO}, {"target before create", false, S::Create, 0},
      {"target before rename", false, S::Rename, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir top;
    const fs::path root = top.path;
    fs::create_directories(root / "conf/sub");
    fs::create_directories(root / "outside");
    write_plain(root / "conf/sub/t.yaml", "old\n");
    write_plain(root / "outside/t.yaml", "outside\n");
    const qf::FileIdentity outside_id = [&] {
      struct stat st {};
      EXPECT_EQ(::stat((root / "outside/t.yaml").c_str(), &st), 0);
      return qf::FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    }();
    const fs::path swapped = c.directory ? root / "conf/sub" : root / "conf/sub/t.yaml";
    const fs::path moved = swapped.string() + ".moved";
    const fs::path link_to = c.directory ? root / "outside" : root / "outside/t.yaml";
    struct Swap {
      const Case* c;
      fs::path swapped, moved, link_to;
      bool done = false;
      static int hook(ReplaceStep step, const std::string&, void* ctx) {
        auto* s = static_cast<Swap*>(ctx);
        if (step != s->c->at || s->done) return 0;
        s->done = true;
        fs::rename(s->swapped, s->moved);
        fs::create_symlink(s->link_to, s->swapped);
        return s->c->fail;
      }
    } swap{&c, swapped, moved, link_to};
    qf::set_replace_step_hook(&Swap::hook, &swap);
    auto err = qf::write_file_atomically((root / "conf/sub/t.yaml").string(), "new\n");
    qf::set_replace_step_hook(nullptr, nullptr);
    ASSERT_TRUE(swap.done);
    EXPECT_EQ(bool(err), c.fail != 0);
    EXPECT_EQ(read_file(root / "outside/t.yaml"), "outside\n");
    EXPECT_EQ(identity_of(root / "outside/t.yaml"), outside_id);
    // What was checked holds the new content, or the old after a failure.
    const fs::path checked = c.directory ? moved / "t.yaml" : root / "conf/sub/t.yaml";
    if (c.directory || c.fail) {
      EXPECT_EQ(read_file(checked), c.fail ? "old\n" : "new\n");
    } else {  // the link swapped in is what the rename replaced
      EXPECT_FALSE(fs::is_symlink(checked));
      EXPECT_EQ(read_file(checked), "new\n");
      EXPECT_EQ(read_file(moved), "old\n");
    }
    for (const auto& e : fs::recursive_directory_iterator(root))
      EXPECT_EQ(e.path().filename().string().find(".quillfern-tmp."), std::string::npos) << e.path();
    fs::remove_all(root / "conf");
    fs::remove_all(root / "outside");
  }
}
