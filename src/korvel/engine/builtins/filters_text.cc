// Built-in text filters — capitalize, escape (e), forceescape, format, indent, lines, lower,
// replace, safe, split, string, title, trim, upper, urlencode, wordcount, xmlattr — with Jinja2's
// arguments. Entry point: add_text_filters. Filters that Jinja2 runs through markupsafe keep the
// safe mark of their input.
#include <string>
#include <vector>

#include "korvel/engine/builtins/args.hpp"
#include "korvel/engine/builtins/families.hpp"
#include "korvel/engine/builtins/percent_format.hpp"
#include "korvel/engine/builtins/str_ops.hpp"
#include "korvel/engine/state.hpp"
#include "korvel/engine/value_ops.hpp"

namespace korvel::engine::builtins::detail {
namespace {

using Args = std::span<const Value>;

// Jinja2's HTML-aware paths (Markup) apply where the output is HTML-escaped.
bool html_escaping(const State& state) { return state.escape().kind == EscapeChoice::Kind::Html; }

std::string html_escaped(std::string_view text) {
  std::string out;
  write_html_escaped(text, out);
  return out;
}

// A filter whose only parameter is the value: `fn(text)`, keeping the safe mark when `keep_mark`.
template <std::string (*Fn)(std::string_view)>
FilterFn unary_text(const char* name, bool keep_mark) {
  return [name, keep_mark](State&, Args args, const Kwargs& kwargs) -> Result<Value> {
    auto b = bind<1>(name, args, kwargs, {"value"}, 1);
    if (!b) return std::unexpected(b.error());
    const Value& v = *(*b)[0];
    std::string storage;
    auto text = text_view(v, storage);
    if (!text) return std::unexpected(text.error());
    return Value::string_with_mark(Fn(*text), keep_mark && v.is_safe());
  };
}

// "a<b" → "a&lt;b" (safe); a safe string is returned unchanged.
Result<Value> do_escape(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<1>("escape", args, kwargs, {"value"}, 1);
  if (!b) return std::unexpected(b.error());
  const Value& v = *(*b)[0];
  if (v.is_safe()) return v;
  std::string storage;
  auto text = text_view(v, storage);
  if (!text) return std::unexpected(text.error());
  return Value::safe_string(html_escaped(*text));
}

// "<b>"|safe|forceescape → "&lt;b&gt;": escapes even a safe string.
Result<Value> do_forceescape(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<1>("forceescape", args, kwargs, {"value"}, 1);
  if (!b) return std::unexpected(b.error());
  std::string storage;
  auto text = text_view(*(*b)[0], storage);
  if (!text) return std::unexpected(text.error());
  return Value::safe_string(html_escaped(*text));
}

// {"class": "a<b", "id": 5, "skip": none}|xmlattr → ` class="a&lt;b" id="5"`; keys holding
// white space, "/", ">" or "=" are refused, since they would end the attribute name.
Result<Value> do_xmlattr(State& state, Args args, const Kwargs& kwargs) {
  auto b = bind<2>("xmlattr", args, kwargs, {"d", "autospace"}, 1);
  if (!b) return std::unexpected(b.error());
  const Value& d = *(*b)[0];
  if (!d.is_map()) {
    if (d.is_undefined()) return fail(ErrorKind::UndefinedError, "xmlattr() of an undefined value");
    return fail(ErrorKind::InvalidOperation,
                "xmlattr() needs a map, not " + std::string(kind_name(d.kind())));
  }
  const bool autospace = !(*b)[1] || (*b)[1]->is_true();
  std::string out;
  for (const auto& [key, value] : d.map_entries()) {
    if (value.is_none() || value.is_undefined()) continue;
    auto k = str_arg("xmlattr", "key", key);
    if (!k) return std::unexpected(k.error());
    for (char c : *k) {
      if (c == ' ' || (c >= '\t' && c <= '\r') || c == '/' || c == '>' || c == '=') {
        return fail(ErrorKind::InvalidOperation,
                    "xmlattr(): invalid character in attribute name: " + std::string(*k));
      }
    }
    std::string storage;
    auto text = text_view(value, storage);
    if (!text) return std::unexpected(text.error());
    if (!out.empty()) out += ' ';
    write_html_escaped(*k, out);
    out += "=\"";
    if (value.is_safe()) {
      out += *text;
    } else {
      write_html_escaped(*text, out);
    }
    out += '"';
    if (auto r = check_built_size("xmlattr", out.size()); !r) return std::unexpected(r.error());
  }
  if (autospace && !out.empty()) out.insert(0, 1, ' ');
  // Already escaped for markup: safe wherever output is escaped (Jinja2's autoescape), so an
  // HTML-like custom format does not escape it twice.
  return Value::string_with_mark(std::move(out), state.auto_escape());
}

// "%s, %s!"|format("Hello", "World") → "Hello, World!"; "%(a)d"|format(a=1) → "1".
Result<Value> do_format(State&, Args args, const Kwargs& kwargs) {
  if (args.empty()) return fail(ErrorKind::MissingArgument, "format() missing the value");
  if (args.size() > 1 && !kwargs.empty()) {
    return fail(ErrorKind::InvalidOperation,
                "format(): can't handle positional and keyword arguments at the same time");
  }
  const Value& v = args[0];
  std::string storage;
  auto fmt = text_view(v, storage);
  if (!fmt) return std::unexpected(fmt.error());
  auto out = percent_format(*fmt, args.subspan(1), kwargs, v.is_safe());
  if (!out) return std::unexpected(out.error());
  return Value::string_with_mark(std::move(*out), v.is_safe());
}

// "a\nb"|indent(2) → "a\n  b"; first=true indents the first line, blank=true empty lines too.
Result<Value> do_indent(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<4>("indent", args, kwargs, {"s", "width", "first", "blank"}, 1);
  if (!b) return std::unexpected(b.error());
  const Value& v = *(*b)[0];
  auto s = v.as_str();
  if (!s) {
    if (v.is_undefined()) return fail(ErrorKind::UndefinedError, "indent() of an undefined value");
    return fail(ErrorKind::InvalidOperation,
                "indent() needs a string, not " + std::string(kind_name(v.kind())));
  }
  std::string indention;
  if (const Value* w = (*b)[1]) {
    if (auto ws = w->as_str()) {
      indention = std::string(*ws);
    } else {
      auto n = count_arg("indent", "width", *w);
      if (!n) return std::unexpected(n.error());
      if (*n > 100000) return fail(ErrorKind::InvalidOperation, "indent(): width too large");
      if (*n > 0) indention.assign(static_cast<std::size_t>(*n), ' ');
    }
  } else {
    indention = "    ";
  }
  const bool first = (*b)[2] && (*b)[2]->is_true();
  const bool blank = (*b)[3] && (*b)[3]->is_true();
  // Jinja2 appends a line break before splitting, so a trailing break survives as one "\n".
  std::string text(*s);
  text += '\n';
  const std::vector<std::string_view> lines = py_splitlines(text);
  if (auto r = check_built_size("indent", text.size() + lines.size() * indention.size()); !r) {
    return std::unexpected(r.error());
  }
  std::string out;
  out.reserve(text.size() + lines.size() * indention.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) {
      out += '\n';
      if (blank || !lines[i].empty()) out += indention;
    }
    out.append(lines[i]);
  }
  if (first) out.insert(0, indention);
  return Value::string_with_mark(std::move(out), v.is_safe());
}

// "a\r\nb\n"|lines → ["a", "b"] (the line breaks of Python's str.splitlines).
Result<Value> do_lines(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<1>("lines", args, kwargs, {"value"}, 1);
  if (!b) return std::unexpected(b.error());
  std::string storage;
  auto text = text_view(*(*b)[0], storage);
  if (!text) return std::unexpected(text.error());
  std::vector<Value> out;
  for (std::string_view line : py_splitlines(*text)) out.push_back(Value::from_string(line));
  return Value::from_seq(std::move(out));
}

// "aaa"|replace("a", "b", 2) → "bba".
Result<Value> do_replace(State& state, Args args, const Kwargs& kwargs) {
  auto b = bind<4>("replace", args, kwargs, {"s", "old", "new", "count"}, 3);
  if (!b) return std::unexpected(b.error());
  const Value& s = *(*b)[0];
  const Value& old = *(*b)[1];
  const Value& repl = *(*b)[2];
  long long count = -1;
  if ((*b).given(3)) {
    auto n = count_arg("replace", "count", *(*b)[3]);
    if (!n) return std::unexpected(n.error());
    count = *n;
  }
  auto subject_text = text_of(s);
  auto old_text = text_of(old);
  auto repl_text = text_of(repl);
  if (!subject_text) return std::unexpected(subject_text.error());
  if (!old_text) return std::unexpected(old_text.error());
  if (!repl_text) return std::unexpected(repl_text.error());
  std::string subject = std::move(*subject_text);
  const std::string o = std::move(*old_text);
  std::string r = std::move(*repl_text);
  bool safe = false;
  if (html_escaping(state)) {
    // Markup rules: a safe pattern or replacement escapes the subject first; a safe subject
    // escapes an unsafe replacement (the pattern is matched as written).
    safe = s.is_safe();
    if (!safe && (old.is_safe() || repl.is_safe())) {
      subject = html_escaped(subject);
      safe = true;
    }
    if (safe && !repl.is_safe()) r = html_escaped(r);
  }
  auto out = py_replace(subject, o, r, count, kMaxRepeatBytes);
  if (!out) return fail(ErrorKind::InvalidOperation, "replace(): result too large");
  return Value::string_with_mark(std::move(*out), safe);
}

// "<b>"|safe → "<b>" marked safe, so escaping leaves it alone.
Result<Value> do_safe(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<1>("safe", args, kwargs, {"value"}, 1);
  if (!b) return std::unexpected(b.error());
  const Value& v = *(*b)[0];
  if (v.is_safe()) return v;
  auto text = text_of(v);
  if (!text) return std::unexpected(text.error());
  return Value::safe_string(std::move(*text));
}

// "a b  c"|split → ["a", "b", "c"]; "a,b,c"|split(",", 1) → ["a", "b,c"] (Python's str.split).
Result<Value> do_split(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<3>("split", args, kwargs, {"value", "sep", "maxsplit"}, 1);
  if (!b) return std::unexpected(b.error());
  std::string storage;
  auto text_or = text_view(*(*b)[0], storage);
  if (!text_or) return std::unexpected(text_or.error());
  const std::string_view text = *text_or;
  long long maxsplit = -1;
  if ((*b).given(2)) {
    auto n = count_arg("split", "maxsplit", *(*b)[2]);
    if (!n) return std::unexpected(n.error());
    maxsplit = *n;
  }
  std::vector<std::string_view> parts;
  if ((*b).given(1)) {
    auto sep = str_arg("split", "sep", *(*b)[1]);
    if (!sep) return std::unexpected(sep.error());
    if (sep->empty()) return fail(ErrorKind::InvalidOperation, "split(): empty separator");
    parts = py_split(text, *sep, maxsplit);
  } else {
    parts = py_split_whitespace(text, maxsplit);
  }
  std::vector<Value> out;
  out.reserve(parts.size());
  for (std::string_view p : parts) out.push_back(Value::from_string(p));
  return Value::from_seq(std::move(out));
}

// 42|string → "42"; a string is returned as it is, safe mark included.
Result<Value> do_string(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<1>("string", args, kwargs, {"value"}, 1);
  if (!b) return std::unexpected(b.error());
  const Value& v = *(*b)[0];
  if (v.is_string()) return v;
  auto text = v.to_display_checked();
  if (!text) return std::unexpected(text.error());
  return Value::from_string(std::move(*text));
}

// "  a  "|trim → "a"; "xxaxx"|trim("x") → "a".
Result<Value> do_trim(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<2>("trim", args, kwargs, {"value", "chars"}, 1);
  if (!b) return std::unexpected(b.error());
  const Value& v = *(*b)[0];
  std::string storage;
  auto text_or = text_view(v, storage);
  if (!text_or) return std::unexpected(text_or.error());
  const std::string_view text = *text_or;
  std::string_view out;
  if ((*b).given(1)) {
    auto chars = str_arg("trim", "chars", *(*b)[1]);
    if (!chars) return std::unexpected(chars.error());
    out = py_strip_chars(text, *chars);
  } else {
    out = py_strip(text);
  }
  return Value::string_with_mark(std::string(out), v.is_safe());
}

// Percent-encodes UTF-8 text; `/` stays when `keep_slash` (path), space is "+" otherwise (query).
void url_quote(std::string_view text, bool keep_slash, std::string& out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : text) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '_' || c == '.' || c == '-' || c == '~' || (keep_slash && c == '/');
    if (plain) {
      out += static_cast<char>(c);
    } else if (c == ' ' && !keep_slash) {
      out += '+';
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
}

// "a b/c"|urlencode → "a%20b/c"; {"a": "x y", "b": 1}|urlencode → "a=x+y&b=1".
Result<Value> do_urlencode(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<1>("urlencode", args, kwargs, {"value"}, 1);
  if (!b) return std::unexpected(b.error());
  const Value& v = *(*b)[0];
  std::string out;
  if (v.is_string() || v.is_bytes()) {
    url_quote(v.str(), true, out);
    return Value::from_string(std::move(out));
  }
  std::vector<std::pair<Value, Value>> pairs;
  if (v.is_map()) {
    pairs = v.map_entries();
  } else if (v.is_seq() || v.is_undefined() || v.is_object()) {
    auto items = v.iterate();
    if (!items) {
      auto text = v.to_display_checked();
      if (!text) return std::unexpected(text.error());
      url_quote(*text, true, out);
      return Value::from_string(std::move(out));
    }
    for (const Value& item : *items) {
      auto kv = item.iterate();
      if (!kv || kv->size() != 2 || item.is_string()) {
        return fail(ErrorKind::InvalidOperation,
                    "urlencode(): items must be (key, value) pairs, not " +
                        std::string(kind_name(item.kind())));
      }
      pairs.emplace_back((*kv)[0], (*kv)[1]);
    }
  } else {
    auto text = v.to_display_checked();
    if (!text) return std::unexpected(text.error());
    url_quote(*text, true, out);
    return Value::from_string(std::move(out));
  }
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (i > 0) out += '&';
    auto key = text_of(pairs[i].first);
    if (!key) return std::unexpected(key.error());
    auto value = text_of(pairs[i].second);
    if (!value) return std::unexpected(value.error());
    url_quote(*key, false, out);
    out += '=';
    url_quote(*value, false, out);
    if (auto r = check_built_size("urlencode", out.size()); !r) return std::unexpected(r.error());
  }
  return Value::from_string(std::move(out));
}

