// Python's str operations on UTF-8 text for the built-in filters; see str_ops.hpp.
#include "korvel/engine/builtins/str_ops.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "korvel/engine/builtins/unicode_tables.hpp"
#include "korvel/text/utf8.hpp"

namespace korvel::engine::builtins::detail {
namespace {

constexpr char32_t kCapitalSigma = 0x3A3;
constexpr char32_t kFinalSigma = 0x3C2;
constexpr char32_t kSmallSigma = 0x3C3;

bool in_ranges(const CodeRange* ranges, std::size_t n, char32_t cp) noexcept {
  const CodeRange* end = ranges + n;
  const CodeRange* it =
      std::lower_bound(ranges, end, cp, [](const CodeRange& r, char32_t c) { return r.hi < c; });
  return it != end && it->lo <= cp;
}

// Appends the mapping of `cp` from one table; false when the table has no entry for it.
bool map_from(const CaseRun* runs, std::size_t nruns, const CaseSpecial* special,
              std::size_t nspecial, char32_t cp, std::string& out) {
  const CaseRun* rend = runs + nruns;
  const CaseRun* r =
      std::lower_bound(runs, rend, cp, [](const CaseRun& run, char32_t c) { return run.last < c; });
  if (r != rend && r->first <= cp && (cp - r->first) % r->stride == 0) {
    text::append_utf8(static_cast<char32_t>(static_cast<std::int64_t>(cp) + r->delta), out);
    return true;
  }
  const CaseSpecial* send = special + nspecial;
  const CaseSpecial* s = std::lower_bound(
      special, send, cp, [](const CaseSpecial& sp, char32_t c) { return sp.cp < c; });
  if (s != send && s->cp == cp) {
    for (char32_t o : s->out) {
      if (o == 0) break;
      text::append_utf8(o, out);
    }
    return true;
  }
  return false;
}

void append_upper(char32_t cp, std::string& out) {
  if (!map_from(kUpper_runs, kUpper_runs_size, kUpper_special, kUpper_special_size, cp, out)) {
    text::append_utf8(cp, out);
  }
}

void append_title(char32_t cp, std::string& out) {
  if (!map_from(kTitle_runs, kTitle_runs_size, kTitle_special, kTitle_special_size, cp, out)) {
    append_upper(cp, out);
  }
}

bool is_cased(char32_t cp) noexcept { return in_ranges(kCased, kCased_size, cp); }
bool is_case_ignorable(char32_t cp) noexcept {
  return in_ranges(kCaseIgnorable, kCaseIgnorable_size, cp);
}

// Capital sigma at byte offset `i` is final when a cased character precedes it and none follows,
// skipping case-ignorable characters both ways (Unicode's Final_Sigma context, as Python has it).
bool sigma_is_final(std::string_view s, std::size_t i) {
  // Walk back: find the start of each previous character.
  std::size_t j = i;
  bool cased_before = false;
  while (j > 0) {
    std::size_t k = j - 1;
    while (k > 0 && (static_cast<unsigned char>(s[k]) & 0xC0) == 0x80 && j - k < 4) --k;
    const Utf8Char c = decode_at(s, k);
    if (k + c.size != j) {  // not a clean character boundary: treat the byte alone
      j = j - 1;
      break;
    }
    j = k;
    if (!is_case_ignorable(c.cp)) {
      cased_before = is_cased(c.cp);
      break;
    }
  }
  if (!cased_before) return false;
  std::size_t p = i + decode_at(s, i).size;
  while (p < s.size()) {
    const Utf8Char c = decode_at(s, p);
    if (!is_case_ignorable(c.cp)) return !is_cased(c.cp);
    p += c.size;
  }
  return true;
}

// Appends the lower-case form of the character at byte offset `i` of `s`.
void append_lower_at(std::string_view s, std::size_t i, const Utf8Char& c, std::string& out) {
  if (c.cp == kCapitalSigma) {
    text::append_utf8(sigma_is_final(s, i) ? kFinalSigma : kSmallSigma, out);
    return;
  }
  if (!map_from(kLower_runs, kLower_runs_size, kLower_special, kLower_special_size, c.cp, out)) {
    out.append(s.substr(i, c.size));
  }
}

bool is_title_separator(char32_t cp) noexcept {
  return cp == '-' || cp == '(' || cp == '{' || cp == '[' || cp == '<' || py_isspace(cp);
}

bool ascii_digit(char c) noexcept { return c >= '0' && c <= '9'; }

bool is_ascii(std::string_view s) noexcept {
  for (unsigned char c : s) {
    if (c >= 0x80) return false;
  }
  return true;
}

bool is_line_break(char32_t cp) noexcept {
  return cp == '\n' || cp == '\r' || cp == 0x0B || cp == 0x0C || cp == 0x1C || cp == 0x1D ||
         cp == 0x1E || cp == 0x85 || cp == 0x2028 || cp == 0x2029;
}

}  // namespace

Utf8Char decode_at(std::string_view s, std::size_t i) noexcept {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) return {b0, 1};
  std::size_t need;
  char32_t cp;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return {0xFFFD, 1};
  }
  if (i + need >= s.size()) return {0xFFFD, 1};
  for (std::size_t k = 1; k <= need; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF)) return {0xFFFD, 1};
    cp = (cp << 6) | (b & 0x3F);
  }
  return {cp, need + 1};
}

