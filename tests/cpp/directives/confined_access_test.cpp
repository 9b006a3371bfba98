#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "directives/context.hpp"
#include "directives/expand.hpp"
#include "directives/file_access.hpp"
#include "directives/include_paths.hpp"

namespace qf::directives {
namespace {

namespace fs = std::filesystem;

class Tree : public ::testing::Test {
 protected:
  void SetUp() override {
    base = fs::temp_directory_path() /
           ("qf_dir_" + std::to_string(::getpid()) + "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(base);
    fs::create_directories(base / "root");
    fs::create_directories(base / "out");
    root = fs::canonical(base / "root").string();
  }
  void TearDown() override { fs::remove_all(base); }
  void write(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

  fs::path base;
  std::string root;
};

TEST_F(Tree, ReadsARegularFileInsideTheRoot) {
  write(base / "root" / "a.yaml", "a: 1\n");
  FileRead r = read_confined_file(root + "/a.yaml", root);
  ASSERT_TRUE(r.ok()) << r.message;
  EXPECT_EQ(r.text, "a: 1\n");
}

TEST_F(Tree, TheDescriptorDecidesNotThePath) {
  write(base / "out" / "secret.yaml", "canary\n");
  FileRead r = read_confined_file((base / "out" / "secret.yaml").string(), root);
  EXPECT_EQ(r.failure, AccessFailure::Outside);
  EXPECT_TRUE(r.text.empty());
  // A link in a directory component is followed by open, and still caught.
  fs::create_directory_symlink(base / "out", base / "root" / "door");
  r = read_confined_file(root + "/door/secret.yaml", root);
  EXPECT_EQ(r.failure, AccessFailure::Outside);
  // A final link is never followed.
  fs::create_symlink(base / "out" / "secret.yaml", base / "root" / "l.yaml");
  r = read_confined_file(root + "/l.yaml", root);
  EXPECT_EQ(r.failure, AccessFailure::Os);
  EXPECT_NE(r.message.find("(os error 40)"), std::string::npos) << r.message;
}

TEST_F(Tree, OnlyRegularUtf8FilesAreRead) {
  ASSERT_EQ(::mkfifo((base / "root" / "pipe.yaml").c_str(), 0600), 0);
  FileRead r = read_confined_file(root + "/pipe.yaml", root);  // must not block
  EXPECT_EQ(r.failure, AccessFailure::NotRegular);
  EXPECT_EQ(r.message, "not a regular file");
  fs::create_directory(base / "root" / "d.yaml");
  r = read_confined_file(root + "/d.yaml", root);
  EXPECT_EQ(r.message, "Is a directory (os error 21)");
  write(base / "root" / "u16.yaml", std::string("\xFF\xFE" "a\0:\0", 6));
  r = read_confined_file(root + "/u16.yaml", root);
  EXPECT_EQ(r.message, "stream did not contain valid UTF-8");
}

TEST_F(Tree, ListingsAreConfinedAndWhole) {
  write(base / "root" / "b.yaml", "");
  write(base / "root" / "a.yaml", "");
  DirRead d = list_confined_directory(root, root);
  ASSERT_TRUE(d.ok());
  EXPECT_EQ(d.names.size(), 2u);
  EXPECT_EQ(list_confined_directory((base / "out").string(), root).failure, AccessFailure::Outside);
  fs::create_directory_symlink(base / "out", base / "root" / "door");
  EXPECT_EQ(list_confined_directory(root + "/door", root).failure, AccessFailure::Os);  // final link
  EXPECT_EQ(list_confined_directory(root + "/door/.", root).failure, AccessFailure::Outside);
}

// The expansion of l2 is longer than PATH_MAX: it is judged by where it
// finally leads, inside read, outside refused.
TEST_F(Tree, ALinkChainExpandingPastPathMaxIsJudgedByItsEnd) {
  write(base / "root" / "a.yaml", "inside\n");
  write(base / "out" / "o.yaml", "canary\n");
  fs::create_symlink(base / "out", base / "root" / "door");
  std::string dots, half;
  for (int i = 0; i < 2000; ++i) dots += "./";
  for (int i = 0; i < 1000; ++i) half += "./";
  fs::create_symlink(dots + "a.yaml", base / "root" / "in1");
  fs::create_symlink(half + "in1", base / "root" / "in2");
  fs::create_symlink(dots + "door/o.yaml", base / "root" / "out1");
  fs::create_symlink(half + "out1", base / "root" / "out2");
  DirectiveContext ctx = new_directive_context(root, true, false, false);
  const std::string resolved = resolve_include_path(ctx, root + "/in2", "in2", 0, {});
  EXPECT_EQ(resolved, root + "/a.yaml");
  EXPECT_EQ(read_confined_file(resolved, root).text, "inside\n");
  try {
    resolve_include_path(ctx, root + "/out2", "out2", 0, {});
    FAIL() << "resolved";
  } catch (const DirectiveError& e) {
    EXPECT_EQ(e.kind, DirectiveErrorKind::IncludeConfinement);
    EXPECT_EQ(e.message, "'out2' resolves outside the configured include directory");
  }
}

TEST_F(Tree, ResolutionJudgesWhereAPathLeads) {
  write(base / "root" / "a.yaml", "");
  fs::create_symlink(base / "out", base / "root" / "door");
  fs::create_symlink(base / "root" / "gone", base / "root" / "dangling.yaml");
  DirectiveContext ctx = new_directive_context(root, true, false, false);
  EXPECT_EQ(resolve_include_path(ctx, root + "/./a.yaml", "a", 0, {}), root + "/a.yaml");
  EXPECT_EQ(resolve_include_path(ctx, root + "/missing.yaml", "m", 0, {}), root + "/missing.yaml");
  auto kind_of = [&](const std::string& p) {
    try {
      resolve_include_path(ctx, p, p, 0, {});
    } catch (const DirectiveError& e) {
      return static_cast<int>(e.kind);
    }
    return -1;
  };
  EXPECT_EQ(kind_of(root + "/../out/o.yaml"), static_cast<int>(DirectiveErrorKind::IncludeConfinement));
  EXPECT_EQ(kind_of(root + "/door/o.yaml"), static_cast<int>(DirectiveErrorKind::IncludeConfinement));
  EXPECT_EQ(kind_of(root + "2/o.yaml"), static_cast<int>(DirectiveErrorKind::IncludeConfinement));
  EXPECT_EQ(kind_of(root + "/dangling.yaml"), static_cast<int>(DirectiveErrorKind::IncludeNotFound));
  // Through a name that does not exist nothing is found, whatever follows:
  // ".." after it neither reaches a file inside nor probes one outside.
  for (const char* through : {"/x/../a.yaml", "/x/../door/o.yaml", "/x/../../out/o.yaml", "/a.yaml/../a.yaml",
                              "/dangling.yaml/../a.yaml"})
    EXPECT_EQ(kind_of(root + through), static_cast<int>(DirectiveErrorKind::IncludeNotFound)) << through;
  bool absent = false;
  EXPECT_EQ(resolve_include_path(ctx, root + "/x/../a.yaml", "a", 0, {}, &absent), "");
  EXPECT_TRUE(absent);
  EXPECT_EQ(kind_of(root + std::string("/a\0b", 4)), static_cast<int>(DirectiveErrorKind::IncludeNotFound));
  DirectiveContext lost = new_directive_context((base / "nowhere").string(), true, false, false);
  EXPECT_FALSE(lost.root_ok);
  try {
    resolve_include_path(lost, (base / "nowhere" / "a.yaml").string(), "a.yaml", 0, {});
    FAIL();
  } catch (const DirectiveError& e) {
    EXPECT_EQ(e.kind, DirectiveErrorKind::IncludeConfinement);
  }
}

}  // namespace
}  // namespace qf::directives
