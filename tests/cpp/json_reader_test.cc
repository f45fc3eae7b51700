// Tests for korvel::json::parse: accepted documents, number forms, error texts and positions, and
// the nesting limit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
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

std::string error_of(const std::string& text) {
  const auto result = parse(text);
  if (result) return "<accepted>";
  return result.error().message();
}

struct AcceptCase {
  std::string text;
  Value expected;
};

TEST(JsonReader, AcceptsOneDocumentWithSurroundingWhitespace) {
  const AcceptCase cases[] = {
      {"null", Value(nullptr)},
      {" \t\r\ntrue\n\n", Value(true)},
      {"false", Value(false)},
      {"\"\"", Value("")},
      {"[]", Value(Array{})},
      {"{}", Value(Object{})},
      {"[ 1 , [ ] , { } , \"x\" ]", Value(Array{1, Array{}, Object{}, "x"})},
      {"{\"a\" : {\"b\" : [null, false]}}",
       Value(Object{{"a", Object{{"b", Array{nullptr, false}}}}})},
      // Escapes, including a surrogate pair and the solidus.
      {R"("\"\\\/\b\f\n\r\t\u0041\u00e9\u20AC\ud83d\ude00")",
       Value("\"\\/\b\f\n\r\tA\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80")},
      {R"("\u0000")", Value(std::string(1, '\0'))},
      // Raw UTF-8 passes through.
      {"\"\xC3\xA9\xF0\x9F\x98\x80\"", Value("\xC3\xA9\xF0\x9F\x98\x80")},
      {"\"\x7F\"", Value("\x7F")},
  };
  for (const auto& c : cases) {
    const auto result = parse(c.text);
    ASSERT_TRUE(result) << c.text << ": " << result.error().message();
    EXPECT_EQ(*result, c.expected) << c.text;
  }
}

TEST(JsonReader, RepeatedKeyKeepsItsLastValueAndKeysAreInByteOrder) {
  const auto result = parse(R"({"b":1,"a":2,"b":{"c":3},"\u00e9":4,"Z":5})");
  ASSERT_TRUE(result);
  const Object& object = result->as_object();
  ASSERT_EQ(object.size(), 4u);
  EXPECT_EQ(object.at("b"), Value(Object{{"c", 3}}));
  std::string order;
  for (const auto& [key, value] : object) order += key + ",";
  EXPECT_EQ(order, "Z,a,b,\xC3\xA9,");
}

struct NumberCase {
  std::string text;
  Value expected;
};

TEST(JsonReader, NumbersBecomeSignedThenUnsignedThenDouble) {
  const double two_to_70 = std::ldexp(1.0, 70);
  const NumberCase cases[] = {
      {"0", Value(std::int64_t{0})},
      {"-0", Value(std::int64_t{0})},
      {"42", Value(std::int64_t{42})},
      {"9223372036854775807", Value(std::numeric_limits<std::int64_t>::max())},
      {"-9223372036854775808", Value(std::numeric_limits<std::int64_t>::min())},
      {"9223372036854775808", Value(std::uint64_t{9223372036854775808u})},
      {"18446744073709551615", Value(std::numeric_limits<std::uint64_t>::max())},
      // Outside both 64-bit ranges: a double.
      {"18446744073709551616", Value(18446744073709551616.0)},
      {"-9223372036854775809", Value(-9223372036854775809.0)},
      {"1180591620717411303424", Value(two_to_70)},
      // A fraction or an exponent always gives a double.
      {"1.0", Value(1.0)},
      {"1e2", Value(100.0)},
      {"1E+2", Value(100.0)},
      {"-1.5e-3", Value(-0.0015)},
      {"0.1", Value(0.1)},
      {"1.7976931348623157e308", Value(1.7976931348623157e308)},
      {"5e-324", Value(5e-324)},
      // Underflow is zero, not an error; exponents far beyond any double are no trouble.
      {"1e-400", Value(0.0)},
      {"0.00001e-320", Value(0.0)},
      {"123e-330", Value(0.0)},
      {"1e-999999999999999999999", Value(0.0)},
      {"0e999999999999999999999", Value(0.0)},
      {"0.0001e310", Value(1e306)},
  };
  for (const auto& c : cases) {
    const auto result = parse(c.text);
    ASSERT_TRUE(result) << c.text << ": " << result.error().message();
    EXPECT_EQ(result->kind(), c.expected.kind()) << c.text;
    EXPECT_EQ(*result, c.expected) << c.text;
  }
  const auto negative_underflow = parse("-1e-400");
  ASSERT_TRUE(negative_underflow && negative_underflow->is_double());
  EXPECT_TRUE(std::signbit(negative_underflow->as_double()));
}

struct ErrorCase {
  std::string text;
  std::string message;
};

