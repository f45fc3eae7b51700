#include <gtest/gtest.h>

#include <string>

#include "korvel/error/render.hpp"
#include "korvel/json/value.hpp"
#include "korvel/renderer.hpp"

namespace {

using korvel::RenderError;
using korvel::engine::Error;
using korvel::engine::ErrorKind;
namespace json = korvel::json;

Error located(ErrorKind kind, std::string detail, std::string_view name, std::size_t line) {
  Error e(kind, std::move(detail));
  e.set_location(name, line);
  return e;
}

TEST(RenderError, MessageHasTheDisplayFormLessAbsentParts) {
  struct Row {
    Error error;
    std::string message;
  };
  const Row rows[] = {
      {Error(ErrorKind::InvalidDelimiter), "invalid custom delimiters"},
      {Error(ErrorKind::InvalidOperation, "value is not a string"),
       "invalid operation: value is not a string"},
      {located(ErrorKind::InvalidOperation, "value is not a string", "t", 4),
       "invalid operation: value is not a string (in t:4)"},
      {located(ErrorKind::UndefinedError, "", "/w/a.json.j2", 12),
       "undefined value (in /w/a.json.j2:12)"},
      {located(ErrorKind::WriteFailure, "formatting failed", "t", 1),
       "failed to write output: formatting failed (in t:1)"},
  };
  for (const auto& row : rows) {
    const RenderError e = RenderError::render(row.error);
    EXPECT_EQ(e.message(), row.message);
    EXPECT_EQ(e.source().kind(), row.error.kind());
    EXPECT_EQ(e.source().template_name(), row.error.template_name());
    EXPECT_EQ(e.source().line(), row.error.line());
    EXPECT_EQ(e.backtrace(), "");  // not captured
  }
}

TEST(RenderError, EveryKindTextStartsItsMessage) {
  const std::pair<ErrorKind, std::string_view> kinds[] = {
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
  for (const auto& [kind, text] : kinds) {
    EXPECT_EQ(RenderError::render(Error(kind)).message(), text);
    EXPECT_EQ(RenderError::render(located(kind, "d", "n", 2)).message(),
              std::string(text) + ": d (in n:2)");
  }
}

// Failures of real renderings: the kind, the engine's detail, then the template and line.
TEST(RenderError, RenderingFailuresNameTheTemplateAndLine) {
  struct Row {
    std::string_view source;
    std::string_view kind_prefix;
    std::string_view suffix;
  };
  const Row rows[] = {
      {"a\n{{{ name", "syntax error", " (in /w/f.toml.j2:2)"},
      {"\n\n\n{{{ missing | yaml_safe }}}", "invalid operation: value is not a string",
       " (in /w/f.toml.j2:4)"},
      {"{{{ 3 | cdata_escape }}}", "invalid operation: value is not a string",
       " (in /w/f.toml.j2:1)"},
      {"{{{ none | turtle_escape }}}", "invalid operation: value is not a string",
       " (in /w/f.toml.j2:1)"},
      {"\n{{{ 'x' | md_table_safe(1) }}}", "too many arguments", " (in /w/f.toml.j2:2)"},
      {"{{{ 'x' | no_such_filter }}}", "unknown filter", " (in /w/f.toml.j2:1)"},
      {"{{{ 'x' is no_such_test }}}", "unknown test", " (in /w/f.toml.j2:1)"},
      {"{{{ no_such_function() }}}", "unknown function", " (in /w/f.toml.j2:1)"},
      {"\n\n{{{ missing.field }}}", "undefined value", " (in /w/f.toml.j2:3)"},
      {"{{{ {}.get() }}}", "unknown method", " (in /w/f.toml.j2:1)"},
      {"{% include 'x' %}", "template not found", " (in /w/f.toml.j2:1)"},
  };
  const auto renderer =
      korvel::Renderer::with_delimiters_and_escape_mode("{{{", "}}}", korvel::EscapeMode::Toml);
  ASSERT_TRUE(renderer.has_value());
  for (const auto& row : rows) {
    const auto out = renderer->render_named("/w/f.toml.j2", row.source, json::Object{});
    ASSERT_FALSE(out.has_value()) << row.source;
    const std::string& message = out.error().message();
    EXPECT_EQ(message.rfind(row.kind_prefix, 0), 0u) << row.source << " → " << message;
    ASSERT_GE(message.size(), row.suffix.size()) << message;
    EXPECT_EQ(message.substr(message.size() - row.suffix.size()), row.suffix)
        << row.source << " → " << message;
    // Only the plain display form: no source excerpt or marker lines.
    EXPECT_EQ(message.find('\n'), std::string::npos) << message;
  }
}

}  // namespace