std::size_t char_count(std::string_view s) noexcept {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size(); i += decode_at(s, i).size) ++n;
  return n;
}

std::vector<std::string_view> chars_of(std::string_view s) {
  std::vector<std::string_view> out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = decode_at(s, i).size;
    out.push_back(s.substr(i, n));
    i += n;
  }
  return out;
}

bool py_isspace(char32_t cp) noexcept {
  if (cp < 0x80) return cp == ' ' || (cp >= 0x09 && cp <= 0x0D) || (cp >= 0x1C && cp <= 0x1F);
  return in_ranges(kSpace, kSpace_size, cp);
}

bool py_isword(char32_t cp) noexcept {
  if (cp < 0x80) {
    return cp == '_' || (cp >= '0' && cp <= '9') || (cp >= 'a' && cp <= 'z') ||
           (cp >= 'A' && cp <= 'Z');
  }
  return in_ranges(kAlnum, kAlnum_size, cp);
}

std::string py_upper(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      out.push_back(b >= 'a' && b <= 'z' ? static_cast<char>(b - 32) : static_cast<char>(b));
      ++i;
      continue;
    }
    const Utf8Char c = decode_at(s, i);
    if (c.size == 1) {
      out.push_back(s[i]);
    } else {
      append_upper(c.cp, out);
    }
    i += c.size;
  }
  return out;
}

std::string py_lower(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      out.push_back(b >= 'A' && b <= 'Z' ? static_cast<char>(b + 32) : static_cast<char>(b));
      ++i;
      continue;
    }
    const Utf8Char c = decode_at(s, i);
    if (c.size == 1) {
      out.push_back(s[i]);
    } else {
      append_lower_at(s, i, c, out);
    }
    i += c.size;
  }
  return out;
}

std::string py_capitalize(std::string_view s) {
  std::string out;
  if (s.empty()) return out;
  out.reserve(s.size());
  const Utf8Char first = decode_at(s, 0);
  if (first.size == 1 && first.cp == 0xFFFD) {
    out.push_back(s[0]);
  } else {
    append_title(first.cp, out);
  }
  for (std::size_t i = first.size; i < s.size();) {
    const Utf8Char c = decode_at(s, i);
    if (c.size == 1 && static_cast<unsigned char>(s[i]) >= 0x80) {
      out.push_back(s[i]);
    } else {
      append_lower_at(s, i, c, out);
    }
    i += c.size;
  }
  return out;
}

std::string py_title(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    // One item: a run of separators or a run of other characters, as re.split with a group.
    const bool sep = is_title_separator(decode_at(s, i).cp);
    std::size_t end = i;
    while (end < s.size()) {
      const Utf8Char c = decode_at(s, end);
      if (is_title_separator(c.cp) != sep) break;
      end += c.size;
    }
    const std::string_view item = s.substr(i, end - i);
    const Utf8Char first = decode_at(item, 0);
    if (first.size == 1 && static_cast<unsigned char>(item[0]) >= 0x80) {
      out.push_back(item[0]);
    } else {
      out += py_upper(item.substr(0, first.size));
    }
    out += py_lower(item.substr(first.size));
    i = end;
  }
  return out;
}

