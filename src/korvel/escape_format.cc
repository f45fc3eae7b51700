// format_korvel_markup and xml_char_safe_string: how printed values are written in each escape
// format.
#include "korvel/escape_format.hpp"

#include <cstddef>
#include <cstdint>

#include "korvel/text/utf8.hpp"

namespace korvel {
namespace detail {
namespace {

constexpr char kUpperHex[] = "0123456789ABCDEF";
constexpr char kLowerHex[] = "0123456789abcdef";

std::uint8_t byte_at(std::string_view text, std::size_t i) noexcept {
  return static_cast<std::uint8_t>(text[i]);
}

// The short escapes that JSON strings and TOML basic strings share; empty for other bytes.
std::string_view short_escape(std::uint8_t b) noexcept {
  switch (b) {
    case '"':
      return "\\\"";
    case '\\':
      return "\\\\";
    case '\b':
      return "\\b";
    case '\t':
      return "\\t";
    case '\n':
      return "\\n";
    case '\f':
      return "\\f";
    case '\r':
      return "\\r";
    default:
      return {};
  }
}

// Markup characters and the three line-structure controls as XML references; empty for others.
std::string_view xml_reference(std::uint8_t b) noexcept {
  switch (b) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '"':
      return "&quot;";
    case '\'':
      return "&#x27;";
    case '\t':
      return "&#x9;";
    case '\n':
      return "&#xa;";
    case '\r':
      return "&#xd;";
    default:
      return {};
  }
}

// True when the text holds U+FFFE or U+FFFF (EF BF BE, EF BF BF) at `i`.
bool is_ffff_noncharacter_at(std::string_view text, std::size_t i) noexcept {
  return i + 2 < text.size() && byte_at(text, i) == 0xEF && byte_at(text, i + 1) == 0xBF &&
         (byte_at(text, i + 2) == 0xBE || byte_at(text, i + 2) == 0xBF);
}

}  // namespace

std::optional<std::string_view> string_text(const engine::Value& value) {
  if (const auto s = value.as_str()) return s;
  if (const auto b = value.as_bytes(); b && text::is_valid_utf8(*b)) return b;
  return std::nullopt;
}

void append_u4_escape(char32_t cp, std::string& out) {
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kUpperHex[(cp >> shift) & 0xF];
}

void append_json_string_escaped(std::string_view text, std::string& out) {
  for (const char c : text) {
    const auto b = static_cast<std::uint8_t>(c);
    if (const std::string_view e = short_escape(b); !e.empty()) {
      out += e;
    } else if (b < 0x20) {
      out += "\\u00";
      out += kLowerHex[b >> 4];
      out += kLowerHex[b & 0xF];
    } else {
      out += c;
    }
  }
}

void append_toml_basic_escaped(std::string_view text, std::string& out) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::uint8_t b = byte_at(text, i);
    if (const std::string_view e = short_escape(b); !e.empty()) {
      out += e;
    } else if (b < 0x20 || b == 0x7F) {
      append_u4_escape(b, out);
    } else if (b == 0xC2 && i + 1 < text.size() && byte_at(text, i + 1) >= 0x80 &&
               byte_at(text, i + 1) <= 0x9F) {
      // C2 80..C2 9F: the C1 controls U+0080..U+009F.
      append_u4_escape(byte_at(text, i + 1), out);
      ++i;
    } else {
      out += static_cast<char>(b);
    }
  }
}

}  // namespace detail

namespace {

// The value's text: a string (or UTF-8 byte string) itself, any other value its display form.
std::string value_text(const engine::Value& value) {
  if (const auto s = detail::string_text(value)) return std::string(*s);
  return value.to_display();
}

engine::Result<void> write_escaped(engine::Output& out, std::string_view text) {
  if (!out.write(text)) return engine::fail(engine::ErrorKind::WriteFailure, "formatting failed");
  return {};
}

}  // namespace

std::string xml_char_safe_string(std::string_view text) {
  constexpr std::string_view kReplacement = "&#xfffd;";
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::uint8_t b = detail::byte_at(text, i);
    if (const std::string_view r = detail::xml_reference(b); !r.empty()) {
      out += r;
    } else if (b < 0x20) {
      out += kReplacement;  // C0 controls that XML 1.0 forbids even as references
    } else if (detail::is_ffff_noncharacter_at(text, i)) {
      out += kReplacement;
      i += 2;
    } else {
      out += static_cast<char>(b);
    }
  }
  return out;
}

engine::Result<void> format_korvel_markup(engine::Output& out, engine::State& state,
                                          const engine::Value& value) {
  // None prints exactly as undefined does, in every format.
  const engine::Value& v = value.is_none() ? engine::Value() : value;
  const engine::EscapeChoice& choice = state.escape();
  if (choice.kind != engine::EscapeChoice::Kind::Custom) {
    return engine::default_format(out, state, v);
  }
  if (choice.custom == kFormatJsonLegacy) {
    std::string escaped;
    escaped.reserve(128);
    if (const auto s = detail::string_text(v)) {
      detail::append_json_string_escaped(*s, escaped);
    } else {
      std::string json;
      // A value without JSON text (a map with a sequence key, say) falls back to its display form.
      if (!v.write_json(json)) json = v.to_display();
      detail::append_json_string_escaped(json, escaped);
    }
    return write_escaped(out, escaped);
  }
  if (choice.custom == kFormatHtml) {
    if (v.is_safe()) return write_escaped(out, v.str());
    return write_escaped(out, xml_char_safe_string(value_text(v)));
  }
  if (choice.custom == kFormatToml) {
    const std::string text = value_text(v);
    std::string escaped;
    escaped.reserve(text.size());
    detail::append_toml_basic_escaped(text, escaped);
    return write_escaped(out, escaped);
  }
  return engine::default_format(out, state, v);
}

}  // namespace korvel
