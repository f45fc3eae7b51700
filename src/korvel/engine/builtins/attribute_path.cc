// Attribute paths for the built-ins' `attribute=` parameters; see attribute_path.hpp.
#include "korvel/engine/builtins/attribute_path.hpp"

#include <string>

#include "korvel/engine/builtins/str_ops.hpp"

namespace korvel::engine::builtins::detail {
namespace {

bool all_digits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

Value path_part(std::string_view part) {
  if (all_digits(part) && part.size() <= 30) {
    Int128 n = 0;
    for (char c : part) n = n * 10 + (c - '0');
    return Value::from_int(n);
  }
  return Value::from_string(part);
}

}  // namespace

AttrPath parse_attr_path(const Value* attribute) {
  AttrPath parts;
  if (attribute == nullptr || attribute->is_none()) return parts;
  if (auto s = attribute->as_str()) {
    std::size_t start = 0;
    while (true) {
      const std::size_t dot = s->find('.', start);
      parts.push_back(path_part(s->substr(start, dot - start)));
      if (dot == std::string_view::npos) break;
      start = dot + 1;
    }
    return parts;
  }
  parts.push_back(*attribute);
  return parts;
}

std::vector<AttrPath> parse_attr_paths(const Value* attribute) {
  std::vector<AttrPath> paths;
  auto s = attribute ? attribute->as_str() : std::nullopt;
  if (!s) {
    paths.push_back(parse_attr_path(attribute));
    return paths;
  }
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = s->find(',', start);
    const Value one = Value::from_string(s->substr(start, comma - start));
    paths.push_back(parse_attr_path(&one));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return paths;
}

Result<Value> lookup_path(const Value& item, const AttrPath& path, const Value* fallback) {
  Value current = item;
  for (const Value& part : path) {
    if (current.is_undefined()) {
      return fail(ErrorKind::UndefinedError,
                  "cannot look up " + part.to_display() + " on an undefined value");
    }
    current = current.get_item(part);
    if (fallback != nullptr && !fallback->is_none() && current.is_undefined()) current = *fallback;
  }
  return current;
}

Value ignore_case(const Value& v) {
  if (auto s = v.as_str()) return Value::from_string(py_lower(*s));
  return v;
}

}  // namespace korvel::engine::builtins::detail
