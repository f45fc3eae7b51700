#include "korvel/escape_format.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

using korvel::xml_char_safe_string;

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
      {"\xC2\x85\xE2\x80\xA8\xEF\xBB\xBF\xF0\x9F\x98\x80", "\xC2\x85\xE2\x80\xA8\xEF\xBB\xBF\xF0\x9F\x98\x80"},
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

}  // namespace
