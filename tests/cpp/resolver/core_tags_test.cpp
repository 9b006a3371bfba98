// Explicit core tags, both spellings, in the three modes; and the
// 1.1-versus-1.2 ambiguity check.
#include <gtest/gtest.h>

#include "expect.hpp"

namespace qf::test {
namespace {

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

struct TagRow {
  const char* tag;
  const char* text;
  Expect y12, y11, kc;
};

std::string long_form(std::string_view short_tag) {
  return "tag:yaml.org,2002:" + std::string(short_tag.substr(2));
}

TEST(CoreTags, TableInEveryMode) {
  const std::vector<TagRow> rows = {
      {"!!null", "", N(), N(), N()},
      {"!!null", "~", N(), N(), N()},
      {"!!null", "NULL", N(), N(), N()},
      {"!!null", "x", S(), S(), S()},
      {"!!null", "None", S(), S(), S()},
      {"!!bool", "true", B(true), B(true), B(true)},
      {"!!bool", "FALSE", B(false), B(false), B(false)},
      {"!!bool", "yes", S(), B(true), B(true)},
      {"!!bool", "y", S(), B(true), S()},
      {"!!bool", "N", S(), B(false), S()},
      {"!!bool", "tRue", S(), S(), S()},
      {"!!int", "123", I(123), I(123), I(123)},
      {"!!int", "1_000", S(), I(1000), I(1000)},
      {"!!int", "0b1", S(), I(1), I(1)},
      {"!!int", "0o17", I(15), S(), S()},
      {"!!int", "1:30", S(), I(90), I(90)},
      {"!!int", "_1", S(), I(1), I(1)},  // the strict '_' rule is for untagged texts only
      {"!!int", "1.5", S(), S(), S()},
      {"!!int", "-9223372036854775808", I(kMin), I(kMin), I(kMin)},
      {"!!int", "0x10000000000000000", Big("10000000000000000", 16), Big("10000000000000000", 16),
       Big("10000000000000000", 16)},
      {"!!float", "1", F(1.0), F(1.0), F(1.0)},
      {"!!float", "1e3", F(1000.0), F(1000.0), F(1000.0)},
      {"!!float", "inf", F(kInf), F(kInf), F(kInf)},
      {"!!float", "Infinity", F(kInf), F(kInf), F(kInf)},
      {"!!float", "-INF", F(-kInf), F(-kInf), F(-kInf)},
      {"!!float", "NaN", F(kNaN), F(kNaN), F(kNaN)},
      {"!!float", "-nan", F(-kNaN), F(-kNaN), F(-kNaN)},
      {"!!float", ".inf", F(kInf), F(kInf), F(kInf)},
      {"!!float", "1_0", S(), F(10.0), F(10.0)},
      {"!!float", "1_000.5", S(), F(1000.5), F(1000.5)},
      {"!!float", "1:30", S(), F(90.0), F(90.0)},
      {"!!float", "abc", S(), S(), S()},
      {"!!float", "1e400", F(kInf), F(kInf), F(kInf)},
      {"!!merge", "<<", S(), M(), M()},
      {"!!merge", "x", S(), M(), M()},
      {"!!str", "12", S(), S(), S()},
      {"!!str", "null", S(), S(), S()},
      {"!!binary", "12", S(), S(), S()},
      {"!!timestamp", "2001-01-01", S(), S(), S()},
  };
  for (const TagRow& r : rows) {
    const std::string lf = long_form(r.tag);
    for (std::string_view tag : {std::string_view(r.tag), std::string_view(lf)}) {
      // The style does not matter once a core tag is present.
      for (ScalarStyle style : {ScalarStyle::Plain, ScalarStyle::SingleQuoted, ScalarStyle::Literal}) {
        expect_resolves(ResolverMode::Yaml12, r.text, r.y12, style, tag);
        expect_resolves(ResolverMode::Yaml11, r.text, r.y11, style, tag);
        expect_resolves(ResolverMode::KestilCompat, r.text, r.kc, style, tag);
      }
    }
  }
}

TEST(CoreTags, OtherTagsGiveStrings) {
  // Recognition is by exact bytes: near misses and custom tags are strings.
  for (const char* tag : {"!", "!int", "!!Int", "!!int ", "tag:yaml.org,2002:INT", "tag:yaml.org,2002:",
                          "!!", "tag:yaml.org,2001:int", "!<tag:yaml.org,2002:int>", "!foo"}) {
    for (ResolverMode mode : {ResolverMode::Yaml12, ResolverMode::Yaml11, ResolverMode::KestilCompat}) {
      expect_resolves(mode, "12", S(), ScalarStyle::Plain, std::string_view(tag));
      expect_resolves(mode, "null", S(), ScalarStyle::Plain, std::string_view(tag));
      expect_resolves(mode, "<<", S(), ScalarStyle::Plain, std::string_view(tag));
    }
  }
}

TEST(Ambiguity, Yaml11Pairs) {
  struct Case {
    ResolverMode mode;
    const char* text;
    const char* mine;  // nullptr: no ambiguity
    const char* v12;
  };
  const Case cases[] = {
      {ResolverMode::Yaml11, "yes", "bool", "str"},
      {ResolverMode::Yaml11, "010", "int", "str"},
      {ResolverMode::Yaml11, "1_000", "int", "str"},
      {ResolverMode::Yaml11, "12:30", "int", "str"},
      {ResolverMode::Yaml11, "1:30.5", "float", "str"},
      {ResolverMode::Yaml11, "9_223_372_036_854_775_808", "int", "str"},
      {ResolverMode::Yaml11, "y", "bool", "str"},
      {ResolverMode::Yaml11, "0x10", nullptr, nullptr},
      {ResolverMode::Yaml11, "1e3", nullptr, nullptr},
      {ResolverMode::Yaml11, "~", nullptr, nullptr},
      {ResolverMode::Yaml11, "0o17", nullptr, nullptr},  // str under 1.1
      {ResolverMode::Yaml11, "9223372036854775808", nullptr, nullptr},
      {ResolverMode::KestilCompat, "y", nullptr, nullptr},
      {ResolverMode::KestilCompat, "on", "bool", "str"},
      {ResolverMode::Yaml12, "yes", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto pair = yaml11_ambiguity(c.mode, c.text, ScalarStyle::Plain);
    if (!c.mine) {
      EXPECT_FALSE(pair.has_value());
    } else {
      ASSERT_TRUE(pair.has_value());
      EXPECT_EQ(pair->mode_kind, c.mine);
      EXPECT_EQ(pair->yaml12_kind, c.v12);
    }
  }
  // A quoted "yes" is a string in both.
  EXPECT_FALSE(yaml11_ambiguity(ResolverMode::Yaml11, "yes", ScalarStyle::DoubleQuoted).has_value());
  // Tagged: "!!bool y" is true under 1.1 and a string under 1.2.
  auto tagged = yaml11_ambiguity(ResolverMode::Yaml11, "y", ScalarStyle::Plain, std::string_view("!!bool"));
  ASSERT_TRUE(tagged.has_value());
  EXPECT_EQ(tagged->mode_kind, "bool");
}

}  // namespace
}  // namespace qf::test
