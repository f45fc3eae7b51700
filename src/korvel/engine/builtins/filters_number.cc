// Built-in number filters — abs, bool, float, int, round — with Jinja2's arguments and Python's
// conversions (int("0x1f", 16), int("42.7") → 42, float("1_000.5")). Integers are 128-bit: a
// result that does not fit is an error, never a wrong number. Entry point: add_number_filters.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "korvel/engine/builtins/args.hpp"
#include "korvel/engine/builtins/families.hpp"
#include "korvel/engine/builtins/str_ops.hpp"
#include "korvel/engine/state.hpp"

namespace korvel::engine::builtins::detail {
namespace {

using Args = std::span<const Value>;

constexpr double kTwoPow127 = 170141183460469231731687303715884105728.0;

std::unexpected<Error> overflow(std::string_view name) {
  return fail(ErrorKind::InvalidOperation, std::string(name) + "(): integer overflow");
}

bool is_ascii(std::string_view s) {
  for (unsigned char c : s) {
    if (c >= 0x80) return false;
  }
  return true;
}

enum class ParseInt { Ok, Invalid, Overflow };

// Python's int(text, base): white space, a sign, an optional 0x/0o/0b prefix matching the base
// (base 0 takes it from the prefix), digits with single underscores between them.
ParseInt parse_py_int(std::string_view text, Int128 base_arg, Int128& out) {
  if (base_arg != 0 && (base_arg < 2 || base_arg > 36)) return ParseInt::Invalid;
  int base = static_cast<int>(base_arg);
  std::string ascii;
  if (!is_ascii(text)) {
    ascii = ascii_number_text(text);
    text = ascii;
  }
  std::string_view s = py_strip(text);
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  auto prefix_base = [&](char c) {
    c = static_cast<char>(c | 0x20);
    return c == 'x' ? 16 : c == 'o' ? 8 : c == 'b' ? 2 : 0;
  };
  bool had_prefix = false;
  if (s.size() >= 2 && s[0] == '0' && prefix_base(s[1]) != 0 &&
      (base == 0 || base == prefix_base(s[1]))) {
    base = prefix_base(s[1]);
    s.remove_prefix(2);
    had_prefix = true;
  }
  if (base == 0) {
    base = 10;
    // Base 0 refuses leading zeros on a non-zero decimal ("010").
    bool all_zero = true;
    for (char c : s) all_zero = all_zero && (c == '0' || c == '_');
    if (s.size() > 1 && s[0] == '0' && !all_zero) return ParseInt::Invalid;
  }
  if (s.empty()) return ParseInt::Invalid;
  UInt128 mag = 0;
  const UInt128 limit = negative ? (UInt128(1) << 127) : (UInt128(1) << 127) - 1;
  bool prev_digit = had_prefix;  // "0x_1f" is allowed: an underscore may follow the prefix
  bool any = false;
  bool over = false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '_') {
      if (!prev_digit || i + 1 >= s.size() || s[i + 1] == '_') return ParseInt::Invalid;
      prev_digit = false;
      continue;
    }
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'z')
      d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'Z')
      d = c - 'A' + 10;
    else
      return ParseInt::Invalid;
    if (d >= base) return ParseInt::Invalid;
    prev_digit = true;
    any = true;
    if (!over) {
      if (mag > (limit - static_cast<UInt128>(d)) / static_cast<UInt128>(base)) {
        over = true;
      } else {
        mag = mag * static_cast<UInt128>(base) + static_cast<UInt128>(d);
      }
    }
  }
  if (!any) return ParseInt::Invalid;
  if (over) return ParseInt::Overflow;
  out = negative ? static_cast<Int128>(UInt128(0) - mag) : static_cast<Int128>(mag);
  return ParseInt::Ok;
}

// A float truncated toward zero, as Python's int(float).
Result<Value> int_of_float(double d, const Value& fallback, bool nan_gives_default) {
  if (std::isnan(d)) {
    if (nan_gives_default) return fallback;
    return fail(ErrorKind::InvalidOperation, "int(): cannot convert float NaN to integer");
  }
  if (std::isinf(d)) return fail(ErrorKind::InvalidOperation, "int(): cannot convert infinity");
  const double t = std::trunc(d);
  if (t >= kTwoPow127 || t < -kTwoPow127) return overflow("int");
  return Value::from_int(static_cast<Int128>(t));
}

