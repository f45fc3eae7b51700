// Tests for korvel::json::write: compact text, number forms, string escapes, and the round trip
// through the reader.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <ostream>
#include <string>

#include "korvel/json/reader.hpp"
#include "korvel/json/writer.hpp"

namespace korvel::json {
// Failures show values as JSON text.
void PrintTo(const Value& value, std::ostream* out) { *out << write(value); }
}  // namespace korvel::json

namespace {

using korvel::json::Array;
using korvel::json::Object;
using korvel::json::parse;
using korvel::json::Value;
using korvel::json::write;

struct WriteCase {
  Value value;
  std::string text;
};

TEST(JsonWriter, WritesCompactText) {
  const WriteCase cases[] = {
      {Value(nullptr), "null"},
      {Value(true), "true"},
      {Value(false), "false"},
      {Value(std::int64_t{-42}), "-42"},
      {Value(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808"},
      {Value(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615"},
      {Value(Array{}), "[]"},
      {Value(Object{}), "{}"},
      {Value(Array{1, "a", nullptr, Array{Array{}}}), "[1,\"a\",null,[[]]]"},
      // Keys in stored order, which is ascending byte order whatever the insertion order.
      {Value(Object{{"b", 1}, {"a", Object{{"z", true}, {"Z", false}}}, {"\xC3\xA9", 2}}),
       "{\"a\":{\"Z\":false,\"z\":true},\"b\":1,\"\xC3\xA9\":2}"},
  };
  for (const auto& c : cases) EXPECT_EQ(write(c.value), c.text);
}

TEST(JsonWriter, DoublesAreShortestAndStayDoubles) {
  const WriteCase cases[] = {
      {Value(2.0), "2.0"},
      {Value(-0.0), "-0.0"},
      {Value(0.1), "0.1"},
      {Value(1e16), "1e+16"},
      {Value(1.5e-7), "1.5e-07"},
      {Value(123456789.0), "123456789.0"},
      {Value(1.7976931348623157e308), "1.7976931348623157e+308"},
      {Value(5e-324), "5e-324"},
      // Integral doubles: fixed with ".0" unless the scientific form is shorter.
      {Value(std::ldexp(1.0, 70)), "1.1805916207174113e+21"},
      {Value(1.2345678901234568e+20), "1.2345678901234568e+20"},
      {Value(9007199254740992.0), "9007199254740992.0"},
      // JSON cannot say NaN or infinity; such a Value built in code is written as null.
      {Value(std::numeric_limits<double>::quiet_NaN()), "null"},
      {Value(-std::numeric_limits<double>::infinity()), "null"},
  };
  for (const auto& c : cases) EXPECT_EQ(write(c.value), c.text);
}

TEST(JsonWriter, EscapesOnlyWhatJsonRequires) {
  const WriteCase cases[] = {
      {Value("plain"), "\"plain\""},
      {Value("q\"b\\s/"), R"("q\"b\\s/")"},
      {Value("\b\f\n\r\t"), R"("\b\f\n\r\t")"},
      {Value(std::string("\0\x01\x1F", 3)), R"("\u0000\u0001\u001f")"},
      {Value("\x7F\xC3\xA9\xF0\x9F\x98\x80"), "\"\x7F\xC3\xA9\xF0\x9F\x98\x80\""},
      // Not UTF-8 (only possible for a Value built in code): U+FFFD keeps the output JSON.
      {Value("a\xFF"
             "b"),
       "\"a\xEF\xBF\xBD"
       "b\""},
  };
  for (const auto& c : cases) EXPECT_EQ(write(c.value), c.text);
  // Keys are escaped like values.
  EXPECT_EQ(write(Value(Object{{"a\"\n", 1}})), R"({"a\"\n":1})");
}

TEST(JsonWriter, AppendsToExistingText) {
  std::string out = "x=";
  write(Value(Array{1, 2}), out);
  EXPECT_EQ(out, "x=[1,2]");
}

TEST(JsonWriter, RoundTripsThroughTheReader) {
  const std::string documents[] = {
      R"({"a":[1,-2,18446744073709551615,-9223372036854775808],"b":{"c":null,"d":true}})",
      R"(["\u0000\u001f\"\\","\u00e9\ud83d\ude00",[[[{}]]]])",
      R"([0.1,0.2,0.30000000000000004,1e300,-2.5e-300,4.9e-324,2.0,1e21])",
      R"({"big":1180591620717411303424,"neg":-0.0})",
  };
  for (const auto& text : documents) {
    const auto first = parse(text);
    ASSERT_TRUE(first) << text;
    const std::string written = write(*first);
    const auto second = parse(written);
    ASSERT_TRUE(second) << written;
    EXPECT_EQ(*second, *first) << written;
    EXPECT_EQ(write(*second), written);
  }
  // Doubles come back bit for bit, with their kind.
  const double doubles[] = {0.1,
                            1.0 / 3.0,
                            -0.0,
                            9007199254740993.0,
                            2.2250738585072014e-308,
                            4.9406564584124654e-324,
                            1.7976931348623157e308,
                            100.0};
  for (double d : doubles) {
    const auto back = parse(write(Value(d)));
    ASSERT_TRUE(back && back->is_double()) << d;
    const double got = back->as_double();
    EXPECT_EQ(std::memcmp(&got, &d, sizeof d), 0) << d;
  }
}

}  // namespace
