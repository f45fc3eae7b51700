#include "korvel/renderer.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "korvel/engine/environment.hpp"
#include "korvel/engine/state.hpp"
#include "korvel/json/value.hpp"

namespace {

using korvel::EscapeMode;
using korvel::Renderer;
using korvel::engine::ErrorKind;
using korvel::engine::EscapeChoice;
using korvel::engine::Value;
namespace json = korvel::json;

constexpr EscapeMode kModes[] = {EscapeMode::LegacyJson, EscapeMode::Standard, EscapeMode::Toml};

// The rendered text, or "<error: message>".
std::string render(std::string_view name, std::string_view source, const json::Object& context = {},
                   EscapeMode mode = EscapeMode::Standard) {
  const auto renderer = Renderer::with_delimiters_and_escape_mode("{{{", "}}}", mode);
  if (!renderer) return "<no renderer: " + renderer.error().message() + ">";
  const auto out = renderer->render_named(name, source, context);
  if (!out) return "<error: " + out.error().message() + ">";
  return *out;
}

TEST(EscapeMode, IsAnEightBitEnumerationInItsOrder) {
  static_assert(sizeof(EscapeMode) == 1);
  EXPECT_EQ(static_cast<int>(EscapeMode::LegacyJson), 0);
  EXPECT_EQ(static_cast<int>(EscapeMode::Standard), 1);
  EXPECT_EQ(static_cast<int>(EscapeMode::Toml), 2);
}

// ----- the escape choice for a template name -----

const EscapeChoice kNone{};
const EscapeChoice kEngineJson{EscapeChoice::Kind::Json, {}};
const EscapeChoice kHtml{EscapeChoice::Kind::Custom, "korvel-html"};
const EscapeChoice kLegacy{EscapeChoice::Kind::Custom, "korvel-json-legacy"};
const EscapeChoice kToml{EscapeChoice::Kind::Custom, "korvel-toml"};

struct ChoiceRow {
  std::string_view name;
  EscapeChoice legacy_json, standard, toml;
};

TEST(AutoEscapeCallback, ChoosesByExtensionAndMode) {
  const ChoiceRow rows[] = {
      {"x.json", kLegacy, kEngineJson, kEngineJson},
      {"x.json.j2", kLegacy, kEngineJson, kEngineJson},
      {"x.JSON.J2", kLegacy, kEngineJson, kEngineJson},
      {"x.json.jinja", kLegacy, kEngineJson, kEngineJson},
      {"x.json.jinja2", kLegacy, kEngineJson, kEngineJson},
      {"x.json.j2.j2", kLegacy, kEngineJson, kEngineJson},
      {"/w/flow.formula.json.j2", kLegacy, kEngineJson, kEngineJson},
      {"x.toml.j2", kNone, kNone, kToml},
      {"/w/flow.formula.TOML.j2", kNone, kNone, kToml},
      {"x.xml", kHtml, kHtml, kHtml},
      {"x.htm.j2", kHtml, kHtml, kHtml},
      {"page.HTML.jinja", kHtml, kHtml, kHtml},
      {"x.xhtml.j2", kHtml, kHtml, kHtml},
      {"notes.md.j2", kNone, kNone, kNone},
      {".json.j2", kNone, kNone, kNone},  // ".json" is a name, not an extension
      {"dir/.json", kNone, kNone, kNone},
      {"x", kNone, kNone, kNone},
      {"x.j2", kNone, kNone, kNone},
      {"", kNone, kNone, kNone},
      {"x.json.txt", kNone, kNone, kNone},
      {"x.jsonx", kNone, kNone, kNone},
      {"dir.json/flow", kNone, kNone, kNone},  // only the last component counts
      {"dir.v1/flow.json", kLegacy, kEngineJson, kEngineJson},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(korvel::auto_escape_callback(row.name, EscapeMode::LegacyJson), row.legacy_json)
        << row.name;
    EXPECT_EQ(korvel::auto_escape_callback(row.name, EscapeMode::Standard), row.standard)
        << row.name;
    EXPECT_EQ(korvel::auto_escape_callback(row.name, EscapeMode::Toml), row.toml) << row.name;
  }
}

// ----- construction -----

TEST(Renderer, RefusesUnusableDelimiters) {
  struct Delims {
    std::string_view start, end;
  };
  for (const Delims d : {Delims{"", "}}}"}, Delims{"{%", "%}"}, Delims{"{#", "#}"}}) {
    const auto renderer =
        Renderer::with_delimiters_and_escape_mode(d.start, d.end, EscapeMode::Standard);
    ASSERT_FALSE(renderer.has_value()) << d.start;
    EXPECT_EQ(renderer.error().message(), "invalid custom delimiters") << d.start;
    EXPECT_EQ(renderer.error().source().kind(), ErrorKind::InvalidDelimiter);
  }
  // End markers are not checked.
  EXPECT_TRUE(Renderer::with_delimiters_and_escape_mode("<<", "", EscapeMode::Standard));
}

TEST(Renderer, OneRendererRendersManyTemplates) {
  const auto renderer =
      Renderer::with_delimiters_and_escape_mode("{{{", "}}}", EscapeMode::Standard);
  ASSERT_TRUE(renderer.has_value());
  const json::Object ctx = {{"v", json::Value("a\"b")}};
  EXPECT_EQ(renderer->render_named("a.json.j2", "{{{ v }}}", ctx), "\"a\\\"b\"");
  EXPECT_EQ(renderer->render_named("a.txt", "{{{ v }}}", ctx), "a\"b");
  EXPECT_EQ(renderer->render_named("a.html", "{{{ v }}}", ctx), "a&quot;b");
}

// ----- syntax and whitespace -----

struct RenderRow {
  std::string_view source;
  std::string expected;
};

TEST(Renderer, SyntaxAndWhitespaceSettings) {
  const json::Object ctx = {{"name", json::Value("x")}, {"items", json::Array{1, 2}}};
  const RenderRow rows[] = {
      {"{{name}} {{ name }} {{{name}}}", "{{name}} {{ name }} x"},
      {"a\n", "a"},
      {"a\r\n", "a"},
      {"a\r", "a"},
      {"a\n\n", "a\n"},
      {"{# note #}b", "b"},
      {"{% if true %}\nyes\n{% endif %}\nend", "yes\nend"},
      {"  {% if true %}\nyes\n\t{% endif %}\nend", "yes\nend"},
      {"{% for i in items %}\n  - {{{ i }}}\n{% endfor %}\n", "  - 1\n  - 2\n"},
      {"{% set greeting = 'hi' %}{{{ greeting | upper }}}", "HI"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(render("t.txt", row.source, ctx), row.expected) << row.source;
}

TEST(Renderer, ContextKeysIterateInByteOrder) {
  const json::Object ctx = {
      {"m", json::Object{{"b", json::Value(1)}, {"B", json::Value(2)}, {"a", json::Value(3)}}}};
  EXPECT_EQ(render("t.txt", "{% for k in m %}{{{ k }}}{% endfor %}", ctx), "Bab");
}

TEST(Renderer, MissingVariableDependsOnTheFormat) {
  struct Row {
    std::string_view name;
    EscapeMode mode;
    std::string expected;
  };
  const Row rows[] = {
      {"x.toml.j2", EscapeMode::Toml, ""},           {"x.toml.j2", EscapeMode::Standard, ""},
      {"x.html.j2", EscapeMode::Standard, ""},       {"x.txt", EscapeMode::Standard, ""},
      {"x.json.j2", EscapeMode::LegacyJson, "null"}, {"x.json.j2", EscapeMode::Standard, "null"},
  };
  const json::Object ctx = {{"n", json::Value(nullptr)}};
  for (const auto& row : rows) {
    EXPECT_EQ(render(row.name, "{{{ missing }}}", {}, row.mode), row.expected) << row.name;
    EXPECT_EQ(render(row.name, "{{{ n }}}", ctx, row.mode), row.expected) << row.name;
  }
  EXPECT_EQ(render("x.txt", "{% for i in missing %}x{% endfor %}{% if missing %}y{% endif %}"), "");
  const std::string attr = render("x.txt", "{{{ missing.field }}}");
  EXPECT_EQ(attr.rfind("<error: undefined value", 0), 0u) << attr;
}

// ----- formats end to end, with the filters -----

TEST(Renderer, EachFormatQuotesInsertedText) {
  const json::Object ctx = {{"s", json::Value("a\"b\\c\td")}, {"n", json::Value(3)}};
  EXPECT_EQ(render("f.formula.json.j2", "{\"s\": \"{{{ s }}}\", \"n\": \"{{{ n }}}\"}", ctx,
                   EscapeMode::LegacyJson),
            "{\"s\": \"a\\\"b\\\\c\\td\", \"n\": \"3\"}");
  EXPECT_EQ(render("f.formula.json.j2", "{\"s\": {{{ s }}}, \"n\": {{{ n }}}}", ctx),
            "{\"s\": \"a\\\"b\\\\c\\td\", \"n\": 3}");
  EXPECT_EQ(render("f.formula.toml.j2", "s = \"{{{ s }}}\"", ctx, EscapeMode::Toml),
            "s = \"a\\\"b\\\\c\\td\"");
  EXPECT_EQ(render("f.formula.toml.j2", "s = \"{{{ s }}}\"", ctx, EscapeMode::Standard),
            "s = \"a\"b\\c\td\"");
}

TEST(Renderer, FilterResultsUnderEachFormat) {
  const json::Object ctx = {{"v", json::Value("<\"a\">]]>")}};
  struct Row {
    std::string_view filter;
    std::string html, toml, legacy;
  };
  const Row rows[] = {
      // Safe results are written unchanged under korvel-html; the quoting formats escape again.
      {"cdata_escape", "<\"a\">]]]]><![CDATA[>", "<\\\"a\\\">]]]]><![CDATA[>",
       "<\\\"a\\\">]]]]><![CDATA[>"},
      {"xml_char_safe", "&lt;&quot;a&quot;&gt;]]&gt;", "&lt;&quot;a&quot;&gt;]]&gt;",
       "&lt;&quot;a&quot;&gt;]]&gt;"},
      {"frontmatter_safe", "<\"a\">]]>", "<\\\"a\\\">]]>", "<\\\"a\\\">]]>"},
      {"yaml_safe", "&quot;&lt;\\&quot;a\\&quot;&gt;]]&gt;&quot;", "\\\"<\\\\\\\"a\\\\\\\">]]>\\\"",
       "\\\"<\\\\\\\"a\\\\\\\">]]>\\\""},
      {"turtle_escape", "&lt;\\&quot;a\\&quot;&gt;]]&gt;", "<\\\\\\\"a\\\\\\\">]]>",
       "<\\\\\\\"a\\\\\\\">]]>"},
      {"md_table_safe", "&lt;&quot;a&quot;&gt;]]&gt;", "<\\\"a\\\">]]>", "<\\\"a\\\">]]>"},
  };
  for (const auto& row : rows) {
    const std::string source = "{{{ v | " + std::string(row.filter) + " }}}";
    EXPECT_EQ(render("x.xml.j2", source, ctx), row.html) << row.filter;
    EXPECT_EQ(render("x.toml.j2", source, ctx, EscapeMode::Toml), row.toml) << row.filter;
    EXPECT_EQ(render("x.json.j2", source, ctx, EscapeMode::LegacyJson), row.legacy) << row.filter;
  }
  EXPECT_EQ(render("x.txt", "{{{ '--- x\n---' | frontmatter_safe }}}"), "--- x\n\\-\\-\\-");
  EXPECT_EQ(render("x.txt", "{{{ 'a|b' | md_table_safe | upper }}}"), "A\\|B");
}

TEST(Renderer, EngineBuiltinsStayAvailable) {
  const json::Object ctx = {{"xs", json::Array{3, 1, 2}}};
  EXPECT_EQ(render("x.txt", "{{{ xs | sort | join(',') }}}|{{{ xs | length }}}", ctx), "1,2,3|3");
  EXPECT_EQ(render("x.txt", "{{{ range(3) | list }}}"), "[0, 1, 2]");
}

// ----- the get method -----

class GetMethod : public ::testing::Test {
 protected:
  korvel::engine::Result<Value> get(const Value& on, std::vector<Value> args,
                                    std::string_view method = "get") {
    return korvel::map_get_unknown_method_callback(state_, on, method, args);
  }
  const korvel::engine::Environment env_;
  korvel::engine::State state_{env_, {}};
  const Value map_ = Value::from_map(
      {{Value::from_string("a"), Value::from_int(1)}, {Value::from_string("n"), Value::none()}});
  const Value key_a_ = Value::from_string("a");
  const Value key_n_ = Value::from_string("n");
  const Value key_z_ = Value::from_string("z");
  const Value fallback_ = Value::from_int(5);
};

TEST_F(GetMethod, LooksUpWithOptionalFallback) {
  EXPECT_EQ(get(map_, {key_a_}), Value::from_int(1));
  EXPECT_EQ(get(map_, {key_a_, fallback_}), Value::from_int(1));
  EXPECT_TRUE(get(map_, {key_z_})->is_undefined());
  EXPECT_EQ(get(map_, {key_z_, fallback_}), fallback_);
  // Present with null: the null, not the fallback.
  EXPECT_TRUE(get(map_, {key_n_, fallback_})->is_none());
  EXPECT_TRUE(get(map_, {key_n_})->is_none());
}

TEST_F(GetMethod, EveryOtherCallIsAnUnknownMethod) {
  struct Row {
    const char* what;
    Value on;
    std::vector<Value> args;
    std::string_view method;
  };
  const std::vector<Row> rows = {
      {"no argument", map_, {}, "get"},
      {"three arguments", map_, {key_a_, fallback_, fallback_}, "get"},
      {"another method", map_, {key_a_}, "fetch"},
      {"string", Value::from_string("abc"), {Value::from_int(0)}, "get"},
      {"sequence", Value::from_seq({Value::from_int(1)}), {Value::from_int(0)}, "get"},
      {"none", Value::none(), {key_a_}, "get"},
  };
  for (const auto& row : rows) {
    const auto out = get(row.on, row.args, row.method);
    ASSERT_FALSE(out.has_value()) << row.what;
    EXPECT_EQ(out.error().kind(), ErrorKind::UnknownMethod) << row.what;
    // The engine adds its own detail to a bare unknown-method failure.
    EXPECT_FALSE(out.error().detail().has_value()) << row.what;
  }
}

TEST(GetMethodInTemplates, WorksOnContextMaps) {
  const json::Object ctx = {
      {"settings", json::Object{{"a", json::Value(1)}, {"n", json::Value(nullptr)}}},
      {"s", json::Value("abc")},
      {"xs", json::Array{1}}};
  const RenderRow rows[] = {
      {"{{{ settings.get('a') }}}", "1"},
      {"{{{ settings.get('z') is undefined }}}", "true"},
      {"{{{ settings.get('z', 'dflt') }}}", "dflt"},
      {"{{{ settings.get('n', 'dflt') is none }}}", "true"},
      {"{{{ settings.get('a', 'dflt') }}}", "1"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(render("t.txt", row.source, ctx), row.expected) << row.source;
  for (const std::string_view bad :
       {"{{{ settings.get() }}}", "{{{ settings.get('a', 1, 2) }}}", "{{{ s.get('a') }}}",
        "{{{ xs.get(0) }}}", "{{{ settings.fetch('a') }}}"}) {
    const std::string out = render("t.txt", bad, ctx);
    EXPECT_EQ(out.rfind("<error: unknown method: ", 0), 0u) << bad << " → " << out;
    EXPECT_NE(out.find(" has no method named "), std::string::npos) << bad << " → " << out;
    EXPECT_NE(out.find("(in t.txt:1)"), std::string::npos) << bad << " → " << out;
  }
}

TEST(Renderer, IncludesFindNoTemplate) {
  for (const std::string_view source :
       {"{% include 'other.j2' %}", "{% import 'm.j2' as m %}", "{% extends 'base.j2' %}"}) {
    const std::string out = render("t.txt", source);
    EXPECT_EQ(out.rfind("<error: template not found", 0), 0u) << source << " → " << out;
  }
}

}  // namespace
