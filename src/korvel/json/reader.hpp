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

// The descriptions: "EOF while parsing a value", "EOF while parsing a list", "EOF while parsing an
// object", "EOF while parsing a string", "expected value", "expected ident" (a misspelt true, false
// or null), "trailing characters", "trailing comma", "key must be a string", "expected `:`",
// "expected `,` or `]`", "expected `,` or `}`", "invalid escape", "unexpected end of hex escape",
// "lone leading surrogate in hex escape", "lone trailing surrogate in hex escape", "control
// character (\u0000-\u001F) found while parsing a string", "invalid unicode code point" (bytes
// that are not UTF-8 inside a string), "invalid number", "number out of range", "recursion limit
// exceeded". The position is that of the failing character, counted in characters; an error at
// the end of the text names its last character ("" fails at line 1 column 0).
struct ParseError {
  std::string description;
  std::size_t line = 0;    // 1-based; lines end at "\n"
  std::size_t column = 0;  // characters of the line up to and including the failing one

  // "{description} at line {line} column {column}"
  std::string message() const;
};

std::expected<Value, ParseError> parse(std::string_view text);

}  // namespace korvel::json
