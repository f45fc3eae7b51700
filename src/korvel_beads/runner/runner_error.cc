// RunnerError: errno → kind, display texts, and the output-limit error.
#include "korvel_beads/runner/runner_error.hpp"

#include <cerrno>
#include <cstring>

namespace korvel_beads {
namespace {

// strerror_r comes in two shapes: XSI (returns int, fills the buffer) and GNU (returns a pointer
// that may or may not be the buffer). Overloads pick the right reading; strerror itself is not
// thread-safe.
[[maybe_unused]] const char* strerror_text(int rc, const char* buf) { return rc == 0 ? buf : ""; }
[[maybe_unused]] const char* strerror_text(const char* text, const char*) { return text; }

std::string describe_errno(int code) {
  char buf[256] = {};
  std::string text = strerror_text(strerror_r(code, buf, sizeof buf), buf);
  if (text.empty()) text = "Unknown error " + std::to_string(code);
  return text;
}

}  // namespace

std::string_view runner_error_kind_name(RunnerErrorKind kind) noexcept {
  switch (kind) {
    case RunnerErrorKind::NotFound:
      return "not_found";
    case RunnerErrorKind::PermissionDenied:
      return "permission_denied";
    case RunnerErrorKind::AlreadyExists:
      return "already_exists";
    case RunnerErrorKind::InvalidInput:
      return "invalid_input";
    case RunnerErrorKind::Interrupted:
      return "interrupted";
    case RunnerErrorKind::WouldBlock:
      return "would_block";
    case RunnerErrorKind::BrokenPipe:
      return "broken_pipe";
    case RunnerErrorKind::TimedOut:
      return "timed_out";
    case RunnerErrorKind::OutOfMemory:
      return "out_of_memory";
    case RunnerErrorKind::NotADirectory:
      return "not_a_directory";
    case RunnerErrorKind::IsADirectory:
      return "is_a_directory";
    case RunnerErrorKind::ExecutableFileBusy:
      return "executable_file_busy";
    case RunnerErrorKind::ArgumentListTooLong:
      return "argument_list_too_long";
    case RunnerErrorKind::ResourceBusy:
      return "resource_busy";
    case RunnerErrorKind::Unsupported:
      return "unsupported";
    case RunnerErrorKind::Other:
      return "other";
  }
  return "other";
}

RunnerErrorKind runner_error_kind_from_errno(int code) noexcept {
  switch (code) {
    case ENOENT:
      return RunnerErrorKind::NotFound;
    case EACCES:
    case EPERM:
      return RunnerErrorKind::PermissionDenied;
    case EEXIST:
      return RunnerErrorKind::AlreadyExists;
    case EINVAL:
      return RunnerErrorKind::InvalidInput;
    case EINTR:
      return RunnerErrorKind::Interrupted;
    case EAGAIN:
      return RunnerErrorKind::WouldBlock;
#if defined(EWOULDBLOCK) && EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
      return RunnerErrorKind::WouldBlock;
#endif
    case EPIPE:
      return RunnerErrorKind::BrokenPipe;
    case ETIMEDOUT:
      return RunnerErrorKind::TimedOut;
    case ENOMEM:
      return RunnerErrorKind::OutOfMemory;
    case ENOTDIR:
      return RunnerErrorKind::NotADirectory;
    case EISDIR:
      return RunnerErrorKind::IsADirectory;
    case ETXTBSY:
      return RunnerErrorKind::ExecutableFileBusy;
    case E2BIG:
      return RunnerErrorKind::ArgumentListTooLong;
    case EBUSY:
      return RunnerErrorKind::ResourceBusy;
    case ENOSYS:
      return RunnerErrorKind::Unsupported;
    default:
      return RunnerErrorKind::Other;
  }
}

RunnerError RunnerError::from_os(int code) {
  return RunnerError(runner_error_kind_from_errno(code), code, std::string());
}

RunnerError RunnerError::custom(RunnerErrorKind kind, std::string message) {
  return RunnerError(kind, std::nullopt, std::move(message));
}

std::string RunnerError::display() const {
  if (!os_error_) return message_;
  return describe_errno(*os_error_) + " (os error " + std::to_string(*os_error_) + ")";
}

RunnerError process_output_limit_error() {
  return RunnerError::custom(RunnerErrorKind::Other, std::string(PROCESS_OUTPUT_LIMIT_MESSAGE));
}

bool is_process_output_limit_error(const RunnerError& error) noexcept {
  return error.kind_ == RunnerErrorKind::Other && !error.os_error_ &&
         error.message_ == PROCESS_OUTPUT_LIMIT_MESSAGE;
}

}  // namespace korvel_beads
