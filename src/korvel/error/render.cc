// RenderError::render: the plain display form of an engine error, kept as the message.
#include "korvel/error/render.hpp"

#include <utility>

namespace korvel {

RenderError RenderError::render(engine::Error source) {
  std::string message(engine::kind_text(source.kind()));
  if (const auto& detail = source.detail()) {
    message += ": ";
    message += *detail;
  }
  if (const auto& name = source.template_name()) {
    message += " (in ";
    message += *name;
    message += ':';
    message += std::to_string(source.line());
    message += ')';
  }
  return RenderError(std::move(message), std::move(source));
}

}  // namespace korvel
