// The argument lists of the bd stages.
#include "korvel_beads/beads/command_lines.hpp"

#include "korvel_beads/beads/variables.hpp"

namespace korvel_beads {

std::filesystem::path bd_program(const BeadComposeRequest& request) {
  return request.bd_executable.value_or(std::filesystem::path("bd"));
}

std::vector<std::string> validate_args(const std::filesystem::path& rendered_formula,
                                       const BeadComposeRequest& request) {
  std::vector<std::string> args = {"cook", rendered_formula.native(), "--dry-run", "--json"};
  append_variables(args, request);
  return args;
}

std::vector<std::string> resolve_args() { return {"where", "--json"}; }

std::vector<std::string> pour_args(std::string_view formula_name, const BeadComposeRequest& request,
                                   bool preview) {
  std::vector<std::string> args = {"mol", "pour", std::string(formula_name)};
  if (preview) args.emplace_back("--dry-run");
  args.emplace_back("--json");
  append_variables(args, request);
  return args;
}

}  // namespace korvel_beads
