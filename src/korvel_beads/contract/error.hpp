// korvel_beads::BeadComposeError — the catalogue of the 25 ways a composition can fail. Each
// variant has a stable BEADS_... code(), an exact display text message() and the stage_name() it is
// attributed to. Paths keep their original bytes; only the message shows them lossily decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "korvel_beads/contract/contract.hpp"

namespace korvel_beads {

class BeadComposeError {
 public:
  // The variants, numbered in catalogue order.
  enum class Variant : std::uint8_t {
    RequestDeserializationFailed,  // detail
    UnknownSchema,                 // schema
    FormulaNotFile,                // path
    FormulaExtensionUnsupported,   // path
    TemplatePathInvalid,           // path
    TemplateOutsideWorkingDir,     // path
    OutputOutsideWorkingDir,       // path
    OutputPathSymlink,             // path
    PathNotUtf8,                   // path
    VariableKeyInvalid,            // key
    VariableKeyDuplicate,          // key
    VariableValueInvalid,          // key, value
    FormulaNameRequired,
    PourAuthRequired,
    PourAuthInvalid,
    BdUnavailable,           // program
    ProcessArgumentInvalid,  // program, message
    ProcessOutputLimit,      // stage, limit
    RenderFailed,            // detail
    CookFailed,
    WhereFailed,
    FormulaOutsideActiveRegistry,  // path
    FormulaRegistryAmbiguous,      // name
    PreviewPourFailed,
    PourFailed,
  };
  static constexpr std::size_t kVariantCount = 25;

  static BeadComposeError request_deserialization_failed(std::string detail);
  static BeadComposeError unknown_schema(std::string schema);
  static BeadComposeError formula_not_file(std::filesystem::path path);
  static BeadComposeError formula_extension_unsupported(std::filesystem::path path);
  static BeadComposeError template_path_invalid(std::filesystem::path path);
  static BeadComposeError template_outside_working_dir(std::filesystem::path path);
  static BeadComposeError output_outside_working_dir(std::filesystem::path path);
  static BeadComposeError output_path_symlink(std::filesystem::path path);
  static BeadComposeError path_not_utf8(std::filesystem::path path);
  static BeadComposeError variable_key_invalid(std::string key);
  static BeadComposeError variable_key_duplicate(std::string key);
  static BeadComposeError variable_value_invalid(std::string key, std::string value);
  static BeadComposeError formula_name_required();
  static BeadComposeError pour_auth_required();
  static BeadComposeError pour_auth_invalid();
  static BeadComposeError bd_unavailable(std::filesystem::path program);
  static BeadComposeError process_argument_invalid(std::filesystem::path program,
                                                   std::string message);
  static BeadComposeError process_output_limit(BeadStage stage, std::size_t limit);
  static BeadComposeError render_failed(std::string detail);
  static BeadComposeError cook_failed();
  static BeadComposeError where_failed();
  static BeadComposeError formula_outside_active_registry(std::filesystem::path path);
  static BeadComposeError formula_registry_ambiguous(std::string name);
  static BeadComposeError preview_pour_failed();
  static BeadComposeError pour_failed();

  Variant variant() const noexcept { return variant_; }
  // "BEADS_...", one per variant.
  std::string_view code() const noexcept { return code_of(variant_); }
  // The catalogue message with the variant's data filled in; the error's display text.
  std::string message() const;
  // "request", "render", "validate", "resolve_active_registry", "preview_pour" or "pour".
  std::string_view stage_name() const noexcept;

  static std::string_view code_of(Variant variant) noexcept;

  // The variant's data. Each is empty (or nullopt, or 0) for variants that do not carry it.
  // detail, schema, key, name or the runner's message, whichever the variant carries.
  const std::string& text() const noexcept { return text_; }
  // The value of VariableValueInvalid.
  const std::string& value() const noexcept { return value_; }
  // The path of a path variant, or the program of BdUnavailable and ProcessArgumentInvalid,
  // with its original bytes.
  const std::filesystem::path& path() const noexcept { return path_; }
  // The stage of ProcessOutputLimit.
  std::optional<BeadStage> stage() const noexcept { return stage_; }
  // The limit of ProcessOutputLimit.
  std::size_t limit() const noexcept { return limit_; }

  friend bool operator==(const BeadComposeError&, const BeadComposeError&) = default;

 private:
  explicit BeadComposeError(Variant variant) : variant_(variant) {}
  static BeadComposeError make(Variant variant, std::string text, std::filesystem::path path);

  Variant variant_;
  std::string text_;
  std::string value_;
  std::filesystem::path path_;
  std::optional<BeadStage> stage_;
  std::size_t limit_ = 0;
};

// {quoted_value}: the text in double quotes with backslash escapes ("\0", "\t", "\r", "\n", "\\",
// "\"") and "\u{...}" in lowercase hexadecimal for other non-printable characters. Invalid UTF-8
// sequences show as U+FFFD.
std::string quote_value(std::string_view value);

// A path as message text: its bytes with each invalid UTF-8 sequence replaced by U+FFFD.
std::string display_path(const std::filesystem::path& path);

}  // namespace korvel_beads
