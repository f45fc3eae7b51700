// korvel::json::write — compact JSON text from a Value. Containers are written with an explicit
// stack, so the depth of a Value built in code (the reader caps its own) cannot exhaust the native
// stack.
#include "korvel/json/writer.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <vector>

#include "korvel/text/utf8.hpp"

namespace korvel::json {
namespace {

void write_double(double d, std::string& out) {
  // JSON has no NaN or infinity; a Value holding one (possible only when built in code) is
  // written as null rather than as text no reader accepts.
  if (!std::isfinite(d)) {
    out += "null";
    return;
  }
  char buf[32];
  const auto result = std::to_chars(buf, buf + sizeof buf, d);
  const std::string_view text(buf, static_cast<std::size_t>(result.ptr - buf));
  if (text.find_first_of(".e") != std::string_view::npos) {
    out += text;
    return;
  }
  // An integral double in fixed form ("2") would read back as an integer: it needs ".0", and
  // then the scientific form may be the shorter one (2^70: "1.1805916207174113e+21").
  char sci[32];
  const auto sci_result = std::to_chars(sci, sci + sizeof sci, d, std::chars_format::scientific);
  const std::string_view sci_text(sci, static_cast<std::size_t>(sci_result.ptr - sci));
  if (sci_text.size() < text.size() + 2) {
    out += sci_text;
  } else {
    out += text;
    out += ".0";
  }
}

void write_scalar(const Value& value, std::string& out) {
  char buf[24];
  switch (value.kind()) {
    case Kind::Null:
      out += "null";
      break;
    case Kind::Bool:
      out += value.as_bool() ? "true" : "false";
      break;
    case Kind::Int: {
      const auto r = std::to_chars(buf, buf + sizeof buf, value.as_int());
      out.append(buf, r.ptr);
      break;
    }
    case Kind::UInt: {
      const auto r = std::to_chars(buf, buf + sizeof buf, value.as_uint());
      out.append(buf, r.ptr);
      break;
    }
    case Kind::Double:
      write_double(value.as_double(), out);
      break;
    case Kind::String:
      write_string(value.as_string(), out);
      break;
    case Kind::Array:
    case Kind::Object:
      break;
  }
}

// One open container: the position of the next element to write.
struct Frame {
  const Value* container;
  std::size_t index = 0;          // arrays
  Object::const_iterator member;  // objects
};

}  // namespace

void write_string(std::string_view text, std::string& out) {
  // Text that is not UTF-8 (possible only for a Value built in code) is written with U+FFFD in
  // place of each invalid sequence, so the output stays JSON.
  std::string repaired;
  if (!korvel::text::is_valid_utf8(text)) {
    repaired = korvel::text::lossy_utf8(text);
    text = repaired;
  }
  constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<std::uint8_t>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text, run, i - run);
    run = i + 1;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
    }
  }
  out.append(text, run, text.size() - run);
  out += '"';
}

void write(const Value& value, std::string& out) {
  if (!value.is_array() && !value.is_object()) {
    write_scalar(value, out);
    return;
  }
  std::vector<Frame> stack;
  const auto open = [&](const Value& container) {
    if (container.is_array()) {
      out += '[';
      stack.push_back(Frame{&container, 0, {}});
    } else {
      out += '{';
      stack.push_back(Frame{&container, 0, container.as_object().begin()});
    }
  };
  open(value);
  while (!stack.empty()) {
    Frame& top = stack.back();
    const Value* next = nullptr;
    if (top.container->is_array()) {
      const Array& array = top.container->as_array();
      if (top.index == array.size()) {
        out += ']';
        stack.pop_back();
        continue;
      }
      if (top.index > 0) out += ',';
      next = &array[top.index++];
    } else {
      const Object& object = top.container->as_object();
      if (top.member == object.end()) {
        out += '}';
        stack.pop_back();
        continue;
      }
      if (top.member != object.begin()) out += ',';
      write_string(top.member->first, out);
      out += ':';
      next = &top.member->second;
      ++top.member;
    }
    if (next->is_array() || next->is_object()) {
      open(*next);  // may reallocate the stack; `top` is not used after this
    } else {
      write_scalar(*next, out);
    }
  }
}

std::string write(const Value& value) {
  std::string out;
  write(value, out);
  return out;
}

}  // namespace korvel::json