// -3|abs → 3; -2.5|abs → 2.5.
Result<Value> do_abs(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<1>("abs", args, kwargs, {"x"}, 1);
  if (!b) return std::unexpected(b.error());
  const Value& v = *(*b)[0];
  if (v.is_bool()) return Value::from_int(v.as_bool() ? 1 : 0);
  if (v.is_int()) {
    const Int128 i = v.as_int();
    if (i >= 0) return v;
    if (i == static_cast<Int128>(UInt128(1) << 127)) return overflow("abs");
    return Value::from_int(-i);
  }
  if (v.is_float()) return Value::from_float(std::fabs(v.as_float()));
  return fail(ErrorKind::InvalidOperation,
              "abs(): bad operand type " + std::string(kind_name(v.kind())));
}

// 0|bool → false; "x"|bool → true (the value's truth, as an `if` sees it).
Result<Value> do_bool(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<1>("bool", args, kwargs, {"value"}, 1);
  if (!b) return std::unexpected(b.error());
  return Value::from_bool((*b)[0]->is_true());
}

// "1.5"|float → 1.5; "x"|float → 0.0; "x"|float(-1) → -1.
Result<Value> do_float(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<2>("float", args, kwargs, {"value", "default"}, 1);
  if (!b) return std::unexpected(b.error());
  const Value& v = *(*b)[0];
  const Value fallback = (*b).get_or(1, Value::from_float(0.0));
  if (v.is_undefined()) return fail(ErrorKind::UndefinedError, "float() of an undefined value");
  if (auto d = v.to_float()) return Value::from_float(*d);
  if (v.is_string() || v.is_bytes()) {
    if (auto d = py_parse_float(v.str())) return Value::from_float(*d);
  }
  return fallback;
}

// "42"|int → 42; "42.7"|int → 42; "0x1f"|int(base=16) → 31; "x"|int(-1) → -1.
Result<Value> do_int(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<3>("int", args, kwargs, {"value", "default", "base"}, 1);
  if (!b) return std::unexpected(b.error());
  const Value& v = *(*b)[0];
  const Value fallback = (*b).get_or(1, Value::from_int(0));
  if (v.is_undefined()) return fail(ErrorKind::UndefinedError, "int() of an undefined value");
  if (v.is_int()) return v;
  if (v.is_bool()) return Value::from_int(v.as_bool() ? 1 : 0);
  if (v.is_float()) return int_of_float(v.as_float(), fallback, true);
  if (!v.is_string() && !v.is_bytes()) return fallback;
  Int128 base = 10;
  if (const Value* bv = (*b)[2]) {
    auto bi = int_arg("int", "base", *bv);
    if (!bi) return std::unexpected(bi.error());
    base = *bi;
  }
  Int128 n;
  switch (parse_py_int(v.str(), base, n)) {
    case ParseInt::Ok:
      return Value::from_int(n);
    case ParseInt::Overflow:
      return overflow("int");
    case ParseInt::Invalid:
      break;
  }
  // Not an integer in that base: read it as a float and truncate ("42.7" → 42).
  if (auto d = py_parse_float(v.str())) {
    if (std::isinf(*d) || std::isnan(*d)) return fallback;
    return int_of_float(*d, fallback, true);
  }
  return fallback;
}

// Rounds decimal text "digits.fraction" (no sign) to `k` >= 1 places left of the point, half to
// even on the exact value; returns the rounded integer text.
std::string round_decimal_left(const std::string& text, int k) {
  const std::size_t dot = text.find('.');
  std::string int_part = text.substr(0, dot);
  const std::string frac = dot == std::string::npos ? "" : text.substr(dot + 1);
  if (int_part.size() < static_cast<std::size_t>(k)) {
    int_part.insert(0, static_cast<std::size_t>(k) - int_part.size(), '0');
  }
  std::string head = int_part.substr(0, int_part.size() - static_cast<std::size_t>(k));
  const std::string tail = int_part.substr(int_part.size() - static_cast<std::size_t>(k)) + frac;
  // Compare the tail with one half (5000...).
  int cmp = 0;
  if (tail[0] != '5') {
    cmp = tail[0] > '5' ? 1 : -1;
  } else {
    for (std::size_t i = 1; i < tail.size(); ++i) {
      if (tail[i] != '0') {
        cmp = 1;
        break;
      }
    }
  }
  if (head.empty()) head = "0";
  const bool up = cmp > 0 || (cmp == 0 && (head.back() - '0') % 2 == 1);
  if (up) {
    std::size_t i = head.size();
    while (i > 0 && head[i - 1] == '9') head[--i] = '0';
    if (i == 0) {
      head.insert(0, 1, '1');
    } else {
      ++head[i - 1];
    }
  }
  return head + std::string(static_cast<std::size_t>(k), '0');
}

