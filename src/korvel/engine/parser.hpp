// Internal to the engine: detail::parse, the recursive-descent parser (one function per precedence
// level, as Jinja2's parse_or → parse_and → parse_not → parse_compare ...). It pulls tokens from
// the lexer and builds the nodes of ast.hpp in an arena; nesting is bounded (limits.hpp).
#pragma once

#include <string_view>

#include "korvel/engine/arena.hpp"
#include "korvel/engine/ast.hpp"
#include "korvel/engine/environment_data.hpp"
#include "korvel/engine/error.hpp"

namespace korvel::engine::detail {

// Parses a whole template (newlines already normalized, trailing newline already handled). The
// nodes borrow from `source` and `arena`, which must outlive them. Errors carry their line; the
// caller adds the template name.
Result<Body> parse(std::string_view source, const EnvironmentData& env, Arena& arena);

}  // namespace korvel::engine::detail
