// detail::parse — the recursive-descent parser (see parser.hpp). Grammar and precedence follow
// Jinja2: condexpr → or → and → not → compare → math1 (+ -) → concat (~) → math2 (* / // %) →
// pow (**, left-associative) → unary (- +) with postfix lookups, calls, filters and tests.
#include "korvel/engine/parser.hpp"

#include <algorithm>
#include <charconv>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "korvel/engine/lexer.hpp"
#include "korvel/engine/limits.hpp"
#include "korvel/engine/try.hpp"
#include "korvel/text/utf8.hpp"

namespace korvel::engine::detail {

namespace {

using Names = std::initializer_list<std::string_view>;

class Parser {
 public:
  Parser(std::string_view source, const EnvironmentData& env, Arena& arena)
      : env_(env),
        arena_(arena),
        lexer_(source, LexerOptions{&env.syntax, env.trim_blocks, env.lstrip_blocks}) {
    names_.insert({kLoopName, kCallerName, kVarargsName, kKwargsName});
  }

  Result<Body> parse_template() {
    KV_CHECK(advance());
    auto body = KV_TRY(subparse({}));
    if (cur_.type != Tok::Eof) return fail_at("unexpected token", cur_.line);
    return body;
  }

 private:
  // ---------------------------------------------------------------- token stream

  Result<void> advance() {
    if (peeked_) {
      cur_ = *peeked_;
      peeked_.reset();
      return {};
    }
    auto t = lexer_.next();
    if (!t) return std::unexpected(std::move(t.error()));
    cur_ = *t;
    return {};
  }

  Result<Token> look() {
    if (!peeked_) {
      auto t = lexer_.next();
      if (!t) return std::unexpected(std::move(t.error()));
      peeked_ = *t;
    }
    return *peeked_;
  }

  bool is_name(std::string_view n) const { return cur_.type == Tok::Name && cur_.text == n; }
  bool is_op(Op op) const { return cur_.type == Tok::Op && cur_.op == op; }
  bool is_any_name(Names names) const {
    if (cur_.type != Tok::Name) return false;
    for (auto n : names) {
      if (cur_.text == n) return true;
    }
    return false;
  }

  Result<bool> skip_name(std::string_view n) {
    if (!is_name(n)) return false;
    KV_CHECK(advance());
    return true;
  }
  Result<bool> skip_op(Op op) {
    if (!is_op(op)) return false;
    KV_CHECK(advance());
    return true;
  }

  std::string describe(const Token& t) const {
    switch (t.type) {
      case Tok::Eof:
        return "end of template";
      case Tok::Data:
        return "template data";
      case Tok::VariableBegin:
        return "begin of print statement";
      case Tok::VariableEnd:
        return "end of print statement";
      case Tok::BlockBegin:
        return "begin of statement block";
      case Tok::BlockEnd:
        return "end of statement block";
      case Tok::String:
        return "string";
      case Tok::Integer:
      case Tok::Float:
        return "number";
      default:
        return "'" + std::string(t.text) + "'";
    }
  }

  std::unexpected<Error> fail_at(std::string detail, std::uint32_t line,
                                 ErrorKind kind = ErrorKind::SyntaxError) {
    Error e(kind, std::move(detail));
    e.set_line(line);
    return std::unexpected(std::move(e));
  }

  Result<void> expect_op(Op op, const char* what) {
    if (!is_op(op)) {
      return fail_at("expected '" + std::string(what) + "', got " + describe(cur_), cur_.line);
    }
    return advance();
  }
  Result<void> expect_name(std::string_view n) {
    if (!is_name(n)) {
      return fail_at("expected '" + std::string(n) + "', got " + describe(cur_), cur_.line);
    }
    return advance();
  }
  Result<Token> expect_any_name() {
    if (cur_.type != Tok::Name) return fail_at("expected name, got " + describe(cur_), cur_.line);
    Token t = cur_;
    KV_CHECK(advance());
    return t;
  }
  Result<void> expect_block_end() {
    if (cur_.type != Tok::BlockEnd) {
      return fail_at("expected end of statement block, got " + describe(cur_), cur_.line);
    }
    return advance();
  }

  // The one copy of a name that every node refers to.
  std::string_view intern(std::string_view name) { return *names_.insert(name).first; }

  // ---------------------------------------------------------------- nesting bounds

  struct Nest {
    explicit Nest(int& d) : depth(d) { ++depth; }
    ~Nest() { --depth; }
    int& depth;
  };
  Result<void> check_nesting() {
    if (depth_ > kMaxNesting) return fail_at("template nested too deeply", cur_.line);
    return {};
  }

  template <class T>
  Result<T*> make_expr(ExprKind kind, std::uint32_t line, std::initializer_list<const Expr*> kids,
                       T init = {}) {
    int h = 0;
    for (const Expr* k : kids) {
      if (k) h = std::max<int>(h, k->height);
    }
    if (h + 1 > kMaxExprHeight) return fail_at("expression nested too deeply", line);
    init.kind = kind;
    init.line = line;
    init.height = static_cast<std::uint16_t>(h + 1);
    return arena_.make<T>(init);
  }

  template <class T>
  std::span<const T> keep(const std::vector<T>& v) {
    auto s = arena_.copy(v);
    return {s.data(), s.size()};
  }

  static int max_height(std::span<const Expr* const> items) {
    int h = 0;
    for (const Expr* e : items) h = std::max<int>(h, e->height);
    return h;
  }

  // ---------------------------------------------------------------- statements

  // Parses template data, prints and statements until a block tag whose name is in `end`
  // (left as the current token) or the end of the template.
  Result<Body> subparse(Names end) {
    std::vector<const Stmt*> body;
    while (true) {
      switch (cur_.type) {
        case Tok::Eof:
          return keep(body);
        case Tok::Data: {
          auto* s = arena_.make<DataStmt>(DataStmt{{StmtKind::Data, cur_.line}, cur_.text});
          body.push_back(s);
          KV_CHECK(advance());
          break;
        }
        case Tok::VariableBegin: {
          const std::uint32_t line = cur_.line;
          KV_CHECK(advance());
          const Expr* e = KV_TRY(parse_tuple(false, true, {}, false));
          if (cur_.type != Tok::VariableEnd) {
            return fail_at("expected end of print statement, got " + describe(cur_), cur_.line);
          }
          KV_CHECK(advance());
          body.push_back(arena_.make<PrintStmt>(PrintStmt{{StmtKind::Print, line}, e}));
          break;
        }
        case Tok::BlockBegin: {
          KV_CHECK(advance());
          if (end.size() && is_any_name(end)) return keep(body);
          KV_CHECK(parse_statement(body));
          KV_CHECK(expect_block_end());
          break;
        }
        default:
          return fail_at("unexpected " + describe(cur_), cur_.line);
      }
    }
  }

