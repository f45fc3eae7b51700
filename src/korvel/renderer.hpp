// korvel::Renderer — the system's template environment: "{{{" "}}}" variables (or other delimiters
// given at construction), trim and left-strip blocks, escaping chosen from the template's name and
// an EscapeMode, format_korvel_markup as the value formatter, the six safety filters and a `get`
// method on maps. Entry points: Renderer::with_delimiters_and_escape_mode, Renderer::render_named.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>

#include "korvel/engine/environment.hpp"
#include "korvel/engine/error.hpp"
#include "korvel/engine/function.hpp"
#include "korvel/engine/state.hpp"
#include "korvel/engine/value.hpp"
#include "korvel/error/render.hpp"
#include "korvel/json/value.hpp"

namespace korvel {

// How templates named for JSON or TOML output are escaped.
enum class EscapeMode : std::uint8_t {
  LegacyJson = 0,  // JSON: "korvel-json-legacy"; TOML: none
  Standard = 1,    // JSON: the engine's JSON escaping; TOML: none
  Toml = 2,        // JSON: the engine's JSON escaping; TOML: "korvel-toml"
};

class Renderer {
 public:
  // Fails with "invalid custom delimiters" when the variable start is empty or equals another
  // start marker ("{%", "{#").
  static std::expected<Renderer, RenderError> with_delimiters_and_escape_mode(
      std::string_view variable_start, std::string_view variable_end, EscapeMode mode);

  // Compiles `source` as the template `name` (which chooses its escaping) and renders it with
  // `context` as its variables. Nothing partial is returned on failure.
  std::expected<std::string, RenderError> render_named(std::string_view name,
                                                       std::string_view source,
                                                       const json::Object& context) const;

 private:
  explicit Renderer(engine::Environment env) : env_(std::move(env)) {}
  engine::Environment env_;
};

// Everything but the syntax: whitespace options, auto-escape decision, formatter, filters, `get`.
void configure_environment(engine::Environment& env, EscapeMode mode);

// The escape choice for a template name: by the extension left after strip_all_template_suffixes,
// ignoring case. xml/htm/html/xhtml → "korvel-html"; json → "korvel-json-legacy" under LegacyJson,
// else the engine's JSON escaping; toml → "korvel-toml" under Toml, else none; otherwise none.
engine::EscapeChoice auto_escape_callback(std::string_view name, EscapeMode mode);

// map.get(key) and map.get(key, fallback): the entry's value (none included), else undefined or
// the fallback. Every other unknown method call fails with "unknown method".
engine::Result<engine::Value> map_get_unknown_method_callback(engine::State& state,
                                                              const engine::Value& value,
                                                              std::string_view method,
                                                              std::span<const engine::Value> args);

}  // namespace korvel
