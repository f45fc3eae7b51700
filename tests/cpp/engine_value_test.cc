// Tests of engine values: the display form, the JSON text, equality across numeric kinds,
// ordering, arithmetic with overflow detected, membership, item lookup, and borrowing of the JSON
// context.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "korvel/engine/object.hpp"
#include "korvel/engine/value.hpp"
#include "korvel/engine/value_ops.hpp"

namespace {

using korvel::engine::BinaryOp;
using korvel::engine::ErrorKind;
using korvel::engine::Int128;
using korvel::engine::kInt128Max;
using korvel::engine::kInt128Min;
using korvel::engine::MapEntries;
using korvel::engine::Value;
using korvel::engine::ValueKind;
namespace json = korvel::json;

Value str(const char* s) { return Value::from_string(s); }
Value seq(std::vector<Value> v) { return Value::from_seq(std::move(v)); }

std::string json_text(const Value& v) {
  std::string out;
  auto r = v.write_json(out);
  return r ? out : "FAIL " + std::string(korvel::engine::kind_text(r.error().kind()));
}

TEST(EngineValue, DisplayForm) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::pair<Value, const char*> cases[] = {
      {Value::undefined(), ""},
      {Value::none(), "none"},
      {Value::from_bool(true), "true"},
      {Value::from_bool(false), "false"},
      {Value::from_int(-42), "-42"},
      {Value::from_int(kInt128Max), "170141183460469231731687303715884105727"},
      {Value::from_int(kInt128Min), "-170141183460469231731687303715884105728"},
      {Value::from_float(2.0), "2.0"},
      {Value::from_float(0.5), "0.5"},
      {Value::from_float(1e16), "10000000000000000.0"},
      {Value::from_float(1e23), "100000000000000000000000.0"},
      {Value::from_float(0.000001), "0.000001"},
      {Value::from_float(1.5e-7), "0.00000015"},
      {Value::from_float(-0.0), "-0.0"},
      {Value::from_float(0.1 + 0.2), "0.30000000000000004"},
      {Value::from_float(std::nan("")), "NaN"},
      {Value::from_float(inf), "inf"},
      {Value::from_float(-inf), "-inf"},
      {str("plain \"text\""), "plain \"text\""},
      {Value::from_bytes("ok\xFF"), "ok\xEF\xBF\xBD"},
      {seq({Value::from_int(1), str("a"), Value::none(), Value::from_bool(true),
            Value::from_float(2.5)}),
       "[1, \"a\", none, true, 2.5]"},
      {seq({str("q\"\\")}), "[\"q\\\"\\\\\"]"},
      {seq({}), "[]"},
      {Value::from_map({{str("k"), Value::from_int(1)}, {Value::from_int(2), seq({})}}),
       "{\"k\": 1, 2: []}"},
  };
  for (const auto& [v, text] : cases) EXPECT_EQ(v.to_display(), text);
}

TEST(EngineValue, JsonText) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::pair<Value, const char*> cases[] = {
      {Value::undefined(), "null"},
      {Value::none(), "null"},
      {Value::from_bool(false), "false"},
      {Value::from_int(-7), "-7"},
      {Value::from_float(2.5), "2.5"},
      {Value::from_float(1.0), "1.0"},
      {Value::from_float(0.00001), "0.00001"},
      {Value::from_float(1e15), "1000000000000000.0"},
      {Value::from_float(1e16), "1e+16"},
      {Value::from_float(1.5e-7), "1.5e-7"},
      {Value::from_float(0.000001), "1e-6"},
      {Value::from_float(-1.25e20), "-1.25e+20"},
      {Value::from_float(inf), "null"},
      {Value::from_float(std::nan("")), "null"},
      {str("a\"b\\c\b\t\n\f\r\x01\x1B/\x7F\xC3\xA9"),
       "\"a\\\"b\\\\c\\b\\t\\n\\f\\r\\u0001\\u001b/\x7F\xC3\xA9\""},
      {Value::safe_string("s"), "\"s\""},
      {Value::from_bytes("AB"), "[65,66]"},
      {seq({Value::from_int(1), seq({}), Value::none()}), "[1,[],null]"},
      {Value::from_map({{str("b"), Value::from_int(1)}, {str("a"), Value::from_int(2)}}),
       "{\"b\":1,\"a\":2}"},
      {Value::from_map({{Value::from_int(3), str("x")},
                        {Value::from_bool(true), str("y")},
                        {Value::from_float(1.5), str("z")}}),
       "{\"3\":\"x\",\"true\":\"y\",\"1.5\":\"z\"}"},
      {Value::from_map({{Value::none(), str("x")}}), "FAIL could not serialize to value"},
      {Value::from_map({{Value::from_float(inf), str("x")}}), "FAIL could not serialize to value"},
      {seq({Value::from_int(1), Value::from_map({{Value::none(), Value::none()}})}),
       "FAIL could not serialize to value"},
      {korvel::engine::make_namespace(), "FAIL could not serialize to value"},
  };
  for (const auto& [v, text] : cases) EXPECT_EQ(json_text(v), text) << v.to_display();
  // A failed serialization leaves nothing half-written.
  std::string out = "keep";
  EXPECT_FALSE(
      seq({Value::from_int(1), Value::from_map({{Value::none(), Value::none()}})}).write_json(out));
  EXPECT_EQ(out, "keep");
}

