// korvel::format_korvel_markup — the renderer's formatter: writes every printed value in the
// template's escape format, one of the system's custom formats ("korvel-json-legacy",
// "korvel-html", "korvel-toml") or else the engine's default formatting. The custom formats make a
// value safe inside a quoted string or an element of the target file type; they never add quotes.
// Also xml_char_safe_string, the XML/HTML escaping shared with the "xml_char_safe" filter.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "korvel/engine/error.hpp"
#include "korvel/engine/output.hpp"
#include "korvel/engine/state.hpp"
#include "korvel/engine/value.hpp"

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

// Writes `value` in the escape format of `state` (none prints exactly as undefined does):
//   korvel-json-legacy: a string JSON-escaped without quotes (a"b → a\"b), any other value its
//     JSON text escaped the same way (true → true, undefined → null, ["a"] → [\"a\"]);
//   korvel-html: a safe string unchanged, any other value xml_char_safe_string of its text;
//   korvel-toml: the value's text TOML-escaped (a tab → \t), safe or not;
//   anything else: the engine's default formatting.
// A write the output refuses fails with "failed to write output: formatting failed".
engine::Result<void> format_korvel_markup(engine::Output& out, engine::State& state,
                                          const engine::Value& value);

namespace detail {

// The text of a string value, or of a byte string that is valid UTF-8; nullopt for other values.
std::optional<std::string_view> string_text(const engine::Value& value);

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