  // After a statement header: the block end, then the body up to one of `end`.
  Result<Body> parse_statements(Names end, bool drop_needle, std::string_view opener,
                                std::uint32_t open_line) {
    Nest nest(depth_);
    KV_CHECK(check_nesting());
    KV_CHECK(skip_op(Op::Colon));
    KV_CHECK(expect_block_end());
    Body body = KV_TRY(subparse(end));
    if (cur_.type == Tok::Eof) {
      std::string expected;
      for (auto n : end) {
        if (!expected.empty()) expected += " or ";
        expected += "'" + std::string(n) + "'";
      }
      return fail_at("unexpected end of template: '" + std::string(opener) + "' opened on line " +
                         std::to_string(open_line) + " needs " + expected,
                     cur_.line);
    }
    if (drop_needle) KV_CHECK(advance());
    return body;
  }

  Result<void> parse_statement(std::vector<const Stmt*>& out) {
    if (cur_.type != Tok::Name) return fail_at("tag name expected", cur_.line);
    const std::string_view tag = cur_.text;
    const std::uint32_t line = cur_.line;
    if (tag == "for") return push(out, parse_for());
    if (tag == "if") return push(out, parse_if());
    if (tag == "set") return push(out, parse_set());
    if (tag == "macro") return push(out, parse_macro());
    if (tag == "call") return push(out, parse_call_block());
    if (tag == "filter") return push(out, parse_filter_block());
    if (tag == "with") return push(out, parse_with());
    if (tag == "block") return push(out, parse_block());
    if (tag == "autoescape") return push(out, parse_autoescape());
    if (tag == "include" || tag == "import" || tag == "from" || tag == "extends") {
      return push(out, parse_load());
    }
    if (tag == "print") {
      KV_CHECK(advance());
      bool first = true;
      while (cur_.type != Tok::BlockEnd) {
        if (!first) KV_CHECK(expect_op(Op::Comma, ","));
        first = false;
        const Expr* e = KV_TRY(parse_expression(true));
        out.push_back(arena_.make<PrintStmt>(PrintStmt{{StmtKind::Print, line}, e}));
      }
      return {};
    }
    if (tag == "break" || tag == "continue") {
      if (loop_depth_ == 0) {
        return fail_at("'" + std::string(tag) + "' outside of a loop", line);
      }
      KV_CHECK(advance());
      out.push_back(
          arena_.make<Stmt>(Stmt{tag == "break" ? StmtKind::Break : StmtKind::Continue, line}));
      return {};
    }
    static constexpr std::string_view kEndTags[] = {
        "endfor",  "else",      "elif",    "endif",    "endset", "endmacro",
        "endcall", "endfilter", "endwith", "endblock", "endraw", "endautoescape"};
    for (auto e : kEndTags) {
      if (tag == e) return fail_at("unexpected '" + std::string(tag) + "'", line);
    }
    return fail_at("unknown tag '" + std::string(tag) + "'", line);
  }

  template <class T>
  Result<void> push(std::vector<const Stmt*>& out, Result<T> r) {
    if (!r) return std::unexpected(std::move(r.error()));
    out.push_back(*r);
    return {};
  }

  Result<const Stmt*> parse_for() {
    const std::uint32_t line = cur_.line;
    KV_CHECK(advance());
    const Target* target = KV_TRY(parse_assign_target(true, false, {"in"}, false));
    KV_CHECK(expect_name("in"));
    const Expr* iter = KV_TRY(parse_tuple(false, false, {"recursive"}, false));
    const Expr* filter = nullptr;
    if (KV_TRY(skip_name("if"))) filter = KV_TRY(parse_expression(true));
    const bool recursive = KV_TRY(skip_name("recursive"));
    const bool soft = soft_;
    soft_ = false;
    ++loop_depth_;
    Body body = KV_TRY(parse_statements({"endfor", "else"}, false, "for", line));
    --loop_depth_;
    Body otherwise;
    const bool has_else = is_name("else");
    KV_CHECK(advance());
    if (has_else) otherwise = KV_TRY(parse_statements({"endfor"}, true, "for", line));
    soft_ = soft;
    return arena_.make<ForStmt>(
        ForStmt{{StmtKind::For, line}, target, iter, filter, recursive, body, otherwise});
  }

  Result<const Stmt*> parse_if() {
    const std::uint32_t line = cur_.line;
    KV_CHECK(advance());
    const bool soft = soft_;
    soft_ = true;
    std::vector<IfBranch> branches;
    Body otherwise;
    while (true) {
      const Expr* test = KV_TRY(parse_tuple(false, false, {}, false));
      Body body = KV_TRY(parse_statements({"elif", "else", "endif"}, false, "if", line));
      branches.push_back({test, body});
      const std::string_view which = cur_.text;
      KV_CHECK(advance());
      if (which == "elif") continue;
      if (which == "else") otherwise = KV_TRY(parse_statements({"endif"}, true, "if", line));
      break;
    }
    soft_ = soft;
    return arena_.make<IfStmt>(IfStmt{{StmtKind::If, line}, keep(branches), otherwise});
  }

  Result<const Stmt*> parse_set() {
    const std::uint32_t line = cur_.line;
    KV_CHECK(advance());
    const Target* target = KV_TRY(parse_assign_target(true, false, {}, true));
    if (KV_TRY(skip_op(Op::Assign))) {
      const Expr* value = KV_TRY(parse_tuple(false, true, {}, false));
      return arena_.make<SetStmt>(SetStmt{{StmtKind::Set, line}, target, value});
    }
    const Expr* filter = KV_TRY(parse_filter(nullptr, false));
    const bool soft = soft_;
    soft_ = false;
    Body body = KV_TRY(parse_statements({"endset"}, true, "set", line));
    soft_ = soft;
    return arena_.make<SetBlockStmt>(
        SetBlockStmt{{StmtKind::SetBlock, line}, target, filter, body});
  }

