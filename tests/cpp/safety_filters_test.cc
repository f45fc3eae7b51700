#include "korvel/safety_filters.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "korvel/engine/environment.hpp"
#include "korvel/engine/state.hpp"

namespace {

namespace d = korvel::detail;
using korvel::engine::ErrorKind;
using korvel::engine::FilterFn;
using korvel::engine::Kwargs;
using korvel::engine::Value;

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
      {"a\x01"
       "b",
       "a\xEF\xBF\xBD"
       "b"},
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

// ----- the filters as the engine calls them -----

struct FilterRow {
  const char* name;
  FilterFn fn;
  bool safe;
  std::string empty_result;
  std::string sample_in, sample_out;
};

std::vector<FilterRow> filters() {
  return {
      {"cdata_escape", korvel::cdata_escape_filter, true, "", "a]]>b", "a]]]]><![CDATA[>b"},
      {"turtle_escape", korvel::turtle_escape_filter, false, "", "a\"b", "a\\\"b"},
      {"md_table_safe", korvel::md_table_safe_filter, false, "", "a|b", "a\\|b"},
      {"xml_char_safe", korvel::xml_char_safe_filter, true, "", "<a>", "&lt;a&gt;"},
      {"frontmatter_safe", korvel::frontmatter_safe_filter, true, "", "---", "\\-\\-\\-"},
      {"yaml_safe", korvel::yaml_safe_filter, false, "\"\"", "a\"b", "\"a\\\"b\""},
  };
}

class FilterCall : public ::testing::Test {
 protected:
  korvel::engine::Result<Value> call(const FilterFn& fn, std::vector<Value> args,
                                     const Kwargs& kwargs = {}) {
    return fn(state_, args, kwargs);
  }
  const korvel::engine::Environment env_;
  korvel::engine::State state_{env_, {}};
};

TEST_F(FilterCall, TransformsStringsAndMarksTheirResult) {
  for (const auto& f : filters()) {
    for (const Value& input : {Value::from_string(f.sample_in), Value::safe_string(f.sample_in),
                               Value::from_bytes(f.sample_in)}) {
      const auto out = call(f.fn, {input});
      ASSERT_TRUE(out.has_value()) << f.name << ": " << out.error().display();
      EXPECT_EQ(out->as_str(), f.sample_out) << f.name;
      // The mark is the filter's, whatever the input's was.
      EXPECT_EQ(out->is_safe(), f.safe) << f.name;
    }
    const auto empty = call(f.fn, {Value::from_string("")});
    ASSERT_TRUE(empty.has_value()) << f.name;
    EXPECT_EQ(empty->as_str(), f.empty_result) << f.name;
  }
}

TEST_F(FilterCall, RefusesWhatIsNotOneString) {
  const std::vector<Value> not_strings = {
      Value::undefined(),
      Value::none(),
      Value::from_int(3),
      Value::from_float(1.5),
      Value::from_bool(true),
      Value::from_bytes("\xFF"),
      Value::from_seq({Value::from_string("a")}),
      Value::from_map({{Value::from_string("k"), Value::from_string("v")}}),
  };
  for (const auto& f : filters()) {
    for (const auto& v : not_strings) {
      const auto out = call(f.fn, {v});
      ASSERT_FALSE(out.has_value()) << f.name << " " << v.to_display();
      EXPECT_EQ(out.error().kind(), ErrorKind::InvalidOperation) << f.name;
      EXPECT_EQ(out.error().detail(), "value is not a string") << f.name;
      // The value is judged before the argument count.
      const auto extra = call(f.fn, {v, Value::from_int(1)});
      ASSERT_FALSE(extra.has_value()) << f.name;
      EXPECT_EQ(extra.error().detail(), "value is not a string") << f.name;
    }
    const auto extra = call(f.fn, {Value::from_string("x"), Value::from_int(1)});
    ASSERT_FALSE(extra.has_value()) << f.name;
    EXPECT_EQ(extra.error().kind(), ErrorKind::TooManyArguments) << f.name;
    const auto keyword = call(f.fn, {Value::from_string("x")}, {{"mode", Value::from_int(1)}});
    ASSERT_FALSE(keyword.has_value()) << f.name;
    EXPECT_EQ(keyword.error().kind(), ErrorKind::TooManyArguments) << f.name;
    const auto none = call(f.fn, {});
    ASSERT_FALSE(none.has_value()) << f.name;
    EXPECT_EQ(none.error().kind(), ErrorKind::MissingArgument) << f.name;
  }
}

}  // namespace
