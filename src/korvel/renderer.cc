// Renderer: builds and configures the engine environment once, then compiles and renders templates
// from source, turning every engine failure into a RenderError.
#include "korvel/renderer.hpp"

#include <cstddef>
#include <utility>

#include "korvel/escape_format.hpp"
#include "korvel/safety_filters.hpp"
#include "korvel/template_ext.hpp"

namespace korvel {
namespace {

bool equals_ignoring_ascii_case(std::string_view a, std::string_view lower) noexcept {
  if (a.size() != lower.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char c = (a[i] >= 'A' && a[i] <= 'Z') ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
    if (c != lower[i]) return false;
  }
  return true;
}

// The extension of `name` read as a path: what follows the final dot of its last component. A
// component without a dot, or whose only dot leads it (".json"), has none.
std::string_view path_extension(std::string_view name) noexcept {
  while (name.size() > 1 && name.back() == '/') name.remove_suffix(1);
  const std::size_t slash = name.rfind('/');
  const std::string_view component =
      slash == std::string_view::npos ? name : name.substr(slash + 1);
  if (component == "..") return {};
  const std::size_t dot = component.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return {};
  return component.substr(dot + 1);
}

engine::EscapeChoice custom_format(std::string_view name) {
  return {engine::EscapeChoice::Kind::Custom, std::string(name)};
}

}  // namespace

engine::EscapeChoice auto_escape_callback(std::string_view name, EscapeMode mode) {
  const std::string_view ext = path_extension(strip_all_template_suffixes(name));
  if (equals_ignoring_ascii_case(ext, "xml") || equals_ignoring_ascii_case(ext, "htm") ||
      equals_ignoring_ascii_case(ext, "html") || equals_ignoring_ascii_case(ext, "xhtml")) {
    return custom_format(kFormatHtml);
  }
  if (equals_ignoring_ascii_case(ext, "json")) {
    if (mode == EscapeMode::LegacyJson) return custom_format(kFormatJsonLegacy);
    return {engine::EscapeChoice::Kind::Json, {}};
  }
  if (equals_ignoring_ascii_case(ext, "toml") && mode == EscapeMode::Toml) {
    return custom_format(kFormatToml);
  }
  return {};
}

engine::Result<engine::Value> map_get_unknown_method_callback(engine::State& state,
                                                              const engine::Value& value,
                                                              std::string_view method,
                                                              std::span<const engine::Value> args) {
  if (method == "get" && value.is_map() && (args.size() == 1 || args.size() == 2)) {
    auto found = state.get_item(value, args[0]);
    if (!found) return found;
    if (!found->is_undefined()) return found;
    return args.size() == 2 ? args[1] : engine::Value::undefined();
  }
  // Without a detail, so the engine adds its own, which names the value's kind and the method.
  return engine::fail(engine::ErrorKind::UnknownMethod);
}

void configure_environment(engine::Environment& env, EscapeMode mode) {
  env.set_lstrip_blocks(true);
  env.set_trim_blocks(true);
  env.set_auto_escape_callback(
      [mode](std::string_view name) { return auto_escape_callback(name, mode); });
  env.set_formatter(format_korvel_markup);
  env.add_filter("cdata_escape", cdata_escape_filter);
  env.add_filter("turtle_escape", turtle_escape_filter);
  env.add_filter("md_table_safe", md_table_safe_filter);
  env.add_filter("xml_char_safe", xml_char_safe_filter);
  env.add_filter("frontmatter_safe", frontmatter_safe_filter);
  env.add_filter("yaml_safe", yaml_safe_filter);
  env.set_unknown_method_callback(map_get_unknown_method_callback);
}

std::expected<Renderer, RenderError> Renderer::with_delimiters_and_escape_mode(
    std::string_view variable_start, std::string_view variable_end, EscapeMode mode) {
  engine::Environment env;
  configure_environment(env, mode);
  engine::SyntaxConfig syntax;
  syntax.variable_start = std::string(variable_start);
  syntax.variable_end = std::string(variable_end);
  if (auto set = env.set_syntax(std::move(syntax)); !set) {
    return std::unexpected(RenderError::render(std::move(set.error())));
  }
  return Renderer(std::move(env));
}

std::expected<std::string, RenderError> Renderer::render_named(std::string_view name,
                                                               std::string_view source,
                                                               const json::Object& context) const {
  auto rendered = env_.render_named_str(name, source, context);
  if (!rendered) return std::unexpected(RenderError::render(std::move(rendered.error())));
  return std::move(*rendered);
}

}  // namespace korvel
