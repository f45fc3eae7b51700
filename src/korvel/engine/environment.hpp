// korvel::engine::Environment and Template — the engine's configuration (syntax markers, whitespace
// options, auto-escape decision, formatter, filters, tests, functions, unknown-method callback) and
// the entry points that compile a template from a name and a source and render it with a map of
// JSON values.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "korvel/engine/error.hpp"
#include "korvel/engine/function.hpp"
#include "korvel/json/value.hpp"

namespace korvel::engine {

struct SyntaxConfig {
  std::string block_start = "{%";
  std::string block_end = "%}";
  std::string variable_start = "{{";
  std::string variable_end = "}}";
  std::string comment_start = "{#";
  std::string comment_end = "#}";
};

namespace detail {
struct EnvironmentData;
struct Program;
}  // namespace detail

class Template;

class Environment {
 public:
  // Every built-in filter, test and function registered; default syntax; no escaping.
  Environment();
  ~Environment();
  Environment(const Environment& other);
  Environment& operator=(const Environment& other);
  Environment(Environment&& other) noexcept;
  Environment& operator=(Environment&& other) noexcept;

  // Jinja2 meanings; all off by default.
  void set_trim_blocks(bool on);
  void set_lstrip_blocks(bool on);
  void set_keep_trailing_newline(bool on);
  bool trim_blocks() const noexcept;
  bool lstrip_blocks() const noexcept;
  bool keep_trailing_newline() const noexcept;

  // InvalidDelimiter when a start marker is empty or equals another start marker.
  Result<void> set_syntax(SyntaxConfig syntax);
  const SyntaxConfig& syntax() const noexcept;

  // Default: no escaping for every name.
  void set_auto_escape_callback(AutoEscapeCallback callback);
  // Default: default_format.
  void set_formatter(Formatter formatter);
  // Registered names shadow built-ins of the same name.
  void add_filter(std::string name, FilterFn filter);
  void add_test(std::string name, TestFn test);
  void add_function(std::string name, FunctionFn function);
  // Default: every unknown method fails with UnknownMethod.
  void set_unknown_method_callback(UnknownMethodCallback callback);

  // Lookups (nullptr when absent).
  const FilterFn* find_filter(std::string_view name) const noexcept;
  const TestFn* find_test(std::string_view name) const noexcept;
  const FunctionFn* find_function(std::string_view name) const noexcept;
  const Formatter& formatter() const noexcept;
  const UnknownMethodCallback* unknown_method_callback() const noexcept;
  EscapeChoice escape_for(std::string_view template_name) const;

  // Compiles and renders in one step (the template is not kept).
  Result<std::string> render_named_str(std::string_view name, std::string_view source,
                                       const json::Object& context) const;
  // Compiles a template; it keeps the settings in force now, whatever changes later.
  Result<Template> template_from_named_str(std::string_view name, std::string_view source) const;

  // ---- engine internals ----
  explicit Environment(std::shared_ptr<detail::EnvironmentData> data) noexcept
      : data_(std::move(data)) {}
  const detail::EnvironmentData& internal_data() const noexcept { return *data_; }

 private:
  void detach();  // copy-on-write before a change
  std::shared_ptr<detail::EnvironmentData> data_;
};

class Template {
 public:
  Result<std::string> render(const json::Object& context) const;
  std::string_view name() const noexcept;

 private:
  friend class Environment;
  explicit Template(std::shared_ptr<const detail::Program> program) noexcept
      : program_(std::move(program)) {}
  std::shared_ptr<const detail::Program> program_;
};

}  // namespace korvel::engine
