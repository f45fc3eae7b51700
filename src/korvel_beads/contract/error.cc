// The BeadComposeError catalogue: one code, message template and stage attribution per variant,
// and the two ways data is shown in messages (quote_value, display_path).
#include "korvel_beads/contract/error.hpp"

#include <array>
#include <cstdint>

#include "korvel/text/utf8.hpp"

namespace korvel_beads {
namespace {

using Variant = BeadComposeError::Variant;

struct CatalogueEntry {
  std::string_view code;
  std::string_view stage;  // empty for ProcessOutputLimit, which reports its own stage
};

constexpr std::array<CatalogueEntry, BeadComposeError::kVariantCount> kCatalogue = {{
    {"BEADS_REQUEST_DESERIALIZATION_FAILED", "request"},
    {"BEADS_UNKNOWN_SCHEMA", "request"},
    {"BEADS_FORMULA_NOT_FILE", "request"},
    {"BEADS_FORMULA_EXTENSION_UNSUPPORTED", "request"},
    {"BEADS_TEMPLATE_PATH_INVALID", "request"},
    {"BEADS_TEMPLATE_OUTSIDE_WORKING_DIR", "request"},
    {"BEADS_OUTPUT_OUTSIDE_WORKING_DIR", "request"},
    {"BEADS_OUTPUT_PATH_SYMLINK", "request"},
    {"BEADS_PATH_NOT_UTF8", "request"},
    {"BEADS_VARIABLE_KEY_INVALID", "request"},
    {"BEADS_VARIABLE_KEY_DUPLICATE", "request"},
    {"BEADS_VARIABLE_VALUE_INVALID", "request"},
    {"BEADS_FORMULA_NAME_REQUIRED", "request"},
    {"BEADS_POUR_AUTH_REQUIRED", "request"},
    {"BEADS_POUR_AUTH_INVALID", "request"},
    {"BEADS_BD_UNAVAILABLE", "validate"},
    {"BEADS_PROCESS_ARGUMENT_INVALID", "validate"},
    {"BEADS_PROCESS_OUTPUT_LIMIT", ""},
    {"BEADS_RENDER_FAILED", "render"},
    {"BEADS_COOK_FAILED", "validate"},
    {"BEADS_WHERE_FAILED", "resolve_active_registry"},
    {"BEADS_FORMULA_OUTSIDE_ACTIVE_REGISTRY", "resolve_active_registry"},
    {"BEADS_FORMULA_REGISTRY_AMBIGUOUS", "resolve_active_registry"},
    {"BEADS_PREVIEW_POUR_FAILED", "preview_pour"},
    {"BEADS_POUR_FAILED", "pour"},
}};

const CatalogueEntry& entry(Variant variant) noexcept {
  return kCatalogue[static_cast<std::size_t>(variant)];
}

// Characters that would not show as themselves in a message: controls, separators other than the
// plain blank, invisible format characters, surrogates, private use and noncharacters.
bool is_printable(char32_t c) noexcept {
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return false;  // C0, DEL, C1
  if (c < 0x7F) return true;
  switch (c) {
    case 0x00A0:
    case 0x00AD:
    case 0x061C:
    case 0x180E:
    case 0x1680:
    case 0x202F:
    case 0x205F:
    case 0x3000:
    case 0xFEFF:
      return false;
    default:
      break;
  }
  if (c >= 0x0600 && c <= 0x0605) return false;  // Arabic number signs (format)
  if (c >= 0x2000 && c <= 0x200F) return false;  // spaces, zero width, direction marks
  if (c >= 0x2028 && c <= 0x202E) return false;  // line/paragraph separators, embeddings
  if (c >= 0x2060 && c <= 0x206F) return false;  // invisible operators, isolates
  if (c >= 0xD800 && c <= 0xDFFF) return false;
  if (c >= 0xE000 && c <= 0xF8FF) return false;    // private use
  if (c >= 0xFDD0 && c <= 0xFDEF) return false;    // noncharacters
  if ((c & 0xFFFE) == 0xFFFE) return false;        // U+xFFFE, U+xFFFF
  if (c >= 0xFFF9 && c <= 0xFFFB) return false;    // interlinear annotation
  if (c >= 0xE0000 && c <= 0xE0FFF) return false;  // tags, variation selectors supplement
  if (c >= 0xF0000) return false;                  // supplementary private use
  return true;
}

// Decodes the valid UTF-8 sequence at `i` (the text has been made valid), advancing `i`.
char32_t next_code_point(std::string_view s, std::size_t& i) noexcept {
  const auto b0 = static_cast<std::uint8_t>(s[i]);
  std::size_t len = b0 < 0x80 ? 1 : b0 < 0xE0 ? 2 : b0 < 0xF0 ? 3 : 4;
  char32_t c = len == 1 ? b0 : len == 2 ? (b0 & 0x1F) : len == 3 ? (b0 & 0x0F) : (b0 & 0x07);
  for (std::size_t k = 1; k < len; ++k) c = (c << 6) | (static_cast<std::uint8_t>(s[i + k]) & 0x3F);
  i += len;
  return c;
}

void append_hex(char32_t c, std::string& out) {
  constexpr char kDigits[] = "0123456789abcdef";
  char buf[8];
  int n = 0;
  do {
    buf[n++] = kDigits[c & 0xF];
    c >>= 4;
  } while (c != 0);
  while (n > 0) out.push_back(buf[--n]);
}

}  // namespace

std::string quote_value(std::string_view value) {
  const std::string text = korvel::text::lossy_utf8(value);
  std::string out = "\"";
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t start = i;
    const char32_t c = next_code_point(text, i);
    switch (c) {
      case U'\0':
        out += "\\0";
        continue;
      case U'\t':
        out += "\\t";
        continue;
      case U'\r':
        out += "\\r";
        continue;
      case U'\n':
        out += "\\n";
        continue;
      case U'\\':
        out += "\\\\";
        continue;
      case U'"':
        out += "\\\"";
        continue;
      default:
        break;
    }
    if (is_printable(c)) {
      out.append(text, start, i - start);
    } else {
      out += "\\u{";
      append_hex(c, out);
      out += '}';
    }
  }
  out += '"';
  return out;
}

