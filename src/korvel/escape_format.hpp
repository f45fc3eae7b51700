// korvel::xml_char_safe_string and the escape tables behind the system's three custom escape
// formats ("korvel-json-legacy", "korvel-html", "korvel-toml"). The custom formats make a value
// safe inside a quoted string or an element of the target file type; they never add quotes.
#pragma once

#include <string>
#include <string_view>

namespace korvel {

inline constexpr std::string_view kFormatJsonLegacy = "korvel-json-legacy";
inline constexpr std::string_view kFormatHtml = "korvel-html";
inline constexpr std::string_view kFormatToml = "korvel-toml";

// XML/HTML text and attribute values: a<b & 'c' → a&lt;b &amp; &#x27;c&#x27;. Characters that
// XML 1.0 cannot carry at all (the C0 controls other than tab, line feed and carriage return, and
// U+FFFE, U+FFFF) become "&#xfffd;"; tab, line feed and carriage return become character
// references, because an XML parser would otherwise turn them into spaces in an attribute value
// and a carriage return into a line feed everywhere.
std::string xml_char_safe_string(std::string_view text);

namespace detail {

// JSON string escaping without the enclosing quotes: "a\"b\u001b" for a"b and U+001B. Solidus,
// U+007F and non-ASCII characters stay as they are.
void append_json_string_escaped(std::string_view text, std::string& out);

// TOML basic-string escaping without the enclosing quotes: a tab → \t, U+0001 → \u0001, U+0085 →
// \u0085 (four uppercase hexadecimal digits). Other non-ASCII characters stay as they are.
void append_toml_basic_escaped(std::string_view text, std::string& out);

// Appends `\u` and the code point as exactly four uppercase hexadecimal digits (cp < 0x10000).
void append_u4_escape(char32_t cp, std::string& out);

}  // namespace detail
}  // namespace korvel
