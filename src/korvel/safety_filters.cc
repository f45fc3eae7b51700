// The six safety filters: their text transforms and their adaptation to the engine's filter calls.
#include "korvel/safety_filters.hpp"

#include <cstddef>
#include <cstdint>

#include "korvel/escape_format.hpp"

namespace korvel {
namespace detail {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

std::uint8_t byte_at(std::string_view text, std::size_t i) noexcept {
  return static_cast<std::uint8_t>(text[i]);
}

// Byte length of the character at `i` when it is U+FFFE or U+FFFF, else 0.
std::size_t noncharacter_ffff_length(std::string_view text, std::size_t i) noexcept {
  if (i + 2 < text.size() && byte_at(text, i) == 0xEF && byte_at(text, i + 1) == 0xBF &&
      (byte_at(text, i + 2) == 0xBE || byte_at(text, i + 2) == 0xBF)) {
    return 3;
  }
  return 0;
}

// The turtle_escape table; false when `b` is not in it.
bool append_turtle_escape(std::uint8_t b, std::string& out) {
  switch (b) {
    case '\\':
      out += "\\\\";
      return true;
    case '"':
      out += "\\\"";
      return true;
    case '\n':
      out += "\\n";
      return true;
    case '\r':
      out += "\\r";
      return true;
    case '\t':
      out += "\\t";
      return true;
    default:
      return false;
  }
}

// Byte length of the Unicode White_Space character starting at `i`, or 0.
std::size_t white_space_length_at(std::string_view text, std::size_t i) noexcept {
  const std::uint8_t b0 = byte_at(text, i);
  if ((b0 >= 0x09 && b0 <= 0x0D) || b0 == 0x20) return 1;
  const std::size_t left = text.size() - i;
  if (b0 == 0xC2 && left >= 2) {
    const std::uint8_t b1 = byte_at(text, i + 1);
    return (b1 == 0x85 || b1 == 0xA0) ? 2 : 0;  // U+0085, U+00A0
  }
  if (left < 3) return 0;
  const std::uint8_t b1 = byte_at(text, i + 1), b2 = byte_at(text, i + 2);
  if (b0 == 0xE1) return (b1 == 0x9A && b2 == 0x80) ? 3 : 0;  // U+1680
  if (b0 == 0xE2 && b1 == 0x80) {
    // U+2000..U+200A, U+2028, U+2029, U+202F
    return ((b2 >= 0x80 && b2 <= 0x8A) || b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF) ? 3 : 0;
  }
  if (b0 == 0xE2) return (b1 == 0x81 && b2 == 0x9F) ? 3 : 0;  // U+205F
  if (b0 == 0xE3) return (b1 == 0x80 && b2 == 0x80) ? 3 : 0;  // U+3000
  return 0;
}

// Byte length of the White_Space character that ends `text`, or 0.
std::size_t trailing_white_space_length(std::string_view text) noexcept {
  for (std::size_t n = 1; n <= 3 && n <= text.size(); ++n) {
    if (white_space_length_at(text, text.size() - n) == n) return n;
  }
  return 0;
}

}  // namespace

std::string cdata_escape_text(std::string_view text) {
  constexpr std::string_view kEnd = "]]>";
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (text.compare(i, kEnd.size(), kEnd) == 0) {
      out += "]]]]><![CDATA[>";
      i += kEnd.size();
      continue;
    }
    const std::uint8_t b = byte_at(text, i);
    if (b == '\r') {
      out += "]]>&#xd;<![CDATA[";
      ++i;
    } else if (b < 0x20 && b != '\t' && b != '\n') {
      out += kReplacementCharacter;
      ++i;
    } else if (const std::size_t n = noncharacter_ffff_length(text, i); n != 0) {
      out += kReplacementCharacter;
      i += n;
    } else {
      out += static_cast<char>(b);
      ++i;
    }
  }
  return out;
}

std::string turtle_escape_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (!append_turtle_escape(static_cast<std::uint8_t>(c), out)) out += c;
  }
  return out;
}

