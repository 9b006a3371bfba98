// Value trees: ownership, iterative release and copy, debug text.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cmath>
#include <limits>
#include <thread>

#include "../small_stack.hpp"
#include "decode/load_error.hpp"
#include "decode/value.hpp"

namespace qf {
namespace {

Value seq(std::initializer_list<Value*> items) {
  ValueList list;
  for (Value* v : items) list.push_back(std::move(*v));
  return Value::sequence(std::move(list));
}

// A sequence nested `depth` levels deep, built without recursion.
Value deep_sequence(size_t depth) {
  Value v = Value::integer(7);
  for (size_t i = 0; i < depth; ++i) {
    ValueList items;
    items.push_back(std::move(v));
    v = Value::sequence(std::move(items));
  }
  return v;
}

// Mixed nesting: mapping -> tagged -> sequence -> ...
Value deep_mixed(size_t depth) {
  Value v = Value::string("leaf");
  for (size_t i = 0; i < depth; ++i) {
    switch (i % 3) {
      case 0: {
        PairList pairs;
        pairs.emplace_back(Value::string("k"), std::move(v));
        v = Value::mapping(std::move(pairs));
        break;
      }
      case 1:
        v = Value::tagged("!t", std::move(v));
        break;
      default: {
        ValueList items;
        items.push_back(Value::null());
        items.push_back(std::move(v));
        v = Value::sequence(std::move(items));
        break;
      }
    }
  }
  return v;
}

TEST(Value, KindsAndPayloads) {
  EXPECT_EQ(Value().kind(), ValueKind::Null);
  EXPECT_TRUE(Value::boolean(true).as_bool());
  EXPECT_EQ(Value::integer(std::numeric_limits<int64_t>::min()).as_int(), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(Value::floating(-0.0).as_float(), 0.0);
  EXPECT_TRUE(std::signbit(Value::floating(-0.0).as_float()));
  Value big = Value::big_int(BigIntText{"-ff", 16});
  EXPECT_EQ(big.kind(), ValueKind::BigInt);
  EXPECT_EQ(big.big_int_text(), "-ff");
  EXPECT_EQ(big.big_int_radix(), 16);
  Value s = Value::string(std::string("a\0b", 3));
  EXPECT_EQ(s.as_string().size(), 3u);  // NUL is content
  Value ts = Value::timestamp(YamlTimestamp::date(2001, 2, 3));
  EXPECT_EQ(ts.as_timestamp(), YamlTimestamp::date(2001, 2, 3));
  Value t = Value::tagged("!x", Value::string("a"));
  EXPECT_EQ(t.tag(), "!x");
  EXPECT_EQ(t.inner().as_string(), "a");
  for (int k = 0; k <= 9; ++k) EXPECT_STRNE(value_kind_name(static_cast<ValueKind>(k)), "?");
}

TEST(Value, MovesLeaveNullBehind) {
  Value a = Value::string("hello, a string longer than the inline buffer");
  Value b = std::move(a);
  EXPECT_TRUE(a.is_null());
  EXPECT_EQ(b.as_string(), "hello, a string longer than the inline buffer");
  Value m = Value::mapping();
  m.pairs().emplace_back(Value::string("k"), std::move(b));
  Value taken = m.pairs()[0].value.take();
  EXPECT_TRUE(m.pairs()[0].value.is_null());
  EXPECT_EQ(taken.kind(), ValueKind::String);
  // Self-assignment through a reference keeps the value.
  Value& alias = taken;
  taken = std::move(alias);
  EXPECT_EQ(taken.kind(), ValueKind::String);
}

TEST(Value, ReleaseOfDeepAndWideTreesDoesNotRecurse) {
  test::run_on_small_stack([] {
    { Value v = deep_sequence(1'000'000); }  // destructor
    drop_value_tree(deep_mixed(300'000));
    Value wide = Value::mapping();
    wide.pairs().reserve(1'000'000);
    for (int i = 0; i < 1'000'000; ++i) wide.pairs().emplace_back(Value::integer(i), Value::string("v"));
    drop_value_tree(std::move(wide));
  });
}

TEST(Value, DeepCopyIsIndependentAndIterative) {
  test::run_on_small_stack([] {
    Value original = deep_mixed(200'000);
    Value copy = deep_copy_value(original);
    EXPECT_TRUE(value_structurally_equal(original, copy));
    EXPECT_EQ(value_node_count(copy), value_node_count(original));
    drop_value_tree(std::move(original));
    EXPECT_GT(value_node_count(copy), 200'000u);
  });

  Value a = Value::string("x");
  Value b = Value::big_int("123456789012345678901234567890");
  Value c = Value::tagged(std::string(kMergeTag), Value::string("<<"));
  Value tree = seq({&a, &b, &c});
  tree.items().push_back(Value::timestamp(YamlTimestamp::date_time(2001, 1, 2, 3, 4, 5, 6, -60)));
  tree.items().push_back(Value::floating(std::numeric_limits<double>::quiet_NaN()));
  Value copy = deep_copy_value(tree);
  EXPECT_TRUE(value_structurally_equal(tree, copy));
  copy.items()[0] = Value::string("changed");
  EXPECT_EQ(tree.items()[0].as_string(), "x");
  EXPECT_FALSE(value_structurally_equal(tree, copy));
}

TEST(Value, DebugText) {
  struct Case {
    Value value;
    const char* text;
  };
  std::vector<Case> cases;
  {
    Value one = Value::integer(1), a = Value::string("a");
    cases.push_back({seq({&one, &a}), "Sequence([Int(1), String(\"a\")])"});
  }
  cases.push_back({Value(), "Null"});
  cases.push_back({Value::boolean(false), "Bool(false)"});
  cases.push_back({Value::integer(-5), "Int(-5)"});
  cases.push_back({Value::floating(1.0), "Float(1.0)"});
  cases.push_back({Value::floating(0.25), "Float(0.25)"});
  cases.push_back({Value::floating(1e20), "Float(1e20)"});
  cases.push_back({Value::floating(1e16), "Float(1e16)"});
  cases.push_back({Value::floating(1e15), "Float(1000000000000000.0)"});
  cases.push_back({Value::floating(1.5e-5), "Float(1.5e-5)"});
  cases.push_back({Value::floating(0.0001), "Float(0.0001)"});
  cases.push_back({Value::floating(-0.0), "Float(-0.0)"});
  cases.push_back({Value::floating(std::numeric_limits<double>::infinity()), "Float(inf)"});
  cases.push_back({Value::floating(-std::numeric_limits<double>::infinity()), "Float(-inf)"});
  cases.push_back({Value::floating(std::numeric_limits<double>::quiet_NaN()), "Float(NaN)"});
  cases.push_back({Value::big_int("9223372036854775808"), "BigInt(\"9223372036854775808\")"});
  cases.push_back({Value::big_int("-8000000000000000", 16), "BigInt(\"-9223372036854775808\")"});
  cases.push_back({Value::string(std::string("q\"b\\\n\r\t\0\x01\x7f\xc2\x85\xe2\x80\xa8\xc3\xa9", 17)),
                   "String(\"q\\\"b\\\\\\n\\r\\t\\0\\u{1}\\u{7f}\\u{85}\\u{2028}\xc3\xa9\")"});
  cases.push_back({Value::timestamp(YamlTimestamp::date(2001, 2, 3)),
                   "Timestamp(Date { year: 2001, month: 2, day: 3 })"});
  cases.push_back({Value::timestamp(YamlTimestamp::date_time(2001, 2, 3, 4, 5, 6, 7, -300)),
                   "Timestamp(DateTime { year: 2001, month: 2, day: 3, hour: 4, minute: 5, second: 6, "
                   "microsecond: 7, offset_minutes: Some(-300) })"});
  cases.push_back({Value::timestamp(YamlTimestamp::date_time(2001, 2, 3, 4, 5, 6, 0, std::nullopt)),
                   "Timestamp(DateTime { year: 2001, month: 2, day: 3, hour: 4, minute: 5, second: 6, "
                   "microsecond: 0, offset_minutes: None })"});
  cases.push_back({Value::tagged("!x", Value::string("a")), "Tagged(\"!x\", String(\"a\"))"});
  {
    PairList pairs;
    pairs.emplace_back(Value::string("a"), Value::integer(1));
    pairs.emplace_back(Value::sequence(), Value::mapping());
    cases.push_back({Value::mapping(std::move(pairs)),
                     "Mapping([(String(\"a\"), Int(1)), (Sequence([]), Mapping([]))])"});
  }
  for (const Case& c : cases) EXPECT_EQ(value_debug_text(c.value), c.text);
}

TEST(Value, DebugTextOfDeepTreesIsIterative) {
  test::run_on_small_stack([] {
    Value v = deep_sequence(100'000);
    std::string text = value_debug_text(v);
    EXPECT_EQ(text.size(), 100'000 * std::string("Sequence([])").size() + std::string("Int(7)").size());
  });
}

TEST(Value, DebugTextOfHugeRadixBigIntStaysCheap) {
  Value v = Value::big_int(std::string(200'000, 'f'), 16);
  std::string text = value_debug_text(v);
  EXPECT_EQ(text.substr(0, 11), "BigInt(\"0xf");
}

TEST(LoadError, FromScanError) {
  Span span;
  span.line = 2;
  span.column = 0;
  span.offset = 17;
  LoadError e = LoadError::from_scan_error(ScanError{"a tab cannot be used for indentation", span});
  EXPECT_EQ(e.kind, LoadErrorKind::Parse);
  EXPECT_EQ(e.message, "a tab cannot be used for indentation");
  EXPECT_EQ(e.span, span);
  EXPECT_EQ(static_cast<int>(LoadErrorKind::DuplicateKey), 1);
  EXPECT_EQ(static_cast<int>(LoadErrorKind::ComplexKey), 2);
}

// Texts of every length up to past the inline limit (short ones are copied
// in overlapping pieces, so every byte differs), moved through vectors that
// grow (a move copies the value's bytes) and deep copies: each keeps its
// bytes and its terminating NUL.
TEST(Value, TextsAcrossTheInlineLimit) {
  std::vector<std::string> texts;
  auto distinct = [](size_t n) {
    std::string t;
    for (size_t i = 0; i < n; ++i) t += static_cast<char>('A' + i % 58);
    return t;
  };
  for (size_t n = 0; n <= 26; ++n) texts.push_back(distinct(n));
  texts.push_back(distinct(100));
  texts.push_back(distinct(3000));
  texts.push_back(std::string("nul\0inside", 10));
  ValueList items;
  for (const std::string& t : texts) {
    items.push_back(Value::string(t));
    items.push_back(Value::big_int(t.empty() ? "0" : "-" + std::string(t.size(), '7'), 8));
  }
  Value tree = Value::sequence(std::move(items));
  Value copy = deep_copy_value(tree);
  for (const Value* v : {&tree, &copy}) {
    ASSERT_EQ(v->items().size(), texts.size() * 2);
    for (size_t i = 0; i < texts.size(); ++i) {
      const Value& s = v->items()[2 * i];
      EXPECT_EQ(s.as_string(), texts[i]);
      EXPECT_EQ(s.as_string().data()[texts[i].size()], '\0');
      const Value& b = v->items()[2 * i + 1];
      EXPECT_EQ(std::string(b.big_int_c_str()), std::string(b.big_int_text()));
      EXPECT_EQ(b.big_int_radix(), 8);
    }
  }
  Value moved = std::move(tree);
  EXPECT_TRUE(tree.is_null());
  EXPECT_TRUE(value_structurally_equal(moved, copy));
}

}  // namespace
}  // namespace qf
