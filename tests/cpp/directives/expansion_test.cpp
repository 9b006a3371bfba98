#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "directives/context.hpp"

namespace qf::directives {
namespace {

namespace fs = std::filesystem;

class Expansion : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("qf_exp_" + std::to_string(::getpid()) + "_" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir / "sub");
  }
  void TearDown() override { fs::remove_all(dir); }
  void write(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }
  DirectiveContext context(bool inc, bool sec, bool env) { return new_directive_context(dir.string(), inc, sec, env); }

  fs::path dir;
};

TEST_F(Expansion, ThousandSecretsReadTheirFileOnce) {
  write(dir / "secrets.yaml", "pw: hunter2\n");
  std::string text;
  for (int i = 0; i < 1000; ++i) text += "k" + std::to_string(i) + ": !secret pw\n";
  DirectiveContext ctx = context(false, true, false);
  DirectiveLoad r = load_with_directives(ctx, text, std::nullopt);
  ASSERT_TRUE(r.ok()) << r.error->message;
  ASSERT_EQ(ctx.files.size(), 2u);  // the main text and one secrets file
  EXPECT_EQ(ctx.files[1], (dir / "secrets.yaml").string());
  const YamlNode& v = r.docs[0].pairs[999].value;
  EXPECT_EQ(v.text, "hunter2");
  EXPECT_EQ(v.source()->tag, "!secret");
  EXPECT_EQ(v.span.line, 999u);
  EXPECT_EQ(v.end_offset, v.span.offset);
}

TEST_F(Expansion, RecordsNameEveryReadAndItsFile) {
  write(dir / "sub" / "a.yaml", "x: 1\n---\ny: 2\n");
  write(dir / "empty.yaml", "# nothing\n");
  DirectiveContext ctx = context(true, false, false);
  DirectiveLoad r =
      load_with_directives(ctx, "a: !include sub/a.yaml\nb: !include sub/a.yaml\nc: !include empty.yaml\n", std::nullopt);
  ASSERT_TRUE(r.ok()) << r.error->message;
  ASSERT_EQ(ctx.files.size(), 4u);
  EXPECT_EQ(ctx.files[0], dir.string() + "/<root>");
  const std::string canonical = fs::canonical(dir).string();
  EXPECT_EQ(ctx.files[1], canonical + "/sub/a.yaml");
  EXPECT_EQ(ctx.files[2], canonical + "/sub/a.yaml");
  EXPECT_EQ(*ctx.texts[1], "x: 1\n---\ny: 2\n");
  EXPECT_EQ(ctx.second_document_offsets[1], 5u);
  EXPECT_EQ(ctx.second_document_offsets[3], std::nullopt);
  const YamlNode& a = r.docs[0].pairs[0].value;
  EXPECT_EQ(a.source()->target_file_id, 1u);
  EXPECT_EQ(a.pairs[0].value.span.file_id, 1u);
  EXPECT_EQ(r.docs[0].pairs[1].value.source()->target_file_id, 2u);
  const YamlNode& c = r.docs[0].pairs[2].value;
  EXPECT_TRUE(c.is_mapping());
  EXPECT_EQ(c.source()->target_file_id, 3u);
  EXPECT_EQ(c.span.line, 2u);
}

TEST_F(Expansion, AnErrorEndsTheLoadWithItsChain) {
  write(dir / "a.yaml", "v: !include b.yaml\n");
  write(dir / "b.yaml", "\n\nw: !include a.yaml\n");
  DirectiveContext ctx = context(true, false, false);
  DirectiveLoad r = load_with_directives(ctx, "top: !include a.yaml\n", std::nullopt);
  ASSERT_FALSE(r.ok());
  EXPECT_TRUE(r.docs.empty());
  EXPECT_EQ(r.error->kind, DirectiveErrorKind::CircularInclude);
  EXPECT_EQ(r.error->message, "circular include detected: 'a.yaml'");
  const std::string canonical = fs::canonical(dir).string();
  EXPECT_EQ(r.error->file, canonical + "/a.yaml");
  ASSERT_EQ(r.error->include_stack.size(), 2u);
  EXPECT_EQ(r.error->include_stack[0].path, canonical + "/a.yaml");
  EXPECT_EQ(r.error->include_stack[0].line, 0u);
  EXPECT_EQ(r.error->include_stack[1].path, canonical + "/b.yaml");
  EXPECT_EQ(r.error->include_stack[1].line, 0u);
}

}  // namespace
}  // namespace qf::directives
