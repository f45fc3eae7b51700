#include "korvel/escape_format.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "korvel/engine/environment.hpp"
#include "korvel/engine/output.hpp"
#include "korvel/engine/state.hpp"
#include "korvel/engine/value.hpp"

namespace {

using korvel::xml_char_safe_string;
using korvel::engine::EscapeChoice;
using korvel::engine::Value;

struct TextCase {
  std::string in;
  std::string out;
};

std::string json_escaped(std::string_view text) {
  std::string out;
  korvel::detail::append_json_string_escaped(text, out);
  return out;
}

std::string toml_escaped(std::string_view text) {
  std::string out;
  korvel::detail::append_toml_basic_escaped(text, out);
  return out;
}

TEST(JsonStringEscaping, FollowsTheTable) {
  const TextCase cases[] = {
      {"plain", "plain"},
      {"", ""},
      {"say \"hi\"", "say \\\"hi\\\""},
      {"a\\b", "a\\\\b"},
      {"\b\t\n\f\r", "\\b\\t\\n\\f\\r"},
      {std::string("\0", 1), "\\u0000"},
      {"\x01\x0b\x1b\x1f", "\\u0001\\u000b\\u001b\\u001f"},  // lowercase hexadecimal
      {"a/b", "a/b"},
      {"\x7f", "\x7f"},
      {"\xC2\x85\xE2\x80\xA8\xEF\xBB\xBF\xF0\x9F\x98\x80",
       "\xC2\x85\xE2\x80\xA8\xEF\xBB\xBF\xF0\x9F\x98\x80"},
      {"\xE2\x82\xAC 5", "\xE2\x82\xAC 5"},
  };
  for (const auto& c : cases) EXPECT_EQ(json_escaped(c.in), c.out) << c.in;
}

TEST(JsonStringEscaping, AppendsToWhatIsThere) {
  std::string out = "x";
  korvel::detail::append_json_string_escaped("\"", out);
  EXPECT_EQ(out, "x\\\"");
}

TEST(TomlBasicEscaping, FollowsTheTable) {
  const TextCase cases[] = {
      {"plain", "plain"},
      {"", ""},
      {"\t\"\\\x01", "\\t\\\"\\\\\\u0001"},
      {"\b\n\f\r", "\\b\\n\\f\\r"},
      {std::string("\0", 1), "\\u0000"},
      {"\x0b\x1b\x1f", "\\u000B\\u001B\\u001F"},  // uppercase hexadecimal
      {"\x7f", "\\u007F"},
      {"\xC2\x80", "\\u0080"},
      {"\xC2\x85", "\\u0085"},
      {"\xC2\x9F", "\\u009F"},
      {"\xC2\xA0", "\xC2\xA0"},  // U+00A0 is the first character past the C1 controls
      {"\xC3\x80", "\xC3\x80"},  // shares the low byte of U+0080, not its lead byte
      {"\xE2\x82\xAC", "\xE2\x82\xAC"},
      {"\xE2\x80\xA8\xEF\xBB\xBF\xF0\x9F\x98\x80", "\xE2\x80\xA8\xEF\xBB\xBF\xF0\x9F\x98\x80"},
      {"a/b'c", "a/b'c"},
  };
  for (const auto& c : cases) EXPECT_EQ(toml_escaped(c.in), c.out) << c.in;
}

TEST(XmlCharSafeString, EscapesMarkupAndReplacesWhatXmlCannotCarry) {
  const TextCase cases[] = {
      {"a<b & 'c'", "a&lt;b &amp; &#x27;c&#x27;"},
      {"<a href=\"x\">", "&lt;a href=&quot;x&quot;&gt;"},
      {"&amp;", "&amp;amp;"},  // escaping is not idempotent: an entity is text here
      {"a/b", "a/b"},
      {"", ""},
      {"\x07", "&#xfffd;"},
      {std::string("\0", 1), "&#xfffd;"},
      {"\x08\x0b\x0c\x0e\x1f", "&#xfffd;&#xfffd;&#xfffd;&#xfffd;&#xfffd;"},
      // Kept by XML only as character references: raw, an attribute value reads them as spaces
      // and any content reads a carriage return as a line feed.
      {"a\tb\nc\rd", "a&#x9;b&#xa;c&#xd;d"},
      {"\r\n", "&#xd;&#xa;"},
      {"\xEF\xBF\xBE\xEF\xBF\xBF", "&#xfffd;&#xfffd;"},  // U+FFFE, U+FFFF
      {"\xEF\xBF\xBD", "\xEF\xBF\xBD"},                  // U+FFFD itself stays
      {"\x7f\xC2\x80\xC2\x9F", "\x7f\xC2\x80\xC2\x9F"},  // allowed in XML 1.0 documents
      {"\xE2\x82\xAC\xF0\x9F\x98\x80", "\xE2\x82\xAC\xF0\x9F\x98\x80"},
  };
  for (const auto& c : cases) EXPECT_EQ(xml_char_safe_string(c.in), c.out) << c.in;
}

// ----- format_korvel_markup over every value kind and escape choice -----

EscapeChoice custom(std::string_view name) {
  return {EscapeChoice::Kind::Custom, std::string(name)};
}

// What the formatter writes, or "<error: ...>" when it fails.
std::string format(const Value& value, const EscapeChoice& choice) {
  const korvel::engine::Environment env;
  korvel::engine::State state(env, choice);
  std::string text;
  korvel::engine::Output out(text);
  if (auto written = korvel::format_korvel_markup(out, state, value); !written) {
    return "<error: " + written.error().display() + ">";
  }
  return text;
}

struct FormatRow {
  const char* what;
  Value value;
  std::string legacy_json, html, toml, engine_json, none;
};

TEST(FormatKorvelMarkup, EveryValueKindInEveryEscapeChoice) {
  const Value seq = Value::from_seq({Value::from_string("a"), Value::from_int(1)});
  const Value map = Value::from_map({{Value::from_string("k"), Value::from_int(1)}});
  const std::vector<FormatRow> rows = {
      {"undefined", Value::undefined(), "null", "", "", "null", ""},
      {"none", Value::none(), "null", "", "", "null", ""},
      {"true", Value::from_bool(true), "true", "true", "true", "true", "true"},
      {"false", Value::from_bool(false), "false", "false", "false", "false", "false"},
      {"integer", Value::from_int(42), "42", "42", "42", "42", "42"},
      {"negative", Value::from_int(-7), "-7", "-7", "-7", "-7", "-7"},
      {"2.0", Value::from_float(2.0), "2.0", "2.0", "2.0", "2.0", "2.0"},
      {"1e16", Value::from_float(1e16), "1e+16", "10000000000000000.0", "10000000000000000.0",
       "1e+16", "10000000000000000.0"},
      {"1e-6", Value::from_float(0.000001), "1e-6", "0.000001", "0.000001", "1e-6", "0.000001"},
      {"quotes", Value::from_string("say \"hi\" & <b>"), "say \\\"hi\\\" & <b>",
       "say &quot;hi&quot; &amp; &lt;b&gt;", "say \\\"hi\\\" & <b>", "\"say \\\"hi\\\" & <b>\"",
       "say \"hi\" & <b>"},
      {"controls", Value::from_string("\t\\\x01\x7f/"), "\\t\\\\\\u0001\x7f/",
       "&#x9;\\&#xfffd;\x7f/", "\\t\\\\\\u0001\\u007F/", "\"\\t\\\\\\u0001\x7f/\"",
       "\t\\\x01\x7f/"},
      {"euro", Value::from_string("\xE2\x82\xAC"), "\xE2\x82\xAC", "\xE2\x82\xAC", "\xE2\x82\xAC",
       "\"\xE2\x82\xAC\"", "\xE2\x82\xAC"},
      // A safe string is written unchanged only where the engine formats or under korvel-html;
      // the quoting formats escape it like any other string.
      {"safe", Value::safe_string(std::string("<i>\"x\"</i>")), "<i>\\\"x\\\"</i>", "<i>\"x\"</i>",
       "<i>\\\"x\\\"</i>", "<i>\"x\"</i>", "<i>\"x\"</i>"},
      {"utf-8 bytes", Value::from_bytes("h\xC3\xA9"), "h\xC3\xA9", "h\xC3\xA9", "h\xC3\xA9",
       "[104,195,169]", "h\xC3\xA9"},
      {"invalid bytes", Value::from_bytes("a\xFF"), "[97,255]", "a\xEF\xBF\xBD", "a\xEF\xBF\xBD",
       "[97,255]", "a\xEF\xBF\xBD"},
      {"sequence", seq, "[\\\"a\\\",1]", "[&quot;a&quot;, 1]", "[\\\"a\\\", 1]", "[\"a\",1]",
       "[\"a\", 1]"},
      {"map", map, "{\\\"k\\\":1}", "{&quot;k&quot;: 1}", "{\\\"k\\\": 1}", "{\"k\":1}",
       "{\"k\": 1}"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(format(row.value, custom("korvel-json-legacy")), row.legacy_json) << row.what;
    EXPECT_EQ(format(row.value, custom("korvel-html")), row.html) << row.what;
    EXPECT_EQ(format(row.value, custom("korvel-toml")), row.toml) << row.what;
    EXPECT_EQ(format(row.value, {EscapeChoice::Kind::Json, {}}), row.engine_json) << row.what;
    EXPECT_EQ(format(row.value, {}), row.none) << row.what;
    // A format name the system does not know gets the engine's formatting of a custom choice.
    EXPECT_EQ(format(row.value, custom("korvel-other")), row.none) << row.what;
  }
}

TEST(FormatKorvelMarkup, ValueWithoutJsonTextFallsBackOnlyUnderLegacyJson) {
  // A map whose key is a sequence has no JSON text.
  const Value map = Value::from_map({{Value::from_seq({Value::from_int(1)}), Value::from_int(2)}});
  const std::string display = map.to_display();
  ASSERT_NE(display, "");
  std::string escaped;
  korvel::detail::append_json_string_escaped(display, escaped);
  EXPECT_EQ(format(map, custom("korvel-json-legacy")), escaped);
  EXPECT_EQ(format(map, {EscapeChoice::Kind::Json, {}}),
            "<error: could not serialize to value: unable to format to JSON>");
}

TEST(FormatKorvelMarkup, RefusedWriteIsAFormattingFailure) {
  const korvel::engine::Environment env;
  for (const auto& name : {"korvel-json-legacy", "korvel-html", "korvel-toml"}) {
    korvel::engine::State state(env, custom(name));
    std::string text;
    korvel::engine::Output out(text, 3);
    const auto written = korvel::format_korvel_markup(out, state, Value::from_string("longer"));
    ASSERT_FALSE(written.has_value()) << name;
    EXPECT_EQ(written.error().display(), "failed to write output: formatting failed") << name;
    EXPECT_EQ(text, "") << name;  // nothing partial
  }
}

}  // namespace
