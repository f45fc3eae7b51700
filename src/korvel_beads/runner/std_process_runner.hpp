// korvel_beads::detail::run_command — the body of StdProcessRunner::run with the way reader threads
// are started passed in, so that tests can make a thread fail to start or die. Internal to the
// runner.
#pragma once

#include <expected>

#include "korvel_beads/runner/capture.hpp"
#include "korvel_beads/runner/command.hpp"
#include "korvel_beads/runner/process_output.hpp"
#include "korvel_beads/runner/runner_error.hpp"

namespace korvel_beads::detail {

std::expected<ProcessOutput, RunnerError> run_command(const CommandSpec& command,
                                                      const CaptureSpawner& spawn);

}  // namespace korvel_beads::detail