// "Hello, big world!"|wordcount → 3.
Result<Value> do_wordcount(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<1>("wordcount", args, kwargs, {"s"}, 1);
  if (!b) return std::unexpected(b.error());
  std::string storage;
  auto text = text_view(*(*b)[0], storage);
  if (!text) return std::unexpected(text.error());
  return Value::from_int(static_cast<Int128>(count_words(*text)));
}

std::string capitalize_fn(std::string_view s) { return py_capitalize(s); }
std::string lower_fn(std::string_view s) { return py_lower(s); }
std::string title_fn(std::string_view s) { return py_title(s); }
std::string upper_fn(std::string_view s) { return py_upper(s); }

}  // namespace

void add_text_filters(FilterTable& filters) {
  filters["capitalize"] = unary_text<capitalize_fn>("capitalize", true);  // "hELLO" → "Hello"
  filters["e"] = do_escape;
  filters["escape"] = do_escape;
  filters["forceescape"] = do_forceescape;
  filters["format"] = do_format;
  filters["indent"] = do_indent;
  filters["lines"] = do_lines;
  filters["lower"] = unary_text<lower_fn>("lower", true);  // "HeLLo" → "hello"
  filters["replace"] = do_replace;
  filters["safe"] = do_safe;
  filters["split"] = do_split;
  filters["string"] = do_string;
  filters["title"] = unary_text<title_fn>("title", false);  // "hello wORLD" → "Hello World"
  filters["trim"] = do_trim;
  filters["upper"] = unary_text<upper_fn>("upper", true);  // "hello" → "HELLO"
  filters["urlencode"] = do_urlencode;
  filters["wordcount"] = do_wordcount;
  filters["xmlattr"] = do_xmlattr;
}

}  // namespace korvel::engine::builtins::detail
