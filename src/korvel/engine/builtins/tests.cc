// Built-in tests (`x is name`) — boolean, callable, defined, divisibleby, endingwith, eq (==,
// equalto), escaped, even, false, filter, float, ge (>=), gt (>, greaterthan), in, integer,
// iterable, le (<=), lower, lt (<, lessthan), mapping, ne (!=), none, number, odd, safe, sameas,
// sequence, startingwith, string, test, true, undefined, upper — with Jinja2's arguments.
// Entry point: add_tests.
#include <cmath>
#include <string>

#include "korvel/engine/builtins/args.hpp"
#include "korvel/engine/builtins/families.hpp"
#include "korvel/engine/builtins/str_ops.hpp"
#include "korvel/engine/environment.hpp"
#include "korvel/engine/object.hpp"
#include "korvel/engine/state.hpp"
#include "korvel/engine/value_ops.hpp"

namespace korvel::engine::builtins::detail {
namespace {

using Args = std::span<const Value>;

// A test of the value alone: `x is name`.
template <bool (*Pred)(const Value&)>
TestFn unary(const char* name) {
  return [name](State&, Args args, const Kwargs& kwargs) -> Result<bool> {
    auto b = bind<1>(name, args, kwargs, {"value"}, 1);
    if (!b) return std::unexpected(b.error());
    return Pred(*(*b)[0]);
  };
}

bool is_boolean(const Value& v) { return v.is_bool(); }
bool is_callable(const Value& v) { return v.is_object() && v.as_object()->is_callable(); }
bool is_defined(const Value& v) { return !v.is_undefined(); }
bool is_undefined(const Value& v) { return v.is_undefined(); }
bool is_escaped(const Value& v) { return v.is_safe(); }
bool is_false(const Value& v) { return v.is_bool() && !v.as_bool(); }
bool is_true(const Value& v) { return v.is_bool() && v.as_bool(); }
bool is_float(const Value& v) { return v.is_float(); }
bool is_integer(const Value& v) { return v.is_int(); }
bool is_number(const Value& v) { return v.is_int() || v.is_float() || v.is_bool(); }
bool is_none(const Value& v) { return v.is_none(); }
bool is_string(const Value& v) { return v.is_string(); }
bool is_mapping(const Value& v) { return v.is_map(); }

// "ab1" is lower → true; "AB" is upper → true. Jinja2 reads str(value): none and booleans are
// "None", "True", "False", neither all lower nor all upper case, whatever their display here.
template <bool kLower>
Result<bool> do_case_test(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<1>(kLower ? "lower" : "upper", args, kwargs, {"value"}, 1);
  if (!b) return std::unexpected(b.error());
  const Value& v = *(*b)[0];
  if (v.is_none() || v.is_bool()) return false;
  std::string storage;
  auto text = text_view(v, storage);
  if (!text) return std::unexpected(text.error());
  return kLower ? py_islower(*text) : py_isupper(*text);
}
bool is_iterable(const Value& v) {
  switch (v.kind()) {
    case ValueKind::Undefined:
    case ValueKind::String:
    case ValueKind::Bytes:
    case ValueKind::Seq:
    case ValueKind::Map:
      return true;
    case ValueKind::Object:
      return v.as_object()->iterate().has_value();
    default:
      return false;
  }
}
// Has a length and items by index or key (strings, sequences and maps alike, as in Jinja2).
bool is_sequence(const Value& v) { return is_iterable(v); }

// `value % num == target` with Python's modulo; numbers only.
Result<bool> modulo_is(std::string_view name, const Value& v, const Value& num, int target) {
  if (v.is_undefined()) return fail(ErrorKind::UndefinedError, std::string(name) + " of undefined");
  if (!is_number(v) || !is_number(num)) {
    return fail(ErrorKind::InvalidOperation, std::string(name) + ": needs numbers, not " +
                                                 std::string(kind_name(v.kind())) + " and " +
                                                 std::string(kind_name(num.kind())));
  }
  if (v.is_int() && num.is_int() && num.as_int() > 0) {  // the common case, without a Value
    Int128 r = v.as_int() % num.as_int();
    if (r < 0) r += num.as_int();
    return r == target;
  }
  auto r = binary_op(BinaryOp::Mod, v, num);
  if (!r) return std::unexpected(r.error());
  return *r == Value::from_int(target);
}

// 4 is even → true; 3.0 is odd → true (Python's modulo).
template <int kTarget>
Result<bool> do_parity(State&, Args args, const Kwargs& kwargs) {
  const char* name = kTarget == 0 ? "even" : "odd";
  auto b = bind<1>(name, args, kwargs, {"value"}, 1);
  if (!b) return std::unexpected(b.error());
  return modulo_is(name, *(*b)[0], Value::from_int(2), kTarget);
}

// 9 is divisibleby 3 → true.
Result<bool> do_divisibleby(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<2>("divisibleby", args, kwargs, {"value", "num"}, 2);
  if (!b) return std::unexpected(b.error());
  return modulo_is("divisibleby", *(*b)[0], *(*b)[1], 0);
}

enum class Cmp { Eq, Ne, Lt, Le, Gt, Ge };

// 1 is eq 1.0 → true; 2 is gt 1 → true; "a" is lt "b" → true.
template <Cmp kOp>
Result<bool> do_compare(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<2>("comparison", args, kwargs, {"a", "b"}, 2);
  if (!b) return std::unexpected(b.error());
  const Value& x = *(*b)[0];
  const Value& y = *(*b)[1];
  if (kOp == Cmp::Eq) return x == y;
  if (kOp == Cmp::Ne) return !(x == y);
  if (x.is_undefined() || y.is_undefined()) {
    return fail(ErrorKind::UndefinedError, "cannot order an undefined value");
  }
  // Every ordering with NaN is false in Python.
  if ((x.is_float() && std::isnan(x.as_float())) || (y.is_float() && std::isnan(y.as_float()))) {
    if (is_number(x) && is_number(y)) return false;
  }
  auto c = compare(x, y);
  if (!c) return std::unexpected(c.error());
  switch (kOp) {
    case Cmp::Lt:
      return *c < 0;
    case Cmp::Le:
      return *c <= 0;
    case Cmp::Gt:
      return *c > 0;
    case Cmp::Ge:
      return *c >= 0;
    default:
      return false;
  }
}

// 2 is in [1, 2] → true; "b" is in "abc" → true.
Result<bool> do_in(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<2>("in", args, kwargs, {"value", "seq"}, 2);
  if (!b) return std::unexpected(b.error());
  return contains(*(*b)[1], *(*b)[0]);
}

// none is sameas none → true; 1 is sameas true → false (different kinds).
Result<bool> do_sameas(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<2>("sameas", args, kwargs, {"value", "other"}, 2);
  if (!b) return std::unexpected(b.error());
  const Value& x = *(*b)[0];
  const Value& y = *(*b)[1];
  if (x.kind() != y.kind()) return false;
  if (x.is_object()) return x.as_object() == y.as_object();
  return x == y;
}

// "abc" is startingwith "ab" → true; a value that is not a string → false.
template <bool kStart>
Result<bool> do_affix(State&, Args args, const Kwargs& kwargs) {
  const char* name = kStart ? "startingwith" : "endingwith";
  auto b = bind<2>(name, args, kwargs, {"value", kStart ? "prefix" : "suffix"}, 2);
  if (!b) return std::unexpected(b.error());
  auto affix = str_arg(name, kStart ? "prefix" : "suffix", *(*b)[1]);
  if (!affix) return std::unexpected(affix.error());
  auto s = (*b)[0]->as_str();
  if (!s) return false;
  return kStart ? s->starts_with(*affix) : s->ends_with(*affix);
}

// "upper" is filter → true.
Result<bool> do_is_filter(State& state, Args args, const Kwargs& kwargs) {
  auto b = bind<1>("filter", args, kwargs, {"value"}, 1);
  if (!b) return std::unexpected(b.error());
  auto name = (*b)[0]->as_str();
  return name && state.environment().find_filter(*name) != nullptr;
}

// "odd" is test → true.
Result<bool> do_is_test(State& state, Args args, const Kwargs& kwargs) {
  auto b = bind<1>("test", args, kwargs, {"value"}, 1);
  if (!b) return std::unexpected(b.error());
  auto name = (*b)[0]->as_str();
  return name && state.environment().find_test(*name) != nullptr;
}

}  // namespace

void add_tests(TestTable& tests) {
  tests["boolean"] = unary<is_boolean>("boolean");     // true is boolean → true
  tests["callable"] = unary<is_callable>("callable");  // cycler(1) is callable → false
  tests["defined"] = unary<is_defined>("defined");     // missing is defined → false
  tests["divisibleby"] = do_divisibleby;
  tests["endingwith"] = do_affix<false>;
  tests["=="] = do_compare<Cmp::Eq>;
  tests["eq"] = do_compare<Cmp::Eq>;
  tests["equalto"] = do_compare<Cmp::Eq>;
  tests["escaped"] = unary<is_escaped>("escaped");  // "x"|safe is escaped → true
  tests["even"] = do_parity<0>;
  tests["false"] = unary<is_false>("false");  // false is false → true
  tests["filter"] = do_is_filter;
  tests["float"] = unary<is_float>("float");  // 1.0 is float → true
  tests[">="] = do_compare<Cmp::Ge>;
  tests["ge"] = do_compare<Cmp::Ge>;
  tests[">"] = do_compare<Cmp::Gt>;
  tests["gt"] = do_compare<Cmp::Gt>;
  tests["greaterthan"] = do_compare<Cmp::Gt>;
  tests["in"] = do_in;
  tests["integer"] = unary<is_integer>("integer");     // true is integer → false
  tests["iterable"] = unary<is_iterable>("iterable");  // "ab" is iterable → true
  tests["<="] = do_compare<Cmp::Le>;
  tests["le"] = do_compare<Cmp::Le>;
  tests["lower"] = do_case_test<true>;
  tests["<"] = do_compare<Cmp::Lt>;
  tests["lt"] = do_compare<Cmp::Lt>;
  tests["lessthan"] = do_compare<Cmp::Lt>;
  tests["mapping"] = unary<is_mapping>("mapping");  // {} is mapping → true
  tests["!="] = do_compare<Cmp::Ne>;
  tests["ne"] = do_compare<Cmp::Ne>;
  tests["none"] = unary<is_none>("none");        // none is none → true
  tests["number"] = unary<is_number>("number");  // 1.5 is number → true
  tests["odd"] = do_parity<1>;
  tests["safe"] = unary<is_escaped>("safe");  // "x"|safe is safe → true
  tests["sameas"] = do_sameas;
  tests["sequence"] = unary<is_sequence>("sequence");  // [1] is sequence → true
  tests["startingwith"] = do_affix<true>;
  tests["string"] = unary<is_string>("string");  // "a" is string → true
  tests["test"] = do_is_test;
  tests["true"] = unary<is_true>("true");                 // true is true → true
  tests["undefined"] = unary<is_undefined>("undefined");  // missing is undefined → true
  tests["upper"] = do_case_test<false>;
}

}  // namespace korvel::engine::builtins::detail
