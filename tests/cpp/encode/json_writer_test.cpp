#include "encode/json_writer.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "value_builders.hpp"

namespace qf {
namespace {

using namespace qf::test;
using namespace qf::dump_option;

std::string json(const Value& v, uint64_t option = 0) {
  std::string out;
  auto err = write_json_value(out, v, json_settings_from_options(option));
  EXPECT_FALSE(err.has_value()) << (err ? err->message : "");
  return out;
}

std::string json_error(const Value& v, uint64_t option = 0) {
  std::string out;
  auto err = write_json_value(out, v, json_settings_from_options(option));
  return err ? err->message : "<no error>";
}

TEST(JsonWriter, CompactSortedIndented) {
  Value v = Map(P(S("b"), I(1)), P(S("a"), Seq(I(1), I(2))));
  EXPECT_EQ(json(v), "{\"b\":1,\"a\":[1,2]}");
  EXPECT_EQ(json(v, kSortKeys), "{\"a\":[1,2],\"b\":1}");
  EXPECT_EQ(json(v, kIndent2), "{\n  \"b\": 1,\n  \"a\": [\n    1,\n    2\n  ]\n}");
  EXPECT_EQ(json(v, kIndent2 | kIndent4), "{\n    \"b\": 1,\n    \"a\": [\n        1,\n        2\n    ]\n}");
  EXPECT_EQ(json(v, kIndent4), json(v, kIndent2 | kIndent4));
}

TEST(JsonWriter, EmptyCollectionsAndScalars) {
  EXPECT_EQ(json(Map()), "{}");
  EXPECT_EQ(json(Seq()), "[]");
  EXPECT_EQ(json(Map(), kIndent2), "{}");
  EXPECT_EQ(json(Seq(Seq(), Map()), kIndent2), "[\n  [],\n  {}\n]");
  EXPECT_EQ(json(N()), "null");
  EXPECT_EQ(json(Seq(B(true), B(false), I(INT64_MIN), Big("18446744073709551616"), Big("ff", 16))),
            "[true,false,-9223372036854775808,18446744073709551616,255]");
  EXPECT_EQ(json(Seq(F(1.0), F(-0.0), F(1e16), F(1.5e-7), F(INFINITY), F(-INFINITY),
                     F(std::numeric_limits<double>::quiet_NaN()))),
            "[1.0,-0.0,1.0e+16,1.5e-07,null,null,null]");
  EXPECT_EQ(json(Value::timestamp(YamlTimestamp::date_time(2001, 2, 3, 4, 5, 6, 0, 0))),
            "\"2001-02-03T04:05:06+00:00\"");
}

TEST(JsonWriter, KeysBecomeStrings) {
  Value v = Map(P(B(true), I(1)), P(N(), I(2)), P(F(1.5), I(3)), P(F(std::nan("")), I(4)), P(I(-7), I(5)),
                P(Value::timestamp(YamlTimestamp::date(2001, 2, 3)), I(6)), P(T("!t", S("k")), I(7)),
                P(Big("18446744073709551616"), I(8)));
  EXPECT_EQ(json(v), "{\"true\":1,\"null\":2,\"1.5\":3,\"null\":4,\"-7\":5,\"2001-02-03\":6,\"k\":7,"
                     "\"18446744073709551616\":8}");
  // Equal key texts are both written, in mapping order (also when sorted).
  Value dup = Map(P(I(1), S("a")), P(S("1"), S("b")), P(S("0"), S("c")));
  EXPECT_EQ(json(dup), "{\"1\":\"a\",\"1\":\"b\",\"0\":\"c\"}");
  EXPECT_EQ(json(dup, kSortKeys), "{\"0\":\"c\",\"1\":\"a\",\"1\":\"b\"}");
  // Byte-wise, a proper prefix first.
  EXPECT_EQ(json(Map(P(S("ab"), I(1)), P(S("\xc3\xa9"), I(2)), P(S("a"), I(3)), P(S("B"), I(4))), kSortKeys),
            "{\"B\":4,\"a\":3,\"ab\":1,\"\xc3\xa9\":2}");
}

TEST(JsonWriter, CollectionKeysFail) {
  EXPECT_EQ(json_error(Map(P(Seq(I(1), I(2)), I(1)))), "a collection cannot be a JSON object key");
  EXPECT_EQ(json_error(Seq(I(1), Map(P(T("!t", Map()), I(1))))), "a collection cannot be a JSON object key");
  EXPECT_EQ(json_error(Map(P(S("a"), Map(P(Map(), I(1))))), kSortKeys), "a collection cannot be a JSON object key");
}

TEST(JsonWriter, TagsAreDropped) {
  EXPECT_EQ(json(T("!t", Seq(I(1)))), "[1]");
  EXPECT_EQ(json(Map(P(S("a"), T("!x", S("v"))))), "{\"a\":\"v\"}");
}

TEST(JsonWriter, StringEscapes) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {std::string("a\0b", 3), "\"a\\u0000b\""},
      {"\b\t\n\f\r", "\"\\b\\t\\n\\f\\r\""},
      {"\x0b\x1f", "\"\\u000b\\u001f\""},
      {"\"\\/", "\"\\\"\\\\/\""},
      {"\x7f", "\"\x7f\""},
      {"\xe2\x80\xa8x\xe2\x80\xa9", "\"\\u2028x\\u2029\""},
      {"\xe2\x80\xa7\xe2\x82\xac", "\"\xe2\x80\xa7\xe2\x82\xac\""},  // neighbours unchanged
      {"caf\xc3\xa9 \xf0\x9f\x98\x80", "\"caf\xc3\xa9 \xf0\x9f\x98\x80\""},
      {"", "\"\""},
  };
  for (const auto& c : cases) {
    std::string out;
    write_json_string(out, c.in);
    EXPECT_EQ(out, c.out) << c.in;
  }
}

TEST(JsonWriter, DeepNestingIsFine) {
  Value v = I(1);
  for (int i = 0; i < 2000; ++i) v = Seq(std::move(v));
  std::string out = json(v);
  EXPECT_EQ(out.size(), 4001u);
  EXPECT_EQ(out.substr(1998, 5), "[[1]]");
}

}  // namespace
}  // namespace qf