  Result<std::vector<Param>> parse_signature() {
    KV_CHECK(expect_op(Op::LParen, "("));
    std::vector<Param> params;
    bool defaults = false;
    while (!is_op(Op::RParen)) {
      if (!params.empty()) KV_CHECK(expect_op(Op::Comma, ","));
      if (is_op(Op::RParen)) break;
      Token name = KV_TRY(expect_any_name());
      const Expr* def = nullptr;
      if (KV_TRY(skip_op(Op::Assign))) {
        def = KV_TRY(parse_expression(true));
        defaults = true;
      } else if (defaults) {
        return fail_at("non-default argument follows default argument", name.line);
      }
      params.push_back({intern(name.text), def});
    }
    KV_CHECK(advance());
    return params;
  }

  // Parses a macro-like body, noting which of caller/varargs/kwargs it refers to.
  Result<MacroDef> parse_macro_body(std::string_view name, std::vector<Param> params,
                                    std::string_view opener, std::string_view end_tag,
                                    std::uint32_t line) {
    const bool soft = soft_;
    const int loops = loop_depth_;
    soft_ = false;
    loop_depth_ = 0;
    macro_uses_.push_back(0);
    auto body = parse_statements({end_tag}, true, opener, line);
    const int uses = macro_uses_.back();
    macro_uses_.pop_back();
    for (int& u : macro_uses_) u |= uses;  // a nested macro's references count for its parents
    soft_ = soft;
    loop_depth_ = loops;
    if (!body) return std::unexpected(std::move(body.error()));
    auto has_param = [&](std::string_view n) {
      return std::any_of(params.begin(), params.end(), [&](const Param& p) { return p.name == n; });
    };
    MacroDef def{name,
                 keep(params),
                 *body,
                 (uses & kUsesCaller) && !has_param("caller"),
                 (uses & kUsesVarargs) && !has_param("varargs"),
                 (uses & kUsesKwargs) && !has_param("kwargs"),
                 line};
    return def;
  }

  Result<const Stmt*> parse_macro() {
    const std::uint32_t line = cur_.line;
    KV_CHECK(advance());
    Token name = KV_TRY(expect_any_name());
    auto params = KV_TRY(parse_signature());
    MacroDef def =
        KV_TRY(parse_macro_body(intern(name.text), std::move(params), "macro", "endmacro", line));
    return arena_.make<MacroStmt>(MacroStmt{{StmtKind::Macro, line}, def});
  }

  Result<const Stmt*> parse_call_block() {
    const std::uint32_t line = cur_.line;
    KV_CHECK(advance());
    std::vector<Param> params;
    if (is_op(Op::LParen)) params = KV_TRY(parse_signature());
    const Expr* call = KV_TRY(parse_expression(true));
    if (call->kind != ExprKind::Call) return fail_at("expected call", line);
    MacroDef def =
        KV_TRY(parse_macro_body(kCallerName, std::move(params), "call", "endcall", line));
    return arena_.make<CallBlockStmt>(
        CallBlockStmt{{StmtKind::CallBlock, line}, static_cast<const CallExpr*>(call), def});
  }

  Result<const Stmt*> parse_filter_block() {
    const std::uint32_t line = cur_.line;
    KV_CHECK(advance());
    const Expr* filter = KV_TRY(parse_filter(nullptr, true));
    const bool soft = soft_;
    soft_ = false;
    Body body = KV_TRY(parse_statements({"endfilter"}, true, "filter", line));
    soft_ = soft;
    return arena_.make<FilterBlockStmt>(
        FilterBlockStmt{{StmtKind::FilterBlock, line}, filter, body});
  }

  Result<const Stmt*> parse_with() {
    const std::uint32_t line = cur_.line;
    KV_CHECK(advance());
    std::vector<WithBinding> bindings;
    while (cur_.type != Tok::BlockEnd) {
      if (!bindings.empty()) KV_CHECK(expect_op(Op::Comma, ","));
      const Target* t = KV_TRY(parse_assign_target(false, false, {}, false));
      KV_CHECK(expect_op(Op::Assign, "="));
      const Expr* v = KV_TRY(parse_expression(true));
      bindings.push_back({t, v});
    }
    const bool soft = soft_;
    soft_ = false;
    Body body = KV_TRY(parse_statements({"endwith"}, true, "with", line));
    soft_ = soft;
    return arena_.make<WithStmt>(WithStmt{{StmtKind::With, line}, keep(bindings), body});
  }

  Result<const Stmt*> parse_autoescape() {
    const std::uint32_t line = cur_.line;
    KV_CHECK(advance());
    const Expr* value = KV_TRY(parse_expression(true));
    Body body = KV_TRY(parse_statements({"endautoescape"}, true, "autoescape", line));
    return arena_.make<AutoescapeStmt>(AutoescapeStmt{{StmtKind::Autoescape, line}, value, body});
  }

  Result<const Stmt*> parse_block() {
    const std::uint32_t line = cur_.line;
    KV_CHECK(advance());
    Token name = KV_TRY(expect_any_name());
    const bool scoped = KV_TRY(skip_name("scoped"));
    const bool required = KV_TRY(skip_name("required"));
    if (is_op(Op::Sub)) {
      return fail_at("block names may not contain hyphens, use an underscore instead", cur_.line);
    }
    if (std::find(block_names_.begin(), block_names_.end(), name.text) != block_names_.end()) {
      return fail_at("block '" + std::string(name.text) + "' defined twice", line);
    }
    block_names_.push_back(name.text);
    const bool soft = soft_;
    const int loops = loop_depth_;
    soft_ = false;
    loop_depth_ = 0;
    Body body = KV_TRY(parse_statements({"endblock"}, true, "block", line));
    soft_ = soft;
    loop_depth_ = loops;
    if (required) {
      for (const Stmt* s : body) {
        const bool blank = s->kind == StmtKind::Data &&
                           static_cast<const DataStmt*>(s)->text.find_first_not_of(" \t\r\n\f\v") ==
                               std::string_view::npos;
        if (!blank) return fail_at("required blocks can only contain comments or whitespace", line);
      }
    }
    if (is_name(name.text)) KV_CHECK(advance());
    return arena_.make<BlockStmt>(BlockStmt{{StmtKind::Block, line}, name.text, scoped, body});
  }

  Result<void> skip_context_clause() {
    if (is_any_name({"with", "without"})) {
      Token next = KV_TRY(look());
      if (next.type == Tok::Name && next.text == "context") {
        KV_CHECK(advance());
        KV_CHECK(advance());
      }
    }
    return {};
  }

