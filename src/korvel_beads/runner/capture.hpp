// korvel_beads::detail capture — the reader threads' side of run(): spawn_capture starts one reader
// thread on a pipe, capture_stream is its loop (keep CAPTURE_LIMIT_BYTES, discard the rest, report
// the first breach at once), join_capture waits for it, and CaptureTracker is run()'s bookkeeping
// of the CaptureEvents that the readers send. Internal to the runner.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <expected>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <variant>

#include "korvel_beads/runner/event_queue.hpp"
#include "korvel_beads/runner/fd.hpp"
#include "korvel_beads/runner/runner_error.hpp"

namespace korvel_beads::detail {

inline constexpr std::size_t READ_CHUNK_BYTES = 8192;
inline constexpr std::chrono::milliseconds EVENT_WAIT{10};

enum class OutputStream : std::uint8_t { Stdout = 0, Stderr = 1 };

// The first bytes a stream delivered (at most CAPTURE_LIMIT_BYTES), and whether more came.
struct CapturedStream {
  std::string bytes;
  bool truncated = false;
};

using CaptureResult = std::expected<CapturedStream, RunnerError>;

// Sent at most once per reader, when its stream first delivers a byte beyond the limit.
struct LimitExceeded {};
// Sent exactly once per reader, as its last act (unless the thread dies abnormally).
struct Finished {
  OutputStream stream;
  CaptureResult result;
};
using CaptureEvent = std::variant<LimitExceeded, Finished>;
using CaptureSender = EventSender<CaptureEvent>;
using CaptureReceiver = EventReceiver<CaptureEvent>;

enum class CaptureState : std::uint8_t {
  Running = 0,
  OverLimit = 1,
  CaptureFailed = 2,
  Complete = 3
};

class CaptureTracker {
 public:
  // Running → OverLimit, Running → CaptureFailed, CaptureFailed → OverLimit, Running → Complete;
  // OverLimit is final.
  void apply(CaptureEvent event);

  bool pending() const noexcept { return !stdout_ || !stderr_; }
  CaptureState state() const noexcept { return state_; }
  // Empty while the stream's Finished event has not arrived.
  std::optional<CaptureResult>& slot(OutputStream stream) noexcept {
    return stream == OutputStream::Stdout ? stdout_ : stderr_;
  }

 private:
  std::optional<CaptureResult> stdout_;
  std::optional<CaptureResult> stderr_;
  CaptureState state_ = CaptureState::Running;
};

// The reader loop: reads READ_CHUNK_BYTES at a time until end-of-file or the first read error,
// keeps the first CAPTURE_LIMIT_BYTES and sends LimitExceeded on the first byte beyond them.
CaptureResult capture_stream(const Fd& pipe, CaptureSender& sender);

// A started reader thread. `done` becomes ready when the thread body ends: with a value when it
// ended normally, with an exception when it died. A reader still running when its owner goes
// (only after a failed kill or wait) is detached: it owns everything it touches and ends at the
// pipe's end-of-file.
struct ReaderThread {
  std::thread thread;
  std::future<void> done;

  ReaderThread() = default;
  ReaderThread(std::thread t, std::future<void> f) : thread(std::move(t)), done(std::move(f)) {}
  ReaderThread(ReaderThread&&) noexcept = default;
  ReaderThread& operator=(ReaderThread&&) noexcept;
  ~ReaderThread();
};

// Starts the reader thread that owns `pipe` and `sender`, runs capture_stream, closes the pipe and
// sends Finished. A thread the system refuses to create is an error of the kind Other whose text
// starts with "failed to spawn thread".
std::expected<ReaderThread, RunnerError> spawn_capture(Fd pipe, OutputStream stream,
                                                       CaptureSender sender);

// The error for a reader thread that could not be created: "failed to spawn thread: " and the
// system's error ("... (os error N)") or, without an error number, the exception's text.
RunnerError thread_spawn_error(const std::exception& cause);

// Waits for the reader thread to end; "child output reader panicked" when it died abnormally.
std::expected<void, RunnerError> join_capture(ReaderThread& reader);

// How run() starts its readers; tests substitute one that fails or dies on purpose.
using CaptureSpawner = std::function<std::expected<ReaderThread, RunnerError>(
    Fd pipe, OutputStream stream, CaptureSender sender)>;

}  // namespace korvel_beads::detail
