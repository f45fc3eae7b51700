// Fd::reset, make_pipe and move_above_stdio: descriptor ownership for the runner.
#include "korvel_beads/runner/fd.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace korvel_beads::detail {

void Fd::reset(int fd) noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

std::expected<Pipe, RunnerError> make_pipe() {
  int ends[2];
#if defined(__APPLE__)
  // macOS has no pipe2. Setting FD_CLOEXEC right after pipe() is the best available there: a
  // posix_spawn on another thread inside that short window could still inherit the ends.
  if (::pipe(ends) != 0) return std::unexpected(RunnerError::from_os(errno));
  Pipe pipe{Fd(ends[0]), Fd(ends[1])};
  for (int fd : {ends[0], ends[1]}) {
    if (::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) {
      return std::unexpected(RunnerError::from_os(errno));
    }
  }
  return pipe;
#else
  if (::pipe2(ends, O_CLOEXEC) != 0) return std::unexpected(RunnerError::from_os(errno));
  return Pipe{Fd(ends[0]), Fd(ends[1])};
#endif
}

std::expected<void, RunnerError> move_above_stdio(Fd& fd) {
  if (fd.get() > 2) return {};
  int moved = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, 3);
  if (moved < 0) return std::unexpected(RunnerError::from_os(errno));
  fd.reset(moved);
  return {};
}

}  // namespace korvel_beads::detail
