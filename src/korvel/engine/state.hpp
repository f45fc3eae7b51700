// korvel::engine::State — the rendering state handed to filters, tests, functions, objects, the
// formatter and the unknown-method callback: the current escape choice, the environment, and the
// means to apply filters and tests by name and to call callable values (macros, loop, objects).
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "korvel/engine/error.hpp"
#include "korvel/engine/function.hpp"
#include "korvel/engine/value.hpp"

namespace korvel::engine {

class Environment;
class Output;

namespace detail {
class Evaluator;
}

class State {
 public:
  // A state outside any rendering (for calling filters or the formatter directly, as tests do).
  State(const Environment& env, EscapeChoice escape, std::string template_name = {});

  State(const State&) = delete;
  State& operator=(const State&) = delete;

  // The current auto-escape choice (changed by {% autoescape %} blocks).
  const EscapeChoice& escape() const noexcept { return escape_; }
  // True when the choice escapes (Jinja2's "autoescape is on"): captured output is then safe.
  bool auto_escape() const noexcept { return escape_.kind != EscapeChoice::Kind::None; }
  const Environment& environment() const noexcept { return *env_; }
  std::string_view template_name() const noexcept { return template_name_; }

  // Applies a filter by name (registered or built in); args[0] is the filtered value.
  Result<Value> apply_filter(std::string_view name, std::span<const Value> args,
                             const Kwargs& kwargs);
  // Performs a test by name; args[0] is the tested value.
  Result<bool> perform_test(std::string_view name, std::span<const Value> args,
                            const Kwargs& kwargs);
  // Calls a callable value: a macro, loop, caller, function or any callable object.
  Result<Value> call(const Value& callable, std::span<const Value> args, const Kwargs& kwargs);
  // Calls `value.method(args...)`: an object's own method, else the unknown-method callback.
  Result<Value> call_method(const Value& value, std::string_view method,
                            std::span<const Value> args, const Kwargs& kwargs);
  // Attribute lookup as templates do it (`value.name`): map key, object attribute; looking up on
  // undefined fails with UndefinedError.
  Result<Value> get_attr(const Value& value, std::string_view name);
  // Item lookup as templates do it (`value[key]`).
  Result<Value> get_item(const Value& value, const Value& key);
  // Writes a value through the environment's formatter, as `{{ value }}` would.
  Result<void> format(Output& out, const Value& value);

  // ---- engine internals ----
  void set_escape(EscapeChoice escape) { escape_ = std::move(escape); }
  detail::Evaluator* evaluator() const noexcept { return evaluator_; }
  void set_evaluator(detail::Evaluator* evaluator) noexcept { evaluator_ = evaluator; }

 private:
  const Environment* env_;
  EscapeChoice escape_;
  std::string template_name_;
  detail::Evaluator* evaluator_ = nullptr;
};

}  // namespace korvel::engine
