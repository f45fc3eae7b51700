// Built-in serializing filters — tojson and pprint — with Jinja2's arguments. tojson writes what
// Jinja2's json.dumps(sort_keys=True) writes (", " and ": " separators, ASCII only, keys sorted,
// optional indent) with "<", ">", "&" and "'" as \u escapes so the text is safe inside HTML; floats
// use the engine's JSON float text. pprint writes the value's listing form with map keys sorted,
// broken over lines like Python's pprint when wider than 80 columns. Entry point:
// add_serialize_filters.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "korvel/engine/builtins/args.hpp"
#include "korvel/engine/builtins/families.hpp"
#include "korvel/engine/builtins/percent_format.hpp"
#include "korvel/engine/builtins/str_ops.hpp"
#include "korvel/engine/object.hpp"
#include "korvel/engine/state.hpp"
#include "korvel/engine/value_ops.hpp"

namespace korvel::engine::builtins::detail {
namespace {

using Args = std::span<const Value>;

// Deeper nesting than this is refused rather than walked (values built by templates are bounded
// by the parser; this keeps the serializers' own recursion bounded whatever they are given).
constexpr int kMaxDepth = 512;

void append_u_escape(unsigned code, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(code >> shift) & 15];
}

// A JSON string as json.dumps(ensure_ascii=True) writes it, plus the HTML-safe escapes.
void write_tojson_string(std::string_view s, std::string& out) {
  out += '"';
  for (std::size_t i = 0; i < s.size();) {
    const Utf8Char c = decode_at(s, i);
    i += c.size;
    switch (c.cp) {
      case '"':
        out += "\\\"";
        continue;
      case '\\':
        out += "\\\\";
        continue;
      case '\n':
        out += "\\n";
        continue;
      case '\r':
        out += "\\r";
        continue;
      case '\t':
        out += "\\t";
        continue;
      case '\b':
        out += "\\b";
        continue;
      case '\f':
        out += "\\f";
        continue;
      case '<':
      case '>':
      case '&':
      case '\'':
        append_u_escape(c.cp, out);
        continue;
      default:
        break;
    }
    if (c.cp >= 0x20 && c.cp < 0x7F) {
      out += static_cast<char>(c.cp);
    } else if (c.cp < 0x10000) {
      append_u_escape(c.cp, out);
    } else {
      const unsigned v = c.cp - 0x10000;
      append_u_escape(0xD800 + (v >> 10), out);
      append_u_escape(0xDC00 + (v & 0x3FF), out);
    }
  }
  out += '"';
}

class JsonDumper {
 public:
  // `indent` is nullopt for one line; otherwise the text repeated once per level.
  explicit JsonDumper(std::optional<std::string> indent) : indent_(std::move(indent)) {}

  Result<void> dump(const Value& v, std::string& out, int depth) {
    if (depth > kMaxDepth) return fail(ErrorKind::BadSerialization, "tojson(): nested too deeply");
    switch (v.kind()) {
      case ValueKind::Undefined:
        return fail(ErrorKind::BadSerialization, "tojson(): an undefined value is not JSON");
      case ValueKind::None:
        out += "null";
        return {};
      case ValueKind::Bool:
        out += v.as_bool() ? "true" : "false";
        return {};
      case ValueKind::Int:
        write_int(v.as_int(), out);
        return {};
      case ValueKind::Float:
        if (std::isfinite(v.as_float())) {
          write_float_json(v.as_float(), out);
        } else {
          out += "null";
        }
        return {};
      case ValueKind::String:
        write_tojson_string(v.str(), out);
        return {};
      case ValueKind::Bytes: {
        std::vector<Value> bytes;
        for (unsigned char c : v.str()) bytes.push_back(Value::from_int(c));
        return dump_array(bytes, out, depth);
      }
      case ValueKind::Seq: {
        auto items = v.iterate();
        if (!items) return std::unexpected(items.error());
        return dump_array(*items, out, depth);
      }
      case ValueKind::Map:
        return dump_object(v.map_entries(), out, depth);
      case ValueKind::Object:
        if (auto items = v.as_object()->iterate()) return dump_array(*items, out, depth);
        return fail(ErrorKind::BadSerialization, "tojson(): a " +
                                                     std::string(v.as_object()->type_name()) +
                                                     " object is not JSON serializable");
    }
    return {};
  }

