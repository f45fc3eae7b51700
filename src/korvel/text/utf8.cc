// UTF-8 validation, lossy decoding and character-counted cuts.
#include "korvel/text/utf8.hpp"

#include <cstdint>

namespace korvel::text {
namespace {

// Length of the valid UTF-8 sequence starting at `i`, or 0 when it is invalid; `bad` receives how
// many bytes form the maximal invalid subpart in that case (at least 1).
std::size_t sequence_length(std::string_view s, std::size_t i, std::size_t& bad) noexcept {
  const auto b0 = static_cast<std::uint8_t>(s[i]);
  bad = 1;
  if (b0 < 0x80) return 1;
  std::size_t need;
  std::uint8_t lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  for (std::size_t k = 1; k <= need; ++k) {
    if (i + k >= s.size()) return 0;
    const auto b = static_cast<std::uint8_t>(s[i + k]);
    const std::uint8_t l = (k == 1) ? lo : 0x80;
    const std::uint8_t h = (k == 1) ? hi : 0xBF;
    if (b < l || b > h) return 0;
    bad = k + 1;
  }
  return need + 1;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) noexcept {
  std::size_t i = 0, bad = 0;
  while (i < bytes.size()) {
    if (static_cast<std::uint8_t>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    const std::size_t n = sequence_length(bytes, i, bad);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string lossy_utf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t i = 0, bad = 0, run = 0;
  while (i < bytes.size()) {
    if (static_cast<std::uint8_t>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    const std::size_t n = sequence_length(bytes, i, bad);
    if (n != 0) {
      i += n;
      continue;
    }
    out.append(bytes.substr(run, i - run));
    out.append(kReplacementCharacter);
    i += bad;
    run = i;
  }
  out.append(bytes.substr(run));
  return out;
}

std::string_view first_chars(std::string_view text, std::size_t max_chars) noexcept {
  std::size_t i = 0;
  for (std::size_t count = 0; i < text.size() && count < max_chars; ++count) {
    const auto b = static_cast<std::uint8_t>(text[i]);
    i += b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
  }
  return text.substr(0, i < text.size() ? i : text.size());
}

void append_utf8(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace korvel::text