  Result<const Stmt*> parse_load() {
    const std::uint32_t line = cur_.line;
    const std::string_view tag = cur_.text;
    KV_CHECK(advance());
    const Expr* name = KV_TRY(parse_expression(true));
    LoadKind kind = LoadKind::Include;
    bool ignore_missing = false;
    if (tag == "extends") {
      kind = LoadKind::Extends;
    } else if (tag == "include") {
      if (is_name("ignore")) {
        Token next = KV_TRY(look());
        if (next.type == Tok::Name && next.text == "missing") {
          KV_CHECK(advance());
          KV_CHECK(advance());
          ignore_missing = true;
        }
      }
      KV_CHECK(skip_context_clause());
    } else if (tag == "import") {
      kind = LoadKind::Import;
      KV_CHECK(expect_name("as"));
      KV_CHECK(expect_any_name());
      KV_CHECK(skip_context_clause());
    } else {
      kind = LoadKind::FromImport;
      KV_CHECK(expect_name("import"));
      bool first = true;
      while (cur_.type != Tok::BlockEnd) {
        if (!first) KV_CHECK(expect_op(Op::Comma, ","));
        first = false;
        if (is_any_name({"with", "without"})) {
          KV_CHECK(skip_context_clause());
          break;
        }
        Token n = KV_TRY(expect_any_name());
        if (n.text.starts_with("_")) {
          return fail_at("names starting with an underline can not be imported", n.line);
        }
        if (KV_TRY(skip_name("as"))) KV_CHECK(expect_any_name());
      }
    }
    return arena_.make<LoadStmt>(LoadStmt{{StmtKind::Load, line}, kind, name, ignore_missing});
  }

  // ---------------------------------------------------------------- assignment targets

  Result<const Target*> parse_assign_target(bool with_tuple, bool name_only, Names extra_end,
                                            bool with_namespace) {
    if (name_only) {
      Token n = KV_TRY(expect_any_name());
      return arena_.make<Target>(Target{TargetKind::Name, n.line, intern(n.text), {}, {}});
    }
    if (!with_tuple) return parse_target_item(with_namespace);
    const std::uint32_t line = cur_.line;
    std::vector<const Target*> items;
    bool is_tuple = false;
    while (true) {
      if (!items.empty()) KV_CHECK(expect_op(Op::Comma, ","));
      if (is_tuple_end(extra_end)) break;
      items.push_back(KV_TRY(parse_target_item(with_namespace)));
      if (is_op(Op::Comma)) {
        is_tuple = true;
      } else {
        break;
      }
    }
    if (!is_tuple) {
      if (items.empty()) return fail_at("expected an assignment target", line);
      return items[0];
    }
    return arena_.make<Target>(Target{TargetKind::Tuple, line, {}, {}, keep(items)});
  }

  Result<const Target*> parse_target_item(bool with_namespace) {
    const std::uint32_t line = cur_.line;
    if (is_op(Op::LParen)) {
      Nest nest(depth_);
      KV_CHECK(check_nesting());
      KV_CHECK(advance());
      std::vector<const Target*> items;
      bool is_tuple = false;
      while (!is_op(Op::RParen)) {
        if (!items.empty()) KV_CHECK(expect_op(Op::Comma, ","));
        if (is_op(Op::RParen)) break;
        items.push_back(KV_TRY(parse_target_item(with_namespace)));
        if (is_op(Op::Comma)) is_tuple = true;
      }
      KV_CHECK(advance());
      if (!is_tuple && items.size() == 1) return items[0];
      return arena_.make<Target>(Target{TargetKind::Tuple, line, {}, {}, keep(items)});
    }
    if (cur_.type != Tok::Name) return fail_at("can't assign to " + describe(cur_), line);
    const Token n = cur_;
    if (is_any_name({"true", "false", "True", "False", "none", "None"})) {
      return fail_at("can't assign to 'const'", line);
    }
    KV_CHECK(advance());
    if (with_namespace && is_op(Op::Dot)) {
      KV_CHECK(advance());
      Token attr = KV_TRY(expect_any_name());
      return arena_.make<Target>(
          Target{TargetKind::NamespaceAttr, line, intern(n.text), attr.text, {}});
    }
    return arena_.make<Target>(Target{TargetKind::Name, line, intern(n.text), {}, {}});
  }

  bool is_tuple_end(Names extra_end) const {
    if (cur_.type == Tok::VariableEnd || cur_.type == Tok::BlockEnd || is_op(Op::RParen)) {
      return true;
    }
    return extra_end.size() && is_any_name(extra_end);
  }

  // ---------------------------------------------------------------- expressions

  Result<const Expr*> parse_tuple(bool /*simplified*/, bool with_condexpr, Names extra_end,
                                  bool explicit_parens) {
    const std::uint32_t line = cur_.line;
    // The common case, one expression and no comma, builds no list.
    if (!is_tuple_end(extra_end)) {
      const Expr* first = KV_TRY(parse_expression(with_condexpr));
      if (!is_op(Op::Comma)) return first;
      return parse_tuple_rest(first, with_condexpr, extra_end, line);
    }
    if (!explicit_parens) {
      return fail_at("expected an expression, got " + describe(cur_), cur_.line);
    }
    return make_list(line, {});
  }

  Result<const Expr*> parse_tuple_rest(const Expr* first, bool with_condexpr, Names extra_end,
                                       std::uint32_t line) {
    // A trailing comma is allowed: `1,` is a one-item tuple.
    std::vector<const Expr*> items{first};
    while (is_op(Op::Comma)) {
      KV_CHECK(advance());
      if (is_tuple_end(extra_end)) break;
      items.push_back(KV_TRY(parse_expression(with_condexpr)));
    }
    return make_list(line, items);
  }

  Result<const Expr*> make_list(std::uint32_t line, const std::vector<const Expr*>& items) {
    auto kept = keep(items);
    if (max_height(kept) + 1 > kMaxExprHeight) return fail_at("expression nested too deeply", line);
    ListExpr l{};
    l.items = kept;
    auto* node = KV_TRY(make_expr<ListExpr>(ExprKind::List, line, {}, l));
    node->height = static_cast<std::uint16_t>(max_height(kept) + 1);
    return node;
  }

  Result<const Expr*> parse_expression(bool with_condexpr) {
    Nest nest(depth_);
    KV_CHECK(check_nesting());
    return with_condexpr ? parse_condexpr() : parse_or();
  }

