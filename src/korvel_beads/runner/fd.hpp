// korvel_beads::detail::Fd — the one owner of a file descriptor (closed when the owner goes), and
// make_pipe(), which creates a pipe whose ends are close-on-exec from birth. Internal to the
// runner.
#pragma once

#include <expected>

#include "korvel_beads/runner/runner_error.hpp"

namespace korvel_beads::detail {

class Fd {
 public:
  Fd() noexcept = default;
  explicit Fd(int fd) noexcept : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }

  int get() const noexcept { return fd_; }
  explicit operator bool() const noexcept { return fd_ >= 0; }
  int release() noexcept {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the held descriptor (if any) and takes `fd`. close() is not repeated on EINTR: the
  // descriptor is gone either way on Linux and macOS, and a retry could close a reused number.
  void reset(int fd = -1) noexcept;

 private:
  int fd_ = -1;
};

struct Pipe {
  Fd read;
  Fd write;
};

// Both ends close-on-exec, so a child that another thread starts at the same moment never inherits
// them (an inherited write end would keep this run's reader waiting for an end-of-file).
std::expected<Pipe, RunnerError> make_pipe();

// A close-on-exec duplicate of `fd` numbered 3 or above, replacing it, when `fd` is 0, 1 or 2
// (possible when the host runs with a standard stream closed). The spawn's dup2 onto 1 and 2 must
// not meet a source that is itself 1 or 2.
std::expected<void, RunnerError> move_above_stdio(Fd& fd);

}  // namespace korvel_beads::detail
