// korvel::json::parse — a hand-written RFC 8259 reader that builds the Value tree directly. Arrays
// and objects under construction live on an explicit stack of at most kMaxDepth frames, so no input
// can deepen the native stack. Errors carry the position just after the failing character.
#include "korvel/json/reader.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#if !(defined(__cpp_lib_to_chars) && __cpp_lib_to_chars >= 201611L)
#include <locale.h>

#include <cerrno>
#if defined(__APPLE__)
#include <xlocale.h>
#endif
#endif

#include "korvel/text/utf8.hpp"

namespace korvel::json {

std::string ParseError::message() const {
  return description + " at line " + std::to_string(line) + " column " + std::to_string(column);
}

namespace detail {
namespace {

constexpr std::string_view kEofValue = "EOF while parsing a value";
constexpr std::string_view kEofList = "EOF while parsing a list";
constexpr std::string_view kEofObject = "EOF while parsing an object";
constexpr std::string_view kEofString = "EOF while parsing a string";
constexpr std::string_view kExpectedValue = "expected value";
constexpr std::string_view kExpectedIdent = "expected ident";
constexpr std::string_view kTrailingCharacters = "trailing characters";
constexpr std::string_view kTrailingComma = "trailing comma";
constexpr std::string_view kInvalidEscape = "invalid escape";
constexpr std::string_view kLoneLeading = "lone leading surrogate in hex escape";
constexpr std::string_view kLoneTrailing = "lone trailing surrogate in hex escape";
constexpr std::string_view kEndOfHexEscape = "unexpected end of hex escape";
constexpr std::string_view kControlCharacter =
    "control character (\\u0000-\\u001F) found while parsing a string";
constexpr std::string_view kInvalidUtf8 = "invalid unicode code point";
constexpr std::string_view kKeyMustBeString = "key must be a string";
constexpr std::string_view kExpectedColon = "expected `:`";
constexpr std::string_view kExpectedListEnd = "expected `,` or `]`";
constexpr std::string_view kExpectedObjectEnd = "expected `,` or `}`";
constexpr std::string_view kInvalidNumber = "invalid number";
constexpr std::string_view kNumberOutOfRange = "number out of range";
constexpr std::string_view kRecursionLimit = "recursion limit exceeded";

// Line and column of the character that ends just before byte `end`: lines split at "\n", columns
// count characters (bytes that do not continue a UTF-8 sequence).
ParseError make_error(std::string_view text, std::size_t end, std::string_view description) {
  ParseError error;
  error.description = std::string(description);
  error.line = 1;
  std::size_t line_start = 0;
  for (std::size_t k = 0; k < end; ++k) {
    if (text[k] == '\n') {
      ++error.line;
      line_start = k + 1;
    }
  }
  for (std::size_t k = line_start; k < end; ++k) {
    if ((static_cast<std::uint8_t>(text[k]) & 0xC0) != 0x80) ++error.column;
  }
  return error;
}

// Length of the valid UTF-8 sequence that starts with the non-ASCII byte at `i`, or 0.
std::size_t utf8_length(std::string_view s, std::size_t i) noexcept {
  const auto b0 = static_cast<std::uint8_t>(s[i]);
  std::size_t need;
  std::uint8_t lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + need >= s.size()) return 0;
  for (std::size_t k = 1; k <= need; ++k) {
    const auto b = static_cast<std::uint8_t>(s[i + k]);
    if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF)) return 0;
  }
  return need + 1;
}

