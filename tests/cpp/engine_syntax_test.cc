// Tests of the template language as written: whitespace control and the three whitespace options,
// custom delimiters, raw blocks and comments, literals and operators. Where Jinja2 and this engine
// agree by design, the expected texts are Jinja2's own output for the same template.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "korvel/engine/environment.hpp"
#include "korvel/engine/error.hpp"

namespace {

using korvel::engine::Environment;
using korvel::engine::ErrorKind;
using korvel::engine::SyntaxConfig;
namespace json = korvel::json;

struct Options {
  bool trim = false;
  bool lstrip = false;
  bool keep = false;
};

std::string render(const Environment& env, std::string_view source,
                   const json::Object& context = {}) {
  auto r = env.render_named_str("t.txt", source, context);
  if (!r) return "ERR " + r.error().display();
  return *r;
}

Environment make_env(Options o) {
  Environment env;
  env.set_trim_blocks(o.trim);
  env.set_lstrip_blocks(o.lstrip);
  env.set_keep_trailing_newline(o.keep);
  return env;
}

struct WhitespaceCase {
  const char* name;
  const char* source;
  Options options;
  const char* expected;
};

TEST(EngineSyntax, WhitespaceControlAndOptionsMatchJinja) {
  const WhitespaceCase cases[] = {
      {"block tag alone on an indented line",
       "a\n  {% if true %}\n  x\n  {% endif %}\nb",
       {true, true, false},
       "a\n  x\nb"},
      {"block tag alone on an indented line, no options",
       "a\n  {% if true %}\n  x\n  {% endif %}\nb",
       {false, false, false},
       "a\n  \n  x\n  \nb"},
      {"block tag alone, trim only",
       "a\n  {% if true %}\n  x\n  {% endif %}\nb",
       {true, false, false},
       "a\n    x\n  b"},
      {"block tag alone, lstrip only",
       "a\n  {% if true %}\n  x\n  {% endif %}\nb",
       {false, true, false},
       "a\n\n  x\n\nb"},
      {"for loop lines",
       "a\n{% for i in [1, 2] %}\n  {{ i }}\n{% endfor %}\nend",
       {true, true, false},
       "a\n  1\n  2\nend"},
      {"minus strips both sides",
       "  {%- if true -%}  \n x  \n  {%- endif %}\n  y",
       {false, false, false},
       "x\n  y"},
      {"minus on variables", "x  {{- 'v' -}}  y", {true, true, false}, "xvy"},
      {"minus on comments", "a  {#- c -#}  b", {false, false, false}, "ab"},
      {"plus keeps lstrip and trim",
       "  {%+ if true +%}\nx\n  {%+ endif +%}\ny",
       {true, true, false},
       "  \nx\n  \ny"},
      {"comment alone on a line",
       "a {# comment #}\nb\n  {# c2 #}\nc",
       {true, true, false},
       "a b\nc"},
      {"comment alone on a line, no options",
       "a {# comment #}\nb\n  {# c2 #}\nc",
       {false, false, false},
       "a \nb\n  \nc"},
      {"raw block keeps tags",
       "{% raw %}\n  {{ x }} {% y %}\n{% endraw %}\nafter",
       {true, true, false},
       "\n  {{ x }} {% y %}\nafter"},
      {"raw block with minus",
       "  {%- raw -%}  {{ x }}  {%- endraw -%}  z",
       {false, false, false},
       "{{ x }}z"},
      {"variable not left-stripped",
       "{{ 'v' }}\n  {{ 'w' }}\n\t{% if true %}tab{% endif %}",
       {true, true, false},
       "v\n  w\ntab"},
      {"variable does not trim", "{{ 'v' }}\nnext", {true, true, false}, "v\nnext"},
      {"set alone on a line", "  {% set x = 1 %}\n  {{ x }}", {true, true, false}, "  1"},
      {"macro body lines",
       "{% macro m() %}\n  inside\n{% endmacro %}\n[{{ m() }}]",
       {true, true, false},
       "[  inside\n]"},
      {"tag after text is not left-stripped",
       "a {{ 'n' }} {% if true %}\nt\n{% endif %}",
       {true, true, false},
       "a n t\n"},
      {"minus before endfor",
       "{% for i in [1, 2] -%}\n  [{{ i }}]\n{%- endfor %}",
       {false, false, false},
       "[1][2]"},
      {"multi-line comment", "x {# multi\nline #} y\nz", {true, true, false}, "x  y\nz"},
      {"crlf line breaks",
       "a\r\n{% if true %}\r\nb\r\n{% endif %}\r\nc\r\n",
       {true, true, false},
       "a\nb\nc"},
      {"lone carriage returns",
       "a\r{% if true %}\rb\r{% endif %}\rc",
       {true, true, false},
       "a\nb\nc"},
      {"one trailing line break dropped", "line\n", {false, false, false}, "line"},
      {"two trailing line breaks keep one", "line\n\n", {false, false, false}, "line\n"},
      {"trailing crlf dropped", "line\r\n", {false, false, false}, "line"},
      {"trailing line break kept", "line\n", {false, false, true}, "line\n"},
      {"trailing line breaks kept", "line\n\n", {false, false, true}, "line\n\n"},
      {"block at end of template",
       "x\n{% if true %}\ny\n{% endif %}\n",
       {true, true, false},
       "x\ny\n"},
      {"block at end, keep newline",
       "x\n{% if true %}\ny\n{% endif %}\n",
       {true, true, true},
       "x\ny\n"},
      {"lstrip at template start", "   {% if true %}x{% endif %}", {false, true, false}, "x"},
      {"lstrip after trimmed tag",
       "{% if true %}\n    {% if true %}y{% endif %}\n{% endif %}",
       {true, true, false},
       "y"},
      {"tabs are stripped", "\t\t{% if true %}\nv\n\t{% endif %}\n", {true, true, false}, "v\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(render(make_env(c.options), c.source), c.expected) << c.name;
  }
}

struct ExprCase {
  const char* source;
  const char* expected;
};

TEST(EngineSyntax, LiteralsAndOperators) {
  json::Object ctx;
  ctx["items"] = json::Array{1, 2, 3};
  json::Object m;
  m["a"] = 1;
  m["b"] = json::Array{"x", "y"};
  ctx["m"] = m;
  const ExprCase cases[] = {
      {"{{ 1 + 2 * 3 }}", "7"},
      {"{{ (1 + 2) * 3 }}", "9"},
      {"{{ 7 // 2 }} {{ -7 // 2 }} {{ 7 % 3 }} {{ -7 % 3 }} {{ 7 % -3 }}", "3 -4 1 2 -2"},
      {"{{ 7 / 2 }} {{ 4 / 2 }}", "3.5 2.0"},
      {"{{ 2 ** 3 ** 2 }} {{ -2 ** 2 }} {{ 2 ** 10 }}", "64 4 1024"},
      {"{{ 1_000 }} {{ 0x1F }} {{ 0o17 }} {{ 0b101 }}", "1000 31 15 5"},
      {"{{ 1e3 }} {{ 1.5e-3 }} {{ 12.5 }} {{ 1_0.2_5 }}", "1000.0 0.0015 12.5 10.25"},
      {"{{ -3 }} {{ +3 }} {{ - -3 }}", "-3 3 3"},
      {"{{ 'a' ~ 1 ~ 'b' }}", "a1b"},
      {"{{ 'ab' * 3 }}{{ 2 * 'c' }}", "abababcc"},
      {"{{ 'a' + 'b' }}", "ab"},
      {"{{ [1] + [2, 3] }}", "[1, 2, 3]"},
      {"{{ \"a\\tb\" }}|{{ 'it\\'s' }}|{{ \"\\x41\\u00e9\\U0001F600\" }}|{{ \"\\101\" }}|{{ \"a\" "
       "'b' }}|{{ 'back\\\\slash' }}|{{ 'keep\\d' }}",
       "a\tb|it's|A\xC3\xA9\xF0\x9F\x98\x80|A|ab|back\\slash|keep\\d"},
      {"{{ [1, 2, 3][::-1] }} {{ 'hello'[1:3] }} {{ 'hello'[-1] }} {{ 'hello'[::2] }} {{ "
       "'h\xC3\xA9llo'[1] }}",
       "[3, 2, 1] el o hlo \xC3\xA9"},
      {"{{ [1, 2, 3, 4, 5][-2:] }} {{ [1, 2, 3, 4, 5][:-2] }} {{ [1, 2, 3, 4, 5][4:1:-1] }} {{ "
       "'abc'[10:] }}|",
       "[4, 5] [1, 2, 3] [5, 4, 3] |"},
      {"{{ 0 or 'x' }} {{ 1 and 'y' }} [{{ '' and 1 }}] [{{ '' or '' }}]", "x y [] []"},
      {"{{ 'yes' if 1 else 'no' }} {{ 'yes' if 0 else 'no' }} [{{ 'x' if 0 }}]", "yes no []"},
      {"{{ m.a }} {{ m['b'][1] }} {{ m.b.0 }} [{{ m.zz }}] [{{ items[5] }}] {{ items[-1] }}",
       "1 y x [] [] 3"},
      {"{{ (1, 2)[0] }}{{ ((1)) }}{{ [[1, 2], [3]][0][1] }}", "112"},
      {"{{ {'a': 1}['a'] }}{{ {'a': {'b': 2}}.a.b }}", "12"},
      {"{{ 1 == 1.0 }} {{ 1 != 2 }} {{ 1 < 2 < 3 }} {{ 3 > 2 > 2 }} {{ 'a' < 'b' }} {{ [1, 2] < "
       "[1, 3] }}",
       "true true true false true true"},
      {"{{ 'ab' in 'xaby' }} {{ 2 in [1, 2] }} {{ 'a' in {'a': 1} }} {{ 3 not in [1] }} {{ not 3 "
       "in [1] }}",
       "true true true true true"},
      {"{{ not 0 }} {{ not 'a' }} {{ true and false }} {{ none }} {{ None }} {{ True }}",
       "true false false none none true"},
      {"{{ 0.1 + 0.2 }} {{ 1e20 }} {{ 2.0 }} {{ 1 / 3 }}",
       "0.30000000000000004 100000000000000000000.0 2.0 0.3333333333333333"},
      {"{{ [1, 'a', none, true, 2.5] }} {{ {'k': [1]} }}",
       "[1, \"a\", none, true, 2.5] {\"k\": [1]}"},
      {"{{ 170141183460469231731687303715884105727 }}", "170141183460469231731687303715884105727"},
      {"{{ 9223372036854775807 + 1 }} {{ 2 ** 100 }}",
       "9223372036854775808 1267650600228229401496703205376"},
  };
  const Environment env;
  for (const auto& c : cases) EXPECT_EQ(render(env, c.source, ctx), c.expected) << c.source;
}

TEST(EngineSyntax, CustomVariableDelimiters) {
  Environment env;
  SyntaxConfig syntax;
  syntax.variable_start = "{{{";
  syntax.variable_end = "}}}";
  ASSERT_TRUE(env.set_syntax(syntax));
  env.set_trim_blocks(true);
  env.set_lstrip_blocks(true);
  json::Object ctx;
  ctx["name"] = "Ada";
  const ExprCase cases[] = {
      {"{{ name }} {{{ name }}}", "{{ name }} Ada"},
      {"{{{ {'a': 1}['a'] }}}", "1"},
      {"{{{{'a': 1}['a']}}}", "1"},
      {"{{{- ' x ' -}}}", " x "},
      {"a {{{- name }}}", "aAda"},
      {"{% if true %}{{{ name }}}{% endif %}{# c #}", "Ada"},
      {"{{{ '}}}' }}}", "}}}"},
  };
  for (const auto& c : cases) EXPECT_EQ(render(env, c.source, ctx), c.expected) << c.source;
}

TEST(EngineSyntax, StartMarkersMustBeDistinctAndNonEmpty) {
  struct Case {
    const char* var_start;
    const char* block_start;
    const char* comment_start;
    bool ok;
  };
  const Case cases[] = {
      {"{{{", "{%", "{#", true}, {"", "{%", "{#", false},  {"{%", "{%", "{#", false},
      {"{{", "{%", "{{", false}, {"<<", "<%", "<#", true}, {"{{", "", "{#", false},
  };
  for (const auto& c : cases) {
    Environment env;
    SyntaxConfig s;
    s.variable_start = c.var_start;
    s.block_start = c.block_start;
    s.comment_start = c.comment_start;
    auto r = env.set_syntax(s);
    EXPECT_EQ(r.has_value(), c.ok) << c.var_start << " " << c.block_start;
    if (!r) {
      EXPECT_EQ(r.error().kind(), ErrorKind::InvalidDelimiter);
      EXPECT_EQ(r.error().display(), "invalid custom delimiters");
      // A refused syntax leaves the environment as it was.
      EXPECT_EQ(render(env, "{{ 1 }}"), "1");
    }
  }
}

TEST(EngineSyntax, LongestStartMarkerWins) {
  Environment env;
  SyntaxConfig s;
  s.block_start = "<%";
  s.block_end = "%>";
  s.variable_start = "<%=";
  s.variable_end = "%>";
  s.comment_start = "<#";
  s.comment_end = "#>";
  ASSERT_TRUE(env.set_syntax(s));
  EXPECT_EQ(render(env, "<% if true %><%= 1 + 1 %><% endif %><# gone #>"), "2");
}

TEST(EngineSyntax, StaticTextIsCopiedUnchanged) {
  // Bytes that are not tags, including invalid UTF-8 and lone braces, pass through as they are.
  const std::string text = std::string("plain { } %} #} \xFF\xFE ") + std::string(100000, 'x');
  EXPECT_EQ(render(Environment(), text), text);
}

}  // namespace
