// UTF-8 and suffix rules for formula paths, and the normalization of the rendered formula path.
#include "korvel_beads/beads/formula_path.hpp"

#include <string_view>
#include <system_error>

#include "korvel/text/utf8.hpp"
#include "korvel_beads/beads/path_components.hpp"

namespace korvel_beads {

std::expected<void, BeadComposeError> validate_utf8_path(const std::filesystem::path& path) {
  if (korvel::text::is_valid_utf8(path.native())) return {};
  return std::unexpected(BeadComposeError::path_not_utf8(path));
}

bool is_formula_path(const std::filesystem::path& path) noexcept {
  const std::string_view text = path.native();
  return text.ends_with(".formula.toml") || text.ends_with(".formula.json");
}

std::expected<std::filesystem::path, BeadComposeError> normalize_output(
    const std::filesystem::path& path) {
  const auto fail = [&] { return std::unexpected(BeadComposeError::template_path_invalid(path)); };
  // The operating system would see the path cut at a NUL and resolve another directory.
  if (path.native().find('\0') != std::string::npos) return fail();
  const detail::PathComponents components = detail::path_components(path.native());
  // No components: the empty path or a root, which have no parent.
  if (components.parts.empty()) return fail();
  const std::string_view file_name = components.parts.back();
  if (file_name == "." || file_name == "..") return fail();
  std::string parent = components.absolute ? "/" : "";
  for (std::size_t i = 0; i + 1 < components.parts.size(); ++i) {
    if (i > 0) parent += '/';
    parent.append(components.parts[i]);
  }
  // A bare relative file name has the empty parent, which names no directory.
  if (parent.empty()) return fail();
  std::error_code ec;
  std::filesystem::path canonical_parent = std::filesystem::canonical(parent, ec);
  if (ec) return fail();
  canonical_parent /= std::filesystem::path(std::string(file_name));
  return canonical_parent;
}

}  // namespace korvel_beads
