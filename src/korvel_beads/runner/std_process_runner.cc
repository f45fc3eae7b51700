// StdProcessRunner::run — start the child, capture both streams on two reader threads, kill the
// group on a limit breach or a failed read, reap the whole group, decode the output.
#include "korvel_beads/runner/std_process_runner.hpp"

#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <exception>
#include <new>
#include <optional>
#include <utility>

#include "korvel/text/utf8.hpp"
#include "korvel_beads/runner/managed_child.hpp"
#include "korvel_beads/runner/process_runner.hpp"

namespace korvel_beads {
namespace detail {
namespace {

RunnerError runner_error(const char* message) {
  return RunnerError::custom(RunnerErrorKind::Other, message);
}

// A reader that could not start: the child must not outlive the call, so it is killed and reaped
// (errors there are secondary to the one reported); a reader already started then sees
// end-of-file and is joined.
RunnerError abandon(ManagedChild& child, ReaderThread* started, RunnerError error) {
  (void)child.kill_group();
  (void)child.wait_group();
  if (started) (void)join_capture(*started);
  return error;
}

}  // namespace

std::expected<ProcessOutput, RunnerError> run_command(const CommandSpec& command,
                                                      const CaptureSpawner& spawn) {
  const auto start = std::chrono::steady_clock::now();

  auto spawned = ManagedChild::spawn(command);
  if (!spawned) return std::unexpected(spawned.error());
  ManagedChild& child = *spawned;

  std::optional<Fd> out = child.take_stdout();
  if (!out) return std::unexpected(runner_error("child stdout was not captured"));
  std::optional<Fd> err = child.take_stderr();
  if (!err) return std::unexpected(runner_error("child stderr was not captured"));

  auto [sender, receiver] = make_event_queue<CaptureEvent>();
  CaptureSender err_sender = sender;
  auto out_reader = spawn(std::move(*out), OutputStream::Stdout, std::move(sender));
  if (!out_reader) return std::unexpected(abandon(child, nullptr, out_reader.error()));
  auto err_reader = spawn(std::move(*err), OutputStream::Stderr, std::move(err_sender));
  if (!err_reader) return std::unexpected(abandon(child, &*out_reader, err_reader.error()));

  CaptureTracker tracker;
  bool killed = false;
  while (tracker.pending()) {
    Received<CaptureEvent> next = receiver.receive_for(EVENT_WAIT);
    if (next.status == ReceiveStatus::Received) {
      tracker.apply(std::move(*next.item));
    } else if (next.status == ReceiveStatus::Disconnected) {
      // Both readers are gone with a slot still pending: one of them died.
      if (!killed) {
        if (auto k = child.kill_group(); !k) return std::unexpected(k.error());
        if (auto w = child.wait_group(); !w) return std::unexpected(w.error());
        killed = true;
      }
      break;
    }
    const CaptureState state = tracker.state();
    if ((state == CaptureState::OverLimit || state == CaptureState::CaptureFailed) && !killed) {
      if (auto k = child.kill_group(); !k) return std::unexpected(k.error());
      if (auto w = child.wait_group(); !w) return std::unexpected(w.error());
      killed = true;
    }
  }

  auto out_joined = join_capture(*out_reader);
  auto err_joined = join_capture(*err_reader);
  if (!out_joined) return std::unexpected(out_joined.error());
  if (!err_joined) return std::unexpected(err_joined.error());

  if (tracker.pending()) {
    return std::unexpected(
        runner_error("child output capture closed before both streams completed"));
  }
  if (tracker.state() == CaptureState::OverLimit) {
    return std::unexpected(process_output_limit_error());
  }
  CaptureResult& out_result = *tracker.slot(OutputStream::Stdout);
  CaptureResult& err_result = *tracker.slot(OutputStream::Stderr);
  if (!out_result) return std::unexpected(out_result.error());
  if (!err_result) return std::unexpected(err_result.error());
  if (out_result->truncated || err_result->truncated) {
    return std::unexpected(process_output_limit_error());
  }

  auto status = child.wait_group();
  if (!status) return std::unexpected(status.error());

  ProcessOutput output;
  output.stdout = korvel::text::lossy_utf8(out_result->bytes);
  output.stderr = korvel::text::lossy_utf8(err_result->bytes);
  if (WIFEXITED(*status)) output.exit_status = WEXITSTATUS(*status);
  output.elapsed = std::chrono::steady_clock::now() - start;
  return output;
}

}  // namespace detail

std::expected<ProcessOutput, RunnerError> StdProcessRunner::run(const CommandSpec& command) {
  // Nothing may escape into the host interpreter; the only exception left here is running out of
  // memory while copying or decoding.
  try {
    return detail::run_command(command, detail::spawn_capture);
  } catch (const std::bad_alloc&) {
    return std::unexpected(RunnerError::from_os(ENOMEM));
  }
}

}  // namespace korvel_beads