  Result<const Expr*> parse_condexpr() {
    std::uint32_t line = cur_.line;
    const Expr* expr1 = KV_TRY(parse_or());
    while (is_name("if")) {
      KV_CHECK(advance());
      const bool soft = soft_;
      soft_ = true;
      const Expr* expr2 = KV_TRY(parse_or());
      const Expr* expr3 = nullptr;
      if (KV_TRY(skip_name("else"))) expr3 = KV_TRY(parse_condexpr());
      soft_ = soft;
      CondExpr c{};
      c.test = expr2;
      c.then = expr1;
      c.otherwise = expr3;
      expr1 = KV_TRY(make_expr<CondExpr>(ExprKind::Cond, line, {expr1, expr2, expr3}, c));
      line = cur_.line;
    }
    return expr1;
  }

  Result<const Expr*> parse_or() {
    std::uint32_t line = cur_.line;
    const Expr* left = KV_TRY(parse_and());
    while (is_name("or")) {
      KV_CHECK(advance());
      const Expr* right = KV_TRY(parse_and());
      LogicExpr l{};
      l.left = left;
      l.right = right;
      left = KV_TRY(make_expr<LogicExpr>(ExprKind::Or, line, {left, right}, l));
      line = cur_.line;
    }
    return left;
  }

  Result<const Expr*> parse_and() {
    std::uint32_t line = cur_.line;
    const Expr* left = KV_TRY(parse_not());
    while (is_name("and")) {
      KV_CHECK(advance());
      const Expr* right = KV_TRY(parse_not());
      LogicExpr l{};
      l.left = left;
      l.right = right;
      left = KV_TRY(make_expr<LogicExpr>(ExprKind::And, line, {left, right}, l));
      line = cur_.line;
    }
    return left;
  }

  Result<const Expr*> parse_not() {
    if (is_name("not")) {
      const std::uint32_t line = cur_.line;
      KV_CHECK(advance());
      Nest nest(depth_);
      KV_CHECK(check_nesting());
      const Expr* operand = KV_TRY(parse_not());
      UnaryExpr u{};
      u.operand = operand;
      return make_expr<UnaryExpr>(ExprKind::Not, line, {operand}, u);
    }
    return parse_compare();
  }

  Result<const Expr*> parse_compare() {
    const std::uint32_t line = cur_.line;
    const Expr* expr = KV_TRY(parse_math1());
    std::vector<Comparison> ops;
    int h = expr->height;
    while (true) {
      std::optional<CmpOp> op;
      if (cur_.type == Tok::Op) {
        switch (cur_.op) {
          case Op::Eq:
            op = CmpOp::Eq;
            break;
          case Op::Ne:
            op = CmpOp::Ne;
            break;
          case Op::Lt:
            op = CmpOp::Lt;
            break;
          case Op::Le:
            op = CmpOp::Le;
            break;
          case Op::Gt:
            op = CmpOp::Gt;
            break;
          case Op::Ge:
            op = CmpOp::Ge;
            break;
          default:
            break;
        }
        if (op) KV_CHECK(advance());
      } else if (is_name("in")) {
        op = CmpOp::In;
        KV_CHECK(advance());
      } else if (is_name("not")) {
        Token next = KV_TRY(look());
        if (next.type == Tok::Name && next.text == "in") {
          op = CmpOp::NotIn;
          KV_CHECK(advance());
          KV_CHECK(advance());
        }
      }
      if (!op) break;
      const Expr* rhs = KV_TRY(parse_math1());
      h = std::max<int>(h, rhs->height);
      ops.push_back({*op, rhs});
    }
    if (ops.empty()) return expr;
    CompareExpr c{};
    c.first = expr;
    c.rest = keep(ops);
    if (h + 1 > kMaxExprHeight) return fail_at("expression nested too deeply", line);
    auto* node = KV_TRY(make_expr<CompareExpr>(ExprKind::Compare, line, {expr}, c));
    node->height = static_cast<std::uint16_t>(h + 1);
    return node;
  }

  Result<const Expr*> binary(BinaryOp op, std::uint32_t line, const Expr* l, const Expr* r) {
    BinaryExpr b{};
    b.op = op;
    b.left = l;
    b.right = r;
    return make_expr<BinaryExpr>(ExprKind::Binary, line, {l, r}, b);
  }

  Result<const Expr*> parse_math1() {
    std::uint32_t line = cur_.line;
    const Expr* left = KV_TRY(parse_concat());
    while (is_op(Op::Add) || is_op(Op::Sub)) {
      const BinaryOp op = cur_.op == Op::Add ? BinaryOp::Add : BinaryOp::Sub;
      KV_CHECK(advance());
      const Expr* right = KV_TRY(parse_concat());
      left = KV_TRY(binary(op, line, left, right));
      line = cur_.line;
    }
    return left;
  }

  Result<const Expr*> parse_concat() {
    const std::uint32_t line = cur_.line;
    const Expr* first = KV_TRY(parse_math2());
    if (!is_op(Op::Tilde)) return first;
    std::vector<const Expr*> parts{first};
    while (is_op(Op::Tilde)) {
      KV_CHECK(advance());
      parts.push_back(KV_TRY(parse_math2()));
    }
    ConcatExpr c{};
    c.parts = keep(parts);
    if (max_height(c.parts) + 1 > kMaxExprHeight) {
      return fail_at("expression nested too deeply", line);
    }
    auto* node = KV_TRY(make_expr<ConcatExpr>(ExprKind::Concat, line, {}, c));
    node->height = static_cast<std::uint16_t>(max_height(c.parts) + 1);
    return node;
  }

  Result<const Expr*> parse_math2() {
    std::uint32_t line = cur_.line;
    const Expr* left = KV_TRY(parse_pow());
    while (is_op(Op::Mul) || is_op(Op::Div) || is_op(Op::FloorDiv) || is_op(Op::Mod)) {
      const BinaryOp op = cur_.op == Op::Mul        ? BinaryOp::Mul
                          : cur_.op == Op::Div      ? BinaryOp::Div
                          : cur_.op == Op::FloorDiv ? BinaryOp::FloorDiv
                                                    : BinaryOp::Mod;
      KV_CHECK(advance());
      const Expr* right = KV_TRY(parse_pow());
      left = KV_TRY(binary(op, line, left, right));
      line = cur_.line;
    }
    return left;
  }

  Result<const Expr*> parse_pow() {
    std::uint32_t line = cur_.line;
    const Expr* left = KV_TRY(parse_unary(true));
    while (is_op(Op::Pow)) {
      KV_CHECK(advance());
      const Expr* right = KV_TRY(parse_unary(true));
      left = KV_TRY(binary(BinaryOp::Pow, line, left, right));
      line = cur_.line;
    }
    return left;
  }

