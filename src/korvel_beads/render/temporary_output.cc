// korvel_beads::TemporaryOutput — exclusive creation, write-all, full flush and rename of the
// hidden temporary file that replaces a formula file atomically.
#include "korvel_beads/render/temporary_output.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string_view>
#include <utility>

#include "korvel/text/utf8.hpp"

namespace korvel_beads {

std::atomic<std::uint64_t> TEMPORARY_OUTPUT_SEQUENCE{0};

namespace detail {
namespace {

// strerror_r comes in two shapes: XSI returns an int and fills the buffer; GNU returns the text.
[[maybe_unused]] const char* strerror_text(int rc, const char* buffer) {
  return rc == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* strerror_text(const char* text, const char*) { return text; }

// Calls `op` until it does not fail with EINTR.
template <typename Op>
auto retry_on_interrupt(Op op) {
  for (;;) {
    auto rc = op();
    if (rc != -1 || errno != EINTR) return rc;
  }
}

}  // namespace
}  // namespace detail

std::string os_error_text(int code) {
  char buffer[256] = {};
  const char* text = detail::strerror_text(::strerror_r(code, buffer, sizeof buffer), buffer);
  std::string out = text != nullptr ? text : "Unknown error " + std::to_string(code);
  out += " (os error ";
  out += std::to_string(code);
  out += ')';
  return out;
}

std::expected<std::string, std::string> temporary_output_name(std::string_view output_name,
                                                              pid_t pid, WallClockReading clock,
                                                              std::uint64_t sequence) {
  if (clock.seconds < 0 || clock.nanoseconds < 0) {
    return std::unexpected(std::string("second time provided was later than self"));
  }
  // seconds * 10^9 + nanoseconds in decimal without 128-bit arithmetic: the seconds followed by
  // the nanoseconds padded to nine digits, or the bare nanoseconds within the first second.
  std::string nanos;
  if (clock.seconds == 0) {
    nanos = std::to_string(clock.nanoseconds);
  } else {
    std::string fraction = std::to_string(clock.nanoseconds);
    nanos = std::to_string(clock.seconds) + std::string(9 - fraction.size(), '0') + fraction;
  }
  std::string name;
  name.reserve(output_name.size() + nanos.size() + 48);
  name += '.';
  name += output_name;
  name += ".korvel-";
  name += std::to_string(pid);
  name += '-';
  name += nanos;
  name += '-';
  name += std::to_string(sequence);
  name += ".tmp";
  return name;
}

std::expected<std::filesystem::path, std::string> next_temporary_output_path(
    const std::filesystem::path& output_path) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  WallClockReading clock{static_cast<std::int64_t>(now.tv_sec),
                         static_cast<std::int64_t>(now.tv_nsec)};
  // Clock first, then counter; only uniqueness of the value matters, not ordering.
  std::uint64_t sequence = TEMPORARY_OUTPUT_SEQUENCE.fetch_add(1, std::memory_order_relaxed);
  auto name = temporary_output_name(korvel::text::lossy_utf8(output_path.filename().native()),
                                    ::getpid(), clock, sequence);
  if (!name) return std::unexpected(std::move(name.error()));
  return output_path.parent_path() / *name;
}

std::expected<TemporaryOutput, std::string> TemporaryOutput::create(std::filesystem::path path) {
  int fd = detail::retry_on_interrupt(
      [&] { return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); });
  if (fd == -1) return std::unexpected(os_error_text(errno));
  return TemporaryOutput(fd, std::move(path));
}

TemporaryOutput::TemporaryOutput(TemporaryOutput&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      path_(std::move(other.path_)),
      owns_file_(std::exchange(other.owns_file_, false)) {}

TemporaryOutput& TemporaryOutput::operator=(TemporaryOutput&& other) noexcept {
  if (this != &other) {
    release();
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
    owns_file_ = std::exchange(other.owns_file_, false);
  }
  return *this;
}

TemporaryOutput::~TemporaryOutput() { release(); }

void TemporaryOutput::close_descriptor() noexcept {
  // close is not retried: after EINTR the descriptor is already gone on Linux and unspecified
  // elsewhere, and a retry could close a descriptor another thread has just been given.
  if (fd_ != -1) ::close(std::exchange(fd_, -1));
}

void TemporaryOutput::release() noexcept {
  close_descriptor();
  // An error from the removal is not reported: it must never replace the failure being returned.
  if (owns_file_) ::unlink(path_.c_str());
  owns_file_ = false;
}

std::expected<void, std::string> TemporaryOutput::write_all(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n =
        detail::retry_on_interrupt([&] { return ::write(fd_, bytes.data(), bytes.size()); });
    if (n == -1) return std::unexpected(os_error_text(errno));
    if (n == 0) return std::unexpected(std::string("failed to write whole buffer"));
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

std::expected<void, std::string> TemporaryOutput::sync() {
#ifdef F_FULLFSYNC
  // macOS: fsync only reaches the drive's cache; F_FULLFSYNC asks the drive to flush it too. Some
  // file systems (network, FUSE) do not support the request; they get the plain fsync, which is
  // the strongest flush they offer.
  if (detail::retry_on_interrupt([&] { return ::fcntl(fd_, F_FULLFSYNC); }) == 0) return {};
  if (errno != ENOTSUP && errno != ENOTTY && errno != EINVAL) {
    return std::unexpected(os_error_text(errno));
  }
#endif
  if (detail::retry_on_interrupt([&] { return ::fsync(fd_); }) == -1) {
    return std::unexpected(os_error_text(errno));
  }
  return {};
}

std::expected<void, std::string> TemporaryOutput::commit(const std::filesystem::path& destination) {
  close_descriptor();
  if (::rename(path_.c_str(), destination.c_str()) == -1) {
    return std::unexpected(os_error_text(errno));
  }
  owns_file_ = false;
  return {};
}

}  // namespace korvel_beads