std::string display_path(const std::filesystem::path& path) {
  return korvel::text::lossy_utf8(path.native());
}

std::string_view BeadComposeError::code_of(Variant variant) noexcept { return entry(variant).code; }

std::string_view BeadComposeError::stage_name() const noexcept {
  if (variant_ == Variant::ProcessOutputLimit && stage_) return text_form(*stage_);
  return entry(variant_).stage;
}

std::string BeadComposeError::message() const {
  switch (variant_) {
    case Variant::RequestDeserializationFailed:
      return "invalid Beads composition request: " + text_;
    case Variant::UnknownSchema:
      return "unsupported Beads composition schema `" + text_ + "`";
    case Variant::FormulaNotFile:
      return "formula path is not a file: " + display_path(path_);
    case Variant::FormulaExtensionUnsupported:
      return "unsupported formula extension: " + display_path(path_);
    case Variant::TemplatePathInvalid:
      return "invalid template path: " + display_path(path_);
    case Variant::TemplateOutsideWorkingDir:
      return "template path escapes working directory: " + display_path(path_);
    case Variant::OutputOutsideWorkingDir:
      return "output path escapes working directory: " + display_path(path_);
    case Variant::OutputPathSymlink:
      return "rendered output path is a symbolic link: " + display_path(path_);
    case Variant::PathNotUtf8:
      return "Beads composition paths must be valid UTF-8: " + display_path(path_);
    case Variant::VariableKeyInvalid:
      return "invalid Beads variable key `" + text_ + "`";
    case Variant::VariableKeyDuplicate:
      return "duplicate Beads variable key `" + text_ + "`";
    case Variant::VariableValueInvalid:
      return "invalid Beads variable value for `" + text_ + "`: " + quote_value(value_);
    case Variant::FormulaNameRequired:
      return "formula name is required for pour operations";
    case Variant::PourAuthRequired:
      return "persistent Beads creation requires explicit authorization";
    case Variant::PourAuthInvalid:
      return "persistent Beads creation authorization is invalid";
    case Variant::BdUnavailable:
      return "Beads executable is unavailable: " + display_path(path_);
    case Variant::ProcessArgumentInvalid:
      return "invalid argument for Beads executable `" + display_path(path_) + "`: " + text_;
    case Variant::ProcessOutputLimit:
      return "Beads " + std::string(display_name(stage_.value_or(BeadStage::Validate))) +
             " output exceeded the " + std::to_string(limit_) + "-byte capture limit";
    case Variant::RenderFailed:
      return "formula rendering failed: " + text_;
    case Variant::CookFailed:
      return "Beads formula validation failed";
    case Variant::WhereFailed:
      return "active Beads registry resolution failed";
    case Variant::FormulaOutsideActiveRegistry:
      return "formula is outside the active Beads registry: " + display_path(path_);
    case Variant::FormulaRegistryAmbiguous:
      return "active Beads registry has ambiguous formula `" + text_ + "`";
    case Variant::PreviewPourFailed:
      return "Beads pour preview failed";
    case Variant::PourFailed:
      return "persistent Beads pour failed";
  }
  return std::string();
}

