// korvel::engine::Error — kind texts and the display form of engine errors.
#include "korvel/engine/error.hpp"

namespace korvel::engine {

std::string_view kind_text(ErrorKind kind) noexcept {
  switch (kind) {
    case ErrorKind::NonPrimitive:
      return "not a primitive";
    case ErrorKind::NonKey:
      return "not a key type";
    case ErrorKind::InvalidOperation:
      return "invalid operation";
    case ErrorKind::SyntaxError:
      return "syntax error";
    case ErrorKind::TemplateNotFound:
      return "template not found";
    case ErrorKind::TooManyArguments:
      return "too many arguments";
    case ErrorKind::MissingArgument:
      return "missing argument";
    case ErrorKind::UnknownFilter:
      return "unknown filter";
    case ErrorKind::UnknownTest:
      return "unknown test";
    case ErrorKind::UnknownFunction:
      return "unknown function";
    case ErrorKind::UnknownMethod:
      return "unknown method";
    case ErrorKind::BadEscape:
      return "bad string escape";
    case ErrorKind::UndefinedError:
      return "undefined value";
    case ErrorKind::BadSerialization:
      return "could not serialize to value";
    case ErrorKind::CannotDeserialize:
      return "cannot deserialize";
    case ErrorKind::BadInclude:
      return "could not render include";
    case ErrorKind::EvalBlock:
      return "could not render block";
    case ErrorKind::CannotUnpack:
      return "cannot unpack";
    case ErrorKind::WriteFailure:
      return "failed to write output";
    case ErrorKind::InvalidDelimiter:
      return "invalid custom delimiters";
    case ErrorKind::UnknownBlock:
      return "unknown block";
  }
  return "invalid operation";
}

namespace {
const std::optional<std::string> kAbsent;
}  // namespace

Error::Error(ErrorKind kind, std::string detail) : kind_(kind) {
  if (!detail.empty()) {
    payload_ = std::make_shared<Payload>();
    payload_->detail = std::move(detail);
  }
}

const std::optional<std::string>& Error::detail() const noexcept {
  return payload_ ? payload_->detail : kAbsent;
}

const std::optional<std::string>& Error::template_name() const noexcept {
  return payload_ ? payload_->template_name : kAbsent;
}

bool Error::has_location() const noexcept {
  return payload_ && payload_->template_name.has_value();
}

void Error::set_location(std::string_view name, std::size_t line) {
  if (has_location()) return;
  // Copies of an error share the payload; give this one its own before changing it.
  auto fresh = std::make_shared<Payload>();
  if (payload_) fresh->detail = payload_->detail;
  fresh->template_name = std::string(name);
  payload_ = std::move(fresh);
  if (line_ == 0) line_ = line;
}

std::string Error::display() const {
  std::string out(kind_text(kind_));
  if (const auto& d = detail()) {
    out += ": ";
    out += *d;
  }
  if (const auto& n = template_name()) {
    out += " (in ";
    out += *n;
    out += ':';
    out += std::to_string(line_);
    out += ')';
  }
  return out;
}

}  // namespace korvel::engine
