// Reading the active Beads directory from "bd where --json" and matching the rendered formula
// against the active registry.
#include "korvel_beads/beads/active_registry.hpp"

#include <string>
#include <system_error>

#include "korvel/json/reader.hpp"
#include "korvel_beads/beads/path_components.hpp"

namespace korvel_beads {

std::optional<std::filesystem::path> parse_active_beads_dir(std::string_view output) {
  auto document = korvel::json::parse(output);
  if (!document) return std::nullopt;
  const korvel::json::Object* object = document->if_object();
  if (object == nullptr) return std::nullopt;
  const auto it = object->find(std::string_view("path"));
  if (it == object->end()) return std::nullopt;
  const std::string* path = it->second.if_string();
  if (path == nullptr || path->find('\0') != std::string::npos) return std::nullopt;
  return std::filesystem::path(*path);
}

std::expected<void, BeadComposeError> validate_active_registry_path(
    std::string_view formula_name, const std::filesystem::path& rendered_path,
    const std::filesystem::path& beads_dir) {
  // No file is named with a NUL, and the file system would look the name up cut short.
  if (formula_name.find('\0') != std::string_view::npos) {
    return std::unexpected(BeadComposeError::formula_outside_active_registry(rendered_path));
  }
  const std::filesystem::path formulas = beads_dir / "formulas";
  const std::filesystem::path toml = formulas / (std::string(formula_name) + ".formula.toml");
  const std::filesystem::path json = formulas / (std::string(formula_name) + ".formula.json");

  std::error_code ec;
  if (std::filesystem::is_regular_file(toml, ec) && std::filesystem::is_regular_file(json, ec)) {
    return std::unexpected(BeadComposeError::formula_registry_ambiguous(std::string(formula_name)));
  }

  // An absolute formula name replaces the registry directory in the join, so its candidates can
  // lie anywhere; they only count while they stay inside D/formulas.
  const detail::PathComponents inside = detail::path_components(formulas.native());
  const auto is_in_registry = [&](const detail::PathComponents& candidate) {
    if (candidate.absolute != inside.absolute || candidate.parts.size() <= inside.parts.size()) {
      return false;
    }
    for (std::size_t i = 0; i < inside.parts.size(); ++i) {
      if (candidate.parts[i] != inside.parts[i]) return false;
    }
    return true;
  };
  const detail::PathComponents rendered = detail::path_components(rendered_path.native());
  for (const auto* candidate : {&toml, &json}) {
    const detail::PathComponents parts = detail::path_components(candidate->native());
    if (is_in_registry(parts) && parts == rendered) return {};
  }
  return std::unexpected(BeadComposeError::formula_outside_active_registry(rendered_path));
}

}  // namespace korvel_beads
