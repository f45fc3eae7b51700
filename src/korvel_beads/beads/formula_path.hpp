// korvel_beads formula path rules: validate_utf8_path (paths that must become text),
// is_formula_path (the ".formula.toml" / ".formula.json" suffix rule) and normalize_output (the
// rendered formula's canonical parent joined with its unresolved file name).
#pragma once

#include <expected>
#include <filesystem>

#include "korvel_beads/contract/error.hpp"

namespace korvel_beads {

// Success when the path's bytes are UTF-8; else PathNotUtf8 carrying the unaltered bytes.
std::expected<void, BeadComposeError> validate_utf8_path(const std::filesystem::path& path);

// True exactly when the path's bytes end with ".formula.toml" or ".formula.json" (case-sensitive).
bool is_formula_path(const std::filesystem::path& path) noexcept;

// The canonical parent directory of `path` joined with its final file name; the final component
// is not resolved, so a symbolic link there stays a link. Components as path_components splits
// them: "a/b/" and "a/b/." both end in "b". Fails with TemplatePathInvalid carrying `path` as
// supplied when it has no parent that can be canonicalized (empty, a root, a bare file name, a
// missing directory), no file name (it ends in "..", or is "."), or holds a NUL byte.
std::expected<std::filesystem::path, BeadComposeError> normalize_output(
    const std::filesystem::path& path);

}  // namespace korvel_beads
