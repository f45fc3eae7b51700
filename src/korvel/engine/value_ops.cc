// korvel::engine value operations — binary_op, negate, concat, compare, total_order, contains:
// Python's semantics for the template language, on 128-bit integers with overflow detected.
#include "korvel/engine/value_ops.hpp"

#include <cmath>
#include <string>
#include <vector>

#include "korvel/engine/object.hpp"
#include "korvel/engine/value_heap.hpp"

namespace korvel::engine {

std::optional<Int128> checked_add(Int128 a, Int128 b) noexcept {
  Int128 r;
  if (__builtin_add_overflow(a, b, &r)) return std::nullopt;
  return r;
}

std::optional<Int128> checked_sub(Int128 a, Int128 b) noexcept {
  Int128 r;
  if (__builtin_sub_overflow(a, b, &r)) return std::nullopt;
  return r;
}

std::optional<Int128> checked_mul(Int128 a, Int128 b) noexcept {
  Int128 r;
  if (__builtin_mul_overflow(a, b, &r)) return std::nullopt;
  return r;
}

namespace {

const char* op_symbol(BinaryOp op) {
  switch (op) {
    case BinaryOp::Add:
      return "+";
    case BinaryOp::Sub:
      return "-";
    case BinaryOp::Mul:
      return "*";
    case BinaryOp::Div:
      return "/";
    case BinaryOp::FloorDiv:
      return "//";
    case BinaryOp::Mod:
      return "%";
    case BinaryOp::Pow:
      return "**";
  }
  return "?";
}

std::unexpected<Error> unsupported(BinaryOp op, const Value& a, const Value& b) {
  std::string d = "unsupported operand types for ";
  d += op_symbol(op);
  d += ": ";
  d += kind_name(a.kind());
  d += " and ";
  d += kind_name(b.kind());
  return fail(ErrorKind::InvalidOperation, std::move(d));
}

std::unexpected<Error> overflow() { return fail(ErrorKind::InvalidOperation, "integer overflow"); }

bool integral(const Value& v) { return v.is_int() || v.is_bool(); }

Result<Value> int_op(BinaryOp op, Int128 a, Int128 b) {
  switch (op) {
    case BinaryOp::Add:
      if (auto r = checked_add(a, b)) return Value::from_int(*r);
      return overflow();
    case BinaryOp::Sub:
      if (auto r = checked_sub(a, b)) return Value::from_int(*r);
      return overflow();
    case BinaryOp::Mul:
      if (auto r = checked_mul(a, b)) return Value::from_int(*r);
      return overflow();
    case BinaryOp::Div:
      if (b == 0) return fail(ErrorKind::InvalidOperation, "division by zero");
      return Value::from_float(static_cast<double>(a) / static_cast<double>(b));
    case BinaryOp::FloorDiv:
    case BinaryOp::Mod: {
      if (b == 0) {
        return fail(ErrorKind::InvalidOperation,
                    op == BinaryOp::Mod ? "modulo by zero" : "division by zero");
      }
      // The one quotient that does not fit: the smallest integer divided by -1.
      if (b == -1 && a == kInt128Min) {
        if (op == BinaryOp::Mod) return Value::from_int(0);
        return overflow();
      }
      Int128 q = a / b, r = a % b;
      if (r != 0 && ((r < 0) != (b < 0))) {
        q -= 1;
        r += b;
      }
      return Value::from_int(op == BinaryOp::FloorDiv ? q : r);
    }
    case BinaryOp::Pow: {
      if (b < 0) {
        if (a == 0) {
          return fail(ErrorKind::InvalidOperation, "zero cannot be raised to a negative power");
        }
        return Value::from_float(std::pow(static_cast<double>(a), static_cast<double>(b)));
      }
      Int128 result = 1, base = a;
      Int128 e = b;
      while (e > 0) {
        if (e & 1) {
          auto r = checked_mul(result, base);
          if (!r) return overflow();
          result = *r;
        }
        e >>= 1;
        if (e > 0) {
          auto sq = checked_mul(base, base);
          if (!sq) return overflow();
          base = *sq;
        }
      }
      return Value::from_int(result);
    }
  }
  return overflow();
}

Result<Value> float_op(BinaryOp op, double a, double b) {
  switch (op) {
    case BinaryOp::Add:
      return Value::from_float(a + b);
    case BinaryOp::Sub:
      return Value::from_float(a - b);
    case BinaryOp::Mul:
      return Value::from_float(a * b);
    case BinaryOp::Div:
      if (b == 0) return fail(ErrorKind::InvalidOperation, "division by zero");
      return Value::from_float(a / b);
    case BinaryOp::FloorDiv:
      if (b == 0) return fail(ErrorKind::InvalidOperation, "division by zero");
      {
        // Python's float floor division (divmod-based, so 1 // 0.1 is 9.0, not 10.0).
        double mod = std::fmod(a, b);
        double div = (a - mod) / b;
        if (mod != 0 && ((b < 0) != (mod < 0))) div -= 1.0;
        double floordiv;
        if (div != 0) {
          floordiv = std::floor(div);
          if (div - floordiv > 0.5) floordiv += 1.0;
        } else {
          floordiv = std::copysign(0.0, a / b);
        }
        return Value::from_float(floordiv);
      }
    case BinaryOp::Mod: {
      if (b == 0) return fail(ErrorKind::InvalidOperation, "modulo by zero");
      double r = std::fmod(a, b);
      if (r != 0 && ((r < 0) != (b < 0))) r += b;
      // As in Python, a zero remainder takes the sign of the divisor.
      if (r == 0) r = std::copysign(0.0, b);
      return Value::from_float(r);
    }
    case BinaryOp::Pow:
      if (a == 0 && b < 0) {
        return fail(ErrorKind::InvalidOperation, "zero cannot be raised to a negative power");
      }
      return Value::from_float(std::pow(a, b));
  }
  return Value::from_float(0);
}

Result<Value> repeat(const Value& seq_or_str, const Value& count) {
  Int128 n = *count.to_int();
  if (n < 0) n = 0;
  if (seq_or_str.is_string()) {
    const std::string_view s = seq_or_str.str();
    if (!s.empty() && n > static_cast<Int128>(kMaxRepeatBytes / s.size())) {
      return fail(ErrorKind::InvalidOperation, "repeated string too long");
    }
    std::string out;
    out.reserve(s.size() * static_cast<std::size_t>(n));
    for (Int128 i = 0; i < n; ++i) out += s;
    return Value::string_with_mark(std::move(out), seq_or_str.is_safe());
  }
  const std::size_t len = seq_or_str.seq_len();
  if (len != 0 && n > static_cast<Int128>(kMaxRepeatItems / len)) {
    return fail(ErrorKind::InvalidOperation, "repeated sequence too long");
  }
  std::vector<Value> out;
  out.reserve(len * static_cast<std::size_t>(n));
  for (Int128 i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < len; ++j) out.push_back(seq_or_str.seq_at(j));
  }
  return Value::from_seq(std::move(out));
}

}  // namespace

