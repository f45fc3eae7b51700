// korvel::engine::State — filters, tests, calls, methods, lookups and formatting as the rendering
// state offers them to built-ins, the formatter and callbacks.
#include "korvel/engine/state.hpp"

#include "korvel/engine/environment.hpp"
#include "korvel/engine/object.hpp"
#include "korvel/engine/output.hpp"

namespace korvel::engine {

State::State(const Environment& env, EscapeChoice escape, std::string template_name)
    : env_(&env), escape_(std::move(escape)), template_name_(std::move(template_name)) {}

Result<Value> State::apply_filter(std::string_view name, std::span<const Value> args,
                                  const Kwargs& kwargs) {
  const FilterFn* f = env_->find_filter(name);
  if (!f) return fail(ErrorKind::UnknownFilter, std::string(name));
  return (*f)(*this, args, kwargs);
}

Result<bool> State::perform_test(std::string_view name, std::span<const Value> args,
                                 const Kwargs& kwargs) {
  const TestFn* t = env_->find_test(name);
  if (!t) return fail(ErrorKind::UnknownTest, std::string(name));
  return (*t)(*this, args, kwargs);
}

Result<Value> State::call(const Value& callable, std::span<const Value> args,
                          const Kwargs& kwargs) {
  if (Object* o = callable.as_object()) return o->call(*this, args, kwargs);
  if (callable.is_undefined()) return fail(ErrorKind::UndefinedError);
  return fail(ErrorKind::InvalidOperation,
              std::string(kind_name(callable.kind())) + " is not callable");
}

Result<Value> State::call_method(const Value& value, std::string_view method,
                                 std::span<const Value> args, const Kwargs& kwargs) {
  if (Object* o = value.as_object()) {
    if (auto r = o->call_method(*this, method, args, kwargs)) return std::move(*r);
  }
  if (value.is_undefined()) return fail(ErrorKind::UndefinedError);
  auto no_method = [&] {
    std::string kind(value.is_object() ? value.as_object()->type_name() : kind_name(value.kind()));
    return kind + " has no method named " + std::string(method);
  };
  if (const UnknownMethodCallback* cb = env_->unknown_method_callback()) {
    auto r = (*cb)(*this, value, method, args);
    if (!r && r.error().kind() == ErrorKind::UnknownMethod && !r.error().detail()) {
      return fail(ErrorKind::UnknownMethod, no_method());
    }
    return r;
  }
  return fail(ErrorKind::UnknownMethod, no_method());
}

Result<Value> State::get_attr(const Value& value, std::string_view name) {
  if (value.is_undefined()) return fail(ErrorKind::UndefinedError);
  return value.get_attr(name);
}

Result<Value> State::get_item(const Value& value, const Value& key) {
  if (value.is_undefined()) return fail(ErrorKind::UndefinedError);
  return value.get_item(key);
}

Result<void> State::format(Output& out, const Value& value) {
  return env_->formatter()(out, *this, value);
}

}  // namespace korvel::engine
