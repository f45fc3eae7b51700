#include "korvel/safety_filters.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

namespace d = korvel::detail;

struct TextCase {
  std::string in;
  std::string out;
};

TEST(CdataEscape, SplitsTheSectionAtEveryEndMarker) {
  const TextCase cases[] = {
      {"", ""},
      {"plain <b>&amp;</b>", "plain <b>&amp;</b>"},
      {"a]]>b", "a]]]]><![CDATA[>b"},
      {"]]]>", "]]]]]><![CDATA[>"},
      {"]]>]]>", "]]]]><![CDATA[>]]]]><![CDATA[>"},
      {"]]", "]]"},
      {">", ">"},
      {"]] >", "]] >"},
      {"\t\n", "\t\n"},
      // What XML cannot carry at all becomes U+FFFD; a carriage return survives only as a
      // character reference between two sections.
      {"a\x01" "b", "a\xEF\xBF\xBD" "b"},
      {"\xEF\xBF\xBE", "\xEF\xBF\xBD"},
      {"a\r\nb", "a]]>&#xd;<![CDATA[\nb"},
      {"\x7f\xC2\x85\xE2\x82\xAC", "\x7f\xC2\x85\xE2\x82\xAC"},
  };
  for (const auto& c : cases) EXPECT_EQ(d::cdata_escape_text(c.in), c.out) << c.in;
}

TEST(TurtleEscape, EscapesItsFiveCharactersOnly) {
  const TextCase cases[] = {
      {"", ""},
      {"a\"b", "a\\\"b"},
      {"back\\n", "back\\\\n"},  // a backslash before n is not an escaped line break
      {"l1\nl2\r\tx", "l1\\nl2\\r\\tx"},
      {"it's \x01 \xE2\x82\xAC", "it's \x01 \xE2\x82\xAC"},
      {"\\\"", "\\\\\\\""},
  };
  for (const auto& c : cases) EXPECT_EQ(d::turtle_escape_text(c.in), c.out) << c.in;
}

TEST(MdTableSafe, KeepsTheCellOnOneLine) {
  const TextCase cases[] = {
      {"", ""},
      {"a|b", "a\\|b"},
      {"one\ntwo", "one two"},
      {"one\r\ntwo", "one  two"},
      {"a\\|b", "a\\\\|b"},  // existing backslashes are not doubled
      {"\t*x*", "\t*x*"},
  };
  for (const auto& c : cases) EXPECT_EQ(d::md_table_safe_text(c.in), c.out) << c.in;
}

TEST(FrontmatterSafe, EscapesOnlyLinesThatAreAMarker) {
  const TextCase cases[] = {
      {"", ""},
      {"title: x\nbody", "title: x\nbody"},
      {"---", "\\-\\-\\-"},
      {"...", "\\.\\.\\."},
      {"a\n---\nb\n", "a\n\\-\\-\\-\nb\n"},
      {"x\n", "x\n"},
      {"\n", "\n"},
      {"---\r\nnext", "\\-\\-\\-\r\nnext"},
      {"  ---\r", "  \\-\\-\\-\r"},
      {"\t...  \n", "\t\\.\\.\\.  \n"},
      {"\xC2\xA0---\xE3\x80\x80", "\xC2\xA0\\-\\-\\-\xE3\x80\x80"},  // Unicode white space
      {"\xE2\x80\x83...\xE2\x80\xA8", "\xE2\x80\x83\\.\\.\\.\xE2\x80\xA8"},
      {"----", "----"},
      {"--- title", "--- title"},
      {". . .", ". . ."},
      {"a---b", "a---b"},
      {"--", "--"},
      {"---\n---", "\\-\\-\\-\n\\-\\-\\-"},
  };
  for (const auto& c : cases) EXPECT_EQ(d::frontmatter_safe_text(c.in), c.out) << c.in;
}

TEST(YamlSafe, MakesADoubleQuotedScalar) {
  const TextCase cases[] = {
      {"", "\"\""},
      {"plain", "\"plain\""},
      {"say \"hi\"\nbye", "\"say \\\"hi\\\"\\nbye\""},
      {"a\\b\t\r", "\"a\\\\b\\t\\r\""},
      {"it's: #x", "\"it's: #x\""},
      {"\xE2\x82\xAC\xEF\xBB\xBF\xF0\x9F\x98\x80", "\"\xE2\x82\xAC\xEF\xBB\xBF\xF0\x9F\x98\x80\""},
      // Characters a YAML reader refuses, or folds as line breaks, inside double quotes.
      {std::string("\0", 1), "\"\\u0000\""},
      {"\x01\x08\x0b\x0c\x1b\x1f", "\"\\u0001\\u0008\\u000B\\u000C\\u001B\\u001F\""},
      {"\x7f", "\"\\u007F\""},
      {"\xC2\x80\xC2\x85\xC2\x9F", "\"\\u0080\\u0085\\u009F\""},
      {"\xC2\xA0", "\"\xC2\xA0\""},
      {"\xE2\x80\xA8\xE2\x80\xA9", "\"\\u2028\\u2029\""},
      {"\xEF\xBF\xBE\xEF\xBF\xBF", "\"\\uFFFE\\uFFFF\""},
      {"\xEF\xBF\xBD", "\"\xEF\xBF\xBD\""},
  };
  for (const auto& c : cases) EXPECT_EQ(d::yaml_safe_text(c.in), c.out) << c.in;
}

}  // namespace
