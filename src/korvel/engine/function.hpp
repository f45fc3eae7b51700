// korvel::engine callable shapes — the signatures of filters, tests, functions, the formatter and
// the renderer's callbacks, the escape choice a rendering carries, and the name tables built-ins
// fill.
#pragma once

#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "korvel/engine/error.hpp"
#include "korvel/engine/value.hpp"

namespace korvel::engine {

class State;
class Output;

struct EscapeChoice {
  enum class Kind : std::uint8_t { None, Json, Html, Custom };
  Kind kind = Kind::None;
  std::string custom;  // name of a custom format when kind == Custom

  friend bool operator==(const EscapeChoice&, const EscapeChoice&) = default;
};

// Keyword arguments in call order.
using Kwargs = std::vector<std::pair<std::string, Value>>;

// The keyword argument named `name`, or nullptr.
const Value* find_kwarg(const Kwargs& kwargs, std::string_view name) noexcept;

// args[0] is the value being filtered (or tested), then the positional arguments.
using FilterFn = std::function<Result<Value>(State&, std::span<const Value> args, const Kwargs&)>;
using TestFn = std::function<Result<bool>(State&, std::span<const Value> args, const Kwargs&)>;
using FunctionFn = std::function<Result<Value>(State&, std::span<const Value> args, const Kwargs&)>;
using Formatter = std::function<Result<void>(Output&, State&, const Value&)>;
using AutoEscapeCallback = std::function<EscapeChoice(std::string_view template_name)>;
using UnknownMethodCallback = std::function<Result<Value>(
    State&, const Value& value, std::string_view method, std::span<const Value> args)>;

using FilterTable = std::map<std::string, FilterFn, std::less<>>;
using TestTable = std::map<std::string, TestFn, std::less<>>;
using FunctionTable = std::map<std::string, FunctionFn, std::less<>>;

// The engine's own formatting: a safe string unchanged; Kind::None → display form; Kind::Json →
// JSON text (failure → BadSerialization "unable to format to JSON"); Kind::Html → HTML escaping of
// the display form; Kind::Custom → display form.
Result<void> default_format(Output& out, State& state, const Value& value);

// HTML escaping as the engine's own HTML escape choice and the `escape` filter use it:
// & < > " ' become &amp; &lt; &gt; &#34; &#39;.
void write_html_escaped(std::string_view text, std::string& out);

}  // namespace korvel::engine