TEST(EngineValue, EqualityFollowsPython) {
  EXPECT_EQ(Value::from_int(1), Value::from_float(1.0));
  EXPECT_EQ(Value::from_int(1), Value::from_bool(true));
  EXPECT_FALSE(Value::from_int(2) == Value::from_bool(true));
  EXPECT_FALSE(Value::from_int(1) == str("1"));
  EXPECT_EQ(str("a"), Value::safe_string("a"));
  EXPECT_FALSE(Value::none() == Value::undefined());
  EXPECT_EQ(seq({Value::from_int(1), str("x")}), seq({Value::from_float(1.0), str("x")}));
  EXPECT_EQ(Value::from_map({{str("a"), Value::from_int(1)}, {str("b"), Value::from_int(2)}}),
            Value::from_map({{str("b"), Value::from_int(2)}, {str("a"), Value::from_int(1)}}));
  // Integers beyond double precision compare exactly.
  EXPECT_FALSE(Value::from_int((Int128(1) << 60) + 1) == Value::from_float(std::ldexp(1.0, 60)));
  EXPECT_FALSE(Value::from_float(std::nan("")) == Value::from_float(std::nan("")));
}

TEST(EngineValue, MapsKeepFirstPositionAndLastValue) {
  MapEntries entries;
  for (int i = 0; i < 40; ++i) entries.emplace_back(Value::from_int(i % 20), Value::from_int(i));
  entries.emplace_back(Value::from_float(3.0), str("three"));
  Value m = Value::from_map(std::move(entries));
  EXPECT_EQ(m.map_len(), 20u);
  EXPECT_EQ(m.get_item(Value::from_int(5)), Value::from_int(25));
  EXPECT_EQ(m.get_item(Value::from_int(3)), str("three"));
  EXPECT_EQ(m.get_item(Value::from_bool(true)), Value::from_int(21));
  EXPECT_TRUE(m.get_item(Value::from_int(99)).is_undefined());
  EXPECT_EQ(m.map_keys()[0], Value::from_int(0));
  EXPECT_EQ(m.map_keys()[19], Value::from_int(19));
}

TEST(EngineValue, ArithmeticAndOverflow) {
  struct Case {
    BinaryOp op;
    Value a, b;
    const char* expected;  // display form, or the error kind text
  };
  auto run = [](const Case& c) {
    auto r = korvel::engine::binary_op(c.op, c.a, c.b);
    return r ? r->to_display() : std::string(korvel::engine::kind_text(r.error().kind()));
  };
  const Case cases[] = {
      {BinaryOp::Add, Value::from_int(kInt128Max), Value::from_int(1), "invalid operation"},
      {BinaryOp::Sub, Value::from_int(kInt128Min), Value::from_int(1), "invalid operation"},
      {BinaryOp::Mul, Value::from_int(Int128(1) << 100), Value::from_int(Int128(1) << 27),
       "invalid operation"},
      {BinaryOp::Mul, Value::from_int(Int128(1) << 100), Value::from_int(Int128(1) << 26),
       "85070591730234615865843651857942052864"},
      {BinaryOp::Pow, Value::from_int(3), Value::from_int(81), "invalid operation"},
      {BinaryOp::Pow, Value::from_int(3), Value::from_int(80),
       "147808829414345923316083210206383297601"},
      {BinaryOp::Pow, Value::from_int(2), Value::from_int(126),
       "85070591730234615865843651857942052864"},
      {BinaryOp::Pow, Value::from_int(2), Value::from_int(-2), "0.25"},
      {BinaryOp::Pow, Value::from_int(0), Value::from_int(-1), "invalid operation"},
      {BinaryOp::Pow, Value::from_float(0.0), Value::from_float(-2), "invalid operation"},
      {BinaryOp::FloorDiv, Value::from_int(kInt128Min), Value::from_int(-1), "invalid operation"},
      {BinaryOp::Mod, Value::from_int(kInt128Min), Value::from_int(-1), "0"},
      {BinaryOp::FloorDiv, Value::from_int(-7), Value::from_int(2), "-4"},
      {BinaryOp::Mod, Value::from_int(-7), Value::from_int(2), "1"},
      {BinaryOp::Mod, Value::from_int(7), Value::from_int(-2), "-1"},
      {BinaryOp::FloorDiv, Value::from_float(1), Value::from_float(0.1), "9.0"},
      {BinaryOp::Mod, Value::from_float(-3.0), Value::from_int(3), "0.0"},
      {BinaryOp::Mod, Value::from_int(3), Value::from_float(-1.5), "-0.0"},
      {BinaryOp::Div, Value::from_int(1), Value::from_int(0), "invalid operation"},
      {BinaryOp::Div, Value::from_int(9), Value::from_int(3), "3.0"},
      {BinaryOp::Add, Value::from_bool(true), Value::from_bool(true), "2"},
      {BinaryOp::Add, str("a"), Value::from_int(1), "invalid operation"},
      {BinaryOp::Add, Value::safe_string("a"), Value::safe_string("b"), "ab"},
      {BinaryOp::Mul, seq({Value::from_int(1)}), Value::from_int(3), "[1, 1, 1]"},
      {BinaryOp::Mul, Value::from_int(2), str("xy"), "xyxy"},
  };
  for (const auto& c : cases) EXPECT_EQ(run(c), c.expected) << c.a.to_display();
  EXPECT_TRUE(
      korvel::engine::binary_op(BinaryOp::Add, Value::safe_string("a"), Value::safe_string("b"))
          ->is_safe());
  EXPECT_FALSE(
      korvel::engine::binary_op(BinaryOp::Add, Value::safe_string("a"), str("b"))->is_safe());
  EXPECT_FALSE(korvel::engine::negate(Value::from_int(kInt128Min)).has_value());
}