bool py_islower(std::string_view s) {
  bool cased = false;
  for (std::size_t i = 0; i < s.size();) {
    const Utf8Char c = decode_at(s, i);
    i += c.size;
    if (in_ranges(kUpperChar, kUpperChar_size, c.cp) ||
        in_ranges(kTitleChar, kTitleChar_size, c.cp)) {
      return false;
    }
    if (!cased && in_ranges(kLowerChar, kLowerChar_size, c.cp)) cased = true;
  }
  return cased;
}

bool py_isupper(std::string_view s) {
  bool cased = false;
  for (std::size_t i = 0; i < s.size();) {
    const Utf8Char c = decode_at(s, i);
    i += c.size;
    if (in_ranges(kLowerChar, kLowerChar_size, c.cp) ||
        in_ranges(kTitleChar, kTitleChar_size, c.cp)) {
      return false;
    }
    if (!cased && in_ranges(kUpperChar, kUpperChar_size, c.cp)) cased = true;
  }
  return cased;
}

namespace {

template <class Pred>
std::string_view strip_if(std::string_view s, Pred pred) {
  std::size_t begin = 0;
  while (begin < s.size()) {
    const Utf8Char c = decode_at(s, begin);
    if (!pred(c.cp, s.substr(begin, c.size))) break;
    begin += c.size;
  }
  std::size_t end = s.size();
  while (end > begin) {
    std::size_t k = end - 1;
    while (k > begin && (static_cast<unsigned char>(s[k]) & 0xC0) == 0x80 && end - k < 4) --k;
    Utf8Char c = decode_at(s, k);
    if (k + c.size != end) {  // a stray continuation byte: one character on its own
      k = end - 1;
      c = {0xFFFD, 1};
    }
    if (!pred(c.cp, s.substr(k, c.size))) break;
    end = k;
  }
  return s.substr(begin, end - begin);
}

}  // namespace

std::string_view py_strip(std::string_view s) noexcept {
  return strip_if(s, [](char32_t cp, std::string_view) { return py_isspace(cp); });
}

std::string_view py_strip_chars(std::string_view s, std::string_view chars) noexcept {
  const std::vector<std::string_view> set = chars_of(chars);
  return strip_if(s, [&](char32_t, std::string_view ch) {
    return std::find(set.begin(), set.end(), ch) != set.end();
  });
}

std::vector<std::string_view> py_split_whitespace(std::string_view s, long long maxsplit) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  auto skip_space = [&] {
    while (i < s.size()) {
      const Utf8Char c = decode_at(s, i);
      if (!py_isspace(c.cp)) break;
      i += c.size;
    }
  };
  skip_space();
  while (i < s.size()) {
    if (maxsplit >= 0 && static_cast<long long>(out.size()) == maxsplit) {
      out.push_back(s.substr(i));  // the rest, with its trailing white space
      return out;
    }
    const std::size_t start = i;
    while (i < s.size()) {
      const Utf8Char c = decode_at(s, i);
      if (py_isspace(c.cp)) break;
      i += c.size;
    }
    out.push_back(s.substr(start, i - start));
    skip_space();
  }
  return out;
}

std::vector<std::string_view> py_split(std::string_view s, std::string_view sep,
                                       long long maxsplit) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  while (maxsplit < 0 || static_cast<long long>(out.size()) < maxsplit) {
    const std::size_t pos = s.find(sep, start);
    if (pos == std::string_view::npos) break;
    out.push_back(s.substr(start, pos - start));
    start = pos + sep.size();
  }
  out.push_back(s.substr(start));
  return out;
}

std::vector<std::string_view> py_splitlines(std::string_view s) {
  std::vector<std::string_view> out;
  std::size_t start = 0, i = 0;
  while (i < s.size()) {
    const Utf8Char c = decode_at(s, i);
    if (!is_line_break(c.cp)) {
      i += c.size;
      continue;
    }
    out.push_back(s.substr(start, i - start));
    i += c.size;
    if (c.cp == '\r' && i < s.size() && s[i] == '\n') ++i;
    start = i;
  }
  if (start < s.size()) out.push_back(s.substr(start));
  return out;
}

