// korvel::engine::Object — default behaviour of engine objects, the namespace object and the
// function value.
#include "korvel/engine/object.hpp"

#include "korvel/engine/state.hpp"

namespace korvel::engine {

Result<Value> Object::call(State& /*state*/, std::span<const Value> /*args*/,
                           const Kwargs& /*kwargs*/) {
  return fail(ErrorKind::InvalidOperation, std::string(type_name()) + " is not callable");
}

Value Object::get_attr(std::string_view /*name*/) const { return Value(); }

Value Object::get_item(const Value& key) const {
  if (auto k = key.as_str()) return get_attr(*k);
  return Value();
}

std::optional<Result<Value>> Object::call_method(State& state, std::string_view name,
                                                 std::span<const Value> args,
                                                 const Kwargs& kwargs) {
  Value attr = get_attr(name);
  if (Object* o = attr.as_object(); o && o->is_callable()) return o->call(state, args, kwargs);
  return std::nullopt;
}

Result<void> Object::set_attr(std::string_view name, Value /*value*/) {
  return fail(ErrorKind::InvalidOperation,
              "cannot assign attribute '" + std::string(name) + "' on " + std::string(type_name()));
}

void Object::write_display(std::string& out) const {
  out += '<';
  out += type_name();
  out += '>';
}

namespace {

// `namespace(...)`: a bag of attributes shared by every scope that holds it.
class Namespace final : public Object {
 public:
  explicit Namespace(std::vector<std::pair<std::string, Value>> attrs) : attrs_(std::move(attrs)) {}
  std::string_view type_name() const override { return "namespace"; }
  Value get_attr(std::string_view name) const override {
    for (const auto& [k, v] : attrs_) {
      if (k == name) return v;
    }
    return Value();
  }
  Result<void> set_attr(std::string_view name, Value value) override {
    for (auto& [k, v] : attrs_) {
      if (k == name) {
        v = std::move(value);
        return {};
      }
    }
    attrs_.emplace_back(std::string(name), std::move(value));
    return {};
  }
  std::optional<Result<Value>> call_method(State&, std::string_view, std::span<const Value>,
                                           const Kwargs&) override {
    return std::nullopt;
  }
  void clear() noexcept {
    auto dropped = std::move(attrs_);
    attrs_.clear();
  }
  // Attributes are listed flat (nested objects by type only), so a namespace holding itself
  // displays without recursion.
  void write_display(std::string& out) const override {
    out += "<namespace {";
    bool first = true;
    for (const auto& [k, v] : attrs_) {
      if (!first) out += ", ";
      first = false;
      write_json_string(k, out);
      out += ": ";
      if (v.is_object()) {
        out += '<';
        out += v.as_object()->type_name();
        out += '>';
      } else if (v.is_string()) {
        write_json_string(v.str(), out);
      } else {
        v.write_display(out);
      }
    }
    out += "}>";
  }

 private:
  std::vector<std::pair<std::string, Value>> attrs_;
};

class FunctionValue final : public Object {
 public:
  FunctionValue(std::string name, FunctionFn fn) : name_(std::move(name)), fn_(std::move(fn)) {}
  std::string_view type_name() const override { return "function"; }
  bool is_callable() const override { return true; }
  Result<Value> call(State& state, std::span<const Value> args, const Kwargs& kwargs) override {
    return fn_(state, args, kwargs);
  }
  void write_display(std::string& out) const override {
    out += "<function ";
    out += name_;
    out += '>';
  }

 private:
  std::string name_;
  FunctionFn fn_;
};

}  // namespace

Value make_namespace(std::vector<std::pair<std::string, Value>> attributes) {
  return Value::make_object<Namespace>(std::move(attributes));
}

bool is_namespace(const Value& value) noexcept {
  return dynamic_cast<const Namespace*>(value.as_object()) != nullptr;
}

void clear_namespace(const Value& value) noexcept {
  if (auto* ns = dynamic_cast<Namespace*>(value.as_object())) ns->clear();
}

Value make_function_value(std::string name, FunctionFn fn) {
  return Value::make_object<FunctionValue>(std::move(name), std::move(fn));
}

}  // namespace korvel::engine
