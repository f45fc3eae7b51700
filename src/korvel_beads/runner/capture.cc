// The reader threads of run(): spawn_capture, capture_stream, join_capture, CaptureTracker.
#include "korvel_beads/runner/capture.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <system_error>
#include <utility>

#include "korvel_beads/runner/eintr.hpp"
#include "korvel_beads/runner/process_output.hpp"

namespace korvel_beads::detail {

void CaptureTracker::apply(CaptureEvent event) {
  if (std::holds_alternative<LimitExceeded>(event)) {
    state_ = CaptureState::OverLimit;
    return;
  }
  Finished& finished = std::get<Finished>(event);
  const bool truncated = finished.result && finished.result->truncated;
  const bool failed = !finished.result;
  slot(finished.stream) = std::move(finished.result);
  if (truncated) {
    state_ = CaptureState::OverLimit;
  } else if (failed) {
    if (state_ != CaptureState::OverLimit) state_ = CaptureState::CaptureFailed;
  } else if (!pending() && state_ == CaptureState::Running) {
    state_ = CaptureState::Complete;
  }
}

CaptureResult capture_stream(const Fd& pipe, CaptureSender& sender) {
  CapturedStream captured;
  captured.bytes.reserve(CAPTURE_LIMIT_BYTES);
  char scratch[READ_CHUNK_BYTES];
  for (;;) {
    const ssize_t n = retry_on_eintr([&] { return ::read(pipe.get(), scratch, sizeof scratch); });
    if (n < 0) return std::unexpected(RunnerError::from_os(errno));
    if (n == 0) return captured;
    const std::size_t got = static_cast<std::size_t>(n);
    const std::size_t room =
        CAPTURE_LIMIT_BYTES - std::min(CAPTURE_LIMIT_BYTES, captured.bytes.size());
    captured.bytes.append(scratch, std::min(room, got));
    if (got > room && !captured.truncated) {
      // Reported at once so that run() kills the group while this thread keeps draining.
      sender.send(LimitExceeded{});
      captured.truncated = true;
    }
  }
}

ReaderThread& ReaderThread::operator=(ReaderThread&& other) noexcept {
  if (this != &other) {
    if (thread.joinable()) thread.detach();
    thread = std::move(other.thread);
    done = std::move(other.done);
  }
  return *this;
}

ReaderThread::~ReaderThread() {
  if (thread.joinable()) thread.detach();
}

std::expected<ReaderThread, RunnerError> spawn_capture(Fd pipe, OutputStream stream,
                                                       CaptureSender sender) {
  try {
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    std::thread thread([pipe = std::move(pipe), stream, sender = std::move(sender),
                        done = std::move(done)]() mutable {
      try {
        CaptureResult result = capture_stream(pipe, sender);
        pipe.reset();
        sender.send(Finished{stream, std::move(result)});
        sender.close();
        done.set_value();
      } catch (...) {
        sender.close();
        done.set_exception(std::current_exception());
      }
    });
    return ReaderThread(std::move(thread), std::move(finished));
  } catch (const std::exception& e) {
    return std::unexpected(thread_spawn_error(e));
  }
}

RunnerError thread_spawn_error(const std::exception& cause) {
  std::string text = "failed to spawn thread: ";
  const auto* system = dynamic_cast<const std::system_error*>(&cause);
  if (system && system->code().value() != 0 &&
      (system->code().category() == std::generic_category() ||
       system->code().category() == std::system_category())) {
    text += RunnerError::from_os(system->code().value()).display();
  } else {
    text += cause.what();
  }
  return RunnerError::custom(RunnerErrorKind::Other, std::move(text));
}

std::expected<void, RunnerError> join_capture(ReaderThread& reader) {
  if (reader.thread.joinable()) reader.thread.join();
  try {
    reader.done.get();
  } catch (...) {
    return std::unexpected(
        RunnerError::custom(RunnerErrorKind::Other, "child output reader panicked"));
  }
  return {};
}

}  // namespace korvel_beads::detail
