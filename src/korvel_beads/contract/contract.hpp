// korvel_beads contract records: BeadComposeRequest (what a caller asks for), BeadComposeReceipt
// and BeadStageReceipt (what comes back), the outcome values, BeadOperation and BeadStage with
// their fixed text forms, PourAuthorization, the schema identifier BEADS_SCHEMA_V1 and elapsed_ms,
// the one conversion of a duration into the receipts' whole milliseconds. Plain values, no
// behaviour.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "korvel/json/value.hpp"

namespace korvel_beads {

// Version 1 of this contract; a request must carry exactly this text.
inline constexpr std::string_view BEADS_SCHEMA_V1 = "korvel/beads/v1";

// What the caller asks for. The order is significant: the pipeline compares by position
// (PreviewPour or any later operation runs the registry stages).
enum class BeadOperation : std::uint8_t { Render, Validate, PreviewPour, Pour };

// "render", "validate", "preview_pour", "pour".
std::string_view text_form(BeadOperation operation) noexcept;
// The inverse of text_form: exact, case-sensitive, no trimming.
std::optional<BeadOperation> parse_operation(std::string_view text) noexcept;

// One step of the pipeline, in the order the steps run.
enum class BeadStage : std::uint8_t { Render, Validate, ResolveActiveRegistry, PreviewPour, Pour };

// "render", "validate", "resolve_active_registry", "preview_pour", "pour": receipts and errors.
std::string_view text_form(BeadStage stage) noexcept;
// "Render", "Validate", "ResolveActiveRegistry", "PreviewPour", "Pour": only inside the message of
// BEADS_PROCESS_OUTPUT_LIMIT.
std::string_view display_name(BeadStage stage) noexcept;

// Explicit permission to create persistent Beads; a request holds it as an optional.
enum class PourAuthorization : std::uint8_t { CreatePersistentBeads };

// "CreatePersistentBeads".
std::string_view text_form(PourAuthorization authorization) noexcept;

// How one stage ended: Succeeded, Skipped, or Failed with the BEADS_... code of the failure.
class BeadStageOutcome {
 public:
  enum class Kind : std::uint8_t { Succeeded, Skipped, Failed };

  BeadStageOutcome() = default;  // Succeeded
  static BeadStageOutcome succeeded() { return BeadStageOutcome(Kind::Succeeded, {}); }
  static BeadStageOutcome skipped() { return BeadStageOutcome(Kind::Skipped, {}); }
  static BeadStageOutcome failed(std::string code) {
    return BeadStageOutcome(Kind::Failed, std::move(code));
  }

  Kind kind() const noexcept { return kind_; }
  // "succeeded", "skipped", "failed".
  std::string_view kind_text() const noexcept;
  // The code of a Failed outcome; nullopt for the other kinds.
  std::optional<std::string_view> code() const noexcept;

  friend bool operator==(const BeadStageOutcome&, const BeadStageOutcome&) = default;

 private:
  BeadStageOutcome(Kind kind, std::string code) : kind_(kind), code_(std::move(code)) {}

  Kind kind_ = Kind::Succeeded;
  std::string code_;
};

// How the whole request ended: Succeeded, Refused with a code, or Failed with the code of the
// failing stage.
class BeadOutcome {
 public:
  enum class Kind : std::uint8_t { Succeeded, Refused, Failed };

  BeadOutcome() = default;  // Succeeded
  static BeadOutcome succeeded() { return BeadOutcome(Kind::Succeeded, {}); }
  static BeadOutcome refused(std::string code) {
    return BeadOutcome(Kind::Refused, std::move(code));
  }
  static BeadOutcome failed(std::string code) { return BeadOutcome(Kind::Failed, std::move(code)); }

  Kind kind() const noexcept { return kind_; }
  // "succeeded", "refused", "failed".
  std::string_view kind_text() const noexcept;
  // The code of a Refused or Failed outcome; nullopt for Succeeded.
  std::optional<std::string_view> code() const noexcept;

  friend bool operator==(const BeadOutcome&, const BeadOutcome&) = default;

 private:
  BeadOutcome(Kind kind, std::string code) : kind_(kind), code_(std::move(code)) {}

  Kind kind_ = Kind::Succeeded;
  std::string code_;
};

// What the caller asks the pipeline to do. Any combination of values can be represented; the
// pipeline enforces the rules. Paths hold the platform's raw bytes and need not be UTF-8.
struct BeadComposeRequest {
  std::string schema = std::string(BEADS_SCHEMA_V1);
  std::filesystem::path working_directory;
  // The formula template ("template" is a C++ keyword).
  std::filesystem::path template_path;
  std::filesystem::path rendered_formula;
  korvel::json::Object compose_variables;
  BeadOperation operation = BeadOperation::Render;
  std::optional<std::string> formula_name;
  // Ascending byte order of the keys, which is also the order of the "--var" arguments.
  std::map<std::string, std::string> bead_variables;
  std::optional<std::filesystem::path> bd_executable;
  std::optional<PourAuthorization> pour_authorization;

  friend bool operator==(const BeadComposeRequest&, const BeadComposeRequest&) = default;
};

// The record of one stage that ran.
struct BeadStageReceipt {
  BeadStage stage = BeadStage::Render;
  // The bd command line, program first; empty for the render stage.
  std::vector<std::string> argv;
  // Present only when the child exited normally; absent for a signal and for the render stage.
  std::optional<std::int32_t> exit_status;
  std::uint64_t elapsed_ms = 0;
  // At most the first 16384 characters of each decoded stream; empty for the render stage.
  std::string stdout_excerpt;
  std::string stderr_excerpt;
  BeadStageOutcome outcome;

  friend bool operator==(const BeadStageReceipt&, const BeadStageReceipt&) = default;
};

// The result of a request that got past validation.
struct BeadComposeReceipt {
  std::string schema = std::string(BEADS_SCHEMA_V1);
  BeadOperation operation = BeadOperation::Render;
  // Canonical parent of the requested file joined with its file name.
  std::filesystem::path rendered_formula;
  std::vector<BeadStageReceipt> stages;
  BeadOutcome outcome;

  friend bool operator==(const BeadComposeReceipt&, const BeadComposeReceipt&) = default;
};

// seconds * 1000 + subsec_nanos / 1000000, saturating at the largest std::uint64_t.
std::uint64_t elapsed_ms(std::uint64_t seconds, std::uint32_t subsec_nanos) noexcept;
// A duration in whole milliseconds, truncated toward zero; a negative duration gives 0.
std::uint64_t elapsed_ms(std::chrono::nanoseconds elapsed) noexcept;

}  // namespace korvel_beads
