// The built-ins' argument binder and shared argument conversions; see args.hpp.
#include "korvel/engine/builtins/args.hpp"

#include <limits>

#include "korvel/engine/value_ops.hpp"

namespace korvel::engine::builtins::detail {

Result<void> bind_into(std::string_view name, std::span<const Value> args, const Kwargs& kwargs,
                       std::span<const std::string_view> params, std::size_t required,
                       std::span<const Value*> out) {
  if (args.size() > params.size()) {
    return fail(ErrorKind::TooManyArguments, std::string(name) + "() takes at most " +
                                                 std::to_string(params.size()) + " argument" +
                                                 (params.size() == 1 ? "" : "s") + " (" +
                                                 std::to_string(args.size()) + " given)");
  }
  for (std::size_t i = 0; i < params.size(); ++i) out[i] = i < args.size() ? &args[i] : nullptr;
  for (const auto& [key, value] : kwargs) {
    std::size_t i = 0;
    while (i < params.size() && params[i] != key) ++i;
    if (i == params.size()) {
      return fail(ErrorKind::TooManyArguments,
                  std::string(name) + "() got an unexpected keyword argument '" + key + "'");
    }
    if (out[i] != nullptr) {
      return fail(ErrorKind::TooManyArguments,
                  std::string(name) + "() got multiple values for argument '" + key + "'");
    }
    out[i] = &value;
  }
  for (std::size_t i = 0; i < required; ++i) {
    if (out[i] == nullptr) {
      return fail(ErrorKind::MissingArgument, std::string(name) + "() missing required argument '" +
                                                  std::string(params[i]) + "'");
    }
  }
  return {};
}

Result<void> no_kwargs(std::string_view name, const Kwargs& kwargs) {
  if (kwargs.empty()) return {};
  return fail(
      ErrorKind::TooManyArguments,
      std::string(name) + "() got an unexpected keyword argument '" + kwargs.front().first + "'");
}

Result<Int128> int_arg(std::string_view name, std::string_view param, const Value& v) {
  if (v.is_int()) return v.as_int();
  if (v.is_bool()) return v.as_bool() ? 1 : 0;
  return fail(ErrorKind::InvalidOperation, std::string(name) + "(): " + std::string(param) +
                                               " must be an integer, not " +
                                               std::string(kind_name(v.kind())));
}

Result<long long> count_arg(std::string_view name, std::string_view param, const Value& v) {
  auto i = int_arg(name, param, v);
  if (!i) return std::unexpected(std::move(i.error()));
  if (*i > std::numeric_limits<long long>::max() || *i < std::numeric_limits<long long>::min()) {
    return fail(ErrorKind::InvalidOperation,
                std::string(name) + "(): " + std::string(param) + " is out of range");
  }
  return static_cast<long long>(*i);
}

Result<std::string_view> str_arg(std::string_view name, std::string_view param, const Value& v) {
  if (auto s = v.as_str()) return *s;
  return fail(ErrorKind::InvalidOperation, std::string(name) + "(): " + std::string(param) +
                                               " must be a string, not " +
                                               std::string(kind_name(v.kind())));
}

Result<std::string> text_of(const Value& v) {
  if (auto s = v.as_str()) return std::string(*s);
  return v.to_display_checked();
}

Result<std::string_view> text_view(const Value& v, std::string& storage) {
  if (auto s = v.as_str()) return *s;
  auto text = v.to_display_checked();
  if (!text) return std::unexpected(text.error());
  storage = std::move(*text);
  return std::string_view(storage);
}

Result<void> check_built_size(std::string_view name, std::size_t bytes) {
  if (bytes <= kMaxRepeatBytes) return {};
  return fail(ErrorKind::InvalidOperation, std::string(name) + "(): result too large");
}

}  // namespace korvel::engine::builtins::detail