  Result<const Expr*> parse_unary(bool with_filter) {
    const std::uint32_t line = cur_.line;
    const Expr* node;
    if (is_op(Op::Sub) || is_op(Op::Add)) {
      const ExprKind kind = is_op(Op::Sub) ? ExprKind::Neg : ExprKind::Pos;
      KV_CHECK(advance());
      Nest nest(depth_);
      KV_CHECK(check_nesting());
      const Expr* operand = KV_TRY(parse_unary(false));
      UnaryExpr u{};
      u.operand = operand;
      node = KV_TRY(make_expr<UnaryExpr>(kind, line, {operand}, u));
    } else {
      node = KV_TRY(parse_primary());
    }
    node = KV_TRY(parse_postfix(node));
    if (with_filter) node = KV_TRY(parse_filter_expr(node));
    return node;
  }

  Result<const Expr*> make_const(std::uint32_t line, ConstExpr c) {
    return make_expr<ConstExpr>(ExprKind::Const, line, {}, c);
  }

  Result<const Expr*> parse_primary() {
    const Token t = cur_;
    switch (t.type) {
      case Tok::Name: {
        KV_CHECK(advance());
        ConstExpr c{};
        if (t.text == "true" || t.text == "True" || t.text == "false" || t.text == "False") {
          c.ck = ConstKind::Bool;
          c.b = t.text[0] == 't' || t.text[0] == 'T';
          return make_const(t.line, c);
        }
        if (t.text == "none" || t.text == "None") {
          c.ck = ConstKind::None;
          return make_const(t.line, c);
        }
        if (!macro_uses_.empty()) {
          if (t.text == "caller") macro_uses_.back() |= kUsesCaller;
          if (t.text == "varargs") macro_uses_.back() |= kUsesVarargs;
          if (t.text == "kwargs") macro_uses_.back() |= kUsesKwargs;
        }
        NameExpr n{};
        n.name = intern(t.text);
        return make_expr<NameExpr>(ExprKind::Name, t.line, {}, n);
      }
      case Tok::String: {
        std::string buf;
        bool decoded = false;
        std::string_view single;
        int count = 0;
        while (cur_.type == Tok::String) {
          const std::string_view raw = cur_.text;
          const bool escapes = raw.find('\\') != std::string_view::npos;
          if (count == 0 && !escapes) {
            single = raw;
          } else {
            if (!decoded) {
              buf.assign(single);
              decoded = true;
            }
            KV_CHECK(decode_string(raw, buf, cur_.line));
          }
          ++count;
          KV_CHECK(advance());
        }
        ConstExpr c{};
        c.ck = ConstKind::String;
        c.s = decoded ? arena_.copy_str(buf) : single;
        return make_const(t.line, c);
      }
      case Tok::Integer: {
        KV_CHECK(advance());
        ConstExpr c{};
        c.ck = ConstKind::Int;
        c.i = KV_TRY(parse_int(t));
        return make_const(t.line, c);
      }
      case Tok::Float: {
        KV_CHECK(advance());
        ConstExpr c{};
        c.ck = ConstKind::Float;
        c.f = parse_float(t.text);
        return make_const(t.line, c);
      }
      case Tok::Op:
        if (t.op == Op::LParen) {
          KV_CHECK(advance());
          const Expr* e = KV_TRY(parse_tuple(false, true, {}, true));
          KV_CHECK(expect_op(Op::RParen, ")"));
          return e;
        }
        if (t.op == Op::LBracket) return parse_list();
        if (t.op == Op::LBrace) return parse_dict();
        break;
      default:
        break;
    }
    return fail_at("unexpected " + describe(t), t.line);
  }

  Result<const Expr*> parse_list() {
    const std::uint32_t line = cur_.line;
    KV_CHECK(advance());
    std::vector<const Expr*> items;
    while (!is_op(Op::RBracket)) {
      if (!items.empty()) KV_CHECK(expect_op(Op::Comma, ","));
      if (is_op(Op::RBracket)) break;
      items.push_back(KV_TRY(parse_expression(true)));
    }
    KV_CHECK(advance());
    return make_list(line, items);
  }

  Result<const Expr*> parse_dict() {
    const std::uint32_t line = cur_.line;
    KV_CHECK(advance());
    std::vector<DictPair> pairs;
    int h = 0;
    while (!is_op(Op::RBrace)) {
      if (!pairs.empty()) KV_CHECK(expect_op(Op::Comma, ","));
      if (is_op(Op::RBrace)) break;
      const Expr* key = KV_TRY(parse_expression(true));
      KV_CHECK(expect_op(Op::Colon, ":"));
      const Expr* value = KV_TRY(parse_expression(true));
      h = std::max<int>({h, key->height, value->height});
      pairs.push_back({key, value});
    }
    KV_CHECK(advance());
    DictExpr d{};
    d.pairs = keep(pairs);
    if (h + 1 > kMaxExprHeight) return fail_at("expression nested too deeply", line);
    auto* node = KV_TRY(make_expr<DictExpr>(ExprKind::Dict, line, {}, d));
    node->height = static_cast<std::uint16_t>(h + 1);
    return node;
  }

  Result<const Expr*> parse_postfix(const Expr* node) {
    while (true) {
      if (is_op(Op::Dot) || is_op(Op::LBracket)) {
        node = KV_TRY(parse_subscript(node));
      } else if (is_op(Op::LParen)) {
        node = KV_TRY(parse_call(node));
      } else {
        return node;
      }
    }
  }

  Result<const Expr*> parse_filter_expr(const Expr* node) {
    while (true) {
      if (is_op(Op::Pipe)) {
        node = KV_TRY(parse_filter(node, false));
      } else if (is_name("is")) {
        node = KV_TRY(parse_test(node));
      } else if (is_op(Op::LParen)) {
        node = KV_TRY(parse_call(node));
      } else {
        return node;
      }
    }
  }