TEST(EngineValue, OrderingAndMembership) {
  using korvel::engine::compare;
  using korvel::engine::contains;
  EXPECT_LT(*compare(Value::from_int(1), Value::from_float(1.5)), 0);
  EXPECT_GT(*compare(str("b"), str("a")), 0);
  EXPECT_LT(*compare(seq({Value::from_int(1)}), seq({Value::from_int(1), Value::from_int(0)})), 0);
  EXPECT_EQ(compare(str("a"), Value::from_int(1)).error().kind(), ErrorKind::InvalidOperation);
  // The total order used for sorting never fails and groups kinds.
  EXPECT_LT(korvel::engine::total_order(Value::none(), Value::from_int(0)), 0);
  EXPECT_LT(korvel::engine::total_order(Value::from_int(5), str("a")), 0);
  EXPECT_TRUE(*contains(str("hello"), str("ell")));
  EXPECT_TRUE(*contains(seq({Value::from_int(2)}), Value::from_float(2.0)));
  EXPECT_TRUE(*contains(Value::from_map({{str("k"), Value::none()}}), str("k")));
  EXPECT_FALSE(*contains(Value::undefined(), str("k")));
  EXPECT_FALSE(contains(Value::from_int(3), Value::from_int(3)).has_value());
}

TEST(EngineValue, JsonContextIsBorrowed) {
  json::Object o;
  o["name"] = "a fairly long string that is not stored inline";
  o["list"] = json::Array{1, 2.5, "x", nullptr, true};
  o["n"] = static_cast<std::uint64_t>(18446744073709551615ULL);
  const Value v = Value::from_json_object(o);
  ASSERT_TRUE(v.is_map());
  EXPECT_EQ(v.map_len(), 3u);
  // The string value points at the JSON tree's own text: nothing was copied.
  EXPECT_EQ(v.get_attr("name").as_str()->data(), o["name"].as_string().data());
  const Value list = v.get_attr("list");
  EXPECT_EQ(list.to_display(), "[1, 2.5, \"x\", none, true]");
  EXPECT_EQ(list.get_item(Value::from_int(-1)), Value::from_bool(true));
  EXPECT_EQ(v.get_attr("n").to_display(), "18446744073709551615");
  EXPECT_EQ(json_text(v),
            "{\"list\":[1,2.5,\"x\",null,true],\"n\":18446744073709551615,"
            "\"name\":\"a fairly long string that is not stored inline\"}");
}

TEST(EngineValue, TruthinessAndLength) {
  EXPECT_FALSE(Value::undefined().is_true());
  EXPECT_FALSE(Value::none().is_true());
  EXPECT_FALSE(Value::from_float(0.0).is_true());
  EXPECT_FALSE(str("").is_true());
  EXPECT_TRUE(str("0").is_true());
  EXPECT_FALSE(seq({}).is_true());
  EXPECT_EQ(*str("h\xC3\xA9!").len(), 3u);  // characters, not bytes
  EXPECT_EQ(*Value::from_bytes("h\xC3\xA9!").len(), 4u);
  EXPECT_FALSE(Value::from_int(3).len().has_value());
  EXPECT_EQ(str("h\xC3\xA9!").get_item(Value::from_int(1)), str("\xC3\xA9"));
}

}  // namespace
