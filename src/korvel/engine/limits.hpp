// Internal to the engine: the bounds that keep any template from exhausting the native stack.
#pragma once

#include <cstddef>

namespace korvel::engine::detail {

// Nesting of statements and bracketed or prefixed expressions the parser accepts.
inline constexpr int kMaxNesting = 64;
// Height of an expression tree (long operator or filter chains) the parser accepts.
inline constexpr int kMaxExprHeight = 256;
// Nested macro, caller and recursive-loop calls at render time.
inline constexpr int kMaxCallDepth = 100;
// Native stack a rendering may use before it fails instead of going deeper.
inline constexpr std::size_t kMaxStackBytes = std::size_t{1} << 20;

}  // namespace korvel::engine::detail
