// korvel_beads::render_formula — the render stage: template → renderer chosen by the template's
// name → last destination check → hidden temporary file → full flush → rename over the formula.
#include "korvel_beads/render/formula_render.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

#include "korvel/error/render.hpp"
#include "korvel/text/utf8.hpp"
#include "korvel_beads/render/temporary_output.hpp"

namespace korvel_beads {
namespace detail {
namespace {

constexpr std::string_view kLegacyJsonSuffix = ".formula.json.j2";
constexpr std::string_view kTomlSuffix = ".formula.toml.j2";

// The operating system sees a path only up to its first NUL byte; such a path names another file.
bool holds_nul(const std::filesystem::path& path) {
  return path.native().find('\0') != std::filesystem::path::string_type::npos;
}

// The whole file as UTF-8 text, or the error's display text.
std::expected<std::string, std::string> read_template(const std::filesystem::path& path) {
  if (holds_nul(path)) return std::unexpected(os_error_text(EINVAL));
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd == -1 && errno == EINTR);
  if (fd == -1) return std::unexpected(os_error_text(errno));
  std::string text;
  char chunk[16384];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n == -1 && errno == EINTR) continue;
    if (n == -1) {
      const int code = errno;
      ::close(fd);
      return std::unexpected(os_error_text(code));
    }
    if (n == 0) break;
    text.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(fd);
  if (!korvel::text::is_valid_utf8(text)) {
    return std::unexpected(std::string("stream did not contain valid UTF-8"));
  }
  return text;
}

std::expected<std::string, BeadComposeError> render_template(
    const std::filesystem::path& template_path, const korvel::json::Object& compose_variables) {
  auto source = read_template(template_path);
  if (!source) return std::unexpected(BeadComposeError::render_failed(std::move(source.error())));
  // The pipeline has checked that the canonical template path is UTF-8.
  const std::string name = korvel::text::lossy_utf8(template_path.native());
  // The renderer lives only for this rendering and is gone before anything is written.
  auto renderer =
      korvel::Renderer::with_delimiters_and_escape_mode("{{{", "}}}", formula_escape_mode(name));
  if (!renderer) {
    return std::unexpected(BeadComposeError::render_failed(renderer.error().message()));
  }
  auto rendered = renderer->render_named(name, *source, compose_variables);
  if (!rendered) {
    return std::unexpected(BeadComposeError::render_failed(rendered.error().message()));
  }
  return std::move(*rendered);
}

}  // namespace
}  // namespace detail

korvel::EscapeMode formula_escape_mode(std::string_view template_path) noexcept {
  if (template_path.ends_with(detail::kLegacyJsonSuffix)) return korvel::EscapeMode::LegacyJson;
  if (template_path.ends_with(detail::kTomlSuffix)) return korvel::EscapeMode::Toml;
  return korvel::EscapeMode::Standard;
}

std::expected<void, BeadComposeError> validate_output_destination(
    const std::filesystem::path& output_path) {
  if (detail::holds_nul(output_path)) {
    return std::unexpected(BeadComposeError::template_path_invalid(output_path));
  }
  struct stat entry {};
  if (::lstat(output_path.c_str(), &entry) == 0) {
    if (S_ISLNK(entry.st_mode)) {
      return std::unexpected(BeadComposeError::output_path_symlink(output_path));
    }
    // Anything else passes; a directory here makes the final rename fail.
    return {};
  }
  if (errno == ENOENT) return {};  // a first render creates the file
  return std::unexpected(BeadComposeError::template_path_invalid(output_path));
}

std::expected<void, BeadComposeError> render_formula(
    const std::filesystem::path& template_path, const std::filesystem::path& output_path,
    const korvel::json::Object& compose_variables) {
  auto text = detail::render_template(template_path, compose_variables);
  if (!text) return std::unexpected(std::move(text.error()));

  // The destination may have changed while the template rendered.
  if (auto destination = validate_output_destination(output_path); !destination) {
    return std::unexpected(std::move(destination.error()));
  }
  if (!output_path.has_parent_path() || !output_path.has_filename() ||
      output_path.filename() == "." || output_path.filename() == "..") {
    return std::unexpected(BeadComposeError::template_path_invalid(output_path));
  }

  auto temporary_path = next_temporary_output_path(output_path);
  if (!temporary_path) {
    return std::unexpected(BeadComposeError::render_failed(std::move(temporary_path.error())));
  }
  auto temporary = TemporaryOutput::create(std::move(*temporary_path));
  if (!temporary) {
    return std::unexpected(BeadComposeError::render_failed(std::move(temporary.error())));
  }
  // From here on `temporary` removes its file on every failure return.
  if (auto written = temporary->write_all(*text); !written) {
    return std::unexpected(BeadComposeError::render_failed(std::move(written.error())));
  }
  if (auto synced = temporary->sync(); !synced) {
    return std::unexpected(BeadComposeError::render_failed(std::move(synced.error())));
  }
  if (auto committed = temporary->commit(output_path); !committed) {
    return std::unexpected(BeadComposeError::render_failed(std::move(committed.error())));
  }
  return {};
}

}  // namespace korvel_beads
