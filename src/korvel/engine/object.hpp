// korvel::engine::Object — the interface of engine objects held in values: macros, the loop
// variable, namespaces, and objects built-ins define (cycler, joiner). An object may be callable,
// have attributes and methods, accept attribute assignment (namespaces) and display itself.
// Also make_namespace(), the factory behind the `namespace()` function.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "korvel/engine/error.hpp"
#include "korvel/engine/function.hpp"
#include "korvel/engine/value.hpp"

namespace korvel::engine {

class State;

class Object {
 public:
  virtual ~Object() = default;

  // Short name used in error details and the default display, e.g. "macro", "cycler".
  virtual std::string_view type_name() const = 0;

  virtual bool is_callable() const { return false; }
  // `obj(args...)`. Default: InvalidOperation "<type> is not callable".
  virtual Result<Value> call(State& state, std::span<const Value> args, const Kwargs& kwargs);

  // `obj.name`; undefined when absent.
  virtual Value get_attr(std::string_view name) const;

  // `obj[key]`; undefined when absent. Default: get_attr for a string key, else undefined.
  virtual Value get_item(const Value& key) const;

  // `obj.name(args...)`: nullopt when the object has no such method (the engine then calls the
  // unknown-method callback). Default: call the attribute when it is callable, else nullopt.
  virtual std::optional<Result<Value>> call_method(State& state, std::string_view name,
                                                   std::span<const Value> args,
                                                   const Kwargs& kwargs);

  // `{% set obj.name = value %}`. Default: InvalidOperation (only namespaces accept it).
  virtual Result<void> set_attr(std::string_view name, Value value);

  // Items when the object is iterated; nullopt when it is not iterable.
  virtual std::optional<std::vector<Value>> iterate() const { return std::nullopt; }

  // Display form. Default: "<type_name>".
  virtual void write_display(std::string& out) const;

  // Truthiness. Default: true.
  virtual bool is_true() const { return true; }
};

// A namespace object (`namespace(a=1)`): attributes readable and assignable with
// `{% set ns.name = value %}`, visible across scopes because the object is shared.
Value make_namespace(std::vector<std::pair<std::string, Value>> attributes = {});

// True when the value is a namespace object.
bool is_namespace(const Value& value) noexcept;

// Drops every attribute of a namespace. The engine does this to the namespaces a rendering
// assigned to when the rendering ends, since `{% set ns.self = ns %}` forms a reference cycle.
void clear_namespace(const Value& value) noexcept;

// A callable object wrapping a function (for a registered function used as a value).
Value make_function_value(std::string name, FunctionFn fn);

}  // namespace korvel::engine
