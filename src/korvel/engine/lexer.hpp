// Internal to the engine: detail::Lexer, the single-pass tokenizer. It walks the source once,
// yielding template text (with whitespace control, trim-blocks and left-strip-blocks applied, raw
// blocks passed through, comments dropped) and the tokens inside variable and block tags. The
// parser pulls tokens one at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "korvel/engine/environment.hpp"
#include "korvel/engine/error.hpp"

namespace korvel::engine::detail {

enum class Tok : std::uint8_t {
  Eof,
  Data,
  VariableBegin,
  VariableEnd,
  BlockBegin,
  BlockEnd,
  Name,
  String,
  Integer,
  Float,
  Op,
};

enum class Op : std::uint8_t {
  None,
  Add,
  Sub,
  Div,
  FloorDiv,
  Mul,
  Pow,
  Mod,
  Tilde,
  LBracket,
  RBracket,
  LParen,
  RParen,
  LBrace,
  RBrace,
  Eq,
  Ne,
  Gt,
  Ge,
  Lt,
  Le,
  Assign,
  Dot,
  Colon,
  Pipe,
  Comma,
  Semicolon,
};

struct Token {
  Tok type = Tok::Eof;
  Op op = Op::None;
  std::uint32_t line = 1;
  // Data: the text; Name: the identifier; String: the text between the quotes (escapes not yet
  // decoded); Integer/Float: the literal as written.
  std::string_view text;
};

struct LexerOptions {
  const SyntaxConfig* syntax;
  bool trim_blocks = false;
  bool lstrip_blocks = false;
};

class Lexer {
 public:
  // `source` must outlive the lexer and every token it yields.
  Lexer(std::string_view source, const LexerOptions& options);

  // The next token, or a SyntaxError (its line set; the name is added by the caller).
  Result<Token> next();

 private:
  enum class Mode : std::uint8_t { Root, Variable, Block };

  Result<Token> lex_root();
  Result<Token> lex_tag();
  Result<Token> lex_raw(std::size_t after_begin, char sign);
  bool match_raw_begin(std::size_t at, std::size_t* content_start);
  std::size_t find_tag_start(std::size_t from, int* which) const;
  std::size_t strip_before(std::size_t data_start, std::size_t tag_at, char sign,
                           bool lstrip_applies) const;
  std::size_t skip_ws(std::size_t at) const;
  std::size_t after_end_marker(std::size_t at, std::size_t marker_len, char sign, bool trim);
  void advance_to(std::size_t to);
  std::unexpected<Error> error(std::string detail, std::uint32_t line) const;

  std::string_view src_;
  LexerOptions opt_;
  std::string_view starts_[3];  // variable, block, comment
  std::string_view var_end_, block_end_, comment_end_;
  std::string first_chars_;  // distinct first bytes of the three start markers
  std::size_t pos_ = 0;
  std::uint32_t line_ = 1;
  Mode mode_ = Mode::Root;
  bool line_starting_ = true;
  std::vector<char> balance_;
  // A begin token found after a piece of text is handed out on the next call.
  bool has_pending_ = false;
  Token pending_;
};

}  // namespace korvel::engine::detail
