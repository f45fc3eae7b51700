// Beads variable key and value rules, and the "--var" arguments.
#include "korvel_beads/beads/variables.hpp"

namespace korvel_beads {
namespace {

bool is_ascii_letter(char c) noexcept { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_ascii_digit(char c) noexcept { return c >= '0' && c <= '9'; }

}  // namespace

bool is_valid_variable_key(std::string_view key) noexcept {
  if (key.empty()) return false;
  if (!is_ascii_letter(key.front()) && key.front() != '_') return false;
  for (char c : key.substr(1)) {
    if (!is_ascii_letter(c) && !is_ascii_digit(c) && c != '_' && c != '-') return false;
  }
  return true;
}

bool is_valid_variable_value(std::string_view value) noexcept {
  return value.find('\0') == std::string_view::npos;
}

std::expected<void, BeadComposeError> validate_bead_variables(
    const std::map<std::string, std::string>& variables) {
  for (const auto& [key, value] : variables) {
    if (!is_valid_variable_key(key)) {
      return std::unexpected(BeadComposeError::variable_key_invalid(key));
    }
  }
  for (const auto& [key, value] : variables) {
    if (!is_valid_variable_value(value)) {
      return std::unexpected(BeadComposeError::variable_value_invalid(key, value));
    }
  }
  return {};
}

void append_variables(std::vector<std::string>& args, const BeadComposeRequest& request) {
  for (const auto& [key, value] : request.bead_variables) {
    args.emplace_back("--var");
    std::string pair;
    pair.reserve(key.size() + 1 + value.size());
    pair.append(key).append("=").append(value);
    args.push_back(std::move(pair));
  }
}

}  // namespace korvel_beads
