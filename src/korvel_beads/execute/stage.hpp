// korvel_beads::run_stage_with_output — runs one `bd` stage through a ProcessRunner and records
// its BeadStageReceipt; with run_stage, receipt and failed_last_stage_receipt these are the
// building blocks of the pipeline in execute.cc. A stage that ran and failed is a value (its
// outcome); only a child that could not be run or flooded its output is a BeadComposeError.
#pragma once

#include <cstddef>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "korvel_beads/contract/contract.hpp"
#include "korvel_beads/contract/error.hpp"
#include "korvel_beads/runner/command.hpp"
#include "korvel_beads/runner/process_output.hpp"
#include "korvel_beads/runner/process_runner.hpp"
#include "korvel_beads/runner/runner_error.hpp"

namespace korvel_beads {

// Characters (Unicode scalar values) of each output stream kept in a stage receipt.
inline constexpr std::size_t STAGE_EXCERPT_CHARS = 16384;

// How a stage that ran ended: completed (exit status 0) with the child's output, or failed with
// the outcome naming the stage's failure code.
using StageEnding = std::expected<ProcessOutput, BeadOutcome>;
// The same without the output: success, or the failed outcome.
using StageStatus = std::expected<void, BeadOutcome>;

// At most the first STAGE_EXCERPT_CHARS characters of `text`, never cutting a character. Text
// that is not valid UTF-8 is decoded lossily first.
std::string excerpt(std::string_view text);

// The error that ends the request when the runner could not run `command` for `stage`: the
// output limit, an invalid argument, or an unavailable `bd`, tested in that order.
BeadComposeError classify_runner_error(const RunnerError& error, BeadStage stage,
                                       const CommandSpec& command);

// Runs `command` once. When the child ran, appends the stage receipt to `stages` and returns its
// ending; the stage succeeded exactly when the exit status is present and 0, otherwise it failed
// with the code of `failure`. When the runner failed, appends nothing and returns the classified
// error.
std::expected<StageEnding, BeadComposeError> run_stage_with_output(
    ProcessRunner& runner, BeadStage stage, const CommandSpec& command, BeadComposeError failure,
    std::vector<BeadStageReceipt>& stages);

// run_stage_with_output for stages whose output is not needed.
std::expected<StageStatus, BeadComposeError> run_stage(ProcessRunner& runner, BeadStage stage,
                                                       const CommandSpec& command,
                                                       BeadComposeError failure,
                                                       std::vector<BeadStageReceipt>& stages);

// A receipt with the schema of this contract and the given values.
BeadComposeReceipt receipt(BeadOperation operation, std::filesystem::path rendered_formula,
                           std::vector<BeadStageReceipt> stages, BeadOutcome outcome);

// A Failed receipt with the code of `error`, after marking the last stage Failed with the same
// code (a stage that ran and exited 0 but whose result the pipeline then rejected).
BeadComposeReceipt failed_last_stage_receipt(BeadOperation operation,
                                             std::filesystem::path rendered_formula,
                                             std::vector<BeadStageReceipt> stages,
                                             const BeadComposeError& error);

}  // namespace korvel_beads
