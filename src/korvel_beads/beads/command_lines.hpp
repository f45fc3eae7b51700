// korvel_beads bd command lines: bd_program (the executable every stage runs) and the argument list
// of each bd stage — validate_args ("cook"), resolve_args ("where") and pour_args ("mol" "pour",
// preview or persistent). Arguments go to bd one by one: no shell, nothing quoted.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "korvel_beads/contract/contract.hpp"

namespace korvel_beads {

// The request's bd_executable, or "bd" to be found the way the runner finds programs.
std::filesystem::path bd_program(const BeadComposeRequest& request);

// "cook", {rendered formula}, "--dry-run", "--json", then the "--var" pairs. The path goes over
// as its bytes; the pipeline has checked that they are UTF-8.
std::vector<std::string> validate_args(const std::filesystem::path& rendered_formula,
                                       const BeadComposeRequest& request);

// "where", "--json": never any variables.
std::vector<std::string> resolve_args();

// "mol", "pour", {formula name}, "--dry-run" (preview only), "--json", then the "--var" pairs.
std::vector<std::string> pour_args(std::string_view formula_name, const BeadComposeRequest& request,
                                   bool preview);

}  // namespace korvel_beads
