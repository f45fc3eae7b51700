// format_korvel_markup and xml_char_safe_string: how printed values are written in each escape
// format.
#include "korvel/escape_format.hpp"

#include <cstddef>
#include <cstdint>

namespace korvel {
namespace detail {
namespace {

constexpr char kUpperHex[] = "0123456789ABCDEF";
constexpr char kLowerHex[] = "0123456789abcdef";

std::uint8_t byte_at(std::string_view text, std::size_t i) noexcept {
  return static_cast<std::uint8_t>(text[i]);
}

}  // namespace

void append_u4_escape(char32_t cp, std::string& out) {
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kUpperHex[(cp >> shift) & 0xF];
}

void append_json_string_escaped(std::string_view text, std::string& out) {
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      default: {
        const auto b = static_cast<std::uint8_t>(c);
        if (b < 0x20) {
          out += "\\u00";
          out += kLowerHex[b >> 4];
          out += kLowerHex[b & 0xF];
        } else {
          out += c;
        }
      }
    }
  }
}

void append_toml_basic_escaped(std::string_view text, std::string& out) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::uint8_t b = byte_at(text, i);
    switch (b) {
      case '\b': out += "\\b"; continue;
      case '\t': out += "\\t"; continue;
      case '\n': out += "\\n"; continue;
      case '\f': out += "\\f"; continue;
      case '\r': out += "\\r"; continue;
      case '"': out += "\\\""; continue;
      case '\\': out += "\\\\"; continue;
      default: break;
    }
    if (b < 0x20 || b == 0x7F) {
      append_u4_escape(b, out);
    } else if (b == 0xC2 && i + 1 < text.size() && byte_at(text, i + 1) >= 0x80 &&
               byte_at(text, i + 1) <= 0x9F) {
      // U+0080..U+009F, the C1 controls, encoded as C2 80..C2 9F.
      append_u4_escape(byte_at(text, i + 1), out);
      ++i;
    } else {
      out += static_cast<char>(b);
    }
  }
}

}  // namespace detail

std::string xml_char_safe_string(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<std::uint8_t>(text[i]);
    switch (b) {
      case '&': out += "&amp;"; continue;
      case '<': out += "&lt;"; continue;
      case '>': out += "&gt;"; continue;
      case '"': out += "&quot;"; continue;
      case '\'': out += "&#x27;"; continue;
      case '\t': out += "&#x9;"; continue;
      case '\n': out += "&#xa;"; continue;
      case '\r': out += "&#xd;"; continue;
      default: break;
    }
    if (b < 0x20) {
      out += "&#xfffd;";
    } else if (b == 0xEF && i + 2 < text.size() && static_cast<std::uint8_t>(text[i + 1]) == 0xBF &&
               (static_cast<std::uint8_t>(text[i + 2]) == 0xBE ||
                static_cast<std::uint8_t>(text[i + 2]) == 0xBF)) {
      // U+FFFE and U+FFFF are not XML characters either.
      out += "&#xfffd;";
      i += 2;
    } else {
      out += static_cast<char>(b);
    }
  }
  return out;
}

}  // namespace korvel
