// korvel_beads::run_stage_with_output — one `bd` stage: run, classify runner failures, record the
// stage receipt with excerpts and elapsed milliseconds.
#include "korvel_beads/execute/stage.hpp"

#include <utility>

#include "korvel/text/utf8.hpp"

namespace korvel_beads {

std::string excerpt(std::string_view text) {
  if (korvel::text::is_valid_utf8(text)) {
    return std::string(korvel::text::first_chars(text, STAGE_EXCERPT_CHARS));
  }
  // The standard runner only hands over decoded text; another runner might not.
  std::string decoded = korvel::text::lossy_utf8(text);
  return std::string(korvel::text::first_chars(decoded, STAGE_EXCERPT_CHARS));
}

BeadComposeError classify_runner_error(const RunnerError& error, BeadStage stage,
                                       const CommandSpec& command) {
  if (is_process_output_limit_error(error)) {
    return BeadComposeError::process_output_limit(stage, CAPTURE_LIMIT_BYTES);
  }
  if (error.kind() == RunnerErrorKind::InvalidInput) {
    return BeadComposeError::process_argument_invalid(command.program, error.display());
  }
  return BeadComposeError::bd_unavailable(command.program);
}

std::expected<StageEnding, BeadComposeError> run_stage_with_output(
    ProcessRunner& runner, BeadStage stage, const CommandSpec& command, BeadComposeError failure,
    std::vector<BeadStageReceipt>& stages) {
  auto output = runner.run(command);
  if (!output) return std::unexpected(classify_runner_error(output.error(), stage, command));

  const bool succeeded = output->exit_status.has_value() && *output->exit_status == 0;
  BeadStageReceipt record;
  record.stage = stage;
  record.argv = command.argv();
  record.exit_status = output->exit_status;
  record.elapsed_ms = elapsed_ms(output->elapsed);
  record.stdout_excerpt = excerpt(output->stdout);
  record.stderr_excerpt = excerpt(output->stderr);
  record.outcome = succeeded ? BeadStageOutcome::succeeded()
                             : BeadStageOutcome::failed(std::string(failure.code()));
  stages.push_back(std::move(record));

  if (!succeeded) {
    return StageEnding(std::unexpect, BeadOutcome::failed(std::string(failure.code())));
  }
  return StageEnding(std::move(*output));
}

std::expected<StageStatus, BeadComposeError> run_stage(ProcessRunner& runner, BeadStage stage,
                                                       const CommandSpec& command,
                                                       BeadComposeError failure,
                                                       std::vector<BeadStageReceipt>& stages) {
  auto ending = run_stage_with_output(runner, stage, command, std::move(failure), stages);
  if (!ending) return std::unexpected(std::move(ending.error()));
  if (!*ending) return StageStatus(std::unexpect, std::move(ending->error()));
  return StageStatus();
}

BeadComposeReceipt receipt(BeadOperation operation, std::filesystem::path rendered_formula,
                           std::vector<BeadStageReceipt> stages, BeadOutcome outcome) {
  BeadComposeReceipt result;
  result.schema = std::string(BEADS_SCHEMA_V1);
  result.operation = operation;
  result.rendered_formula = std::move(rendered_formula);
  result.stages = std::move(stages);
  result.outcome = std::move(outcome);
  return result;
}

BeadComposeReceipt failed_last_stage_receipt(BeadOperation operation,
                                             std::filesystem::path rendered_formula,
                                             std::vector<BeadStageReceipt> stages,
                                             const BeadComposeError& error) {
  const std::string code(error.code());
  if (!stages.empty()) stages.back().outcome = BeadStageOutcome::failed(code);
  return receipt(operation, std::move(rendered_formula), std::move(stages),
                 BeadOutcome::failed(code));
}

}  // namespace korvel_beads