std::optional<std::string> py_replace(std::string_view s, std::string_view old,
                                      std::string_view repl, long long count, std::size_t limit) {
  std::string out;
  if (count == 0) return std::string(s);
  if (old.empty()) {
    // Python inserts the replacement before every character and at the end.
    long long done = 0;
    std::size_t i = 0;
    while (i <= s.size()) {
      if (count >= 0 && done == count) {
        out.append(s.substr(i));
        break;
      }
      out.append(repl);
      ++done;
      if (out.size() > limit) return std::nullopt;
      if (i == s.size()) break;
      const std::size_t n = decode_at(s, i).size;
      out.append(s.substr(i, n));
      i += n;
    }
    if (out.size() > limit) return std::nullopt;
    return out;
  }
  out.reserve(std::min(s.size(), limit));
  std::size_t start = 0;
  long long done = 0;
  while (count < 0 || done < count) {
    const std::size_t pos = s.find(old, start);
    if (pos == std::string_view::npos) break;
    out.append(s.substr(start, pos - start));
    out.append(repl);
    if (out.size() > limit) return std::nullopt;
    start = pos + old.size();
    ++done;
  }
  out.append(s.substr(start));
  if (out.size() > limit) return std::nullopt;
  return out;
}

std::string reverse_chars(std::string_view s) {
  std::vector<std::string_view> cs = chars_of(s);
  std::string out;
  out.reserve(s.size());
  for (auto it = cs.rbegin(); it != cs.rend(); ++it) out.append(*it);
  return out;
}

std::string ascii_number_text(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const Utf8Char c = decode_at(s, i);
    i += c.size;
    if (c.cp < 0x80 && c.size == 1) {
      out += static_cast<char>(c.cp);
      continue;
    }
    if (py_isspace(c.cp)) {
      out += ' ';
      continue;
    }
    const DecimalRun* end = kDecimal + kDecimal_size;
    const DecimalRun* r = std::lower_bound(
        kDecimal, end, c.cp, [](const DecimalRun& run, char32_t cp) { return run.hi < cp; });
    if (r != end && r->lo <= c.cp) {
      out += static_cast<char>('0' + r->first_value + static_cast<int>(c.cp - r->lo));
    } else {
      out += '?';
    }
  }
  return out;
}

// Python's float(text): optional white space, a sign, digits with single underscores between
// them, an optional fraction and exponent, or inf / infinity / nan in any letter case.
std::optional<double> py_parse_float(std::string_view text) {
  std::string ascii;
  if (!is_ascii(text)) {
    ascii = ascii_number_text(text);
    text = ascii;
  }
  std::string_view s = py_strip(text);
  std::string clean;
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) clean += s[i++];
  std::string rest(s.substr(i));
  for (char& c : rest) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  if (rest == "inf" || rest == "infinity" || rest == "nan") {
    const double v = rest == "nan" ? std::nan("") : HUGE_VAL;
    return clean == "-" ? -v : v;
  }
  // Digits with single underscores between them; returns how many digits were read.
  auto digits = [&] {
    std::size_t n = 0;
    while (i < s.size()) {
      if (ascii_digit(s[i])) {
        clean += s[i++];
        ++n;
      } else if (s[i] == '_' && n > 0 && i + 1 < s.size() && ascii_digit(s[i + 1])) {
        ++i;
      } else {
        break;
      }
    }
    return n;
  };
  const bool int_part = digits() > 0;
  bool frac_part = false;
  if (i < s.size() && s[i] == '.') {
    clean += s[i++];
    frac_part = digits() > 0;
  }
  // "1." and ".5" are numbers; a bare sign or point is not.
  if (!int_part && !frac_part) return std::nullopt;
  if (!frac_part && clean.back() == '.') clean += '0';
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    clean += s[i++];
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) clean += s[i++];
    if (digits() == 0) return std::nullopt;
  }
  if (i != s.size()) return std::nullopt;
  return std::strtod(clean.c_str(), nullptr);  // ±HUGE_VAL on overflow, as Python's inf
}

std::size_t count_words(std::string_view s) noexcept {
  std::size_t n = 0;
  bool in_word = false;
  for (std::size_t i = 0; i < s.size();) {
    const Utf8Char c = decode_at(s, i);
    const bool w = py_isword(c.cp);
    if (w && !in_word) ++n;
    in_word = w;
    i += c.size;
  }
  return n;
}

}  // namespace korvel::engine::builtins::detail
