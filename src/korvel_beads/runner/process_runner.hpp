// korvel_beads::ProcessRunner — runs one command to completion and returns what it printed;
// StdProcessRunner is the real one: the child leads a new process group, inherits the environment
// and standard input, its two streams are captured on two reader threads (CAPTURE_LIMIT_BYTES per
// stream), a breach kills the whole group, and the whole group is reaped before run() returns.
#pragma once

#include <expected>

#include "korvel_beads/runner/command.hpp"
#include "korvel_beads/runner/process_output.hpp"
#include "korvel_beads/runner/runner_error.hpp"

namespace korvel_beads {

class ProcessRunner {
 public:
  virtual ~ProcessRunner() = default;
  // Blocks until the command has ended and its process group has been reaped, or until it has
  // failed. No time limit. Never throws.
  virtual std::expected<ProcessOutput, RunnerError> run(const CommandSpec& command) = 0;
};

// Stateless: one instance serves any number of calls from any number of threads.
class StdProcessRunner final : public ProcessRunner {
 public:
  std::expected<ProcessOutput, RunnerError> run(const CommandSpec& command) override;
};

}  // namespace korvel_beads
