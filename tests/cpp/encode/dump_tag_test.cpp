#include "encode/dump_tag.hpp"

#include <gtest/gtest.h>

namespace qf {
namespace {

TEST(ValidateDumpTag, AcceptedTags) {
  for (const char* t : {"!", "!!", "!x", "!!str", "!my-type", "!<tag:example,2024:x>", "!<a,b[c>", "!a[b",
                        "!a{b", "!<!x!>", "!caf\xc3\xa9"})
    EXPECT_FALSE(validate_dump_tag(t).has_value()) << t << ": " << validate_dump_tag(t).value_or("");
}

TEST(ValidateDumpTag, Messages) {
  const std::string kHandle =
      ": a named tag handle (!name!suffix) needs a %TAG directive, which dumps does not emit; use a primary "
      "(!suffix), secondary (!!suffix), or verbatim (!<uri>) tag";
  const std::string kVerbatim = ": a verbatim tag must be '!<...>' with non-empty content and no interior '>'";
  struct Case {
    std::string tag, message;
  } cases[] = {
      {"x", "invalid tag \"x\": a tag must start with '!'"},
      {"", "invalid tag \"\": a tag must start with '!'"},
      {"! x", "invalid tag \"! x\": a tag cannot contain whitespace or control characters (found ' ')"},
      {"!a\tb", "invalid tag \"!a\\tb\": a tag cannot contain whitespace or control characters (found '\\t')"},
      {"!a\nb", "invalid tag \"!a\\nb\": a tag cannot contain whitespace or control characters (found '\\n')"},
      {std::string("!a\0", 3),
       "invalid tag \"!a\\0\": a tag cannot contain whitespace or control characters (found '\\0')"},
      {"!a\x1b", "invalid tag \"!a\\u{1b}\": a tag cannot contain whitespace or control characters (found '\\u{1b}')"},
      {"!a\xc2\xa0", "invalid tag \"!a\\u{a0}\": a tag cannot contain whitespace or control characters (found '\\u{a0}')"},
      // Invisible characters are shown by code; other characters as they are.
      {"!\xc3\xa9\xe2\x80\x8b,", "invalid tag \"!\xc3\xa9\\u{200b},\": a shorthand tag cannot contain a flow indicator (found ',')"},
      {"!a\xe2\x80\xa8", "invalid tag \"!a\\u{2028}\": a tag cannot contain whitespace or control characters (found '\\u{2028}')"},
      {"!<>", "invalid tag \"!<>\"" + kVerbatim},
      {"!<a>b>", "invalid tag \"!<a>b>\"" + kVerbatim},
      {"!<abc", "invalid tag \"!<abc\"" + kVerbatim},
      {"!a!b", "invalid tag \"!a!b\"" + kHandle},
      {"!!a!b", "invalid tag \"!!a!b\"" + kHandle},
      {"!a,b", "invalid tag \"!a,b\": a shorthand tag cannot contain a flow indicator (found ',')"},
      {"!a]", "invalid tag \"!a]\": a shorthand tag cannot contain a flow indicator (found ']')"},
      {"!a}b,", "invalid tag \"!a}b,\": a shorthand tag cannot contain a flow indicator (found '}')"},
      // Quotes and backslashes in the quoted tag.
      {"!\"q\\,", "invalid tag \"!\\\"q\\\\,\": a shorthand tag cannot contain a flow indicator (found ',')"},
      {"!'q,", "invalid tag \"!'q,\": a shorthand tag cannot contain a flow indicator (found ',')"},
  };
  for (const auto& c : cases) EXPECT_EQ(validate_dump_tag(c.tag).value_or("<valid>"), c.message) << c.tag;
}

}  // namespace
}  // namespace qf
