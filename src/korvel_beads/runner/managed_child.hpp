// korvel_beads::detail::ManagedChild — a started child that leads its own process group, with the
// read ends of its two output pipes: spawn() starts it, take_stdout()/take_stderr() hand the pipes
// over, kill_group() sends SIGKILL to the group, wait_group() reaps the child and then every
// other process of the group that this process may reap. Internal to the runner.
#pragma once

#include <sys/types.h>

#include <expected>
#include <optional>

#include "korvel_beads/runner/command.hpp"
#include "korvel_beads/runner/fd.hpp"
#include "korvel_beads/runner/runner_error.hpp"

namespace korvel_beads::detail {

class ManagedChild {
 public:
  // Starts `command` with posix_spawn (posix_spawnp for a program name without a slash): in
  // `cwd`, leading a new process group, SIGPIPE at its default action, the host's environment and
  // standard input, standard output and standard error on two fresh pipes. A NUL byte in the
  // program, an argument or `cwd` starts nothing and fails with kind InvalidInput.
  static std::expected<ManagedChild, RunnerError> spawn(const CommandSpec& command);

  ManagedChild(ManagedChild&& other) noexcept;
  ManagedChild& operator=(ManagedChild&&) = delete;
  ManagedChild(const ManagedChild&) = delete;
  ManagedChild& operator=(const ManagedChild&) = delete;
  // A child whose status was never collected (only after a failed kill or wait) is killed and
  // reaped here, so that no path leaves it running or as a zombie.
  ~ManagedChild();

  pid_t pid() const noexcept { return pid_; }

  // The pipe's read end on the first call, nothing afterwards.
  std::optional<Fd> take_stdout() noexcept;
  std::optional<Fd> take_stderr() noexcept;

  // SIGKILL to every process of the child's group; returns at once, without waiting. When the
  // group is empty because the child moved itself to another group, the child itself is killed.
  std::expected<void, RunnerError> kill_group();

  // Waits for the child and records its raw wait status, then reaps the rest of the group until
  // the system reports ECHILD. Later calls return the recorded status at once.
  std::expected<int, RunnerError> wait_group();

 private:
  ManagedChild(pid_t pid, Fd out, Fd err) noexcept
      : pid_(pid), stdout_(std::move(out)), stderr_(std::move(err)) {}

  pid_t pid_ = -1;
  std::optional<Fd> stdout_;
  std::optional<Fd> stderr_;
  std::optional<int> status_;
  // Set when the child can no longer be ours to kill: its status was collected, here or (ECHILD)
  // by someone else, e.g. a host that ignores SIGCHLD. Its id may then belong to another process.
  bool gone_ = false;
};

}  // namespace korvel_beads::detail
