// korvel::engine::Output — where a rendering writes its text. Appends to one string; refuses a
// write that would take the text past its size bound, so no template can exhaust memory through
// output.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "korvel/engine/error.hpp"

namespace korvel::engine {

// Default bound on the text one rendering may produce (256 MiB).
inline constexpr std::size_t kMaxOutputBytes = std::size_t{256} << 20;

class Output {
 public:
  explicit Output(std::string& target, std::size_t max_bytes = kMaxOutputBytes) noexcept
      : target_(&target), max_bytes_(max_bytes) {}

  Result<void> write(std::string_view text) {
    if (text.size() > max_bytes_ - target_->size()) [[unlikely]] {
      return fail(ErrorKind::WriteFailure, "output size limit exceeded");
    }
    target_->append(text);
    return {};
  }
  // Writes one character (same bound).
  Result<void> put(char c) { return write(std::string_view(&c, 1)); }

  std::string& buffer() noexcept { return *target_; }
  std::size_t max_bytes() const noexcept { return max_bytes_; }

 private:
  std::string* target_;
  std::size_t max_bytes_;
};

}  // namespace korvel::engine