int hex_digit(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Converts a syntactically valid JSON number with a fraction or exponent (or an integer too large
// for 64 bits). nullopt when it overflows to infinity; an underflow gives a signed zero.
std::optional<double> to_double(std::string_view number) {
  double value = 0.0;
  bool out_of_range = false;
#if defined(__cpp_lib_to_chars) && __cpp_lib_to_chars >= 201611L
  const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
  out_of_range = result.ec == std::errc::result_out_of_range;
#else
  // No floating-point from_chars: strtod under the "C" locale, whatever the host has set.
  const std::string copy(number);
  locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  if (c_locale == static_cast<locale_t>(0)) return std::nullopt;
  errno = 0;
  value = strtod_l(copy.c_str(), nullptr, c_locale);
  // ERANGE also flags a denormal or zero result, which is the right value; only overflow to
  // infinity is out of range.
  out_of_range = errno == ERANGE && std::isinf(value);
  freelocale(c_locale);
#endif
  if (!out_of_range) {
    if (!std::isfinite(value)) return std::nullopt;
    return value;
  }
  // Out of range either way: find the decimal magnitude of the first significant digit to tell
  // an overflow (refused) from an underflow (zero).
  std::size_t k = number.front() == '-' ? 1 : 0;
  const bool negative = k == 1;
  std::int64_t magnitude = 0;  // the number lies in [10^(magnitude-1), 10^magnitude)
  bool significant = false;
  for (; k < number.size() && number[k] >= '0' && number[k] <= '9'; ++k) {
    if (significant || number[k] != '0') {
      significant = true;
      ++magnitude;
    }
  }
  if (k < number.size() && number[k] == '.') {
    for (++k; k < number.size() && number[k] >= '0' && number[k] <= '9'; ++k) {
      if (significant) continue;
      if (number[k] != '0') {
        significant = true;
      } else {
        --magnitude;
      }
    }
  }
  std::int64_t exponent = 0;
  if (k < number.size() && (number[k] == 'e' || number[k] == 'E')) {
    ++k;
    bool exponent_negative = false;
    if (number[k] == '+' || number[k] == '-') exponent_negative = number[k++] == '-';
    for (; k < number.size(); ++k) {
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (number[k] - '0');
    }
    if (exponent_negative) exponent = -exponent;
  }
  if (significant && magnitude + exponent > 0) return std::nullopt;
  return negative ? -0.0 : 0.0;
}

class Reader {
 public:
  explicit Reader(std::string_view text) : s_(text) {}

  std::expected<Value, ParseError> read() {
    skip_whitespace();
    Value value;
    // Each turn reads one value; a finished value is attached to the innermost open container,
    // and every container it closes is attached in turn.
    for (;;) {
      if (!read_value(value)) return std::unexpected(std::move(*error_));
      if (!opened_) {
        for (;;) {
          if (stack_.empty()) {
            skip_whitespace();
            if (i_ < s_.size()) {
              set_error(i_ + 1, kTrailingCharacters);
              return std::unexpected(std::move(*error_));
            }
            return value;
          }
          if (!attach(std::move(value))) return std::unexpected(std::move(*error_));
          if (!closed_) break;
          value = std::move(stack_.back().container);
          stack_.pop_back();
        }
      }
    }
  }

 private:
  struct Frame {
    Value container;
    std::string key;  // the key of the member being read, for objects
  };

  bool set_error(std::size_t end, std::string_view description) {
    error_ = make_error(s_, end, description);
    return false;
  }

  void skip_whitespace() noexcept {
    while (i_ < s_.size() &&
           (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r')) {
      ++i_;
    }
  }

  // Reads a scalar into `out`, or opens a container (opened_ = true) and positions the reader at
  // its first value, or reads an empty container into `out`.
  bool read_value(Value& out) {
    opened_ = false;
    if (i_ >= s_.size()) return set_error(s_.size(), kEofValue);
    switch (s_[i_]) {
      case '[':
        return open_container(Value(Array{}), out);
      case '{':
        return open_container(Value(Object{}), out);
      case '"': {
        std::string text;
        if (!read_string(text)) return false;
        out = Value(std::move(text));
        return true;
      }
      case 't':
        return read_literal("true", Value(true), out);
      case 'f':
        return read_literal("false", Value(false), out);
      case 'n':
        return read_literal("null", Value(nullptr), out);
      default:
        if (s_[i_] == '-' || (s_[i_] >= '0' && s_[i_] <= '9')) return read_number(out);
        return set_error(i_ + 1, kExpectedValue);
    }
  }

  bool open_container(Value container, Value& out) {
    if (stack_.size() >= kMaxDepth) return set_error(i_ + 1, kRecursionLimit);
    const bool is_array = container.is_array();
    ++i_;
    skip_whitespace();
    if (i_ >= s_.size()) return set_error(s_.size(), is_array ? kEofList : kEofObject);
    if (s_[i_] == (is_array ? ']' : '}')) {
      ++i_;
      out = std::move(container);
      return true;
    }
    stack_.push_back(Frame{std::move(container), {}});
    opened_ = true;
    return is_array || read_key();
  }

  // Reads `"key" :` into the innermost frame and skips to the member's value.
  bool read_key() {
    if (s_[i_] != '"') return set_error(i_ + 1, kKeyMustBeString);
    if (!read_string(stack_.back().key)) return false;
    skip_whitespace();
    if (i_ >= s_.size()) return set_error(s_.size(), kEofObject);
    if (s_[i_] != ':') return set_error(i_ + 1, kExpectedColon);
    ++i_;
    skip_whitespace();
    return true;
  }

  // Attaches a finished value to the innermost container and reads what follows it: a separator
  // (the reader then stands at the next value) or the container's end (closed_ = true).
  bool attach(Value value) {
    closed_ = false;
    Frame& top = stack_.back();
    const bool is_array = top.container.is_array();
    if (is_array) {
      top.container.as_array().push_back(std::move(value));
    } else {
      // A repeated key keeps its last value.
      top.container.as_object().insert_or_assign(std::move(top.key), std::move(value));
      top.key.clear();
    }
    skip_whitespace();
    if (i_ >= s_.size()) return set_error(s_.size(), is_array ? kEofList : kEofObject);
    const char c = s_[i_];
    if (c == (is_array ? ']' : '}')) {
      ++i_;
      closed_ = true;
      return true;
    }
    if (c != ',') return set_error(i_ + 1, is_array ? kExpectedListEnd : kExpectedObjectEnd);
    ++i_;
    skip_whitespace();
    if (i_ >= s_.size()) return set_error(s_.size(), kEofValue);
    if (s_[i_] == (is_array ? ']' : '}')) return set_error(i_ + 1, kTrailingComma);
    return is_array || read_key();
  }

  bool read_literal(std::string_view word, Value value, Value& out) {
    for (std::size_t k = 0; k < word.size(); ++k, ++i_) {
      if (i_ >= s_.size()) return set_error(s_.size(), kEofValue);
      if (s_[i_] != word[k]) return set_error(i_ + 1, kExpectedIdent);
    }
    out = std::move(value);
    return true;
  }

  bool read_number(Value& out) {
    const std::size_t start = i_;
    const bool negative = s_[i_] == '-';
    if (negative) ++i_;
    const auto digits = [&] {
      while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
    };
    const auto expect_digit = [&] {
      if (i_ >= s_.size()) return set_error(s_.size(), kEofValue);
      if (s_[i_] < '0' || s_[i_] > '9') return set_error(i_ + 1, kInvalidNumber);
      return true;
    };
    if (!expect_digit()) return false;
    if (s_[i_] == '0') {
      ++i_;
      if (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9')
        return set_error(i_ + 1, kInvalidNumber);
    } else {
      digits();
    }
    const std::size_t integer_end = i_;
    bool is_integer = true;
    if (i_ < s_.size() && s_[i_] == '.') {
      is_integer = false;
      ++i_;
      if (!expect_digit()) return false;
      digits();
    }
    if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
      is_integer = false;
      ++i_;
      if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-')) ++i_;
      if (!expect_digit()) return false;
      digits();
    }
    const std::string_view number = s_.substr(start, i_ - start);
    if (is_integer) {
      // Magnitude as uint64, then int64 when it fits, else uint64, else a double.
      std::uint64_t magnitude = 0;
      bool overflow = false;
      for (std::size_t k = negative ? start + 1 : start; k < integer_end; ++k) {
        const auto d = static_cast<std::uint64_t>(s_[k] - '0');
        if (magnitude > (std::numeric_limits<std::uint64_t>::max() - d) / 10) {
          overflow = true;
          break;
        }
        magnitude = magnitude * 10 + d;
      }
      if (!overflow) {
        constexpr auto kMaxInt =
            static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
        if (!negative) {
          out =
              magnitude <= kMaxInt ? Value(static_cast<std::int64_t>(magnitude)) : Value(magnitude);
          return true;
        }
        if (magnitude <= kMaxInt + 1) {
          out = Value(magnitude == kMaxInt + 1 ? std::numeric_limits<std::int64_t>::min()
                                               : -static_cast<std::int64_t>(magnitude));
          return true;
        }
      }
    }
    const std::optional<double> value = to_double(number);
    if (!value) return set_error(i_, kNumberOutOfRange);
    out = Value(*value);
    return true;
  }

  // Reads the string literal at i_ (an opening quote) into `out`.
  bool read_string(std::string& out) {
    out.clear();
    ++i_;
    for (;;) {
      const std::size_t run = i_;
      while (i_ < s_.size()) {
        const auto b = static_cast<std::uint8_t>(s_[i_]);
        if (b == '"' || b == '\\' || b < 0x20) break;
        if (b < 0x80) {
          ++i_;
          continue;
        }
        const std::size_t n = utf8_length(s_, i_);
        if (n == 0) {
          out.append(s_.substr(run, i_ - run));
          return set_error(i_ + 1, kInvalidUtf8);
        }
        i_ += n;
      }
      out.append(s_.substr(run, i_ - run));
      if (i_ >= s_.size()) return set_error(s_.size(), kEofString);
      const char c = s_[i_++];
      if (c == '"') return true;
      if (c != '\\') return set_error(i_, kControlCharacter);
      if (!read_escape(out)) return false;
    }
  }

  // Reads the escape after a backslash.
  bool read_escape(std::string& out) {
    if (i_ >= s_.size()) return set_error(s_.size(), kEofString);
    const char c = s_[i_++];
    switch (c) {
      case '"':
        out += '"';
        return true;
      case '\\':
        out += '\\';
        return true;
      case '/':
        out += '/';
        return true;
      case 'b':
        out += '\b';
        return true;
      case 'f':
        out += '\f';
        return true;
      case 'n':
        out += '\n';
        return true;
      case 'r':
        out += '\r';
        return true;
      case 't':
        out += '\t';
        return true;
      case 'u':
        break;
      default:
        return set_error(i_, kInvalidEscape);
    }
    char32_t cp = 0;
    if (!read_hex4(cp)) return false;
    if (cp >= 0xDC00 && cp <= 0xDFFF) return set_error(i_, kLoneTrailing);
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      for (char expected : {'\\', 'u'}) {
        if (i_ >= s_.size()) return set_error(s_.size(), kEofString);
        if (s_[i_++] != expected) return set_error(i_, kEndOfHexEscape);
      }
      char32_t low = 0;
      if (!read_hex4(low)) return false;
      if (low < 0xDC00 || low > 0xDFFF) return set_error(i_, kLoneLeading);
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
    }
    korvel::text::append_utf8(cp, out);
    return true;
  }

  bool read_hex4(char32_t& cp) {
    for (int k = 0; k < 4; ++k) {
      if (i_ >= s_.size()) return set_error(s_.size(), kEofString);
      const int d = hex_digit(s_[i_++]);
      if (d < 0) return set_error(i_, kInvalidEscape);
      cp = (cp << 4) | static_cast<char32_t>(d);
    }
    return true;
  }

  std::string_view s_;
  std::size_t i_ = 0;
  std::vector<Frame> stack_;
  bool opened_ = false;  // read_value opened a container instead of finishing a value
  bool closed_ = false;  // attach met the end of the innermost container
  std::optional<ParseError> error_;
};

}  // namespace
}  // namespace detail

std::expected<Value, ParseError> parse(std::string_view text) {
  return detail::Reader(text).read();
}

}  // namespace korvel::json