  Result<const Expr*> parse_subscript(const Expr* node) {
    const Token t = cur_;
    KV_CHECK(advance());
    if (t.op == Op::Dot) {
      const Token attr = cur_;
      KV_CHECK(advance());
      if (attr.type == Tok::Name) {
        GetAttrExpr g{};
        g.object = node;
        g.name = attr.text;
        return make_expr<GetAttrExpr>(ExprKind::GetAttr, t.line, {node}, g);
      }
      if (attr.type != Tok::Integer) return fail_at("expected name or number", attr.line);
      ConstExpr c{};
      c.ck = ConstKind::Int;
      c.i = KV_TRY(parse_int(attr));
      const Expr* key = KV_TRY(make_const(attr.line, c));
      GetItemExpr g{};
      g.object = node;
      g.key = key;
      return make_expr<GetItemExpr>(ExprKind::GetItem, t.line, {node, key}, g);
    }
    // '['
    Nest nest(depth_);
    KV_CHECK(check_nesting());
    std::vector<const Expr*> args;
    while (!is_op(Op::RBracket)) {
      if (!args.empty()) KV_CHECK(expect_op(Op::Comma, ","));
      args.push_back(KV_TRY(parse_subscribed()));
    }
    KV_CHECK(advance());
    if (args.empty()) return fail_at("expected subscript expression", t.line);
    const Expr* key = args[0];
    if (args.size() > 1) key = KV_TRY(make_list(t.line, args));
    GetItemExpr g{};
    g.object = node;
    g.key = key;
    return make_expr<GetItemExpr>(ExprKind::GetItem, t.line, {node, key}, g);
  }

  Result<const Expr*> parse_subscribed() {
    const std::uint32_t line = cur_.line;
    const Expr* parts[3] = {nullptr, nullptr, nullptr};
    if (is_op(Op::Colon)) {
      KV_CHECK(advance());
    } else {
      const Expr* node = KV_TRY(parse_expression(true));
      if (!is_op(Op::Colon)) return node;
      KV_CHECK(advance());
      parts[0] = node;
    }
    if (!is_op(Op::Colon) && !is_op(Op::RBracket) && !is_op(Op::Comma)) {
      parts[1] = KV_TRY(parse_expression(true));
    }
    if (is_op(Op::Colon)) {
      KV_CHECK(advance());
      if (!is_op(Op::RBracket) && !is_op(Op::Comma)) parts[2] = KV_TRY(parse_expression(true));
    }
    SliceExpr s{};
    s.start = parts[0];
    s.stop = parts[1];
    s.step = parts[2];
    return make_expr<SliceExpr>(ExprKind::Slice, line, {parts[0], parts[1], parts[2]}, s);
  }

  Result<CallArgs> parse_call_args(int* height) {
    const std::uint32_t line = cur_.line;
    Nest nest(depth_);
    KV_CHECK(check_nesting());
    KV_CHECK(expect_op(Op::LParen, "("));
    std::vector<Arg> args;
    CallArgs call;
    bool have_kwargs = false;
    bool require_comma = false;
    int h = 0;
    auto invalid = [&] { return fail_at("invalid syntax for function call expression", line); };
    while (!is_op(Op::RParen)) {
      if (require_comma) {
        KV_CHECK(expect_op(Op::Comma, ","));
        if (is_op(Op::RParen)) break;
      }
      if (is_op(Op::Mul)) {
        if (call.dyn_args || call.dyn_kwargs) return invalid();
        KV_CHECK(advance());
        call.dyn_args = KV_TRY(parse_expression(true));
        h = std::max<int>(h, call.dyn_args->height);
      } else if (is_op(Op::Pow)) {
        if (call.dyn_kwargs) return invalid();
        KV_CHECK(advance());
        call.dyn_kwargs = KV_TRY(parse_expression(true));
        h = std::max<int>(h, call.dyn_kwargs->height);
      } else {
        bool keyword = false;
        if (cur_.type == Tok::Name) {
          Token next = KV_TRY(look());
          keyword = next.type == Tok::Op && next.op == Op::Assign;
        }
        if (keyword) {
          if (call.dyn_kwargs) return invalid();
          const std::string_view key = cur_.text;
          KV_CHECK(advance());
          KV_CHECK(advance());
          const Expr* value = KV_TRY(parse_expression(true));
          h = std::max<int>(h, value->height);
          args.push_back({key, value});
          have_kwargs = true;
        } else {
          if (call.dyn_args || call.dyn_kwargs || have_kwargs) return invalid();
          const Expr* value = KV_TRY(parse_expression(true));
          h = std::max<int>(h, value->height);
          args.push_back({{}, value});
        }
      }
      require_comma = true;
    }
    KV_CHECK(advance());
    call.args = keep(args);
    *height = h;
    return call;
  }

  Result<const Expr*> parse_call(const Expr* node) {
    const std::uint32_t line = cur_.line;
    int h = 0;
    CallArgs args = KV_TRY(parse_call_args(&h));
    CallExpr c{};
    c.callee = node;
    c.call = args;
    auto* out = KV_TRY(make_expr<CallExpr>(ExprKind::Call, line, {node}, c));
    if (std::max<int>(h, out->height - 1) + 1 > kMaxExprHeight) {
      return fail_at("expression nested too deeply", line);
    }
    out->height = static_cast<std::uint16_t>(std::max<int>(h, out->height - 1) + 1);
    return out;
  }

  Result<std::string_view> parse_dotted_name() {
    Token first = KV_TRY(expect_any_name());
    std::string_view name = first.text;
    if (!is_op(Op::Dot)) return name;
    std::string joined(name);
    while (is_op(Op::Dot)) {
      KV_CHECK(advance());
      Token part = KV_TRY(expect_any_name());
      joined += '.';
      joined += part.text;
    }
    return arena_.copy_str(joined);
  }

  // `| name(args)` repeatedly; with start_inline the first filter has no leading pipe.
  Result<const Expr*> parse_filter(const Expr* node, bool start_inline) {
    while (is_op(Op::Pipe) || start_inline) {
      if (!start_inline) KV_CHECK(advance());
      start_inline = false;
      const std::uint32_t line = cur_.line;
      const std::string_view name = KV_TRY(parse_dotted_name());
      CallArgs args;
      int h = 0;
      if (is_op(Op::LParen)) args = KV_TRY(parse_call_args(&h));
      const FilterFn* fn = find_filter(env_, name);
      if (!fn && !soft_) {
        return fail_at(std::string(name), line, ErrorKind::UnknownFilter);
      }
      FilterExpr f{};
      f.input = node;
      f.name = name;
      f.fn = fn;
      f.call = args;
      auto* out = KV_TRY(make_expr<FilterExpr>(ExprKind::Filter, line, {node}, f));
      const int height = std::max<int>(h, out->height - 1) + 1;
      if (height > kMaxExprHeight) return fail_at("expression nested too deeply", line);
      out->height = static_cast<std::uint16_t>(height);
      node = out;
    }
    return node;
  }