 private:
  void newline(std::string& out, int depth) const {
    out += '\n';
    for (int i = 0; i < depth; ++i) out += *indent_;
  }

  Result<void> dump_array(const std::vector<Value>& items, std::string& out, int depth) {
    if (items.empty()) {
      out += "[]";
      return {};
    }
    out += '[';
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (auto r = check_built_size("tojson", out.size()); !r) return r;
      if (i > 0) out += indent_ ? "," : ", ";
      if (indent_) newline(out, depth + 1);
      if (auto r = dump(items[i], out, depth + 1); !r) return r;
    }
    if (indent_) newline(out, depth);
    out += ']';
    return {};
  }

  static Result<std::string> key_text(const Value& k) {
    std::string out;
    switch (k.kind()) {
      case ValueKind::String:
        return std::string(k.str());
      case ValueKind::Int:
        write_int(k.as_int(), out);
        return out;
      case ValueKind::Bool:
        return std::string(k.as_bool() ? "true" : "false");
      case ValueKind::None:
        return std::string("null");
      case ValueKind::Float:
        if (std::isfinite(k.as_float())) {
          write_float_json(k.as_float(), out);
          return out;
        }
        break;
      default:
        break;
    }
    return fail(ErrorKind::BadSerialization,
                "tojson(): keys must be strings, numbers, "
                "booleans or none, not " +
                    std::string(kind_name(k.kind())));
  }

  Result<void> dump_object(MapEntries entries, std::string& out, int depth) {
    if (entries.empty()) {
      out += "{}";
      return {};
    }
    std::optional<Error> error;
    std::stable_sort(entries.begin(), entries.end(), [&](const auto& a, const auto& b) {
      if (error) return false;
      auto c = compare(a.first, b.first);
      if (!c) {
        error = c.error();
        return false;
      }
      return *c < 0;
    });
    if (error) return std::unexpected(std::move(*error));
    out += '{';
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (auto r = check_built_size("tojson", out.size()); !r) return r;
      if (i > 0) out += indent_ ? "," : ", ";
      if (indent_) newline(out, depth + 1);
      auto key = key_text(entries[i].first);
      if (!key) return std::unexpected(key.error());
      write_tojson_string(*key, out);
      out += ": ";
      if (auto r = dump(entries[i].second, out, depth + 1); !r) return r;
    }
    if (indent_) newline(out, depth);
    out += '}';
    return {};
  }

  std::optional<std::string> indent_;
};

// {"b": [1, "<"], "a": none}|tojson → {"a": null, "b": [1, "\u003c"]} (safe).
Result<Value> do_tojson(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<2>("tojson", args, kwargs, {"value", "indent"}, 1);
  if (!b) return std::unexpected(b.error());
  std::optional<std::string> indent;
  if ((*b).given(1)) {
    const Value& i = *(*b)[1];
    if (auto s = i.as_str()) {
      indent = std::string(*s);
    } else {
      auto n = count_arg("tojson", "indent", i);
      if (!n) return std::unexpected(n.error());
      if (*n > 1000) return fail(ErrorKind::InvalidOperation, "tojson(): indent too large");
      indent = std::string(*n > 0 ? static_cast<std::size_t>(*n) : 0, ' ');
    }
  }
  std::string out;
  JsonDumper dumper(std::move(indent));
  if (auto r = dumper.dump(*(*b)[0], out, 0); !r) return std::unexpected(r.error());
  return Value::safe_string(std::move(out));
}

// ---- pprint ----

// Map entries in key order (pprint sorts them; keys that do not compare fall back to the
// engine's total order of kinds).
MapEntries sorted_entries(const Value& map) {
  MapEntries entries = map.map_entries();
  std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
    auto c = compare(a.first, b.first);
    return c ? *c < 0 : total_order(a.first, b.first) < 0;
  });
  return entries;
}

