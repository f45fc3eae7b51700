// korvel_beads::execute_bead_request — the stage pipeline: validates a request completely (nothing
// is written and no child starts before it passes), runs the render stage, then the `bd` stages the
// operation asks for (validate; resolve the active registry; preview or persistent pour), and
// returns the receipt of every stage that ran.
#include "korvel_beads/execute/execute.hpp"

#include <algorithm>
#include <chrono>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "korvel_beads/beads/active_registry.hpp"
#include "korvel_beads/beads/command_lines.hpp"
#include "korvel_beads/beads/formula_path.hpp"
#include "korvel_beads/beads/variables.hpp"
#include "korvel_beads/execute/stage.hpp"
#include "korvel_beads/render/formula_render.hpp"

namespace korvel_beads {
namespace detail {
namespace {

// The operating system sees a path only up to its first NUL byte, so a path holding one would be
// checked as one file and used as another (a ".formula.toml" name could end up writing a file
// without that suffix). Such a path is never usable.
bool holds_nul(const std::filesystem::path& path) {
  return path.native().find('\0') != std::filesystem::path::string_type::npos;
}

std::expected<std::filesystem::path, BeadComposeError> canonical_or_invalid(
    const std::filesystem::path& path) {
  std::error_code ec;
  std::filesystem::path resolved;
  if (!holds_nul(path)) resolved = std::filesystem::canonical(path, ec);
  if (holds_nul(path) || ec) return std::unexpected(BeadComposeError::template_path_invalid(path));
  return resolved;
}

// Whole-component prefix test on canonical paths: /w/ab does not start with /w/a, and a path
// starts with itself.
bool starts_with_components(const std::filesystem::path& path,
                            const std::filesystem::path& prefix) {
  auto mismatch = std::mismatch(prefix.begin(), prefix.end(), path.begin(), path.end());
  return mismatch.first == prefix.end();
}

// The paths that validation resolved; everything after validation works on these.
struct ValidatedRequest {
  std::filesystem::path working_directory;  // canonical
  std::filesystem::path template_path;      // canonical, a regular file inside working_directory
  std::filesystem::path rendered_formula;   // canonical parent joined with the file name
};

// Steps 1 to 16: the first failure ends the request before anything is written or started.
std::expected<ValidatedRequest, BeadComposeError> validate_request(
    const BeadComposeRequest& request) {
  if (request.schema != BEADS_SCHEMA_V1) {
    return std::unexpected(BeadComposeError::unknown_schema(request.schema));
  }
  if (request.operation >= BeadOperation::PreviewPour) {
    if (!request.formula_name.has_value() || request.formula_name->empty()) {
      return std::unexpected(BeadComposeError::formula_name_required());
    }
    if (request.operation == BeadOperation::Pour && !request.pour_authorization.has_value()) {
      return std::unexpected(BeadComposeError::pour_auth_required());
    }
  }
  if (auto checked = validate_bead_variables(request.bead_variables); !checked) {
    return std::unexpected(std::move(checked.error()));
  }

  ValidatedRequest valid;
  auto working_directory = canonical_or_invalid(request.working_directory);
  if (!working_directory) return std::unexpected(std::move(working_directory.error()));
  // It must be a directory: every bd child starts in it, and a regular file would pass the
  // containment test for a template that is that very file.
  std::error_code ec;
  if (!std::filesystem::is_directory(*working_directory, ec)) {
    return std::unexpected(BeadComposeError::template_path_invalid(request.working_directory));
  }
  valid.working_directory = std::move(*working_directory);
  auto template_path = canonical_or_invalid(request.template_path);
  if (!template_path) return std::unexpected(std::move(template_path.error()));
  valid.template_path = std::move(*template_path);

  if (auto utf8 = validate_utf8_path(valid.working_directory); !utf8) {
    return std::unexpected(std::move(utf8.error()));
  }
  if (auto utf8 = validate_utf8_path(valid.template_path); !utf8) {
    return std::unexpected(std::move(utf8.error()));
  }
  if (!std::filesystem::is_regular_file(valid.template_path, ec)) {
    return std::unexpected(BeadComposeError::formula_not_file(valid.template_path));
  }
  if (!starts_with_components(valid.template_path, valid.working_directory)) {
    return std::unexpected(BeadComposeError::template_outside_working_dir(valid.template_path));
  }

  if (holds_nul(request.rendered_formula)) {
    return std::unexpected(BeadComposeError::template_path_invalid(request.rendered_formula));
  }
  auto rendered = normalize_output(request.rendered_formula);
  if (!rendered) return std::unexpected(std::move(rendered.error()));
  valid.rendered_formula = std::move(*rendered);
  if (auto utf8 = validate_utf8_path(valid.rendered_formula); !utf8) {
    return std::unexpected(std::move(utf8.error()));
  }
  if (request.bd_executable.has_value()) {
    if (auto utf8 = validate_utf8_path(*request.bd_executable); !utf8) {
      return std::unexpected(std::move(utf8.error()));
    }
  }
  if (!is_formula_path(valid.rendered_formula)) {
    return std::unexpected(BeadComposeError::formula_extension_unsupported(valid.rendered_formula));
  }
  // The pour operations' formula must lie in the active registry instead, which may be elsewhere;
  // the resolve stage judges it.
  if (request.operation <= BeadOperation::Validate &&
      !starts_with_components(valid.rendered_formula, valid.working_directory)) {
    return std::unexpected(BeadComposeError::output_outside_working_dir(valid.rendered_formula));
  }
  if (auto destination = validate_output_destination(valid.rendered_formula); !destination) {
    return std::unexpected(std::move(destination.error()));
  }
  return valid;
}

}  // namespace
}  // namespace detail

std::expected<BeadComposeReceipt, BeadComposeError> execute_bead_request(
    const BeadComposeRequest& request) {
  StdProcessRunner runner;
  return execute_bead_request_with_runner(request, runner);
}

std::expected<BeadComposeReceipt, BeadComposeError> execute_bead_request_with_runner(
    const BeadComposeRequest& request, ProcessRunner& runner) {
  auto validated = detail::validate_request(request);
  if (!validated) return std::unexpected(std::move(validated.error()));
  const detail::ValidatedRequest& valid = *validated;
  const BeadOperation operation = request.operation;
  std::vector<BeadStageReceipt> stages;

  // Render stage.
  const auto render_start = std::chrono::steady_clock::now();
  auto rendered =
      render_formula(valid.template_path, valid.rendered_formula, request.compose_variables);
  BeadStageReceipt render_record;
  render_record.stage = BeadStage::Render;
  render_record.elapsed_ms = elapsed_ms(std::chrono::steady_clock::now() - render_start);
  if (!rendered) {
    // Only the code is kept; the stage ran, so this is a receipt, not an error.
    std::string code(rendered.error().code());
    render_record.outcome = BeadStageOutcome::failed(code);
    stages.push_back(std::move(render_record));
    return receipt(operation, valid.rendered_formula, std::move(stages),
                   BeadOutcome::failed(std::move(code)));
  }
  render_record.outcome = BeadStageOutcome::succeeded();
  stages.push_back(std::move(render_record));
  if (operation == BeadOperation::Render) {
    return receipt(operation, valid.rendered_formula, std::move(stages), BeadOutcome::succeeded());
  }

  // Validate stage.
  const std::filesystem::path program = bd_program(request);
  const CommandSpec cook{program, validate_args(valid.rendered_formula, request),
                         valid.working_directory};
  auto cooked = run_stage_with_output(runner, BeadStage::Validate, cook,
                                      BeadComposeError::cook_failed(), stages);
  if (!cooked) return std::unexpected(std::move(cooked.error()));
  if (!*cooked) {
    return receipt(operation, valid.rendered_formula, std::move(stages),
                   std::move(cooked->error()));
  }
  if (operation == BeadOperation::Validate) {
    return receipt(operation, valid.rendered_formula, std::move(stages), BeadOutcome::succeeded());
  }

  // Resolve stage: the registry checks turn the recorded, successful stage into a failed one.
  const CommandSpec where{program, resolve_args(), valid.working_directory};
  auto resolved = run_stage_with_output(runner, BeadStage::ResolveActiveRegistry, where,
                                        BeadComposeError::where_failed(), stages);
  if (!resolved) return std::unexpected(std::move(resolved.error()));
  if (!*resolved) {
    return receipt(operation, valid.rendered_formula, std::move(stages),
                   std::move(resolved->error()));
  }
  auto beads_dir = parse_active_beads_dir((*resolved)->stdout);
  if (!beads_dir.has_value()) {
    return failed_last_stage_receipt(operation, valid.rendered_formula, std::move(stages),
                                     BeadComposeError::where_failed());
  }
  // A relative directory resolves against this process's current directory, not the child's.
  auto canonical_beads_dir = detail::canonical_or_invalid(*beads_dir);
  if (!canonical_beads_dir) {
    return failed_last_stage_receipt(operation, valid.rendered_formula, std::move(stages),
                                     BeadComposeError::where_failed());
  }
  const std::string& formula_name = *request.formula_name;
  if (auto in_registry =
          validate_active_registry_path(formula_name, valid.rendered_formula, *canonical_beads_dir);
      !in_registry) {
    return failed_last_stage_receipt(operation, valid.rendered_formula, std::move(stages),
                                     in_registry.error());
  }

  // Pour stage, preview or persistent.
  const bool preview = operation == BeadOperation::PreviewPour;
  const CommandSpec pour{program, pour_args(formula_name, request, preview),
                         valid.working_directory};
  auto poured =
      preview ? run_stage(runner, BeadStage::PreviewPour, pour,
                          BeadComposeError::preview_pour_failed(), stages)
              : run_stage(runner, BeadStage::Pour, pour, BeadComposeError::pour_failed(), stages);
  if (!poured) return std::unexpected(std::move(poured.error()));
  if (!*poured) {
    return receipt(operation, valid.rendered_formula, std::move(stages),
                   std::move(poured->error()));
  }
  return receipt(operation, valid.rendered_formula, std::move(stages), BeadOutcome::succeeded());
}

}  // namespace korvel_beads
