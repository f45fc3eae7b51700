// Built-in functions — range, dict, namespace, cycler, joiner — as Jinja2's default namespace has
// them. range refuses more than 100,000 items (Jinja2's sandbox bound) so no template can exhaust
// memory with one call. Entry point: add_functions.
#include <string>
#include <utility>
#include <vector>

#include "korvel/engine/builtins/args.hpp"
#include "korvel/engine/builtins/families.hpp"
#include "korvel/engine/object.hpp"
#include "korvel/engine/state.hpp"

namespace korvel::engine::builtins::detail {
namespace {

using Args = std::span<const Value>;

constexpr Int128 kMaxRangeItems = 100000;

// range(3) → [0, 1, 2]; range(1, 10, 3) → [1, 4, 7]; range(3, 0, -1) → [3, 2, 1].
Result<Value> do_range(State&, Args args, const Kwargs& kwargs) {
  if (!kwargs.empty()) {
    return fail(ErrorKind::TooManyArguments, "range() takes no keyword arguments");
  }
  if (args.empty()) return fail(ErrorKind::MissingArgument, "range() expects 1 to 3 arguments");
  if (args.size() > 3) {
    return fail(ErrorKind::TooManyArguments, "range() expects at most 3 arguments");
  }
  Int128 n[3];
  for (std::size_t i = 0; i < args.size(); ++i) {
    auto v = int_arg("range", i == 0 ? "start" : i == 1 ? "stop" : "step", args[i]);
    if (!v) return std::unexpected(v.error());
    n[i] = *v;
  }
  Int128 start = 0, stop, step = 1;
  if (args.size() == 1) {
    stop = n[0];
  } else {
    start = n[0];
    stop = n[1];
    if (args.size() == 3) step = n[2];
  }
  if (step == 0) return fail(ErrorKind::InvalidOperation, "range() step must not be zero");
  // Item count without overflow: the span is computed in unsigned arithmetic.
  UInt128 count = 0;
  if (step > 0 && start < stop) {
    const UInt128 span = static_cast<UInt128>(stop) - static_cast<UInt128>(start);
    count = (span - 1) / static_cast<UInt128>(step) + 1;
  } else if (step < 0 && start > stop) {
    const UInt128 span = static_cast<UInt128>(start) - static_cast<UInt128>(stop);
    count = (span - 1) / (UInt128(0) - static_cast<UInt128>(step)) + 1;
  }
  if (count > static_cast<UInt128>(kMaxRangeItems)) {
    return fail(ErrorKind::InvalidOperation, "range() of more than 100000 items is refused");
  }
  std::vector<Value> out;
  out.reserve(static_cast<std::size_t>(count));
  Int128 v = start;
  for (UInt128 i = 0; i < count; ++i) {
    out.push_back(Value::from_int(v));
    if (i + 1 < count) v += step;  // never steps past the last item, so never overflows
  }
  return Value::from_seq(std::move(out));
}

// The entries dict(*args, **kwargs) would hold: one optional map or iterable of pairs, then the
// keywords (later ones replace earlier ones, keeping the first position).
Result<MapEntries> dict_entries(std::string_view name, Args args, const Kwargs& kwargs) {
  if (args.size() > 1) {
    return fail(ErrorKind::TooManyArguments,
                std::string(name) + "() expected at most 1 positional argument");
  }
  MapEntries entries;
  if (!args.empty()) {
    const Value& src = args[0];
    if (src.is_map()) {
      entries = src.map_entries();
    } else {
      auto items = src.iterate();
      if (!items || src.is_string()) {
        return fail(ErrorKind::InvalidOperation, std::string(name) +
                                                     "() needs a map or a sequence of pairs, not " +
                                                     std::string(kind_name(src.kind())));
      }
      for (const Value& item : *items) {
        auto kv = item.iterate();
        if (!kv || kv->size() != 2) {
          return fail(ErrorKind::InvalidOperation,
                      std::string(name) + "(): each item must be a (key, value) pair");
        }
        entries.emplace_back((*kv)[0], (*kv)[1]);
      }
    }
  }
  for (const auto& [k, v] : kwargs) entries.emplace_back(Value::from_string(k), v);
  return entries;
}

// dict(a=1, b=2) → {"a": 1, "b": 2}; dict([["a", 1]]) → {"a": 1}.
Result<Value> do_dict(State&, Args args, const Kwargs& kwargs) {
  auto entries = dict_entries("dict", args, kwargs);
  if (!entries) return std::unexpected(entries.error());
  return Value::from_map(std::move(*entries));
}

// namespace(count=0) → an object whose attributes `{% set ns.count = ... %}` may change.
Result<Value> do_namespace(State&, Args args, const Kwargs& kwargs) {
  auto entries = dict_entries("namespace", args, kwargs);
  if (!entries) return std::unexpected(entries.error());
  // Keep the first position and the last value of a repeated name, as a dict does.
  const Value merged = Value::from_map(std::move(*entries));
  std::vector<std::pair<std::string, Value>> attrs;
  for (auto& [k, v] : merged.map_entries()) {
    attrs.emplace_back(k.is_string() ? std::string(k.str()) : k.to_display(), v);
  }
  return make_namespace(std::move(attrs));
}

// cycler("odd", "even"): .next() gives odd, even, odd, ...; .current peeks; .reset() restarts.
class Cycler final : public Object {
 public:
  explicit Cycler(std::vector<Value> items) : items_(std::move(items)) {}
  std::string_view type_name() const override { return "cycler"; }

