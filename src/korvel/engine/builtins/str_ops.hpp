// Internal: Python's str operations on UTF-8 text, as the built-in filters and tests need them
// (Jinja2's filters are thin wrappers over str methods). Entry points: py_upper, py_lower,
// py_capitalize, py_title, py_strip, py_split, py_splitlines, count_words and friends. Bytes that
// are not valid UTF-8 pass through unchanged and count as one character each.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvel::engine::builtins::detail {

// One decoded character: its code point (U+FFFD for an invalid byte) and its length in bytes.
struct Utf8Char {
  char32_t cp;
  std::size_t size;
};
Utf8Char decode_at(std::string_view s, std::size_t i) noexcept;

// Number of characters.
std::size_t char_count(std::string_view s) noexcept;
// Each character as its own view into `s`.
std::vector<std::string_view> chars_of(std::string_view s);

bool py_isspace(char32_t cp) noexcept;
// Python's `\w` for str patterns: alphanumeric or underscore.
bool py_isword(char32_t cp) noexcept;

std::string py_upper(std::string_view s);
std::string py_lower(std::string_view s);
// First character in title case, the rest in lower case ("hELLO wORLD" → "Hello world").
std::string py_capitalize(std::string_view s);
// Jinja2's title: each word (split at "-", white space, "(", "{", "[", "<") gets its first
// character upper-cased and the rest lower-cased ("hello-wORLD" → "Hello-World").
std::string py_title(std::string_view s);
// str.islower / str.isupper: at least one cased character, and no cased one of the other case.
bool py_islower(std::string_view s);
bool py_isupper(std::string_view s);

// str.strip() and str.strip(chars).
std::string_view py_strip(std::string_view s) noexcept;
std::string_view py_strip_chars(std::string_view s, std::string_view chars) noexcept;
// str.split(None, maxsplit): runs of white space separate, empty parts dropped.
std::vector<std::string_view> py_split_whitespace(std::string_view s, long long maxsplit);
// str.split(sep, maxsplit) with a non-empty separator.
std::vector<std::string_view> py_split(std::string_view s, std::string_view sep,
                                       long long maxsplit);
// str.splitlines(): breaks at \n, \r, \r\n, \v, \f, \x1c-\x1e, U+0085, U+2028, U+2029.
std::vector<std::string_view> py_splitlines(std::string_view s);
// str.replace(old, new, count); count < 0 replaces all. An empty `old` inserts between characters.
// nullopt when the result would pass `limit` bytes.
std::optional<std::string> py_replace(std::string_view s, std::string_view old,
                                      std::string_view repl, long long count, std::size_t limit);
// The characters in reverse order.
std::string reverse_chars(std::string_view s);
// Text as Python's int() and float() read it: every Unicode decimal digit becomes its ASCII
// digit and every Unicode white space a space; other non-ASCII characters become "?", which no
// number contains.
std::string ascii_number_text(std::string_view s);

// Python's float(text): optional white space, a sign, digits with single underscores between
// them, an optional fraction and exponent, or inf / infinity / nan in any letter case; nullopt
// for anything else.
std::optional<double> py_parse_float(std::string_view text);

// Number of `\w+` runs.
std::size_t count_words(std::string_view s) noexcept;

}  // namespace korvel::engine::builtins::detail
