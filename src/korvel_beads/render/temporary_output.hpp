// korvel_beads::TemporaryOutput — the hidden temporary file through which a formula file is
// replaced atomically: a uniquely named sibling of the output, created exclusively, written whole,
// flushed to stable storage and renamed over the output. Until that rename succeeds the object owns
// the file and removes it when it goes out of scope, so a failure never leaves it behind.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>

namespace korvel_beads {

// Counts the temporary names made by this process; with the process id and the wall clock in
// nanoseconds it keeps names unique across threads and processes. The only state that outlives a
// request.
extern std::atomic<std::uint64_t> TEMPORARY_OUTPUT_SEQUENCE;

// The display text of an operating-system error number: "{description} (os error {code})".
std::string os_error_text(int code);

// A wall-clock reading as whole seconds and nanoseconds since 1970-01-01 00:00:00 UTC.
struct WallClockReading {
  std::int64_t seconds = 0;
  std::int64_t nanoseconds = 0;  // 0 to 999999999
};

// ".{name}.korvel-{pid}-{nanoseconds since the epoch}-{sequence}.tmp", where `output_name` is
// the output's final file name as text. Fails with "second time provided was later than self" for
// a reading before the epoch.
std::expected<std::string, std::string> temporary_output_name(std::string_view output_name,
                                                              pid_t pid, WallClockReading clock,
                                                              std::uint64_t sequence);

// The temporary path for `output_path` in the same directory, from the current process id, the
// wall clock and the next value of TEMPORARY_OUTPUT_SEQUENCE (read in that order). The caller has
// checked that the path has a parent and a file name.
std::expected<std::filesystem::path, std::string> next_temporary_output_path(
    const std::filesystem::path& output_path);

class TemporaryOutput {
 public:
  // Creates `path` exclusively, write-only, mode 0666 before the umask, close-on-exec. On failure
  // nothing of this call exists at `path`. Errors are display texts.
  static std::expected<TemporaryOutput, std::string> create(std::filesystem::path path);

  TemporaryOutput(TemporaryOutput&& other) noexcept;
  TemporaryOutput& operator=(TemporaryOutput&& other) noexcept;
  TemporaryOutput(const TemporaryOutput&) = delete;
  TemporaryOutput& operator=(const TemporaryOutput&) = delete;
  ~TemporaryOutput();

  const std::filesystem::path& path() const noexcept { return path_; }

  // Writes every byte, resuming after partial and interrupted writes.
  std::expected<void, std::string> write_all(std::string_view bytes);

  // Flushes data and metadata with the strongest request the system offers (F_FULLFSYNC where it
  // exists, fsync elsewhere).
  std::expected<void, std::string> sync();

  // Closes the file and renames it onto `destination`, replacing what is there in one step. After
  // success the file belongs to `destination`; after failure the destructor still removes it.
  std::expected<void, std::string> commit(const std::filesystem::path& destination);

 private:
  TemporaryOutput(int fd, std::filesystem::path path) noexcept : fd_(fd), path_(std::move(path)) {}
  void close_descriptor() noexcept;
  void release() noexcept;

  int fd_ = -1;
  std::filesystem::path path_;
  bool owns_file_ = true;
};

}  // namespace korvel_beads
