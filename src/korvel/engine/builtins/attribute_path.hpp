// Internal: attribute paths as the built-ins that take `attribute=` read them (Jinja2's
// make_attrgetter): "address.city" walks item by item, digit parts are sequence indexes, and a
// comma list ("age,name") gives several keys. Also ignore_case, the key transform of the
// case-insensitive filters. Entry points: parse_attr_path, lookup_path.
#pragma once

#include <string_view>
#include <vector>

#include "korvel/engine/error.hpp"
#include "korvel/engine/value.hpp"

namespace korvel::engine::builtins::detail {

// The parts of one path; empty for a none or absent attribute (the item itself).
using AttrPath = std::vector<Value>;

AttrPath parse_attr_path(const Value* attribute);
// Comma-separated paths; one path when the attribute is not a string.
std::vector<AttrPath> parse_attr_paths(const Value* attribute);

// Walks the path from `item`. A missing part gives undefined (replaced by `fallback` when that is
// given and not none); looking further into an undefined value fails with UndefinedError.
Result<Value> lookup_path(const Value& item, const AttrPath& path, const Value* fallback = nullptr);

// Strings lower-cased (Python's str.lower), other values unchanged.
Value ignore_case(const Value& v);

}  // namespace korvel::engine::builtins::detail
