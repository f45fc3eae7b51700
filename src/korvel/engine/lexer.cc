// detail::Lexer — the single-pass tokenizer (see lexer.hpp). Whitespace rules follow Jinja2: "-"
// after a start marker strips all white space before the tag, "-" before an end marker strips all
// white space after it; trim-blocks drops the first line break after a block or comment tag ("+"
// before the end marker keeps it); left-strip-blocks drops the spaces and tabs between the start of
// a line and a block or comment tag ("+" after the start marker keeps them).
#include "korvel/engine/lexer.hpp"

#include <algorithm>
#include <cstring>

namespace korvel::engine::detail {

namespace {

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_name_start(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}
bool is_name_char(char c) { return is_name_start(c) || is_digit(c); }

std::uint32_t count_lines(std::string_view s) {
  return static_cast<std::uint32_t>(std::count(s.begin(), s.end(), '\n'));
}

constexpr int kVariable = 0, kBlock = 1, kComment = 2;

}  // namespace

Lexer::Lexer(std::string_view source, const LexerOptions& options) : src_(source), opt_(options) {
  const SyntaxConfig& s = *options.syntax;
  starts_[kVariable] = s.variable_start;
  starts_[kBlock] = s.block_start;
  starts_[kComment] = s.comment_start;
  var_end_ = s.variable_end;
  block_end_ = s.block_end;
  comment_end_ = s.comment_end;
  for (auto m : starts_) {
    if (!m.empty() && first_chars_.find(m[0]) == std::string::npos) first_chars_ += m[0];
  }
}

std::unexpected<Error> Lexer::error(std::string detail, std::uint32_t line) const {
  Error e(ErrorKind::SyntaxError, std::move(detail));
  e.set_line(line);
  return std::unexpected(std::move(e));
}

void Lexer::advance_to(std::size_t to) {
  line_ += count_lines(src_.substr(pos_, to - pos_));
  pos_ = to;
}

std::size_t Lexer::skip_ws(std::size_t at) const {
  while (at < src_.size() && is_space(src_[at])) ++at;
  return at;
}

std::size_t Lexer::find_tag_start(std::size_t from, int* which) const {
  const std::size_t n = src_.size();
  std::size_t p = from;
  while (p < n) {
    if (first_chars_.size() == 1) {
      const void* q = std::memchr(src_.data() + p, first_chars_[0], n - p);
      if (!q) return std::string_view::npos;
      p = static_cast<std::size_t>(static_cast<const char*>(q) - src_.data());
    } else {
      while (p < n && first_chars_.find(src_[p]) == std::string::npos) ++p;
      if (p >= n) return std::string_view::npos;
    }
    int best = -1;
    std::size_t best_len = 0;
    const std::string_view rest = src_.substr(p);
    for (int i = 0; i < 3; ++i) {
      if (!starts_[i].empty() && starts_[i].size() > best_len && rest.starts_with(starts_[i])) {
        best = i;
        best_len = starts_[i].size();
      }
    }
    if (best >= 0) {
      *which = best;
      return p;
    }
    ++p;
  }
  return std::string_view::npos;
}

std::size_t Lexer::strip_before(std::size_t data_start, std::size_t tag_at, char sign,
                                bool lstrip_applies) const {
  if (sign == '-') {
    std::size_t e = tag_at;
    while (e > data_start && is_space(src_[e - 1])) --e;
    return e;
  }
  if (sign != '+' && opt_.lstrip_blocks && lstrip_applies) {
    const std::string_view text = src_.substr(data_start, tag_at - data_start);
    const std::size_t nl = text.rfind('\n');
    const std::size_t l_pos = nl == std::string_view::npos ? 0 : nl + 1;
    if (nl != std::string_view::npos || line_starting_) {
      bool blank = l_pos < text.size();
      for (std::size_t i = l_pos; i < text.size() && blank; ++i) blank = is_space(text[i]);
      if (blank) return data_start + l_pos;
    }
  }
  return tag_at;
}

// Position after an end marker found at `at` (with its sign character, if any, just before it),
// applying "-" (strip following white space) and trim-blocks; sets line_starting_.
std::size_t Lexer::after_end_marker(std::size_t at, std::size_t marker_len, char sign, bool trim) {
  std::size_t after = at + marker_len;
  if (sign == '-') {
    after = skip_ws(after);
  } else if (sign != '+' && trim && opt_.trim_blocks && after < src_.size() &&
             src_[after] == '\n') {
    ++after;
  }
  line_starting_ = after > 0 && src_[after - 1] == '\n';
  return after;
}

bool Lexer::match_raw_begin(std::size_t at, std::size_t* content_start) {
  std::size_t i = at + starts_[kBlock].size();
  if (i < src_.size() && (src_[i] == '-' || src_[i] == '+')) ++i;
  i = skip_ws(i);
  if (src_.substr(i, 3) != "raw") return false;
  i = skip_ws(i + 3);
  const std::string_view rest = src_.substr(i);
  if (rest.size() > 1 && rest[0] == '-' && rest.substr(1).starts_with(block_end_)) {
    *content_start = skip_ws(i + 1 + block_end_.size());
  } else if (rest.starts_with(block_end_) && !block_end_.empty()) {
    *content_start = i + block_end_.size();
  } else {
    return false;
  }
  return true;
}

Result<Token> Lexer::lex_raw(std::size_t content_start, char /*begin_sign*/) {
  const std::uint32_t raw_line = line_;
  const std::size_t raw_begin_end = content_start;
  line_starting_ = raw_begin_end > 0 && src_[raw_begin_end - 1] == '\n';
  std::size_t search = content_start;
  while (true) {
    const std::size_t at = src_.find(starts_[kBlock], search);
    if (at == std::string_view::npos) return error("missing end of raw directive", raw_line);
    std::size_t i = at + starts_[kBlock].size();
    char sign = 0;
    if (i < src_.size() && (src_[i] == '-' || src_[i] == '+')) sign = src_[i++];
    i = skip_ws(i);
    if (src_.substr(i, 6) != "endraw") {
      search = at + 1;
      continue;
    }
    i = skip_ws(i + 6);
    char end_sign = 0;
    if (i < src_.size() && (src_[i] == '-' || src_[i] == '+')) end_sign = src_[i++];
    if (!src_.substr(i).starts_with(block_end_)) {
      search = at + 1;
      continue;
    }
    const std::size_t data_end = strip_before(content_start, at, sign, true);
    Token t{Tok::Data, Op::None, 0, src_.substr(content_start, data_end - content_start)};
    advance_to(content_start);
    t.line = line_;
    advance_to(after_end_marker(i, block_end_.size(), end_sign, true));
    return t;
  }
}

Result<Token> Lexer::next() {
  if (has_pending_) {
    has_pending_ = false;
    return pending_;
  }
  if (mode_ == Mode::Root) return lex_root();
  return lex_tag();
}

Result<Token> Lexer::lex_root() {
  const std::size_t n = src_.size();
  while (pos_ < n) {
    int which = 0;
    const std::size_t p = find_tag_start(pos_, &which);
    if (p == std::string_view::npos) {
      Token t{Tok::Data, Op::None, line_, src_.substr(pos_)};
      advance_to(n);
      return t;
    }
    const std::size_t marker_end = p + starts_[which].size();
    const char sign = marker_end < n && (src_[marker_end] == '-' || src_[marker_end] == '+')
                          ? src_[marker_end]
                          : 0;
    const std::size_t data_end = strip_before(pos_, p, sign, which != kVariable);
    Token data{Tok::Data, Op::None, line_, src_.substr(pos_, data_end - pos_)};
    std::size_t raw_content = 0;
    if (which == kBlock && match_raw_begin(p, &raw_content)) {
      advance_to(p);
      auto raw = lex_raw(raw_content, sign);
      if (!raw) return raw;
      if (data.text.empty()) return raw;
      if (!raw->text.empty()) {
        pending_ = *raw;
        has_pending_ = true;
      }
      return data;
    }
    advance_to(p);
    const std::uint32_t tag_line = line_;
    pos_ = marker_end + (sign ? 1 : 0);  // markers hold no line break
    if (which == kComment) {
      std::size_t j = src_.find(comment_end_, pos_);
      if (comment_end_.empty() || j == std::string_view::npos) {
        return error("missing end of comment tag", tag_line);
      }
      char end_sign = 0;
      std::size_t at = j;
      if (j > pos_ && (src_[j - 1] == '-' || src_[j - 1] == '+')) end_sign = src_[j - 1];
      advance_to(after_end_marker(at, comment_end_.size(), end_sign, true));
      if (!data.text.empty()) return data;
      continue;
    }
    Token begin{which == kVariable ? Tok::VariableBegin : Tok::BlockBegin, Op::None, tag_line, {}};
    mode_ = which == kVariable ? Mode::Variable : Mode::Block;
    balance_.clear();
    if (data.text.empty()) return begin;
    pending_ = begin;
    has_pending_ = true;
    return data;
  }
  return Token{Tok::Eof, Op::None, line_, {}};
}

Result<Token> Lexer::lex_tag() {
  const std::size_t n = src_.size();
  while (pos_ < n && is_space(src_[pos_])) {
    if (src_[pos_] == '\n') ++line_;
    ++pos_;
  }
  if (pos_ >= n) {
    return error(mode_ == Mode::Block ? "unexpected end of template, expected end of block tag"
                                      : "unexpected end of template, expected end of variable",
                 line_);
  }
  const std::string_view rest = src_.substr(pos_);
  const std::string_view end = mode_ == Mode::Block ? block_end_ : var_end_;
  if (balance_.empty() && !end.empty() && (rest[0] == end[0] || rest[0] == '-' || rest[0] == '+')) {
    char sign = 0;
    bool found = false;
    {
      if (rest.size() > end.size() &&
          (rest[0] == '-' || (rest[0] == '+' && mode_ == Mode::Block)) &&
          rest.substr(1).starts_with(end)) {
        sign = rest[0];
        found = true;
      } else if (rest.starts_with(end)) {
        found = true;
      }
    }
    if (found) {
      const std::uint32_t line = line_;
      const std::size_t at = pos_ + (sign ? 1 : 0);
      advance_to(after_end_marker(at, end.size(), sign, mode_ == Mode::Block));
      Token t{mode_ == Mode::Block ? Tok::BlockEnd : Tok::VariableEnd, Op::None, line, {}};
      mode_ = Mode::Root;
      return t;
    }
  }
  const char c = rest[0];
  Token t{Tok::Op, Op::None, line_, {}};
  // Numbers: a float needs a fraction or an exponent; after a dot only an integer is read, so
  // that `a.0.1` is two item lookups.
  if (is_digit(c)) {
    auto digits = [&](std::size_t i, auto pred) {
      // (d+_)*d+
      std::size_t j = i;
      while (j < n && pred(src_[j])) {
        ++j;
        if (j + 1 < n && src_[j] == '_' && pred(src_[j + 1])) ++j;
      }
      return j;
    };
    auto dec = [](char ch) { return is_digit(ch); };
    std::size_t end = 0;
    bool is_float = false;
    if (!(pos_ > 0 && src_[pos_ - 1] == '.')) {
      std::size_t a = digits(pos_, dec);
      std::size_t b = a;
      bool fraction = false;
      if (a + 1 < n && src_[a] == '.' && is_digit(src_[a + 1])) {
        b = digits(a + 1, dec);
        fraction = true;
      }
      std::size_t e = b;
      if (b < n && (src_[b] == 'e' || src_[b] == 'E')) {
        std::size_t k = b + 1;
        if (k < n && (src_[k] == '+' || src_[k] == '-')) ++k;
        if (k < n && is_digit(src_[k])) e = digits(k, dec);
      }
      if (e != b || fraction) {
        is_float = true;
        end = e;
      }
    }
    if (!is_float) {
      auto prefixed = [&](auto pred) {
        // 0x(_?h)+
        std::size_t j = pos_ + 2;
        std::size_t last = 0;
        while (j < n) {
          std::size_t k = j;
          if (src_[k] == '_') ++k;
          if (k < n && pred(src_[k])) {
            j = k + 1;
            last = j;
          } else {
            break;
          }
        }
        return last;
      };
      const char p1 = pos_ + 1 < n ? static_cast<char>(src_[pos_ + 1] | 0x20) : 0;
      std::size_t pe = 0;
      if (c == '0' && p1 == 'x') {
        pe = prefixed([](char ch) {
          const char l = static_cast<char>(ch | 0x20);
          return is_digit(ch) || (l >= 'a' && l <= 'f');
        });
      } else if (c == '0' && p1 == 'o') {
        pe = prefixed([](char ch) { return ch >= '0' && ch <= '7'; });
      } else if (c == '0' && p1 == 'b') {
        pe = prefixed([](char ch) { return ch == '0' || ch == '1'; });
      }
      if (pe) {
        end = pe;
      } else if (c == '0') {
        end = digits(pos_, [](char ch) { return ch == '0'; });
      } else {
        end = digits(pos_, dec);
      }
    }
    t.type = is_float ? Tok::Float : Tok::Integer;
    t.text = src_.substr(pos_, end - pos_);
    pos_ = end;  // a number holds no line break
    return t;
  }
  if (is_name_start(c)) {
    std::size_t j = pos_ + 1;
    while (j < n && is_name_char(src_[j])) ++j;
    t.type = Tok::Name;
    t.text = src_.substr(pos_, j - pos_);
    pos_ = j;  // a name holds no line break
    return t;
  }
  if (c == '\'' || c == '"') {
    std::size_t j = pos_ + 1;
    while (j < n && src_[j] != c) j += src_[j] == '\\' ? 2 : 1;
    if (j >= n) return error("unexpected end of string", line_);
    t.type = Tok::String;
    t.text = src_.substr(pos_ + 1, j - pos_ - 1);
    advance_to(j + 1);
    return t;
  }
  const char next = rest.size() > 1 ? rest[1] : '\0';
  std::size_t len = 1;
  switch (c) {
    case '/':
      if (next == '/') {
        t.op = Op::FloorDiv;
        len = 2;
      } else {
        t.op = Op::Div;
      }
      break;
    case '*':
      if (next == '*') {
        t.op = Op::Pow;
        len = 2;
      } else {
        t.op = Op::Mul;
      }
      break;
    case '=':
      if (next == '=') {
        t.op = Op::Eq;
        len = 2;
      } else {
        t.op = Op::Assign;
      }
      break;
    case '!':
      if (next == '=') {
        t.op = Op::Ne;
        len = 2;
      }
      break;
    case '>':
      if (next == '=') {
        t.op = Op::Ge;
        len = 2;
      } else {
        t.op = Op::Gt;
      }
      break;
    case '<':
      if (next == '=') {
        t.op = Op::Le;
        len = 2;
      } else {
        t.op = Op::Lt;
      }
      break;
    case '+':
      t.op = Op::Add;
      break;
    case '-':
      t.op = Op::Sub;
      break;
    case '%':
      t.op = Op::Mod;
      break;
    case '~':
      t.op = Op::Tilde;
      break;
    case '[':
      t.op = Op::LBracket;
      break;
    case ']':
      t.op = Op::RBracket;
      break;
    case '(':
      t.op = Op::LParen;
      break;
    case ')':
      t.op = Op::RParen;
      break;
    case '{':
      t.op = Op::LBrace;
      break;
    case '}':
      t.op = Op::RBrace;
      break;
    case '.':
      t.op = Op::Dot;
      break;
    case ':':
      t.op = Op::Colon;
      break;
    case '|':
      t.op = Op::Pipe;
      break;
    case ',':
      t.op = Op::Comma;
      break;
    case ';':
      t.op = Op::Semicolon;
      break;
    default:
      break;
  }
  if (t.op != Op::None) {
    const std::string_view text = src_.substr(pos_, len);
    t.text = text;
    if (t.op == Op::LParen || t.op == Op::LBracket || t.op == Op::LBrace) {
      if (balance_.size() >= 1024) return error("too deeply nested brackets", line_);
      balance_.push_back(t.op == Op::LParen ? ')' : t.op == Op::LBracket ? ']' : '}');
    } else if (t.op == Op::RParen || t.op == Op::RBracket || t.op == Op::RBrace) {
      if (balance_.empty()) return error("unexpected '" + std::string(text) + "'", line_);
      if (balance_.back() != text[0]) {
        return error("unexpected '" + std::string(text) + "', expected '" +
                         std::string(1, balance_.back()) + "'",
                     line_);
      }
      balance_.pop_back();
    }
    pos_ += len;  // operators hold no line break
    return t;
  }
  return error("unexpected character '" + std::string(1, c) + "'", line_);
}

}  // namespace korvel::engine::detail
