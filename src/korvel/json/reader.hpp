// korvel::json::parse — reads exactly one JSON document (RFC 8259) with optional surrounding
// whitespace into a Value. Nesting deeper than 127 arrays and objects is refused ("recursion limit
// exceeded"); an integer outside both 64-bit ranges becomes a double; a repeated key keeps its last
// value; an unpaired surrogate escape is refused.
#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

#include "korvel/json/value.hpp"

namespace korvel::json {

inline constexpr std::size_t kMaxDepth = 127;

struct ParseError {
  std::string description;  // e.g. "recursion limit exceeded"
  std::size_t line = 0;     // 1-based
  std::size_t column = 0;   // characters into the line; 0 before its first character

  // "{description} at line {line} column {column}"
  std::string message() const;
};

std::expected<Value, ParseError> parse(std::string_view text);

}  // namespace korvel::json