// Python's round(float, ndigits): correctly rounded, ties to even on the exact binary value.
Result<Value> round_float(double x, long long ndigits) {
  if (!std::isfinite(x) || x == 0.0 || ndigits > 323) return Value::from_float(x);
  if (ndigits < -308) return Value::from_float(std::copysign(0.0, x));
  // Fixed-notation text of a double is at most 309 integer digits, a point and the fraction.
  char buf[1024];
  std::string text;
  if (ndigits >= 0) {
    std::snprintf(buf, sizeof buf, "%.*f", static_cast<int>(ndigits), x);
    text = buf;
  } else {
    // The exact decimal value: a double of magnitude >= 1 has at most 52 fraction digits, and a
    // smaller one rounds to zero here anyway.
    std::snprintf(buf, sizeof buf, "%.60f", std::fabs(x));
    text = (x < 0 ? "-" : "") + round_decimal_left(buf, static_cast<int>(-ndigits));
  }
  const double r = std::strtod(text.c_str(), nullptr);
  if (std::isinf(r)) {
    return fail(ErrorKind::InvalidOperation, "round(): rounded value too large to represent");
  }
  return Value::from_float(r);
}

// Python's round(int, ndigits) for ndigits < 0: to a multiple of 10**-ndigits, ties to even.
Result<Value> round_int(Int128 v, long long ndigits) {
  if (ndigits >= 0) return Value::from_int(v);
  if (ndigits < -38) return Value::from_int(0);
  Int128 m = 1;
  for (long long i = 0; i < -ndigits; ++i) m *= 10;
  Int128 q = v / m, r = v % m;
  if (r < 0) {  // floor division
    q -= 1;
    r += m;
  }
  const Int128 twice = r * 2;  // r < m <= 10**38 < 2**127 / 2
  if (twice > m || (twice == m && (q % 2 != 0))) q += 1;
  Int128 out;
  if (__builtin_mul_overflow(q, m, &out)) return overflow("round");
  return Value::from_int(out);
}

// 42.55|round → 43.0; 42.55|round(1, "floor") → 42.5; 2.5|round → 2.0 (ties to even).
Result<Value> do_round(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<3>("round", args, kwargs, {"value", "precision", "method"}, 1);
  if (!b) return std::unexpected(b.error());
  const Value& v = *(*b)[0];
  std::string_view method = "common";
  if (const Value* m = (*b)[2]) method = m->as_str().value_or("");
  if (method != "common" && method != "ceil" && method != "floor") {
    return fail(ErrorKind::InvalidOperation, "round(): method must be common, ceil or floor");
  }
  long long precision = 0;
  if (const Value* p = (*b)[1]) {
    auto n = count_arg("round", "precision", *p);
    if (!n) return std::unexpected(n.error());
    precision = *n;
  }
  if (!v.is_int() && !v.is_bool() && !v.is_float()) {
    return fail(ErrorKind::InvalidOperation,
                "round(): cannot round " + std::string(kind_name(v.kind())));
  }
  if (method == "common") {
    if (v.is_float()) return round_float(v.as_float(), precision);
    return round_int(*v.to_int(), precision);
  }
  // ceil / floor: (value * 10**precision) rounded, divided back, as Jinja2 computes it.
  const double x = *v.to_float();
  const double scale = std::pow(10.0, static_cast<double>(precision));
  if (scale == 0) return fail(ErrorKind::InvalidOperation, "round(): division by zero");
  const double scaled = method == "ceil" ? std::ceil(x * scale) : std::floor(x * scale);
  if (!std::isfinite(scaled)) {
    return fail(ErrorKind::InvalidOperation, "round(): cannot round a non-finite value");
  }
  return Value::from_float(scaled / scale);
}

}  // namespace

void add_number_filters(FilterTable& filters) {
  filters["abs"] = do_abs;
  filters["bool"] = do_bool;
  filters["float"] = do_float;
  filters["int"] = do_int;
  filters["round"] = do_round;
}

}  // namespace korvel::engine::builtins::detail
