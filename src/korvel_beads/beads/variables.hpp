// korvel_beads Beads variables: the key rule, the value rule, validate_bead_variables (both rules
// over a request's variables, keys before values) and append_variables, which turns the variables
// into
// "--var" "{key}={value}" arguments for bd.
#pragma once

#include <expected>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "korvel_beads/contract/contract.hpp"
#include "korvel_beads/contract/error.hpp"

namespace korvel_beads {

// Not empty; first an ASCII letter or "_", then ASCII letters, digits, "_" or "-".
bool is_valid_variable_key(std::string_view key) noexcept;

// Holds no NUL character (bd receives it inside one argument).
bool is_valid_variable_value(std::string_view value) noexcept;

// Every key by the key rule in ascending key order, then every value by the value rule:
// the first bad key is VariableKeyInvalid, the first bad value VariableValueInvalid.
std::expected<void, BeadComposeError> validate_bead_variables(
    const std::map<std::string, std::string>& variables);

// Appends "--var", "{key}={value}" for every bead variable of the request, in ascending key order.
void append_variables(std::vector<std::string>& args, const BeadComposeRequest& request);

}  // namespace korvel_beads