std::string md_table_safe_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '\n':
      case '\r':
        out += ' ';
        break;
      case '|':
        out += "\\|";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string frontmatter_safe_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find('\n', start);
    const std::string_view line =
        text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    std::size_t lead = 0;
    while (lead < line.size()) {
      const std::size_t n = white_space_length_at(line, lead);
      if (n == 0) break;
      lead += n;
    }
    std::size_t trail = line.size();
    while (trail > lead) {
      const std::size_t n = trailing_white_space_length(line.substr(0, trail));
      if (n == 0) break;
      trail -= n;
    }
    const std::string_view core = line.substr(lead, trail - lead);
    if (core == "---" || core == "...") {
      out += line.substr(0, lead);
      out += core == "---" ? "\\-\\-\\-" : "\\.\\.\\.";
      out += line.substr(trail);
    } else {
      out += line;
    }
    if (end == std::string_view::npos) break;
    out += '\n';
    start = end + 1;
  }
  return out;
}

std::string yaml_safe_text(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::uint8_t b = byte_at(text, i);
    if (append_turtle_escape(b, out)) continue;
    if (b < 0x20 || b == 0x7F) {
      append_u4_escape(b, out);
    } else if (b == 0xC2 && i + 1 < text.size() && byte_at(text, i + 1) <= 0x9F &&
               byte_at(text, i + 1) >= 0x80) {
      append_u4_escape(byte_at(text, i + 1), out);  // C1 controls, U+0085 (a line break) among them
      ++i;
    } else if (b == 0xE2 && i + 2 < text.size() && byte_at(text, i + 1) == 0x80 &&
               (byte_at(text, i + 2) == 0xA8 || byte_at(text, i + 2) == 0xA9)) {
      append_u4_escape(byte_at(text, i + 2) == 0xA8 ? 0x2028 : 0x2029, out);  // line breaks
      i += 2;
    } else if (noncharacter_ffff_length(text, i) != 0) {
      append_u4_escape(byte_at(text, i + 2) == 0xBE ? 0xFFFE : 0xFFFF, out);
      i += 2;
    } else {
      out += static_cast<char>(b);
    }
  }
  out += '"';
  return out;
}

}  // namespace detail
namespace {

using engine::ErrorKind;
using engine::Kwargs;
using engine::Result;
using engine::Value;

enum class Mark : bool { Ordinary, Safe };

// The one argument of a safety filter, checked and turned into its result.
Result<Value> apply(std::span<const Value> args, const Kwargs& kwargs,
                    std::string (*transform)(std::string_view), Mark mark) {
  if (args.empty()) return engine::fail(ErrorKind::MissingArgument);
  // The value is checked first, so a non-string with an extra argument reports the value.
  const auto text = detail::string_text(args[0]);
  if (!text) return engine::fail(ErrorKind::InvalidOperation, "value is not a string");
  if (args.size() > 1 || !kwargs.empty()) return engine::fail(ErrorKind::TooManyArguments);
  return Value::string_with_mark(transform(*text), mark == Mark::Safe);
}

}  // namespace

Result<Value> cdata_escape_filter(engine::State&, std::span<const Value> args,
                                  const Kwargs& kwargs) {
  return apply(args, kwargs, detail::cdata_escape_text, Mark::Safe);
}

Result<Value> turtle_escape_filter(engine::State&, std::span<const Value> args,
                                   const Kwargs& kwargs) {
  return apply(args, kwargs, detail::turtle_escape_text, Mark::Ordinary);
}

Result<Value> md_table_safe_filter(engine::State&, std::span<const Value> args,
                                   const Kwargs& kwargs) {
  return apply(args, kwargs, detail::md_table_safe_text, Mark::Ordinary);
}

Result<Value> xml_char_safe_filter(engine::State&, std::span<const Value> args,
                                   const Kwargs& kwargs) {
  return apply(args, kwargs, xml_char_safe_string, Mark::Safe);
}

Result<Value> frontmatter_safe_filter(engine::State&, std::span<const Value> args,
                                      const Kwargs& kwargs) {
  return apply(args, kwargs, detail::frontmatter_safe_text, Mark::Safe);
}

Result<Value> yaml_safe_filter(engine::State&, std::span<const Value> args, const Kwargs& kwargs) {
  return apply(args, kwargs, detail::yaml_safe_text, Mark::Ordinary);
}

}  // namespace korvel
