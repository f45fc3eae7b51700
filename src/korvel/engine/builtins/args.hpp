// Internal: the argument binder every built-in uses — positional and keyword arguments bound to
// named parameters with Python's rules (Jinja2 built-ins are Python functions) — and the argument
// conversions they share. Entry point: bind().
#pragma once

#include <array>
#include <cstddef>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "korvel/engine/error.hpp"
#include "korvel/engine/function.hpp"
#include "korvel/engine/value.hpp"

namespace korvel::engine::builtins::detail {

// The values bound to a built-in's parameters, in parameter order; a slot is nullptr when the
// caller left that parameter out. Pointers refer into the call's argument span and kwargs.
template <std::size_t N>
class Bound {
 public:
  const Value* operator[](std::size_t i) const noexcept { return slots_[i]; }
  // True when the parameter was given and is not none (Python's `param=None` defaults).
  bool given(std::size_t i) const noexcept { return slots_[i] && !slots_[i]->is_none(); }
  // The argument, or `fallback` when it was left out.
  Value get_or(std::size_t i, Value fallback) const { return slots_[i] ? *slots_[i] : fallback; }
  std::array<const Value*, N>& slots() noexcept { return slots_; }

 private:
  std::array<const Value*, N> slots_{};
};

// Binds like `def name(p0, p1, ...)`: positional arguments fill parameters in order (args[0],
// the filtered or tested value, is the first one), keywords go by parameter name. The first
// `required` parameters must be given. Fails with TooManyArguments for an extra positional
// argument, an unknown keyword or a parameter given twice; MissingArgument for a required one
// left out.
Result<void> bind_into(std::string_view name, std::span<const Value> args, const Kwargs& kwargs,
                       std::span<const std::string_view> params, std::size_t required,
                       std::span<const Value*> out);

template <std::size_t N>
Result<Bound<N>> bind(std::string_view name, std::span<const Value> args, const Kwargs& kwargs,
                      const std::array<std::string_view, N>& params, std::size_t required) {
  Bound<N> bound;
  if (auto r = bind_into(name, args, kwargs, params, required, bound.slots()); !r) {
    return std::unexpected(std::move(r.error()));
  }
  return bound;
}

// Fails with TooManyArguments when any keyword argument is given (for built-ins that take none).
Result<void> no_kwargs(std::string_view name, const Kwargs& kwargs);

// An integer argument as Python's int parameters take it: integers and booleans; anything else
// fails with InvalidOperation naming the parameter.
Result<Int128> int_arg(std::string_view name, std::string_view param, const Value& v);
// int_arg narrowed to long long (a count or an index); out of range fails.
Result<long long> count_arg(std::string_view name, std::string_view param, const Value& v);
// A string argument that must be a string (Python's str methods refuse other types).
Result<std::string_view> str_arg(std::string_view name, std::string_view param, const Value& v);

// Fails with InvalidOperation when a text a built-in is about to build would pass the engine's
// bound on built strings (the same bound as `*` repetition), so no template exhausts memory
// through one filter call.
Result<void> check_built_size(std::string_view name, std::size_t bytes);

// The text a string filter works on: a string's text, or another value's display form
// (Jinja2's soft_str; undefined gives the empty text). A display form past the engine's display
// bound fails with InvalidOperation rather than being cut short.
Result<std::string> text_of(const Value& v);
// The same text without a copy for strings: the string's own text, or the display form written
// into `storage` (which must outlive the view).
Result<std::string_view> text_view(const Value& v, std::string& storage);

}  // namespace korvel::engine::builtins::detail
