// korvel_beads::ProcessOutput — what ProcessRunner::run hands back for a command that ran to its
// end with both streams captured within CAPTURE_LIMIT_BYTES.
#pragma once

// <cstdio> may define `stdout`/`stderr` as macros (macOS does); including it here makes every
// user of the members below see the same spelling.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace korvel_beads {

// Bytes kept per stream; the 65537th byte of either stream is a limit breach.
inline constexpr std::size_t CAPTURE_LIMIT_BYTES = 65536;

struct ProcessOutput {
  std::string stdout;  // lossy UTF-8 of at most CAPTURE_LIMIT_BYTES bytes
  std::string stderr;
  // The exit code of the started child when it exited normally; absent when a signal ended it.
  std::optional<std::int32_t> exit_status;
  // Monotonic time from the start of run() until the group was reaped and the texts decoded.
  std::chrono::nanoseconds elapsed{0};
};

}  // namespace korvel_beads
