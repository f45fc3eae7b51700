// korvel::text — the UTF-8 helpers every layer shares: validation, lossy decoding (each invalid
// sequence becomes one U+FFFD, the "maximal subpart" practice that Python's errors="replace" and
// most decoders follow), and cutting a text after a number of characters without splitting one.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace korvel::text {

inline constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

bool is_valid_utf8(std::string_view bytes) noexcept;

// The bytes as UTF-8 text with every invalid sequence replaced by U+FFFD.
std::string lossy_utf8(std::string_view bytes);

// The leading part of valid UTF-8 `text` that holds at most `max_chars` Unicode scalar values.
std::string_view first_chars(std::string_view text, std::size_t max_chars) noexcept;

// Appends the UTF-8 encoding of a Unicode scalar value.
void append_utf8(char32_t cp, std::string& out);

}  // namespace korvel::text
