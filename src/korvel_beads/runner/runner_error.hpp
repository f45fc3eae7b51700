// korvel_beads::RunnerError — the one error type of ProcessRunner::run: a kind from the usual
// classification of operating-system errors and a display text. OS errors keep their error number
// and display as "{description} (os error {code})"; the runner's own errors are of the kind Other
// (or InvalidInput) and display exactly their message. Also process_output_limit_error() and
// is_process_output_limit_error(), which the stage pipeline uses to recognise a flooded output.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace korvel_beads {

enum class RunnerErrorKind {
  NotFound,
  PermissionDenied,
  AlreadyExists,
  InvalidInput,
  Interrupted,
  WouldBlock,
  BrokenPipe,
  TimedOut,
  OutOfMemory,
  NotADirectory,
  IsADirectory,
  ExecutableFileBusy,
  ArgumentListTooLong,
  ResourceBusy,
  Unsupported,
  Other,
};

// The kind's name in lower snake case, e.g. "not_found".
std::string_view runner_error_kind_name(RunnerErrorKind kind) noexcept;

// The kind that an errno value belongs to; Other for numbers without a closer kind.
RunnerErrorKind runner_error_kind_from_errno(int code) noexcept;

class RunnerError {
 public:
  // An operating-system error: the kind follows from the number.
  static RunnerError from_os(int code);
  // An error the runner makes itself; `message` is its whole display text.
  static RunnerError custom(RunnerErrorKind kind, std::string message);

  RunnerErrorKind kind() const noexcept { return kind_; }
  // The error number when the error came from the operating system.
  std::optional<int> os_error() const noexcept { return os_error_; }
  // "{strerror text} (os error {code})" for OS errors, else the message exactly.
  std::string display() const;

  friend bool operator==(const RunnerError&, const RunnerError&) = default;
  friend bool is_process_output_limit_error(const RunnerError& error) noexcept;

 private:
  RunnerError(RunnerErrorKind kind, std::optional<int> os_error, std::string message)
      : kind_(kind), os_error_(os_error), message_(std::move(message)) {}

  RunnerErrorKind kind_;
  std::optional<int> os_error_;
  std::string message_;  // empty for OS errors: their text comes from the system when displayed
};

inline constexpr std::string_view PROCESS_OUTPUT_LIMIT_MESSAGE =
    "korvel-beads process output limit exceeded";

// Kind Other, text "korvel-beads process output limit exceeded".
RunnerError process_output_limit_error();

// True exactly for a runner-made error of kind Other whose text is the output-limit text; never
// for an OS error, whatever its description says. (Declared as a friend of RunnerError above.)
bool is_process_output_limit_error(const RunnerError& error) noexcept;

}  // namespace korvel_beads
