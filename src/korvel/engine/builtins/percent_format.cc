// Python's printf-style `%` formatting for the `format` filter; see percent_format.hpp.
#include "korvel/engine/builtins/percent_format.hpp"

#include <cmath>
#include <cstdio>
#include <optional>

#include "korvel/engine/builtins/args.hpp"
#include "korvel/engine/builtins/str_ops.hpp"
#include "korvel/text/utf8.hpp"

namespace korvel::engine::builtins::detail {
namespace {

struct Conversion {
  bool left = false, plus = false, space = false, alt = false, zero = false;
  long long width = -1;
  long long precision = -1;
  char type = 's';
};

Error format_error(std::string detail) {
  return Error(ErrorKind::InvalidOperation, "format(): " + std::move(detail));
}

// Pads `body` (which may start with a sign and a prefix of `prefix_len` bytes) to the width.
std::string pad(std::string body, const Conversion& cv, std::size_t prefix_len, bool numeric) {
  const std::size_t chars = char_count(body);
  if (cv.width < 0 || chars >= static_cast<std::size_t>(cv.width)) return body;
  const std::size_t fill = static_cast<std::size_t>(cv.width) - chars;
  if (cv.left) return body + std::string(fill, ' ');
  if (cv.zero && numeric) return body.insert(prefix_len, fill, '0');
  return std::string(fill, ' ') + body;
}

std::string sign_of(bool negative, const Conversion& cv) {
  if (negative) return "-";
  if (cv.plus) return "+";
  if (cv.space) return " ";
  return "";
}

std::string format_int(Int128 v, const Conversion& cv) {
  const bool negative = v < 0;
  UInt128 mag = negative ? UInt128(0) - static_cast<UInt128>(v) : static_cast<UInt128>(v);
  unsigned base = 10;
  std::string prefix;
  bool upper = false;
  if (cv.type == 'o') {
    base = 8;
    if (cv.alt) prefix = "0o";
  } else if (cv.type == 'x' || cv.type == 'X') {
    base = 16;
    upper = cv.type == 'X';
    if (cv.alt) prefix = upper ? "0X" : "0x";
  }
  std::string digits;
  do {
    const unsigned d = static_cast<unsigned>(mag % base);
    digits.push_back(static_cast<char>(d < 10 ? '0' + d : (upper ? 'A' : 'a') + d - 10));
    mag /= base;
  } while (mag != 0);
  if (cv.precision > static_cast<long long>(digits.size())) {
    digits.append(static_cast<std::size_t>(cv.precision) - digits.size(), '0');
  }
  std::string body = sign_of(negative, cv) + prefix;
  const std::size_t prefix_len = body.size();
  body.append(digits.rbegin(), digits.rend());
  return pad(std::move(body), cv, prefix_len, true);
}

std::string format_float(double d, const Conversion& cv) {
  std::string f = "%";
  if (cv.plus) f += '+';
  if (cv.space) f += ' ';
  if (cv.alt) f += '#';
  f += '.';
  f += std::to_string(cv.precision < 0 ? 6 : std::min(cv.precision, 400LL));
  f += cv.type;
  char stack[64];
  int n = std::snprintf(stack, sizeof stack, f.c_str(), d);
  std::string body;
  if (n >= 0 && static_cast<std::size_t>(n) < sizeof stack) {
    body.assign(stack, static_cast<std::size_t>(n));
  } else if (n >= 0) {
    body.resize(static_cast<std::size_t>(n) + 1);
    std::snprintf(body.data(), body.size(), f.c_str(), d);
    body.resize(static_cast<std::size_t>(n));
  }
  const std::size_t sign_len =
      (!body.empty() && (body[0] == '-' || body[0] == '+' || body[0] == ' ')) ? 1 : 0;
  return pad(std::move(body), cv, sign_len, std::isfinite(d));
}

std::string truncate_chars(std::string s, long long precision) {
  if (precision < 0) return s;
  return std::string(text::first_chars(s, static_cast<std::size_t>(precision)));
}

}  // namespace

Result<std::string> repr_of(const Value& v) {
  if (!v.is_string()) return v.to_display_checked();
  // The listing form quotes nested strings; borrow it for a lone string.
  std::string quoted;
  write_json_string(v.str(), quoted);
  return quoted;
}

Result<std::string> percent_format(std::string_view fmt, std::span<const Value> args,
                                   const Kwargs& named, bool escape_args) {
  std::string out;
  out.reserve(fmt.size() + 16);
  std::size_t next_arg = 0;
  std::optional<Value> mapping_value;  // the named values as one map, built on first use
  auto whole_mapping = [&]() -> const Value& {
    if (!mapping_value) {
      MapEntries entries;
      for (const auto& [k, v] : named) entries.emplace_back(Value::from_string(k), v);
      mapping_value = Value::from_map(std::move(entries));
    }
    return *mapping_value;
  };
  // With named values, as Python does with a mapping: one plain conversion before any named one
  // formats the whole mapping; any other plain conversion finds no argument.
  bool mapping_used = false;
  auto take = [&]() -> Result<Value> {
    if (!named.empty()) {
      if (mapping_used) return std::unexpected(format_error("not enough arguments"));
      mapping_used = true;
      return whole_mapping();
    }
    if (next_arg >= args.size()) return std::unexpected(format_error("not enough arguments"));
    return args[next_arg++];
  };
  std::size_t i = 0;
  while (i < fmt.size()) {
    if (auto r = check_built_size("format", out.size()); !r) return std::unexpected(r.error());
    const std::size_t pct = fmt.find('%', i);
    if (pct == std::string_view::npos) {
      out.append(fmt.substr(i));
      break;
    }
    out.append(fmt.substr(i, pct - i));
    i = pct + 1;
    if (i >= fmt.size()) return std::unexpected(format_error("incomplete format"));
    Conversion cv;
    std::optional<Value> keyed;
    if (fmt[i] == '(') {
      // %(name)s: the name may hold balanced parentheses, as in Python.
      int depth = 1;
      const std::size_t start = ++i;
      while (i < fmt.size() && depth > 0) {
        if (fmt[i] == '(') ++depth;
        if (fmt[i] == ')') --depth;
        ++i;
      }
      if (depth > 0) return std::unexpected(format_error("incomplete format key"));
      const std::string_view key = fmt.substr(start, i - 1 - start);
      if (named.empty()) return std::unexpected(format_error("format requires a mapping"));
      const Value* found = find_kwarg(named, key);
      if (found == nullptr) {
        return std::unexpected(format_error("no value named '" + std::string(key) + "'"));
      }
      keyed = *found;
      mapping_used = true;
    }
    for (; i < fmt.size(); ++i) {
      const char c = fmt[i];
      if (c == '-')
        cv.left = true;
      else if (c == '+')
        cv.plus = true;
      else if (c == ' ')
        cv.space = true;
      else if (c == '#')
        cv.alt = true;
      else if (c == '0')
        cv.zero = true;
      else
        break;
    }
    auto read_number = [&](long long& target, bool is_width) -> Result<void> {
      if (i < fmt.size() && fmt[i] == '*') {
        ++i;
        auto v = take();
        if (!v) return std::unexpected(v.error());
        if (!v->is_int() && !v->is_bool()) return std::unexpected(format_error("* wants int"));
        auto n = count_arg("format", "*", *v);
        if (!n) return std::unexpected(n.error());
        target = *n;
        if (target > 100000000 || target < -100000000) {
          return std::unexpected(format_error("* width or precision too big"));
        }
        if (is_width && target < 0) {  // a negative * width means left alignment
          cv.left = true;
          target = -target;
        }
        return {};
      }
      if (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
        target = 0;
        while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
          target = target * 10 + (fmt[i] - '0');
          if (target > 100000000) return std::unexpected(format_error("width too big"));
          ++i;
        }
      }
      return {};
    };
    if (auto r = read_number(cv.width, true); !r) return std::unexpected(r.error());
    if (i < fmt.size() && fmt[i] == '.') {
      ++i;
      cv.precision = 0;
      if (auto r = read_number(cv.precision, false); !r) return std::unexpected(r.error());
      if (cv.precision < 0) cv.precision = 0;
    }
    while (i < fmt.size() && (fmt[i] == 'h' || fmt[i] == 'l' || fmt[i] == 'L')) ++i;
    if (i >= fmt.size()) return std::unexpected(format_error("incomplete format"));
    cv.type = fmt[i++];
    if (cv.type == '%') {
      out.push_back('%');
      continue;
    }
    Value arg;
    if (keyed) {
      arg = *keyed;
    } else {
      auto v = take();
      if (!v) return std::unexpected(v.error());
      arg = *v;
    }
    switch (cv.type) {
      case 's':
      case 'r':
      case 'a': {
        auto text_or = cv.type == 's' ? text_of(arg) : repr_of(arg);
        if (!text_or) return std::unexpected(text_or.error());
        std::string text = std::move(*text_or);
        if (escape_args && !arg.is_safe()) {
          std::string escaped;
          write_html_escaped(text, escaped);
          text = std::move(escaped);
        }
        out += pad(truncate_chars(std::move(text), cv.precision), cv, 0, false);
        break;
      }
      case 'd':
      case 'i':
      case 'u':
      case 'o':
      case 'x':
      case 'X': {
        std::optional<Int128> n;
        if (arg.is_int() || arg.is_bool()) {
          n = arg.is_int() ? arg.as_int() : Int128(arg.as_bool());
        } else if (arg.is_float() && (cv.type == 'd' || cv.type == 'i' || cv.type == 'u')) {
          const double d = arg.as_float();
          if (!std::isfinite(d)) {
            return std::unexpected(
                format_error("cannot convert float " + arg.to_display() + " to integer"));
          }
          if (std::fabs(d) >= 1.7e38) return std::unexpected(format_error("integer overflow"));
          n = static_cast<Int128>(std::trunc(d));
        }
        if (!n) {
          return std::unexpected(
              format_error(std::string("%") + cv.type + " format: " +
                           (cv.type == 'o' || cv.type == 'x' || cv.type == 'X' ? "an integer"
                                                                               : "a real number") +
                           " is required, not " + std::string(kind_name(arg.kind()))));
        }
        if (cv.type == 'u') cv.type = 'd';
        out += format_int(*n, cv);
        break;
      }
      case 'e':
      case 'E':
      case 'f':
      case 'F':
      case 'g':
      case 'G': {
        const std::optional<double> d = arg.to_float();
        if (!d || arg.is_undefined() || arg.is_none()) {
          return std::unexpected(format_error(std::string("%") + cv.type +
                                              " format: a real number is required, not " +
                                              std::string(kind_name(arg.kind()))));
        }
        out += format_float(*d, cv);
        break;
      }
      case 'c': {
        std::string ch;
        if (arg.is_int() || arg.is_bool()) {
          const Int128 cp = arg.is_int() ? arg.as_int() : Int128(arg.as_bool());
          if (cp < 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return std::unexpected(format_error("%c arg not in range(0x110000)"));
          }
          text::append_utf8(static_cast<char32_t>(cp), ch);
        } else if (auto s = arg.as_str(); s && char_count(*s) == 1) {
          ch = std::string(*s);
        } else {
          return std::unexpected(format_error("%c requires an integer or a character"));
        }
        out += pad(std::move(ch), cv, 0, false);
        break;
      }
      default: {
        // Name the whole character, not just its first byte.
        const std::size_t at = i - 1;
        const std::string_view ch = fmt.substr(at, decode_at(fmt, at).size);
        return std::unexpected(format_error("unsupported format character '" + std::string(ch) +
                                            "' at index " + std::to_string(at)));
      }
    }
  }
  if (auto r = check_built_size("format", out.size()); !r) return std::unexpected(r.error());
  if (named.empty() && next_arg < args.size()) {
    return std::unexpected(format_error("not all arguments converted during string formatting"));
  }
  return out;
}

}  // namespace korvel::engine::builtins::detail