// The one-line form (strings quoted, maps with sorted keys) appended to `out`; false as soon as
// `out` passes `budget` bytes, so a value that shares itself many levels deep is never walked
// in full.
bool one_line(const Value& v, std::string& out, int depth, std::size_t budget) {
  if (out.size() > budget) return false;
  if (depth > kMaxDepth) {
    out += "...";
  } else if (v.is_seq()) {
    out += '[';
    for (std::size_t i = 0; i < v.seq_len(); ++i) {
      if (i > 0) out += ", ";
      if (!one_line(v.seq_at(i), out, depth + 1, budget)) return false;
    }
    out += ']';
  } else if (v.is_map()) {
    out += '{';
    const MapEntries entries = sorted_entries(v);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (i > 0) out += ", ";
      if (!one_line(entries[i].first, out, depth + 1, budget)) return false;
      out += ": ";
      if (!one_line(entries[i].second, out, depth + 1, budget)) return false;
    }
    out += '}';
  } else {
    auto rep = repr_of(v);
    if (!rep) return false;
    out += *rep;
  }
  return out.size() <= budget;
}

// Python's PrettyPrinter._format with width 80 and one space per level; false when the text
// passes the bound on built strings.
bool pretty(const Value& v, std::string& out, std::size_t indent, std::size_t allowance,
            int depth) {
  constexpr std::size_t kWidth = 80;
  if (out.size() > kMaxRepeatBytes) return false;
  const std::size_t used = indent + allowance;
  const std::size_t room = used < kWidth ? kWidth - used : 0;
  // Only whether the one-line form fits in `room` characters matters here: stop just past it.
  std::string rep;
  const bool short_enough = one_line(v, rep, depth, 4 * room + 4);
  const bool fits = short_enough && char_count(rep) <= room;
  const bool breakable =
      depth <= kMaxDepth && ((v.is_seq() && v.seq_len() > 0) || (v.is_map() && v.map_len() > 0));
  if (fits || !breakable) {
    if (!short_enough) {
      rep.clear();
      if (!one_line(v, rep, depth, kMaxRepeatBytes)) return false;
    }
    out += rep;
    return out.size() <= kMaxRepeatBytes;
  }
  const std::size_t inner = indent + 1;
  if (v.is_seq()) {
    out += '[';
    for (std::size_t i = 0; i < v.seq_len(); ++i) {
      const bool last = i + 1 == v.seq_len();
      if (i > 0) out += ",\n" + std::string(inner, ' ');
      if (!pretty(v.seq_at(i), out, inner, last ? allowance + 1 : 1, depth + 1)) return false;
    }
    out += ']';
    return true;
  }
  out += '{';
  const MapEntries entries = sorted_entries(v);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const bool last = i + 1 == entries.size();
    std::string key;
    if (!one_line(entries[i].first, key, depth + 1, kMaxRepeatBytes)) return false;
    out += key;
    out += ": ";
    if (!pretty(entries[i].second, out, inner + char_count(key) + 2, last ? allowance + 1 : 1,
                depth + 1)) {
      return false;
    }
    if (!last) out += ",\n" + std::string(inner, ' ');
  }
  out += '}';
  return true;
}

// {"b": 1, "a": "x"}|pprint → {"a": "x", "b": 1}.
Result<Value> do_pprint(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<1>("pprint", args, kwargs, {"value"}, 1);
  if (!b) return std::unexpected(b.error());
  std::string out;
  if (!pretty(*(*b)[0], out, 0, 0, 0)) {
    return fail(ErrorKind::InvalidOperation, "pprint(): result too large");
  }
  return Value::from_string(std::move(out));
}

}  // namespace

void add_serialize_filters(FilterTable& filters) {
  filters["pprint"] = do_pprint;
  filters["tojson"] = do_tojson;
}

}  // namespace korvel::engine::builtins::detail
