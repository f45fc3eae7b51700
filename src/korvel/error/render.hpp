// korvel::RenderError — every failure of the template renderer as its caller sees it, made by
// RenderError::render from the engine's error: a message in the form
// "{kind}: {detail} (in {name}:{line})" less the parts the engine error lacks, the engine error
// itself as the underlying cause, and a backtrace slot.
#pragma once

#include <string>

#include "korvel/engine/error.hpp"

namespace korvel {

class RenderError {
 public:
  // Takes the engine error over. Cannot fail.
  static RenderError render(engine::Error source);

  const std::string& message() const noexcept { return message_; }
  // The underlying cause.
  const engine::Error& source() const noexcept { return source_; }
  // Always empty: no stack trace is captured (nothing in the system reads one, and the standard
  // library here offers no portable capture).
  const std::string& backtrace() const noexcept { return backtrace_; }

 private:
  RenderError(std::string message, engine::Error source)
      : message_(std::move(message)), source_(std::move(source)) {}

  std::string message_;
  engine::Error source_;
  std::string backtrace_;
};

}  // namespace korvel
