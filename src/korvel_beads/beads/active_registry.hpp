// korvel_beads active registry: parse_active_beads_dir reads the active Beads directory from the
// output of "bd where --json"; validate_active_registry_path checks that the rendered formula is
// the one file of its name in that directory's "formulas" subdirectory.
#pragma once

#include <expected>
#include <filesystem>
#include <optional>
#include <string_view>

#include "korvel_beads/contract/error.hpp"

namespace korvel_beads {

// The "path" string of the single JSON object that makes up `output` (surrounding JSON whitespace
// allowed; a repeated "path" counts last). nullopt for anything else: not exactly one JSON
// document, not an object, no "path", a "path" that is not a string, or one holding a NUL character
// (no operating-system path does, and the NUL would cut it short).
std::optional<std::filesystem::path> parse_active_beads_dir(std::string_view output);

// Given the canonical active Beads directory D, the candidates are D/formulas/{name}.formula.toml
// and D/formulas/{name}.formula.json. Both present as regular files → FormulaRegistryAmbiguous
// (carrying the name); the rendered path equal to one of them, component by component, → success;
// else FormulaOutsideActiveRegistry (carrying the rendered path). A name that would lead a
// candidate out of D/formulas (an absolute name), or that holds a NUL byte, never matches.
std::expected<void, BeadComposeError> validate_active_registry_path(
    std::string_view formula_name, const std::filesystem::path& rendered_path,
    const std::filesystem::path& beads_dir);

}  // namespace korvel_beads
