#include "support/byte_path.hpp"

#include <gtest/gtest.h>

namespace qf::path {
namespace {

TEST(BytePath, JoinKeepsOneSeparatorAndAbsoluteReplaces) {
  EXPECT_EQ(join("conf", "a.yaml"), "conf/a.yaml");
  EXPECT_EQ(join("conf/", "a.yaml"), "conf/a.yaml");
  EXPECT_EQ(join("conf", "/etc/hosts"), "/etc/hosts");
  EXPECT_EQ(join("", "a.yaml"), "a.yaml");
  EXPECT_EQ(join("/", "a"), "/a");
}

TEST(BytePath, ParentHasNoneForARootAndEmptyForABareName) {
  EXPECT_EQ(parent("/"), std::nullopt);
  EXPECT_EQ(parent(""), std::nullopt);
  EXPECT_EQ(parent("."), std::nullopt);
  EXPECT_EQ(parent("a.yaml"), "");
  EXPECT_EQ(parent("/a"), "/");
  EXPECT_EQ(parent("/data/conf/"), "/data");
  EXPECT_EQ(parent("conf/./a.yaml"), "conf");
  EXPECT_EQ(parent("../a/b"), "../a");
}

TEST(BytePath, NormalizeIsLexical) {
  EXPECT_EQ(normalize_path("conf/./a/../b.yaml"), "conf/b.yaml");
  EXPECT_EQ(normalize_path("a/./b/../c"), "a/c");
  EXPECT_EQ(normalize_path("/../x"), "/x");
  EXPECT_EQ(normalize_path("../x"), "x");
  EXPECT_EQ(normalize_path("//a///b/"), "/a/b");
  EXPECT_EQ(normalize_path("."), "");
}

TEST(BytePath, InsideAndEqualCompareWholeComponents) {
  EXPECT_TRUE(is_inside("/data/conf/x.yaml", "/data/conf"));
  EXPECT_TRUE(is_inside("/data/conf", "/data/conf/"));
  EXPECT_TRUE(is_inside("/data//conf/./x", "/data/conf"));
  EXPECT_FALSE(is_inside("/data/conf2/x.yaml", "/data/conf"));
  EXPECT_FALSE(is_inside("/data", "/data/conf"));
  EXPECT_FALSE(is_inside("/data/conf/x", "data/conf"));
  EXPECT_FALSE(is_inside("data/conf/x", "/data/conf"));
  EXPECT_TRUE(is_inside("/anything", "/"));
  EXPECT_TRUE(path_equal("/a/./b", "/a//b/"));
  EXPECT_FALSE(path_equal("/a/b", "a/b"));
  EXPECT_FALSE(path_equal("/a/b", "/a/b/c"));
}

TEST(BytePath, NamesSortByUnsignedBytes) {
  EXPECT_TRUE(name_less("B.yaml", "a.yaml"));
  EXPECT_TRUE(name_less("a.yaml", "a.yml"));
  EXPECT_TRUE(name_less("a.yml", "a1.yaml"));
  EXPECT_TRUE(name_less("z.yaml", "\xC3\xA9.yaml"));  // é after every ASCII byte
  EXPECT_TRUE(name_less("a", "a.yaml"));
}

TEST(BytePath, TextReplacesInvalidUtf8) {
  EXPECT_EQ(path_text("/conf/a.yaml"), "/conf/a.yaml");
  EXPECT_EQ(path_text("/c\xFFx"), "/c\xEF\xBF\xBDx");
  EXPECT_EQ(path_text("/c\xC3"), "/c\xEF\xBF\xBD");
}

}  // namespace
}  // namespace qf::path
