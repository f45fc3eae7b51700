// korvel::engine::Error — every failure of the template engine as a value: a kind (with its fixed
// kind text), an optional detail, and the template name and line where it arose. Display form:
// "{kind}: {detail} (in {name}:{line})", less the parts that are absent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace korvel::engine {

enum class ErrorKind : std::uint8_t {
  NonPrimitive,
  NonKey,
  InvalidOperation,
  SyntaxError,
  TemplateNotFound,
  TooManyArguments,
  MissingArgument,
  UnknownFilter,
  UnknownTest,
  UnknownFunction,
  UnknownMethod,
  BadEscape,
  UndefinedError,
  BadSerialization,
  CannotDeserialize,
  BadInclude,
  EvalBlock,
  CannotUnpack,
  WriteFailure,
  InvalidDelimiter,
  UnknownBlock,
};

// "not a primitive", "not a key type", "invalid operation", ... "unknown block".
std::string_view kind_text(ErrorKind kind) noexcept;

class Error {
 public:
  // An empty detail means no detail.
  explicit Error(ErrorKind kind, std::string detail = {});

  ErrorKind kind() const noexcept { return kind_; }
  const std::optional<std::string>& detail() const noexcept;
  const std::optional<std::string>& template_name() const noexcept;
  // 1-based; 0 when unknown.
  std::size_t line() const noexcept { return line_; }

  // Records where the error arose; the first location set is kept, so the innermost wins (a line
  // recorded earlier with set_line is kept too).
  void set_location(std::string_view name, std::size_t line);
  // Records the line alone (when the template name is not known yet); the first line set wins.
  void set_line(std::size_t line) noexcept {
    if (line_ == 0) line_ = line;
  }
  bool has_location() const noexcept;

  // "{kind}: {detail} (in {name}:{line})" less the absent parts.
  std::string display() const;

 private:
  struct Payload {
    std::optional<std::string> detail;
    std::optional<std::string> template_name;
  };
  ErrorKind kind_;
  std::size_t line_ = 0;
  // Errors are rare; keeping the texts behind one pointer keeps Result<T> small on the hot path.
  std::shared_ptr<Payload> payload_;
};

template <class T>
using Result = std::expected<T, Error>;

// Shorthand for returning a failure: `return fail(ErrorKind::InvalidOperation, "...");`
inline std::unexpected<Error> fail(ErrorKind kind, std::string detail = {}) {
  return std::unexpected<Error>(Error(kind, std::move(detail)));
}

}  // namespace korvel::engine
