#include "encode/settings.hpp"

#include <gtest/gtest.h>

namespace qf {
namespace {

using namespace dump_option;

TEST(EmitSettings, UnreadBitsGiveDefaults) {
  EmitSettings d = emit_settings_from_options(0, 0);
  EmitSettings o = emit_settings_from_options(uint64_t{1} << 4 | uint64_t{1} << 33 | uint64_t{1} << 63, 0);
  EXPECT_EQ(o.indent, d.indent);
  EXPECT_EQ(o.null_style, NullStyle::Default);
  EXPECT_EQ(o.resolver_mode, ResolverMode::Yaml12);
  EXPECT_FALSE(o.sort_keys || o.flow_style || o.explicit_start || o.explicit_end || o.indentless);
  EXPECT_TRUE(o.prefer_double_quotes);
  EXPECT_EQ(d.indent, 2u);
  EXPECT_EQ(d.width, 0u);
  JsonSettings j = json_settings_from_options(uint64_t{1} << 4);
  EXPECT_EQ(j.indent, 0u);
  EXPECT_FALSE(j.sort_keys);
}

TEST(EmitSettings, Indents) {
  EXPECT_EQ(emit_settings_from_options(kIndent2, 0).indent, 2u);
  EXPECT_EQ(json_settings_from_options(kIndent2).indent, 2u);
  EXPECT_EQ(emit_settings_from_options(kIndent2 | kIndent4, 0).indent, 4u);
  EXPECT_EQ(json_settings_from_options(kIndent2 | kIndent4).indent, 4u);
  EXPECT_EQ(json_settings_from_options(kIndent4).indent, 4u);
}

TEST(EmitSettings, ModesAndFlags) {
  EXPECT_EQ(emit_settings_from_options(kKestilCompat | kYaml11, 0).resolver_mode, ResolverMode::KestilCompat);
  EXPECT_EQ(emit_settings_from_options(kYaml11, 0).resolver_mode, ResolverMode::Yaml11);
  EmitSettings s = emit_settings_from_options(kIndentlessSequences | kFlowStyle | kSortKeys | kExplicitStart |
                                                  kExplicitEnd | kSingleQuotes | kNullAsTilde,
                                              80);
  EXPECT_TRUE(s.indentless && s.flow_style && s.sort_keys && s.explicit_start && s.explicit_end);
  EXPECT_FALSE(s.prefer_double_quotes);
  EXPECT_EQ(s.null_style, NullStyle::Tilde);
  EXPECT_EQ(s.width, 80u);
  EXPECT_EQ(emit_settings_from_options(kNullAsKeyword, 0).null_style, NullStyle::Keyword);
  EXPECT_TRUE(json_settings_from_options(kSortKeys).sort_keys);
}

TEST(NullStyleChoice, BothOptionsConflict) {
  EXPECT_TRUE(null_style_from_options(kNullAsKeyword | kNullAsTilde).conflict);
  EXPECT_FALSE(null_style_from_options(kNullAsKeyword).conflict);
  EXPECT_EQ(null_style_from_options(0).style, NullStyle::Default);
}

}  // namespace
}  // namespace qf
