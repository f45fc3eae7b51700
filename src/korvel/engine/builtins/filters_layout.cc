// Built-in layout filters — center, truncate, filesizeformat — with Jinja2's arguments.
// Entry point: add_layout_filters. Widths and lengths count characters, as Python's do.
#include <cmath>
#include <cstdio>
#include <string>

#include "korvel/engine/builtins/args.hpp"
#include "korvel/engine/builtins/families.hpp"
#include "korvel/engine/builtins/str_ops.hpp"
#include "korvel/engine/state.hpp"
#include "korvel/text/utf8.hpp"

namespace korvel::engine::builtins::detail {
namespace {

using Args = std::span<const Value>;

// "abc"|center(9) → "   abc   "; the odd space goes where Python's str.center puts it.
Result<Value> do_center(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<2>("center", args, kwargs, {"value", "width"}, 1);
  if (!b) return std::unexpected(b.error());
  const Value& v = *(*b)[0];
  long long width = 80;
  if (const Value* w = (*b)[1]) {
    auto n = count_arg("center", "width", *w);
    if (!n) return std::unexpected(n.error());
    width = *n;
  }
  std::string storage;
  auto text = text_view(v, storage);
  if (!text) return std::unexpected(text.error());
  const long long len = static_cast<long long>(char_count(*text));
  if (width <= len) return Value::string_with_mark(std::string(*text), v.is_safe());
  const long long margin = width - len;
  if (auto r = check_built_size("center", text->size() + static_cast<std::size_t>(margin)); !r) {
    return std::unexpected(r.error());
  }
  const long long left = margin / 2 + (margin & width & 1);
  std::string out(static_cast<std::size_t>(left), ' ');
  out += *text;
  out.append(static_cast<std::size_t>(margin - left), ' ');
  return Value::string_with_mark(std::move(out), v.is_safe());
}

// "foo bar baz qux"|truncate(9) → "foo..."; truncate(9, true) → "foo ba..."; a text at most
// `leeway` (default 5) characters too long stays whole.
Result<Value> do_truncate(State& state, Args args, const Kwargs& kwargs) {
  auto b = bind<5>("truncate", args, kwargs, {"s", "length", "killwords", "end", "leeway"}, 1);
  if (!b) return std::unexpected(b.error());
  const Value& v = *(*b)[0];
  long long length = 255;
  if (const Value* l = (*b)[1]) {
    auto n = count_arg("truncate", "length", *l);
    if (!n) return std::unexpected(n.error());
    length = *n;
  }
  const bool killwords = (*b)[2] && (*b)[2]->is_true();
  std::string end_storage = "...";
  std::string_view end = end_storage;
  if (const Value* e = (*b)[3]) {
    auto s = str_arg("truncate", "end", *e);
    if (!s) return std::unexpected(s.error());
    end = *s;
  }
  long long leeway = 5;
  if ((*b).given(4)) {
    auto n = count_arg("truncate", "leeway", *(*b)[4]);
    if (!n) return std::unexpected(n.error());
    leeway = *n;
  }
  const long long end_len = static_cast<long long>(char_count(end));
  if (length < end_len) {
    return fail(ErrorKind::InvalidOperation,
                "truncate(): expected length >= " + std::to_string(end_len) + ", got " +
                    std::to_string(length));
  }
  if (leeway < 0) {
    return fail(ErrorKind::InvalidOperation,
                "truncate(): expected leeway >= 0, got " + std::to_string(leeway));
  }
  if (v.is_undefined()) return v;
  auto s = v.as_str();
  if (!s) {
    return fail(ErrorKind::InvalidOperation,
                "truncate() needs a string, not " + std::string(kind_name(v.kind())));
  }
  const long long len = static_cast<long long>(char_count(*s));
  if (len <= length || len - length <= leeway) return v;  // no overflow near the largest length
  std::string_view kept = text::first_chars(*s, static_cast<std::size_t>(length - end_len));
  if (!killwords) {
    // Drop the last (possibly cut) word: everything from the last space on.
    const std::size_t space = kept.rfind(' ');
    if (space != std::string_view::npos) kept = kept.substr(0, space);
  }
  std::string out(kept);
  if (v.is_safe() && state.escape().kind == EscapeChoice::Kind::Html) {
    write_html_escaped(end, out);  // a safe text escapes what is added to it, as markup does
  } else {
    out += end;
  }
  return Value::string_with_mark(std::move(out), v.is_safe());
}

// 1500000|filesizeformat → "1.5 MB"; 1024|filesizeformat(true) → "1.0 KiB"; 1 → "1 Byte".
Result<Value> do_filesizeformat(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<2>("filesizeformat", args, kwargs, {"value", "binary"}, 1);
  if (!b) return std::unexpected(b.error());
  const Value& v = *(*b)[0];
  const bool binary = (*b)[1] && (*b)[1]->is_true();
  if (v.is_undefined()) {
    return fail(ErrorKind::UndefinedError, "filesizeformat() of an undefined value");
  }
  std::optional<double> bytes = v.to_float();
  if (!bytes && (v.is_string() || v.is_bytes())) bytes = py_parse_float(v.str());
  if (!bytes) {
    return fail(ErrorKind::InvalidOperation, "filesizeformat(): cannot read " +
                                                 std::string(kind_name(v.kind())) + " as a number");
  }
  const double n = *bytes;
  if (n == 1) return Value::from_string(std::string_view("1 Byte"));
  const double base = binary ? 1024 : 1000;
  if (n < base) {
    if (!std::isfinite(n)) {
      return fail(ErrorKind::InvalidOperation, "filesizeformat(): cannot convert " +
                                                   std::string(std::isnan(n) ? "NaN" : "infinity"));
    }
    char buf[400];  // a double's integer digits fit
    std::snprintf(buf, sizeof buf, "%.0f Bytes", std::trunc(n));
    return Value::from_string(std::string_view(buf));
  }
  static constexpr const char* kDecimal[] = {"kB", "MB", "GB", "TB", "PB", "EB", "ZB", "YB"};
  static constexpr const char* kBinary[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB", "ZiB", "YiB"};
  // Python compares the float with the exact integer base ** (i + 2) (at most 1024 ** 9 < 2 **
  // 127), then divides by that integer rounded to a double.
  const Int128 step = binary ? 1024 : 1000;
  Int128 exact_unit = step;
  double unit = 0;
  const char* prefix = "";
  for (int i = 0; i < 8; ++i) {
    exact_unit *= step;
    unit = static_cast<double>(exact_unit);
    prefix = binary ? kBinary[i] : kDecimal[i];
    const bool less = n < 0x1p126 && (n < 0 || static_cast<Int128>(std::floor(n)) < exact_unit);
    if (less) break;
  }
  if (std::isnan(n)) return Value::from_string(std::string("nan ") + prefix);
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.1f %s", base * n / unit, prefix);
  return Value::from_string(std::string_view(buf));
}

}  // namespace

void add_layout_filters(FilterTable& filters) {
  filters["center"] = do_center;
  filters["filesizeformat"] = do_filesizeformat;
  filters["truncate"] = do_truncate;
}

}  // namespace korvel::engine::builtins::detail