Result<Value> binary_op(BinaryOp op, const Value& a, const Value& b) {
  const bool na = a.is_number() || a.is_bool(), nb = b.is_number() || b.is_bool();
  if (na && nb) {
    if (integral(a) && integral(b)) return int_op(op, *a.to_int(), *b.to_int());
    return float_op(op, *a.to_float(), *b.to_float());
  }
  if (op == BinaryOp::Add) {
    if (a.is_string() && b.is_string()) {
      if (a.str().size() + b.str().size() > kMaxDisplayBytes) {
        return fail(ErrorKind::InvalidOperation, "string too long");
      }
      std::string out;
      out.reserve(a.str().size() + b.str().size());
      out += a.str();
      out += b.str();
      return Value::string_with_mark(std::move(out), a.is_safe() && b.is_safe());
    }
    if (a.is_seq() && b.is_seq()) {
      if (a.seq_len() + b.seq_len() > kMaxRepeatItems) {
        return fail(ErrorKind::InvalidOperation, "sequence too long");
      }
      std::vector<Value> out;
      out.reserve(a.seq_len() + b.seq_len());
      for (std::size_t i = 0; i < a.seq_len(); ++i) out.push_back(a.seq_at(i));
      for (std::size_t i = 0; i < b.seq_len(); ++i) out.push_back(b.seq_at(i));
      return Value::from_seq(std::move(out));
    }
    if (a.is_bytes() && b.is_bytes()) {
      if (a.str().size() + b.str().size() > kMaxDisplayBytes) {
        return fail(ErrorKind::InvalidOperation, "bytes too long");
      }
      return Value::from_bytes(std::string(a.str()) + std::string(b.str()));
    }
  }
  if (op == BinaryOp::Mul) {
    if ((a.is_string() || a.is_seq()) && integral(b)) return repeat(a, b);
    if ((b.is_string() || b.is_seq()) && integral(a)) return repeat(b, a);
  }
  return unsupported(op, a, b);
}

Result<Value> negate(const Value& a) {
  if (a.is_float()) return Value::from_float(-a.as_float());
  if (integral(a)) {
    if (auto r = checked_sub(0, *a.to_int())) return Value::from_int(*r);
    return overflow();
  }
  return fail(ErrorKind::InvalidOperation,
              std::string("bad operand type for unary -: ") + std::string(kind_name(a.kind())));
}

Result<Value> unary_plus(const Value& a) {
  if (a.is_float()) return a;
  if (integral(a)) return Value::from_int(*a.to_int());
  return fail(ErrorKind::InvalidOperation,
              std::string("bad operand type for unary +: ") + std::string(kind_name(a.kind())));
}

Result<Value> concat(const Value& a, const Value& b) {
  std::string out;
  if (auto r = a.write_display_checked(out); !r) return std::unexpected(r.error());
  if (auto r = b.write_display_checked(out, kMaxDisplayBytes - out.size()); !r) {
    return fail(ErrorKind::InvalidOperation, "string too long");
  }
  return Value::string_with_mark(std::move(out), a.is_safe() && b.is_safe());
}