  Value get_attr(std::string_view name) const override {
    if (name == "current") return items_[pos_];
    if (name == "items") return Value::from_seq(items_);
    if (name == "pos") return Value::from_int(static_cast<Int128>(pos_));
    return Value();
  }

  std::optional<Result<Value>> call_method(State&, std::string_view name, Args args,
                                           const Kwargs& kwargs) override {
    if (name != "next" && name != "reset" && name != "__next__") return std::nullopt;
    if (!args.empty() || !kwargs.empty()) {
      return Result<Value>(fail(ErrorKind::TooManyArguments,
                                "cycler." + std::string(name) + "() takes no arguments"));
    }
    if (name == "reset") {
      pos_ = 0;
      return Result<Value>(Value::none());
    }
    Value current = items_[pos_];
    pos_ = (pos_ + 1) % items_.size();
    return Result<Value>(std::move(current));
  }

 private:
  std::vector<Value> items_;  // never empty
  std::size_t pos_ = 0;
};

// cycler("odd", "even") → a cycler over those two items.
Result<Value> do_cycler(State&, Args args, const Kwargs& kwargs) {
  if (auto r = no_kwargs("cycler", kwargs); !r) return std::unexpected(r.error());
  if (args.empty()) {
    return fail(ErrorKind::MissingArgument, "cycler() needs at least one item");
  }
  return Value::make_object<Cycler>(std::vector<Value>(args.begin(), args.end()));
}

// joiner(", "): calling it gives "" the first time and the separator afterwards.
class Joiner final : public Object {
 public:
  explicit Joiner(Value sep) : sep_(std::move(sep)) {}
  std::string_view type_name() const override { return "joiner"; }
  bool is_callable() const override { return true; }
  Value get_attr(std::string_view name) const override {
    if (name == "sep") return sep_;
    if (name == "used") return Value::from_bool(used_);
    return Value();
  }
  Result<Value> call(State&, Args args, const Kwargs& kwargs) override {
    if (!args.empty() || !kwargs.empty()) {
      return fail(ErrorKind::TooManyArguments, "joiner() takes no arguments when called");
    }
    if (!used_) {
      used_ = true;
      return Value::from_string(std::string_view(""));
    }
    return sep_;
  }

 private:
  Value sep_;
  bool used_ = false;
};

// joiner("|") → a joiner whose calls give "", "|", "|", ...
Result<Value> do_joiner(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<1>("joiner", args, kwargs, {"sep"}, 0);
  if (!b) return std::unexpected(b.error());
  return Value::make_object<Joiner>((*b).get_or(0, Value::from_string(std::string_view(", "))));
}

}  // namespace

void add_functions(FunctionTable& functions) {
  functions["cycler"] = do_cycler;
  functions["dict"] = do_dict;
  functions["joiner"] = do_joiner;
  functions["namespace"] = do_namespace;
  functions["range"] = do_range;
}

}  // namespace korvel::engine::builtins::detail
