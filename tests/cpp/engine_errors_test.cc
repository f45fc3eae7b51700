// Tests of engine failures: every error kind the engine itself raises, with its kind text, its
// detail where the engine fixes one, the template name and the line, in the display form
// "{kind}: {detail} (in {name}:{line})".
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "korvel/engine/environment.hpp"
#include "korvel/engine/error.hpp"
#include "korvel/engine/output.hpp"
#include "korvel/engine/state.hpp"

namespace {

using korvel::engine::Environment;
using korvel::engine::Error;
using korvel::engine::ErrorKind;
using korvel::engine::EscapeChoice;
using korvel::engine::kind_text;
using korvel::engine::Kwargs;
using korvel::engine::Output;
using korvel::engine::Result;
using korvel::engine::State;
using korvel::engine::Value;
namespace json = korvel::json;

struct Case {
  const char* source;
  ErrorKind kind;
  std::size_t line;
  const char* detail;  // nullptr: any detail (the engine's wording)
};

Error render_error(const Environment& env, std::string_view source, std::string_view name) {
  auto r = env.render_named_str(name, source, json::Object{});
  if (r) {
    ADD_FAILURE() << "rendered without error: " << source << " -> " << *r;
    return Error(ErrorKind::InvalidOperation);
  }
  return r.error();
}

TEST(EngineErrors, KindTexts) {
  const std::pair<ErrorKind, const char*> kinds[] = {
      {ErrorKind::NonPrimitive, "not a primitive"},
      {ErrorKind::NonKey, "not a key type"},
      {ErrorKind::InvalidOperation, "invalid operation"},
      {ErrorKind::SyntaxError, "syntax error"},
      {ErrorKind::TemplateNotFound, "template not found"},
      {ErrorKind::TooManyArguments, "too many arguments"},
      {ErrorKind::MissingArgument, "missing argument"},
      {ErrorKind::UnknownFilter, "unknown filter"},
      {ErrorKind::UnknownTest, "unknown test"},
      {ErrorKind::UnknownFunction, "unknown function"},
      {ErrorKind::UnknownMethod, "unknown method"},
      {ErrorKind::BadEscape, "bad string escape"},
      {ErrorKind::UndefinedError, "undefined value"},
      {ErrorKind::BadSerialization, "could not serialize to value"},
      {ErrorKind::CannotDeserialize, "cannot deserialize"},
      {ErrorKind::BadInclude, "could not render include"},
      {ErrorKind::EvalBlock, "could not render block"},
      {ErrorKind::CannotUnpack, "cannot unpack"},
      {ErrorKind::WriteFailure, "failed to write output"},
      {ErrorKind::InvalidDelimiter, "invalid custom delimiters"},
      {ErrorKind::UnknownBlock, "unknown block"},
  };
  for (const auto& [kind, text] : kinds) EXPECT_EQ(kind_text(kind), text);
}

TEST(EngineErrors, DisplayFormLeavesOutAbsentParts) {
  EXPECT_EQ(Error(ErrorKind::InvalidDelimiter).display(), "invalid custom delimiters");
  EXPECT_EQ(Error(ErrorKind::InvalidOperation, "value is not a string").display(),
            "invalid operation: value is not a string");
  Error located(ErrorKind::UndefinedError);
  located.set_location("dir/t.json.j2", 4);
  EXPECT_EQ(located.display(), "undefined value (in dir/t.json.j2:4)");
  Error both(ErrorKind::UnknownFilter, "nope");
  both.set_location("t", 2);
  both.set_location("other", 9);  // the first location stays
  EXPECT_EQ(both.display(), "unknown filter: nope (in t:2)");
  // Copies share nothing that a later change could reach.
  Error copy = both;
  Error fresh(ErrorKind::UnknownFilter, "nope");
  Error fresh_copy = fresh;
  fresh.set_location("a", 1);
  EXPECT_FALSE(fresh_copy.template_name().has_value());
  EXPECT_EQ(copy.display(), "unknown filter: nope (in t:2)");
}

TEST(EngineErrors, EveryKindTheEngineRaisesWithItsLine) {
  Environment env;
  const Case cases[] = {
      // syntax errors, with the line of the offending token
      {"a\n{{ 1 +\n}}", ErrorKind::SyntaxError, 3, nullptr},
      {"{{ }}", ErrorKind::SyntaxError, 1, nullptr},
      {"line\n{% if true %}\nno end", ErrorKind::SyntaxError, 3, nullptr},
      {"{% for x in y %}{% endif %}", ErrorKind::SyntaxError, 1, nullptr},
      {"{% endfor %}", ErrorKind::SyntaxError, 1, nullptr},
      {"\n\n{% frobnicate %}", ErrorKind::SyntaxError, 3, nullptr},
      {"{{ 'unterminated }}", ErrorKind::SyntaxError, 1, nullptr},
      {"{# never closed", ErrorKind::SyntaxError, 1, nullptr},
      {"{% raw %}never closed", ErrorKind::SyntaxError, 1, nullptr},
      {"{{ (1 }}", ErrorKind::SyntaxError, 1, nullptr},
      {"{{ 1 ] }}", ErrorKind::SyntaxError, 1, nullptr},
      {"{% break %}", ErrorKind::SyntaxError, 1, nullptr},
      {"{% macro m(a=1, b) %}{% endmacro %}", ErrorKind::SyntaxError, 1, nullptr},
      {"{% set 1 = 2 %}", ErrorKind::SyntaxError, 1, nullptr},
      {"{% block a %}{% endblock %}{% block a %}{% endblock %}", ErrorKind::SyntaxError, 1,
       nullptr},
      {"{{ 340282366920938463463374607431768211456 }}", ErrorKind::SyntaxError, 1, nullptr},
      {"{{ 1 is defined is defined }}", ErrorKind::SyntaxError, 1, nullptr},
      // string escapes
      {"\n{{ '\\x4' }}", ErrorKind::BadEscape, 2, nullptr},
      {"{{ '\\uZZZZ' }}", ErrorKind::BadEscape, 1, nullptr},
      {"{{ '\\U00110000' }}", ErrorKind::BadEscape, 1, nullptr},
      {"{{ '\\ud800' }}", ErrorKind::BadEscape, 1, nullptr},
      // names that resolve to nothing
      {"\n{{ x | nosuchfilter }}", ErrorKind::UnknownFilter, 2, "nosuchfilter"},
      {"{% if false %}{% else %}\n{{ 1 | nosuchfilter }}{% endif %}", ErrorKind::UnknownFilter, 2,
       "nosuchfilter"},
      {"{{ x is nosuchtest }}", ErrorKind::UnknownTest, 1, "nosuchtest"},
      {"{{ nosuchfunction() }}", ErrorKind::UnknownFunction, 1, "nosuchfunction"},
      {"{{ 'abc'.upper() }}", ErrorKind::UnknownMethod, 1, "string has no method named upper"},
      {"{{ [1].append(2) }}", ErrorKind::UnknownMethod, 1, "sequence has no method named append"},
      {"{% set d = {'a': 1} %}\n\n{{ d.get('a') }}", ErrorKind::UnknownMethod, 3,
       "map has no method named get"},
      // undefined values
      {"\n\n\n{{ missing.attr }}", ErrorKind::UndefinedError, 4, nullptr},
      {"{{ missing['k'] }}", ErrorKind::UndefinedError, 1, nullptr},
      {"{{ missing.attr.more }}", ErrorKind::UndefinedError, 1, nullptr},
      {"{{ missing + 1 }}", ErrorKind::UndefinedError, 1, nullptr},
      {"{{ missing < 1 }}", ErrorKind::UndefinedError, 1, nullptr},
      {"{{ missing.method() }}", ErrorKind::UndefinedError, 1, nullptr},
      // invalid operations
      {"{{ 1 + 'a' }}", ErrorKind::InvalidOperation, 1,
       "unsupported operand types for +: integer and string"},
      {"{{ 1 / 0 }}", ErrorKind::InvalidOperation, 1, "division by zero"},
      {"{{ 1 // 0 }}", ErrorKind::InvalidOperation, 1, "division by zero"},
      {"{{ 1 % 0 }}", ErrorKind::InvalidOperation, 1, "modulo by zero"},
      {"{{ 1.5 / 0 }}", ErrorKind::InvalidOperation, 1, "division by zero"},
      {"{{ 1 < 'a' }}", ErrorKind::InvalidOperation, 1, "cannot compare integer with string"},
      {"{{ 1 in 5 }}", ErrorKind::InvalidOperation, 1, nullptr},
      {"{{ 1 in 'abc' }}", ErrorKind::InvalidOperation, 1, nullptr},
      {"{% set x = 5 %}{{ x() }}", ErrorKind::InvalidOperation, 1, "integer is not callable"},
      {"{% for x in 5 %}{% endfor %}", ErrorKind::InvalidOperation, 1, "integer is not iterable"},
      {"{% set x = 1 %}{% set x.a = 2 %}", ErrorKind::InvalidOperation, 1, nullptr},
      {"{{ [1, 2][::0] }}", ErrorKind::InvalidOperation, 1, "slice step cannot be zero"},
      {"{% for x in [1] %}{{ loop(x) }}{% endfor %}", ErrorKind::InvalidOperation, 1, nullptr},
      {"{{ 170141183460469231731687303715884105727 + 1 }}", ErrorKind::InvalidOperation, 1,
       "integer overflow"},
      {"{{ 2 ** 127 }}", ErrorKind::InvalidOperation, 1, "integer overflow"},
      {"{{ -(-170141183460469231731687303715884105727 - 1) }}", ErrorKind::InvalidOperation, 1,
       "integer overflow"},
      {"{{ (-170141183460469231731687303715884105727 - 1) // -1 }}", ErrorKind::InvalidOperation, 1,
       "integer overflow"},
      {"{{ 12345678901234567890 * 98765432109876543210 }}", ErrorKind::InvalidOperation, 1,
       "integer overflow"},
      // map keys, unpacking, arguments, loading
      {"{{ {[1]: 2} }}", ErrorKind::NonKey, 1, nullptr},
      {"{% set a, b = [1] %}", ErrorKind::CannotUnpack, 1,
       "not enough values to unpack (expected 2, got 1)"},
      {"{% for a, b in [[1, 2, 3]] %}{% endfor %}", ErrorKind::CannotUnpack, 1,
       "too many values to unpack (expected 2, got 3)"},
      {"{% set a, b = 5 %}", ErrorKind::CannotUnpack, 1, nullptr},
      {"{% macro m(a) %}{% endmacro %}\n{{ m(1, 2) }}", ErrorKind::TooManyArguments, 2,
       "macro 'm' takes not more than 1 argument(s)"},
      {"{% macro m(a) %}{% endmacro %}{{ m(b=2) }}", ErrorKind::TooManyArguments, 1,
       "macro 'm' takes no keyword argument 'b'"},
      {"{% macro m() %}{% endmacro %}{% call m() %}x{% endcall %}", ErrorKind::TooManyArguments, 1,
       nullptr},
      {"{% for x in [1] %}{{ loop.cycle() }}{% endfor %}", ErrorKind::MissingArgument, 1, nullptr},
      {"{% include 'other.txt' %}", ErrorKind::TemplateNotFound, 1, "other.txt"},
      {"{% include 'other.txt' ignore missing %}", ErrorKind::TemplateNotFound, 1, "other.txt"},
      {"x\n{% import 'lib.txt' as lib %}", ErrorKind::TemplateNotFound, 2, "lib.txt"},
      {"{% from 'lib.txt' import m %}", ErrorKind::TemplateNotFound, 1, "lib.txt"},
      {"{% extends 'base.txt' %}", ErrorKind::TemplateNotFound, 1, "base.txt"},
      // an error inside a macro reports the line where it arose, not the call
      {"{% macro m() %}\n{{ missing.x }}\n{% endmacro %}\n\n{{ m() }}", ErrorKind::UndefinedError,
       2, nullptr},
  };
  for (const auto& c : cases) {
    Error e = render_error(env, c.source, "dir/t.txt");
    EXPECT_EQ(e.kind(), c.kind) << c.source << " -> " << e.display();
    EXPECT_EQ(e.line(), c.line) << c.source << " -> " << e.display();
    ASSERT_TRUE(e.template_name().has_value()) << c.source;
    EXPECT_EQ(*e.template_name(), "dir/t.txt");
    if (c.detail) {
      EXPECT_EQ(e.detail().value_or("<none>"), c.detail) << c.source;
      EXPECT_EQ(e.display(), std::string(kind_text(c.kind)) + ": " + c.detail +
                                 " (in dir/t.txt:" + std::to_string(c.line) + ")");
    }
  }
}

TEST(EngineErrors, UnknownFilterInsideAnUntakenBranchIsNoError) {
  // As in Jinja2: inside an if, an unknown filter fails only when reached.
  Environment env;
  auto r = env.render_named_str("t", "{% if false %}{{ 1 | nosuchfilter }}{% endif %}ok", {});
  ASSERT_TRUE(r) << r.error().display();
  EXPECT_EQ(*r, "ok");
}

TEST(EngineErrors, JsonEscapingOfAnUnserializableValue) {
  Environment env;
  env.set_auto_escape_callback([](std::string_view) {
    EscapeChoice c;
    c.kind = EscapeChoice::Kind::Json;
    return c;
  });
  Error e = render_error(env, "ok\n{{ {none: 1} }}", "t.json");
  EXPECT_EQ(e.display(), "could not serialize to value: unable to format to JSON (in t.json:2)");
}

TEST(EngineErrors, FailuresOfHooksCarryTheirLine) {
  Environment env;
  env.set_formatter([](Output& out, State&, const Value& v) -> Result<void> {
    if (v.is_none()) return korvel::engine::fail(ErrorKind::WriteFailure, "formatting failed");
    return out.write(v.to_display());
  });
  env.add_filter("boom", [](State&, std::span<const Value>, const Kwargs&) -> Result<Value> {
    return korvel::engine::fail(ErrorKind::InvalidOperation, "value is not a string");
  });
  EXPECT_EQ(render_error(env, "{{ 1 }}\n{{ none }}", "t").display(),
            "failed to write output: formatting failed (in t:2)");
  EXPECT_EQ(render_error(env, "\n\n{{ 1 | boom }}", "t").display(),
            "invalid operation: value is not a string (in t:3)");
}

TEST(EngineErrors, UnknownMethodCallbackDecides) {
  Environment env;
  env.set_unknown_method_callback([](State&, const Value& v, std::string_view method,
                                     std::span<const Value> args) -> Result<Value> {
    if (method == "get" && v.is_map() && args.size() == 1) return v.get_item(args[0]);
    return korvel::engine::fail(ErrorKind::UnknownMethod);
  });
  json::Object ctx;
  json::Object m;
  m["k"] = "v";
  ctx["m"] = m;
  auto ok = env.render_named_str("t", "{{ m.get('k') }}[{{ m.get('x') }}]", ctx);
  ASSERT_TRUE(ok) << ok.error().display();
  EXPECT_EQ(*ok, "v[]");
  // A refusal without a detail gets the engine's detail.
  auto bad = env.render_named_str("t", "{{ m.get() }}", ctx);
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().display(), "unknown method: map has no method named get (in t:1)");
}

TEST(EngineErrors, OutputRefusesWritesPastItsBound) {
  std::string buffer;
  Output out(buffer, 8);
  ASSERT_TRUE(out.write("12345"));
  auto r = out.write("6789");
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind(), ErrorKind::WriteFailure);
  EXPECT_EQ(buffer, "12345");
}

}  // namespace