  Result<const Expr*> parse_test(const Expr* node) {
    const std::uint32_t line = cur_.line;
    KV_CHECK(advance());  // 'is'
    const bool negated = KV_TRY(skip_name("not"));
    const std::string_view name = KV_TRY(parse_dotted_name());
    CallArgs args;
    int h = 0;
    if (is_op(Op::LParen)) {
      args = KV_TRY(parse_call_args(&h));
    } else if ((cur_.type == Tok::Name || cur_.type == Tok::String || cur_.type == Tok::Integer ||
                cur_.type == Tok::Float || is_op(Op::LParen) || is_op(Op::LBracket) ||
                is_op(Op::LBrace)) &&
               !is_any_name({"else", "or", "and"})) {
      if (is_name("is")) return fail_at("you cannot chain multiple tests with is", cur_.line);
      const Expr* arg = KV_TRY(parse_primary());
      arg = KV_TRY(parse_postfix(arg));
      h = arg->height;
      std::vector<Arg> one{{{}, arg}};
      args.args = keep(one);
    }
    const TestFn* fn = find_test(env_, name);
    if (!fn && !soft_) {
      return fail_at(std::string(name), line, ErrorKind::UnknownTest);
    }
    TestExpr t{};
    t.input = node;
    t.name = name;
    t.fn = fn;
    t.call = args;
    auto* out = KV_TRY(make_expr<TestExpr>(ExprKind::Test, line, {node}, t));
    const int height = std::max<int>(h, out->height - 1) + 1;
    if (height + 1 > kMaxExprHeight) return fail_at("expression nested too deeply", line);
    out->height = static_cast<std::uint16_t>(height);
    if (!negated) return out;
    UnaryExpr u{};
    u.operand = out;
    return make_expr<UnaryExpr>(ExprKind::Not, line, {out}, u);
  }

  // ---------------------------------------------------------------- literals

  Result<Int128> parse_int(const Token& t) {
    std::string digits;
    for (char c : t.text) {
      if (c != '_') digits += c;
    }
    int base = 10;
    std::string_view d = digits;
    if (d.size() > 2 && d[0] == '0') {
      const char p = static_cast<char>(d[1] | 0x20);
      if (p == 'x') base = 16;
      if (p == 'o') base = 8;
      if (p == 'b') base = 2;
      if (base != 10) d.remove_prefix(2);
    }
    UInt128 v = 0;
    for (char c : d) {
      const char l = static_cast<char>(c | 0x20);
      const int digit = (c >= '0' && c <= '9') ? c - '0' : l - 'a' + 10;
      if (v > (static_cast<UInt128>(kInt128Max) - static_cast<UInt128>(digit)) /
                  static_cast<UInt128>(base)) {
        return fail_at("integer literal too large", t.line);
      }
      v = v * static_cast<UInt128>(base) + static_cast<UInt128>(digit);
    }
    return static_cast<Int128>(v);
  }

  static double parse_float(std::string_view text) {
    std::string digits;
    for (char c : text) {
      if (c != '_') digits += c;
    }
    double v = 0;
    auto r = std::from_chars(digits.data(), digits.data() + digits.size(), v);
    if (r.ec == std::errc::result_out_of_range) {
      const auto e = digits.find_first_of("eE");
      const bool negative_exp =
          e != std::string::npos && e + 1 < digits.size() && digits[e + 1] == '-';
      return negative_exp ? 0.0 : std::numeric_limits<double>::infinity();
    }
    return v;
  }

  // Python string-literal escapes: \\ \' \" \a \b \f \n \r \t \v, octal, \xhh, \uXXXX,
  // \UXXXXXXXX, backslash-newline; any other backslash is kept as written.
  Result<void> decode_string(std::string_view raw, std::string& out, std::uint32_t line) {
    auto bad = [&](std::string detail) {
      return fail_at(std::move(detail), line, ErrorKind::BadEscape);
    };
    for (std::size_t i = 0; i < raw.size(); ++i) {
      const char c = raw[i];
      if (c == '\n') ++line;
      if (c != '\\' || i + 1 >= raw.size()) {
        out += c;
        continue;
      }
      const char e = raw[++i];
      switch (e) {
        case '\\':
          out += '\\';
          break;
        case '\'':
          out += '\'';
          break;
        case '"':
          out += '"';
          break;
        case 'a':
          out += '\a';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'v':
          out += '\v';
          break;
        case '\n':
          ++line;
          break;
        case 'x':
        case 'u':
        case 'U': {
          const std::size_t want = e == 'x' ? 2 : e == 'u' ? 4 : 8;
          char32_t cp = 0;
          for (std::size_t k = 1; k <= want; ++k) {
            if (i + k >= raw.size()) return bad("truncated \\" + std::string(1, e) + " escape");
            const char h = raw[i + k];
            const char l = static_cast<char>(h | 0x20);
            int v;
            if (h >= '0' && h <= '9') {
              v = h - '0';
            } else if (l >= 'a' && l <= 'f') {
              v = l - 'a' + 10;
            } else {
              return bad("truncated \\" + std::string(1, e) + " escape");
            }
            cp = cp * 16 + static_cast<char32_t>(v);
          }
          i += want;
          if (cp > 0x10FFFF) return bad("illegal Unicode character");
          if (cp >= 0xD800 && cp <= 0xDFFF) return bad("surrogate code point in string");
          text::append_utf8(cp, out);
          break;
        }
        case 'N':
          return bad("named Unicode escapes are not supported");
        default:
          if (e >= '0' && e <= '7') {
            char32_t cp = static_cast<char32_t>(e - '0');
            for (int k = 0; k < 2 && i + 1 < raw.size() && raw[i + 1] >= '0' && raw[i + 1] <= '7';
                 ++k) {
              cp = cp * 8 + static_cast<char32_t>(raw[++i] - '0');
            }
            text::append_utf8(cp, out);
          } else {
            out += '\\';
            out += e;
          }
      }
    }
    return {};
  }

  static constexpr int kUsesCaller = 1, kUsesVarargs = 2, kUsesKwargs = 4;

  const EnvironmentData& env_;
  Arena& arena_;
  Lexer lexer_;
  Token cur_;
  std::optional<Token> peeked_;
  int depth_ = 0;
  int loop_depth_ = 0;
  bool soft_ = false;  // inside an if or a conditional expression: unknown filters fail late
  std::vector<int> macro_uses_;
  std::vector<std::string_view> block_names_;
  std::unordered_set<std::string_view> names_;
};

}  // namespace

Result<Body> parse(std::string_view source, const EnvironmentData& env, Arena& arena) {
  Parser p(source, env, arena);
  return p.parse_template();
}

}  // namespace korvel::engine::detail