namespace {
int sign_of(int c) { return (c > 0) - (c < 0); }

Result<int> compare_at(const Value& a, const Value& b, int depth) {
  if (depth > detail::kMaxValueDepth) {
    return fail(ErrorKind::InvalidOperation, "values nested too deeply to compare");
  }
  const bool na = a.is_number() || a.is_bool(), nb = b.is_number() || b.is_bool();
  if (na && nb) {
    if (integral(a) && integral(b)) {
      const Int128 x = *a.to_int(), y = *b.to_int();
      return (x > y) - (x < y);
    }
    if (!a.is_float() || !b.is_float()) {
      // Exact int/float ordering where the float is integral.
      const Value& f = a.is_float() ? a : b;
      if (auto fi = f.to_int()) {
        const Int128 x = a.is_float() ? *fi : *a.to_int();
        const Int128 y = b.is_float() ? *fi : *b.to_int();
        return (x > y) - (x < y);
      }
    }
    const double x = *a.to_float(), y = *b.to_float();
    if (std::isnan(x) || std::isnan(y)) return 0;  // unordered: neither less nor greater
    return (x > y) - (x < y);
  }
  if (a.is_string() && b.is_string()) return sign_of(a.str().compare(b.str()));
  if (a.is_bytes() && b.is_bytes()) return sign_of(a.str().compare(b.str()));
  if (a.is_seq() && b.is_seq()) {
    if (a == b) return 0;
    const std::size_t n = a.seq_len(), m = b.seq_len();
    for (std::size_t i = 0; i < n && i < m; ++i) {
      Value x = a.seq_at(i), y = b.seq_at(i);
      if (x == y) continue;
      return compare_at(x, y, depth + 1);
    }
    return (n > m) - (n < m);
  }
  std::string d = "cannot compare ";
  d += kind_name(a.kind());
  d += " with ";
  d += kind_name(b.kind());
  return fail(ErrorKind::InvalidOperation, std::move(d));
}

int kind_rank(ValueKind k) {
  switch (k) {
    case ValueKind::Undefined:
      return 0;
    case ValueKind::None:
      return 1;
    case ValueKind::Bool:
    case ValueKind::Int:
    case ValueKind::Float:
      return 2;
    case ValueKind::String:
      return 3;
    case ValueKind::Bytes:
      return 4;
    case ValueKind::Seq:
      return 5;
    case ValueKind::Map:
      return 6;
    case ValueKind::Object:
      return 7;
  }
  return 8;
}

int total_at(const Value& a, const Value& b, int depth) noexcept {
  const int ra = kind_rank(a.kind()), rb = kind_rank(b.kind());
  if (ra != rb) return ra < rb ? -1 : 1;
  if (depth > detail::kMaxValueDepth) return 0;
  switch (ra) {
    case 2:
    case 3:
    case 4: {
      auto c = compare_at(a, b, depth);
      return c ? *c : 0;
    }
    case 5: {
      if (a == b) return 0;
      const std::size_t n = a.seq_len(), m = b.seq_len();
      for (std::size_t i = 0; i < n && i < m; ++i) {
        const int c = total_at(a.seq_at(i), b.seq_at(i), depth + 1);
        if (c != 0) return c;
      }
      return (n > m) - (n < m);
    }
    case 6: {
      const std::size_t n = a.map_len(), m = b.map_len();
      return (n > m) - (n < m);
    }
    default:
      return 0;
  }
}
}  // namespace

Result<int> compare(const Value& a, const Value& b) { return compare_at(a, b, 0); }

int total_order(const Value& a, const Value& b) noexcept { return total_at(a, b, 0); }

Result<bool> contains(const Value& container, const Value& item) {
  switch (container.kind()) {
    case ValueKind::String:
      if (!item.is_string()) {
        return fail(ErrorKind::InvalidOperation,
                    "'in <string>' requires a string as left operand, not " +
                        std::string(kind_name(item.kind())));
      }
      return container.str().find(item.str()) != std::string_view::npos;
    case ValueKind::Bytes:
      if (item.is_bytes()) return container.str().find(item.str()) != std::string_view::npos;
      if (auto i = item.to_int(); i && item.is_int()) {
        for (unsigned char c : container.str()) {
          if (c == *i) return true;
        }
        return false;
      }
      return fail(ErrorKind::InvalidOperation, "'in <bytes>' requires bytes or an integer");
    case ValueKind::Seq: {
      if (const auto* heap = ValueAccess::heap_seq(container)) {
        for (const auto& v : heap->items) {
          if (v == item) return true;
        }
        return false;
      }
      const std::size_t n = container.seq_len();
      for (std::size_t i = 0; i < n; ++i) {
        if (container.seq_at(i) == item) return true;
      }
      return false;
    }
    case ValueKind::Map:
      return !container.get_item(item).is_undefined();
    case ValueKind::Undefined:
      return false;
    case ValueKind::Object:
      if (auto items = container.as_object()->iterate()) {
        for (const auto& v : *items) {
          if (v == item) return true;
        }
        return false;
      }
      break;
    default:
      break;
  }
  return fail(ErrorKind::InvalidOperation,
              "argument of type " + std::string(kind_name(container.kind())) + " is not iterable");
}

}  // namespace korvel::engine
