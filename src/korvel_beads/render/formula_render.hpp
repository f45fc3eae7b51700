// korvel_beads::render_formula — the render stage: renders a formula template with the compose
// variables and replaces the formula file atomically (hidden temporary file in the same directory,
// flushed to stable storage, renamed over the output). validate_output_destination is the
// destination check that the pipeline runs before rendering and render_formula runs again just
// before writing.
#pragma once

#include <expected>
#include <filesystem>
#include <string_view>

#include "korvel/json/value.hpp"
#include "korvel/renderer.hpp"
#include "korvel_beads/contract/error.hpp"

namespace korvel_beads {

// The escape mode for a template, by a case-sensitive test of the path's last 16 bytes:
// ".formula.json.j2" → LegacyJson, ".formula.toml.j2" → Toml, anything else → Standard.
korvel::EscapeMode formula_escape_mode(std::string_view template_path) noexcept;

// Fails with OutputPathSymlink when `output_path` itself is a symbolic link (dangling or not),
// with TemplatePathInvalid when it cannot be queried for a reason other than not existing.
// Anything else at the path, or nothing, passes; a directory is caught later by the rename.
std::expected<void, BeadComposeError> validate_output_destination(
    const std::filesystem::path& output_path);

// Reads `template_path`, renders it with "{{{" "}}}" delimiters and `compose_variables` as context,
// checks the destination again and atomically replaces `output_path` with the result, byte for
// byte. The paths are the pipeline's resolved ones. After a failure the output is as it was and no
// temporary file of this call remains.
std::expected<void, BeadComposeError> render_formula(const std::filesystem::path& template_path,
                                                     const std::filesystem::path& output_path,
                                                     const korvel::json::Object& compose_variables);

}  // namespace korvel_beads