TEST(JsonReader, ErrorsNameTheFailingCharacter) {
  const ErrorCase cases[] = {
      // Nothing, or nothing but whitespace.
      {"", "EOF while parsing a value at line 1 column 0"},
      {"  \n ", "EOF while parsing a value at line 2 column 1"},
      // Unfinished containers.
      {"[", "EOF while parsing a list at line 1 column 1"},
      {"[1", "EOF while parsing a list at line 1 column 2"},
      {"[1,", "EOF while parsing a value at line 1 column 3"},
      {"{", "EOF while parsing an object at line 1 column 1"},
      {"{\"a\"", "EOF while parsing an object at line 1 column 4"},
      {"{\"a\":", "EOF while parsing a value at line 1 column 5"},
      {"{\"a\":1", "EOF while parsing an object at line 1 column 6"},
      // Separators.
      {"[1 2]", "expected `,` or `]` at line 1 column 4"},
      {"[1}", "expected `,` or `]` at line 1 column 3"},
      {"{\"a\":1 \"b\":2}", "expected `,` or `}` at line 1 column 8"},
      {"{\"a\" 1}", "expected `:` at line 1 column 6"},
      {"{1:2}", "key must be a string at line 1 column 2"},
      {"{\"a\":1,2:3}", "key must be a string at line 1 column 8"},
      {"[1,]", "trailing comma at line 1 column 4"},
      {"{\"a\":1,}", "trailing comma at line 1 column 8"},
      {"[,1]", "expected value at line 1 column 2"},
      // Values.
      {"x", "expected value at line 1 column 1"},
      {"+1", "expected value at line 1 column 1"},
      {".5", "expected value at line 1 column 1"},
      {"NaN", "expected value at line 1 column 1"},
      {"\xEF\xBB\xBF{}", "expected value at line 1 column 1"},
      {"[1,\n  x]", "expected value at line 2 column 3"},
      {"tru", "EOF while parsing a value at line 1 column 3"},
      {"trux", "expected ident at line 1 column 4"},
      {"nul1", "expected ident at line 1 column 4"},
      // Anything after the document.
      {"1 2", "trailing characters at line 1 column 3"},
      {"{} {}", "trailing characters at line 1 column 4"},
      {"[]]", "trailing characters at line 1 column 3"},
      {"\"\xC3\xA9\" x", "trailing characters at line 1 column 5"},  // columns count characters
      // Numbers.
      {"01", "invalid number at line 1 column 2"},
      {"-", "EOF while parsing a value at line 1 column 1"},
      {"-a", "invalid number at line 1 column 2"},
      {"1.", "EOF while parsing a value at line 1 column 2"},
      {"1.e5", "invalid number at line 1 column 3"},
      {"1e", "EOF while parsing a value at line 1 column 2"},
      {"1e+", "EOF while parsing a value at line 1 column 3"},
      {"1ex", "invalid number at line 1 column 3"},
      {"1e400", "number out of range at line 1 column 5"},
      {"1000e306", "number out of range at line 1 column 8"},
      {"1e999999999999999999999", "number out of range at line 1 column 23"},
      {"[-1.5e999]", "number out of range at line 1 column 9"},
      {std::string(400, '9'), "number out of range at line 1 column 400"},
      // Strings.
      {"\"abc", "EOF while parsing a string at line 1 column 4"},
      {"\"a\\", "EOF while parsing a string at line 1 column 3"},
      {"\"\\x\"", "invalid escape at line 1 column 3"},
      {"\"\\u12G4\"", "invalid escape at line 1 column 6"},
      {"\"\\u12", "EOF while parsing a string at line 1 column 5"},
      {"\"a\tb\"",
       "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
      {"\"a\nb\"",
       "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0"},
      {"\"\xFF\"", "invalid unicode code point at line 1 column 2"},
      {"\"\xED\xA0\x80\"", "invalid unicode code point at line 1 column 2"},  // encoded surrogate
      {"\"\xC3\"", "invalid unicode code point at line 1 column 2"},          // truncated sequence
      // Unpaired surrogate escapes.
      {"\"\\uD800\"", "unexpected end of hex escape at line 1 column 8"},
      {"\"\\uD800x\"", "unexpected end of hex escape at line 1 column 8"},
      {"\"\\uD800\\n\"", "unexpected end of hex escape at line 1 column 9"},
      {"\"\\uD800\\u0041\"", "lone leading surrogate in hex escape at line 1 column 13"},
      {"\"\\uD800\\uD800\"", "lone leading surrogate in hex escape at line 1 column 13"},
      {"\"\\uDC00\"", "lone trailing surrogate in hex escape at line 1 column 7"},
      {"\"\\uD800", "EOF while parsing a string at line 1 column 7"},
  };
  for (const auto& c : cases) EXPECT_EQ(error_of(c.text), c.message) << c.text;
}

TEST(JsonReader, ErrorCarriesItsParts) {
  const auto result = parse("[\n  1,\n  ?]");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().description, "expected value");
  EXPECT_EQ(result.error().line, 3u);
  EXPECT_EQ(result.error().column, 3u);
}

std::string nested_arrays(std::size_t depth) {
  return std::string(depth, '[') + std::string(depth, ']');
}

std::string nested_objects(std::size_t depth) {
  std::string text;
  for (std::size_t k = 0; k < depth; ++k) text += "{\"a\":";
  text += "1";
  text += std::string(depth, '}');
  return text;
}

TEST(JsonReader, AcceptsExactly127NestedLevels) {
  EXPECT_TRUE(parse(nested_arrays(127)));
  EXPECT_TRUE(parse(nested_objects(127)));
  // The limit is on depth, not on the number of containers.
  EXPECT_TRUE(parse("[" + nested_arrays(126) + "," + nested_arrays(126) + "]"));

  EXPECT_EQ(error_of(nested_arrays(128)), "recursion limit exceeded at line 1 column 128");
  EXPECT_EQ(error_of(std::string(128, '[')), "recursion limit exceeded at line 1 column 128");
  // The 128th "{" is character 5 * 127 + 1.
  EXPECT_EQ(error_of(nested_objects(128)), "recursion limit exceeded at line 1 column 636");
  // Far deeper input is refused just the same, without exhausting the stack.
  EXPECT_EQ(error_of(std::string(1'000'000, '[')), "recursion limit exceeded at line 1 column 128");

  // The 127 levels read back as 127 nested arrays.
  auto deep = parse(nested_arrays(127));
  ASSERT_TRUE(deep);
  std::size_t depth = 0;
  for (const Value* v = &*deep; v->is_array(); v = &v->as_array().front()) {
    ++depth;
    if (v->as_array().empty()) break;
  }
  EXPECT_EQ(depth, 127u);
}

}  // namespace
