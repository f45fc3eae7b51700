// korvel_beads::detail::retry_on_eintr — the one place where the runner repeats a system call that
// a signal handler interrupted (reads from the pipes, waits for the child). Internal to the runner.
#pragma once

#include <cerrno>
#include <utility>

namespace korvel_beads::detail {

// Calls `call` until it returns something other than -1 with errno EINTR. A host such as the
// Python interpreter installs handlers without SA_RESTART, and any thread may take the signal.
template <class Call>
auto retry_on_eintr(Call&& call) {
  for (;;) {
    auto result = call();
    if (!(result == -1 && errno == EINTR)) return result;
  }
}

}  // namespace korvel_beads::detail
