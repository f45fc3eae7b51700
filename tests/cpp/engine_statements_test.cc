// Tests of statements and their scoping: set in loops, ifs, macros, blocks, with and filter blocks,
// namespaces, the loop variable, recursive loops, macros with defaults, varargs, kwargs and caller.
// The expected texts are Jinja2's output for the same templates and context.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "korvel/engine/environment.hpp"
#include "korvel/engine/object.hpp"
#include "korvel/engine/state.hpp"

namespace {

using korvel::engine::Environment;
using korvel::engine::fail;
using korvel::engine::Int128;
using korvel::engine::Kwargs;
using korvel::engine::Result;
using korvel::engine::State;
using korvel::engine::Value;
namespace json = korvel::json;

// The suite does not depend on the built-ins: it registers the three it uses.
Environment make_env() {
  Environment env;
  env.add_filter("upper", [](State&, std::span<const Value> args, const Kwargs&) -> Result<Value> {
    std::string s = args[0].to_display();
    for (char& c : s) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    return Value::from_string(std::move(s));
  });
  env.add_filter("length", [](State&, std::span<const Value> args, const Kwargs&) -> Result<Value> {
    auto n = args[0].len();
    if (!n) return fail(korvel::engine::ErrorKind::InvalidOperation, "no length");
    return Value::from_int(static_cast<Int128>(*n));
  });
  env.add_function("namespace",
                   [](State&, std::span<const Value>, const Kwargs& kwargs) -> Result<Value> {
                     return korvel::engine::make_namespace({kwargs.begin(), kwargs.end()});
                   });
  return env;
}

json::Object make_context() {
  json::Object ctx;
  ctx["items"] = json::Array{1, 2, 3};
  ctx["name"] = "A";
  auto node = [](const char* name, json::Array kids) {
    json::Object o;
    o["name"] = name;
    o["kids"] = std::move(kids);
    return json::Value(std::move(o));
  };
  ctx["tree"] =
      json::Array{node("r", json::Array{node("k1", {}), node("k2", json::Array{node("g", {})})})};
  return ctx;
}

struct Case {
  const char* name;
  const char* source;
  const char* expected;
};

void check(const std::vector<Case>& cases) {
  const Environment env = make_env();
  const json::Object ctx = make_context();
  for (const auto& c : cases) {
    auto r = env.render_named_str("t.txt", c.source, ctx);
    ASSERT_TRUE(r) << c.name << ": " << r.error().display();
    EXPECT_EQ(*r, c.expected) << c.name;
  }
}

TEST(EngineStatements, Scoping) {
  check({
      {"set in a loop body does not leak, and each iteration starts from the outer value",
       "{% set x = 1 %}{% for i in [1, 2] %}{{ x }}{% set x = i * 10 %}{{ x }};{% endfor %}{{ x }}",
       "110;120;1"},
      {"a loop-local set is not seen by the next iteration",
       "{% for i in [1, 2] %}{% if i == 2 %}[{{ y }}]{% endif %}{% set y = i %}{% endfor %}", "[]"},
      {"set in an if leaks to the enclosing scope", "{% if 1 %}{% set x = 5 %}{% endif %}{{ x }}",
       "5"},
      {"set in an if inside a loop stays in the iteration",
       "{% for i in [1] %}{% if 1 %}{% set x = 5 %}{% endif %}{{ x }}{% endfor %}[{{ x }}]", "5[]"},
      {"macro sees top-level variables at call time",
       "{% macro m() %}{{ x }}{% endmacro %}{% set x = 3 %}{{ m() }}{% set x = 4 %}{{ m() }}",
       "34"},
      {"set inside a macro is local",
       "{% set x = 1 %}{% macro m() %}{% set x = 2 %}{{ x }}{% endmacro %}{{ m() }}{{ x }}", "21"},
      {"macro parameters shadow outer names",
       "{% set a = 'outer' %}{% macro m(a) %}{{ a }}{% endmacro %}{{ m('inner') }}{{ a }}",
       "innerouter"},
      {"macro defined in a loop sees the loop variable",
       "{% for i in [1, 2] %}{% macro m() %}{{ i }}{% endmacro %}{{ m() }}{% endfor %}", "12"},
      {"block sees top-level variables, sets stay inside",
       "{% set x = 1 %}{% block b %}{{ x }}{% set x = 2 %}{{ x }}{% endblock %}{{ x }}", "121"},
      {"unscoped block does not see loop variables",
       "{% for i in [1] %}{% block b %}[{{ i }}]{% endblock %}{% endfor %}", "[]"},
      {"scoped block sees loop variables",
       "{% for i in [1] %}{% block c scoped %}[{{ i }}]{% endblock %}{% endfor %}", "[1]"},
      {"filter block keeps its sets",
       "{% filter upper %}{% set z = 'a' %}{{ z }}{% endfilter %}[{{ z }}]", "A[]"},
      {"with introduces a scope",
       "{% with a = 1 %}{% set b = 2 %}{{ a }}{{ b }}{% endwith %}[{{ a }}{{ b }}]", "12[]"},
      {"with values are evaluated outside",
       "{% set a = 5 %}{% with a = 1, b = a + 1 %}{{ a }}{{ b }}{% endwith %}", "16"},
      {"empty with", "{% with %}{% set q = 1 %}{{ q }}{% endwith %}[{{ q }}]", "1[]"},
      {"namespace carries values out of a loop",
       "{% set ns = namespace(v=1) %}{% for i in [1, 2] %}{% set ns.v = ns.v + i %}{% endfor %}{{ "
       "ns.v }}",
       "4"},
      {"namespace assigned in a macro",
       "{% set ns = namespace() %}{% macro m() %}{% set ns.hit = 'yes' %}{% endmacro %}{{ m() }}{{ "
       "ns.hit }}",
       "yes"},
      {"context variables are shadowed by set", "{{ name }}{% set name = 'B' %}{{ name }}", "AB"},
      {"loop variable does not leak", "{% for name in ['x'] %}{{ name }}{% endfor %}{{ name }}",
       "xA"},
      {"tuple unpacking in set",
       "{% set a, b = 1, 2 %}{{ a }}{{ b }}{% set (c, d), e = [3, 4], 5 %}{{ c }}{{ d }}{{ e }}",
       "12345"},
      {"block set captures output", "{% set s %}x{{ 1 }}{% endset %}[{{ s }}]", "[x1]"},
      {"block set through filters", "{% set s | upper %}abc{% endset %}{{ s }}", "ABC"},
      {"else of an empty loop runs outside the loop",
       "{% for x in [] %}a{% else %}{% set y = 2 %}b{{ y }}{% endfor %}[{{ y }}]", "b2[]"},
  });
}

TEST(EngineStatements, Loops) {
  check({
      {"index and length with an inline filter",
       "{% for x in [1, 2, 3] if x > 1 %}{{ loop.index }}/{{ loop.length }} {% endfor %}",
       "1/2 2/2 "},
      {"else when nothing passes the filter",
       "{% for x in [1] if x > 5 %}x{% else %}none{% endfor %}", "none"},
      {"else of an empty loop", "{% for x in [] %}x{% else %}empty{% endfor %}", "empty"},
      {"index0 revindex revindex0",
       "{% for x in 'abc' %}{{ loop.index0 }}{{ loop.revindex }}{{ loop.revindex0 }} {% endfor %}",
       "032 121 210 "},
      {"first and last",
       "{% for x in [1, 2, 3] %}{% if loop.first %}<{% endif %}{{ x }}{% if loop.last %}>{% else "
       "%},{% endif %}{% endfor %}",
       "<1,2,3>"},
      {"previtem and nextitem",
       "{% for x in [1, 2, 3] %}{{ loop.previtem }}-{{ loop.nextitem }} {% endfor %}",
       "-2 1-3 2- "},
      {"cycle", "{% for x in [1, 2, 3] %}{{ loop.cycle('a', 'b') }}{% endfor %}", "aba"},
      {"depth in nested loops is per loop",
       "{% for i in [1, 2] %}{% for j in [1] %}{{ loop.depth }}{{ loop.index }}{{ i }}{% endfor "
       "%};{% endfor %}",
       "111;112;"},
      {"outer loop through a set",
       "{% for i in [1, 2] %}{% set outer = loop %}{% for j in [1] %}{{ outer.index }}{% endfor "
       "%}{% endfor %}",
       "12"},
      {"tuple unpacking", "{% for a, b in [[1, 2], [3, 4]] %}{{ a }}{{ b }} {% endfor %}",
       "12 34 "},
      {"map iteration yields keys",
       "{% set d = {'b': 1, 'a': 2} %}{% for k in d %}{{ k }}={{ d[k] }},{% endfor %}", "b=1,a=2,"},
      {"string iteration yields characters", "{% for c in 'h\xC3\xA9!' %}{{ c }}.{% endfor %}",
       "h.\xC3\xA9.!."},
      {"undefined iterates as empty", "{% for x in nothing %}x{% else %}empty{% endfor %}",
       "empty"},
      {"break", "{% for i in [1, 2, 3] %}{% if i == 2 %}{% break %}{% endif %}{{ i }}{% endfor %}",
       "1"},
      {"continue",
       "{% for i in [1, 2, 3] %}{% if i == 2 %}{% continue %}{% endif %}{{ i }}{% endfor %}", "13"},
      {"break leaves only the inner loop",
       "{% for i in [1, 2] %}{% for j in [1, 2] %}{% if j == 2 %}{% break %}{% endif %}{{ i }}{{ j "
       "}}{% endfor %};{% endfor %}",
       "11;21;"},
      {"loop over a context list", "{% for i in items %}{{ i }}{% endfor %}", "123"},
  });
}

TEST(EngineStatements, Recursive) {
  check({
      {"recursive loop with depth",
       "{% for x in [{'n': 'a', 'c': [{'n': 'b', 'c': [{'n': 'c', 'c': []}]}]}] recursive %}{{ "
       "loop.depth }}{{ x.n }}{% if x.c %}({{ loop(x.c) }}){% endif %}{% endfor %}",
       "1a(2b(3c))"},
      {"recursive loop over a tree",
       "{% for n in tree recursive %}<{{ n.name }}{{ loop(n.kids) }}>{% endfor %}",
       "<r<k1><k2<g>>>"},
  });
}

TEST(EngineStatements, Macros) {
  check({
      {"defaults and keywords",
       "{% macro m(a, b=2) %}{{ a }}{{ b }}{% endmacro %}{{ m(1) }}{{ m(1, 3) }}{{ m(b=4, a=5) }}",
       "121354"},
      {"default refers to an earlier parameter",
       "{% macro m(a, b=a ~ '!') %}{{ a }}{{ b }}{% endmacro %}{{ m('x') }}{{ m('y', b='z') }}",
       "xx!yz"},
      {"missing parameter is undefined",
       "{% macro m(a, b) %}[{{ a }}|{{ b }}]{% endmacro %}{{ m(1) }}", "[1|]"},
      {"varargs",
       "{% macro m(a) %}{{ a }}{% for v in varargs %}+{{ v }}{% endfor %}{% endmacro %}{{ m(1, 2, "
       "3) }}",
       "1+2+3"},
      {"kwargs",
       "{% macro m() %}{% for k in kwargs %}{{ k }}={{ kwargs[k] }};{% endfor %}{% endmacro %}{{ "
       "m(x=5, y=6) }}",
       "x=5;y=6;"},
      {"caller without arguments",
       "{% macro wrap() %}<{{ caller() }}>{% endmacro %}{% call wrap() %}body{% endcall %}",
       "<body>"},
      {"caller with arguments",
       "{% macro m(a) %}{{ caller(a, a * 2) }}{% endmacro %}{% call(x, y) m(5) %}[{{ x }},{{ y "
       "}}]{% endcall %}",
       "[5,10]"},
      {"caller sees the calling scope",
       "{% macro each(xs) %}{% for x in xs %}{{ caller(x) }}{% endfor %}{% endmacro %}{% set sep = "
       "'/' %}{% call(v) each([1, 2]) %}{{ v }}{{ sep }}{% endcall %}",
       "1/2/"},
      {"nested call blocks",
       "{% macro outer() %}({{ caller() }}){% endmacro %}{% macro inner() %}[{{ caller() }}]{% "
       "endmacro %}{% call outer() %}{% call inner() %}x{% endcall %}{% endcall %}",
       "([x])"},
      {"macro defined inside a macro uses caller",
       "{% macro outer() %}{% macro inner() %}in{{ caller() }}{% endmacro %}{% call inner() %}c{% "
       "endcall %}{% endmacro %}{{ outer() }}",
       "inc"},
      {"recursion",
       "{% macro m(x) %}{% if x > 0 %}{{ x }}{{ m(x - 1) }}{% endif %}{% endmacro %}{{ m(3) }}",
       "321"},
      {"macro name attribute", "{% macro m() %}{{ m.name }}{% endmacro %}{{ m() }}", "m"},
      {"macro output keeps its whitespace", "{% macro m() %}\n  inside\n{% endmacro %}[{{ m() }}]",
       "[\n  inside\n]"},
      {"macro passed as a value",
       "{% macro m(v) %}<{{ v }}>{% endmacro %}{% set f = m %}{{ f(1) }}", "<1>"},
      {"filter block", "{% filter upper %}a{{ 'b' }}c{% endfilter %}", "ABC"},
  });
}

TEST(EngineStatements, LoopChangedAndDisplayForms) {
  // loop.changed prints booleans, which this engine writes as true/false.
  check({
      {"changed", "{% for x in [1, 1, 2] %}{{ loop.changed(x) }} {% endfor %}", "true false true "},
      {"first and last as values",
       "{% for x in [1, 2] %}{{ loop.first }}{{ loop.last }} {% endfor %}", "truefalse falsetrue "},
      {"varargs and kwargs display",
       "{% macro m() %}{{ varargs }}{{ kwargs }}{% endmacro %}{{ m(1, z=5) }}", "[1]{\"z\": 5}"},
  });
}

TEST(EngineStatements, MacroResultsAreSafeOnlyWhenEscaping) {
  // A macro's output has already been escaped, so under an escaping choice it is not escaped
  // again; with no escaping it is a plain string.
  Environment env = make_env();
  env.set_auto_escape_callback([](std::string_view name) {
    korvel::engine::EscapeChoice c;
    if (name.ends_with(".json")) c.kind = korvel::engine::EscapeChoice::Kind::Json;
    return c;
  });
  const char* src = "{% macro m() %}{{ 'a' }}{% endmacro %}{{ m() }}|{{ 'b' }}";
  auto json_out = env.render_named_str("x.json", src, {});
  ASSERT_TRUE(json_out) << json_out.error().display();
  EXPECT_EQ(*json_out, "\"a\"|\"b\"");
  auto plain_out = env.render_named_str("x.txt", src, {});
  ASSERT_TRUE(plain_out);
  EXPECT_EQ(*plain_out, "a|b");
}

TEST(EngineStatements, AutoescapeBlockChangesTheChoice) {
  const Environment env = make_env();
  auto r = env.render_named_str(
      "t.txt",
      "{{ '<' }}{% autoescape true %}{{ '<' }}{% autoescape false %}{{ '<' }}"
      "{% endautoescape %}{% endautoescape %}{{ '<' }}{% autoescape 'json' %}{{ 'q' }}"
      "{% endautoescape %}",
      {});
  ASSERT_TRUE(r) << r.error().display();
  EXPECT_EQ(*r, "<&lt;<<\"q\"");
}

TEST(EngineStatements, PercentOnAStringFormatsThroughTheFormatFilter) {
  // The engine hands `text % args` to the "format" filter: a sequence as positional values, a
  // map as named values, anything else as the one value. This filter shows what it received.
  Environment env = make_env();
  env.add_filter("format",
                 [](State&, std::span<const Value> args, const Kwargs& kw) -> Result<Value> {
                   std::string out = std::string(args[0].str()) + "<";
                   for (std::size_t i = 1; i < args.size(); ++i) out += args[i].to_display() + ";";
                   for (const auto& [k, v] : kw) out += k + "=" + v.to_display() + ";";
                   return Value::from_string(out + ">");
                 });
  auto r = env.render_named_str(
      "t", "{{ '%s' % ('a', 2) }} {{ 'n' % {'k': 1} }} {{ 'one' % 5 }} {{ 7 % 4 }}", {});
  ASSERT_TRUE(r) << r.error().display();
  EXPECT_EQ(*r, "%s<a;2;> n<k=1;> one<5;> 3");
}

TEST(EngineStatements, SafeTextJoinsLikeJinjaMarkup) {
  // Jinja2's Markup: safe + plain escapes the plain side (HTML) and stays safe; `~` does the same
  // only under HTML escaping. The outputs are Jinja2's for the same templates with variables.
  Environment env = make_env();
  env.add_filter("mark", [](State&, std::span<const Value> args, const Kwargs&) -> Result<Value> {
    return Value::safe_string(std::string(args[0].str()));
  });
  json::Object ctx;
  ctx["a"] = "<";
  ctx["b"] = "<b>";
  const Case cases[] = {
      {"safe plus plain", "{{ (b|mark) + a }}|{{ a + (b|mark) }}", "<b>&lt;|&lt;<b>"},
      {"tilde without escaping", "{{ (b|mark) ~ a }}", "<b><"},
      {"under html escaping",
       "{% autoescape true %}{{ (b|mark) + a }}|{{ a ~ (b|mark) }}|{{ a ~ b }}{% endautoescape %}",
       "<b>&lt;|&lt;<b>|&lt;&lt;b&gt;"},
  };
  for (const auto& c : cases) {
    auto r = env.render_named_str("t", c.source, ctx);
    ASSERT_TRUE(r) << c.name << ": " << r.error().display();
    EXPECT_EQ(*r, c.expected) << c.name;
  }
}

TEST(EngineStatements, CompiledTemplateRendersManyTimes) {
  Environment env = make_env();
  auto t = env.template_from_named_str("t.txt",
                                       "{% for i in items %}{{ i }}{% endfor %}{{ name|upper }}");
  ASSERT_TRUE(t);
  // Later changes to the environment do not reach a compiled template.
  env.add_filter("upper", [](State&, std::span<const Value>, const Kwargs&) -> Result<Value> {
    return Value::from_string("changed");
  });
  for (int i = 0; i < 3; ++i) {
    json::Object ctx;
    ctx["items"] = json::Array{i, i + 1};
    ctx["name"] = "n";
    auto r = t->render(ctx);
    ASSERT_TRUE(r);
    EXPECT_EQ(*r, std::to_string(i) + std::to_string(i + 1) + "N");
  }
  EXPECT_EQ(t->name(), "t.txt");
}

}  // namespace
