// The schema core below the host: number texts of messages, the pattern
// bridge, and value equality with its hash.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "decode/loader.hpp"
#include "roundtrip/composer.hpp"
#include "schema/number_text.hpp"
#include "schema/pattern.hpp"
#include "schema/validator.hpp"
#include "schema/values.hpp"

namespace qf {
namespace {

TEST(SchemaNumberText, ShortestFixedDecimal) {
  struct Case {
    double value;
    const char* text;
  } cases[] = {
      {5, "5"},
      {2.5, "2.5"},
      {0.0001, "0.0001"},
      {1e20, "100000000000000000000"},
      {0.1, "0.1"},
      {-3.25, "-3.25"},
      {9007199254740993.0, "9007199254740992"},
      {-0.0, "-0"},
      {0.0, "0"},
      {std::numeric_limits<double>::infinity(), "inf"},
      {-std::numeric_limits<double>::infinity(), "-inf"},
      {std::nan(""), "NaN"},
  };
  for (const Case& c : cases) EXPECT_EQ(format_schema_number(c.value), c.text) << c.text;
  // The extremes fit: no exponent, all digits.
  const std::string big = format_schema_number(std::numeric_limits<double>::max());
  EXPECT_EQ(big.size(), 309u);
  EXPECT_EQ(big.substr(0, 5), "17976");
  const std::string tiny = format_schema_number(std::numeric_limits<double>::denorm_min());
  EXPECT_EQ(tiny.substr(0, 4), "0.00");
  EXPECT_EQ(tiny.back(), '5');
  EXPECT_EQ(std::strtod(tiny.c_str(), nullptr), std::numeric_limits<double>::denorm_min());
}

TEST(SchemaPattern, OneCompilationPerTextWithinASet) {
  PatternSet set;
  const CompiledPattern* a = set.get(R"(\w+-\d)");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(set.get(R"(\w+-\d)"), a);
  EXPECT_TRUE(a->search("  né-٣  "));  // unanchored, Unicode \w and \d
  EXPECT_FALSE(a->search("-3"));
  EXPECT_EQ(set.get("("), nullptr);
  EXPECT_EQ(set.get("("), nullptr);
  EXPECT_EQ(set.compiled(), 2u);  // the failure is remembered too
}

TEST(SchemaPattern, BytesCrossTheBridgeByLength) {
  // Texts are passed with their length: a NUL is an ordinary character.
  auto nul = compile_schema_pattern(std::string_view("^a\0b$", 5));
  ASSERT_NE(nul, nullptr);
  EXPECT_TRUE(nul->search(std::string_view("a\0b", 3)));
  EXPECT_FALSE(nul->search("a"));
  auto empty = compile_schema_pattern("");
  ASSERT_NE(empty, nullptr);
  EXPECT_TRUE(empty->search(""));
  // Bytes that are not UTF-8 never reach the engine as such: a pattern is
  // refused, a text is searched as its lossy decoding.
  EXPECT_EQ(compile_schema_pattern("a\xff"), nullptr);
  auto any = compile_schema_pattern("^a.b$");
  ASSERT_NE(any, nullptr);
  EXPECT_TRUE(any->search("a\xff" "b"));
  EXPECT_FALSE(any->search("a\xed\xa0\x80" "b"));  // an encoded surrogate is three replacement characters
}

// Numbers around the edges of every representation.
std::vector<Value> numbers() {
  std::vector<Value> v;
  v.push_back(Value::integer(0));
  v.push_back(Value::floating(0.0));
  v.push_back(Value::floating(-0.0));
  v.push_back(Value::integer(1));
  v.push_back(Value::floating(1.0));
  v.push_back(Value::boolean(true));
  v.push_back(Value::integer(9007199254740993));
  v.push_back(Value::floating(9007199254740992.0));
  v.push_back(Value::integer(9007199254740992));
  v.push_back(Value::integer(std::numeric_limits<int64_t>::max()));
  v.push_back(Value::integer(std::numeric_limits<int64_t>::min()));
  v.push_back(Value::floating(-9223372036854775808.0));
  v.push_back(Value::floating(9223372036854775808.0));
  v.push_back(Value::big_int("9223372036854775808", 10));
  v.push_back(Value::big_int("8000000000000000", 16));
  v.push_back(Value::big_int("1000000000000000000000", 8));
  v.push_back(Value::big_int("18446744073709551616", 10));
  v.push_back(Value::big_int("10000000000000000", 16));
  v.push_back(Value::floating(18446744073709551616.0));
  v.push_back(Value::big_int("18446744073709551617", 10));
  v.push_back(Value::big_int("-10000000000000000", 16));
  v.push_back(Value::big_int("-18446744073709551616", 10));
  v.push_back(Value::floating(std::nan("")));
  v.push_back(Value::string("1"));
  return v;
}

TEST(SchemaValues, EqualityIsAnEquivalenceAndHashesAgree) {
  const std::vector<Value> v = numbers();
  for (size_t i = 0; i < v.size(); ++i) {
    EXPECT_EQ(values_equal(v[i], v[i]), !(v[i].is(ValueKind::Float) && std::isnan(v[i].as_float()))) << i;
    for (size_t j = 0; j < v.size(); ++j) {
      const bool eq = values_equal(v[i], v[j]);
      EXPECT_EQ(eq, values_equal(v[j], v[i])) << i << " " << j;
      if (!eq) continue;
      EXPECT_EQ(value_hash(v[i]), value_hash(v[j])) << i << " " << j;
      for (size_t k = 0; k < v.size(); ++k) {
        if (values_equal(v[j], v[k])) {
          EXPECT_TRUE(values_equal(v[i], v[k])) << i << " " << j << " " << k;
        }
      }
    }
  }
  EXPECT_TRUE(values_equal(v[0], v[2]));     // 0 and -0.0
  EXPECT_FALSE(values_equal(v[3], v[5]));    // 1 and true
  EXPECT_FALSE(values_equal(v[6], v[7]));    // 2^53 + 1 and 2^53 as a double
  EXPECT_TRUE(values_equal(v[13], v[14]));   // 2^63 in decimal and hex
  EXPECT_TRUE(values_equal(v[13], v[15]));   // ... and octal
  EXPECT_TRUE(values_equal(v[12], v[14]));   // ... and as a double
  EXPECT_TRUE(values_equal(v[16], v[18]));   // 2^64 as a double
  EXPECT_FALSE(values_equal(v[19], v[18]));  // 2^64 + 1 is not
  EXPECT_TRUE(values_equal(v[20], v[21]));   // -2^64 in two radixes
}

TEST(SchemaValues, MappingsPairOneToOne) {
  auto map = [](std::vector<std::pair<const char*, int64_t>> pairs) {
    PairList out;
    for (auto& [k, x] : pairs) {
      ValuePair& p = out.emplace_back();
      p.key = Value::string(k);
      p.value = Value::integer(x);
    }
    return Value::mapping(std::move(out));
  };
  EXPECT_FALSE(values_equal(map({{"x", 1}, {"x", 1}}), map({{"x", 1}, {"y", 2}})));
  EXPECT_FALSE(values_equal(map({{"x", 1}, {"y", 2}}), map({{"x", 1}, {"x", 1}})));
  EXPECT_TRUE(values_equal(map({{"x", 1}, {"y", 2}}), map({{"y", 2}, {"x", 1}})));
  EXPECT_EQ(value_hash(map({{"x", 1}, {"y", 2}})), value_hash(map({{"y", 2}, {"x", 1}})));
}

TEST(SchemaValues, NumbersOfBigIntegers) {
  EXPECT_EQ(big_int_to_double("10000000000000000", 16), 18446744073709551616.0);
  EXPECT_EQ(big_int_to_double("-" + std::string(300, 'f'), 16), -std::ldexp(1.0, 1200));
  // Round half to even across the 53-bit boundary: 2^64 + 2^11 lies halfway.
  EXPECT_EQ(big_int_to_double("10000000000000800", 16), 18446744073709551616.0);
  EXPECT_EQ(big_int_to_double("10000000000000801", 16), 18446744073709555712.0);
  EXPECT_EQ(big_int_to_int128("-80000000000000000000000000000000", 16), std::numeric_limits<__int128>::min());
  EXPECT_FALSE(big_int_to_int128("80000000000000000000000000000000", 16));
  EXPECT_FALSE(big_int_to_int128(std::string(200, '7'), 8));
}

Value schema_of(std::string_view json) {
  DecodedStream s = decode_documents(json, DecodeSettings{});
  return std::move(s.documents.front());
}

// A value that came from a secret is never quoted in a message.
TEST(SchemaValidator, SecretTextStaysOutOfMessages) {
  ComposeResult r = compose_documents("a: 70000\nb: {k: 1}\nc: 70000\n");
  ASSERT_TRUE(r.ok());
  YamlNode& root = r.roots.front();
  root.pairs[0].value.set_source(IncludeSource{"!secret", "port", std::nullopt});
  root.pairs[1].value.set_source(IncludeSource{"!secret", "map", std::nullopt});
  auto message = [&](std::string_view schema) {
    SchemaOutcome o = validate_document(root, schema_of(schema), ResolverMode::Yaml12, MergeKeyRule::SourceTree);
    return o.violation ? o.violation->message : std::string();
  };
  EXPECT_EQ(message(R"({"properties": {"a": {"maximum": 5}}})"), "value <secret> is greater than maximum 5");
  EXPECT_EQ(message(R"({"properties": {"c": {"maximum": 5}}})"), "value 70000 is greater than maximum 5");
  EXPECT_EQ(message(R"({"properties": {"b": {"additionalProperties": false}}})"),
            "additional property '<secret>' is not allowed");
  // Nor in the path: a key inside the secret is no less secret.
  SchemaOutcome o = validate_document(root, schema_of(R"({"properties": {"b": {"additionalProperties": false}}})"),
                                      ResolverMode::Yaml12, MergeKeyRule::SourceTree);
  ASSERT_TRUE(o.violation);
  EXPECT_EQ(o.violation->path, "$.b.<secret>");
  EXPECT_EQ(message(R"({"additionalProperties": {"type": "integer"}})"), "expected type integer, found object");
}

}  // namespace
}  // namespace qf