BeadComposeError BeadComposeError::make(Variant variant, std::string text,
                                        std::filesystem::path path) {
  BeadComposeError e(variant);
  e.text_ = std::move(text);
  e.path_ = std::move(path);
  return e;
}

BeadComposeError BeadComposeError::request_deserialization_failed(std::string detail) {
  return make(Variant::RequestDeserializationFailed, std::move(detail), {});
}
BeadComposeError BeadComposeError::unknown_schema(std::string schema) {
  return make(Variant::UnknownSchema, std::move(schema), {});
}
BeadComposeError BeadComposeError::variable_key_invalid(std::string key) {
  return make(Variant::VariableKeyInvalid, std::move(key), {});
}
BeadComposeError BeadComposeError::variable_key_duplicate(std::string key) {
  return make(Variant::VariableKeyDuplicate, std::move(key), {});
}
BeadComposeError BeadComposeError::render_failed(std::string detail) {
  return make(Variant::RenderFailed, std::move(detail), {});
}
BeadComposeError BeadComposeError::formula_registry_ambiguous(std::string name) {
  return make(Variant::FormulaRegistryAmbiguous, std::move(name), {});
}
BeadComposeError BeadComposeError::formula_not_file(std::filesystem::path path) {
  return make(Variant::FormulaNotFile, {}, std::move(path));
}
BeadComposeError BeadComposeError::formula_extension_unsupported(std::filesystem::path path) {
  return make(Variant::FormulaExtensionUnsupported, {}, std::move(path));
}
BeadComposeError BeadComposeError::template_path_invalid(std::filesystem::path path) {
  return make(Variant::TemplatePathInvalid, {}, std::move(path));
}
BeadComposeError BeadComposeError::template_outside_working_dir(std::filesystem::path path) {
  return make(Variant::TemplateOutsideWorkingDir, {}, std::move(path));
}
BeadComposeError BeadComposeError::output_outside_working_dir(std::filesystem::path path) {
  return make(Variant::OutputOutsideWorkingDir, {}, std::move(path));
}
BeadComposeError BeadComposeError::output_path_symlink(std::filesystem::path path) {
  return make(Variant::OutputPathSymlink, {}, std::move(path));
}
BeadComposeError BeadComposeError::path_not_utf8(std::filesystem::path path) {
  return make(Variant::PathNotUtf8, {}, std::move(path));
}
BeadComposeError BeadComposeError::bd_unavailable(std::filesystem::path program) {
  return make(Variant::BdUnavailable, {}, std::move(program));
}
BeadComposeError BeadComposeError::formula_outside_active_registry(std::filesystem::path path) {
  return make(Variant::FormulaOutsideActiveRegistry, {}, std::move(path));
}
BeadComposeError BeadComposeError::formula_name_required() {
  return BeadComposeError(Variant::FormulaNameRequired);
}
BeadComposeError BeadComposeError::pour_auth_required() {
  return BeadComposeError(Variant::PourAuthRequired);
}
BeadComposeError BeadComposeError::pour_auth_invalid() {
  return BeadComposeError(Variant::PourAuthInvalid);
}
BeadComposeError BeadComposeError::cook_failed() { return BeadComposeError(Variant::CookFailed); }
BeadComposeError BeadComposeError::where_failed() { return BeadComposeError(Variant::WhereFailed); }
BeadComposeError BeadComposeError::preview_pour_failed() {
  return BeadComposeError(Variant::PreviewPourFailed);
}
BeadComposeError BeadComposeError::pour_failed() { return BeadComposeError(Variant::PourFailed); }

BeadComposeError BeadComposeError::variable_value_invalid(std::string key, std::string value) {
  BeadComposeError e = make(Variant::VariableValueInvalid, std::move(key), {});
  e.value_ = std::move(value);
  return e;
}

BeadComposeError BeadComposeError::process_argument_invalid(std::filesystem::path program,
                                                            std::string message) {
  return make(Variant::ProcessArgumentInvalid, std::move(message), std::move(program));
}

BeadComposeError BeadComposeError::process_output_limit(BeadStage stage, std::size_t limit) {
  BeadComposeError e(Variant::ProcessOutputLimit);
  e.stage_ = stage;
  e.limit_ = limit;
  return e;
}

}  // namespace korvel_beads
