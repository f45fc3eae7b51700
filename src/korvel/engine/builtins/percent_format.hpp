// Internal: printf-style formatting as Python's `text % values` does it, behind the `format`
// filter. Entry point: percent_format().
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "korvel/engine/error.hpp"
#include "korvel/engine/function.hpp"
#include "korvel/engine/value.hpp"

namespace korvel::engine::builtins::detail {

// Formats `fmt` with positional `args`, or — when `named` is not empty — with the named values
// for "%(name)s" conversions (a plain conversion then formats the whole mapping, as Python does).
// With `escape_args`, %s and %r insert HTML-escaped text unless the argument is a safe string
// (a safe format string escapes what it takes in). Conversions: d i u o x X e E f F g G c s r a %,
// with the flags - + space # 0, a width and a precision (either may be *).
Result<std::string> percent_format(std::string_view fmt, std::span<const Value> args,
                                   const Kwargs& named, bool escape_args);

// Python's repr in this engine's terms: strings in double quotes, other values in display form.
// Fails like the display form when the value is too large to display.
Result<std::string> repr_of(const Value& v);

}  // namespace korvel::engine::builtins::detail
