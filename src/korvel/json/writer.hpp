// korvel::json::write — compact JSON text: no whitespace, object keys in stored (ascending) order,
// integers in decimal, doubles in their shortest round-trip form (always with a decimal point or an
// exponent, so that a double reads back as a double: 2.0, 1e+16).
#pragma once

#include <string>
#include <string_view>

#include "korvel/json/value.hpp"

namespace korvel::json {

void write(const Value& value, std::string& out);
std::string write(const Value& value);

// Appends `text` as a JSON string literal, quotes included.
void write_string(std::string_view text, std::string& out);

}  // namespace korvel::json
