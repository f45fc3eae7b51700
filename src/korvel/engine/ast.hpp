// Internal to the engine: the compiled template's nodes. Expressions and statements are small
// structs in the program's arena, each carrying its line; the evaluator switches on their kind.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "korvel/engine/function.hpp"
#include "korvel/engine/value.hpp"
#include "korvel/engine/value_ops.hpp"

namespace korvel::engine::detail {

// Names are interned by the parser: equal names share one pointer, so scopes compare pointers.
// These are the names the engine itself binds; the parser maps source names onto them.
inline constexpr std::string_view kLoopName = "loop";
inline constexpr std::string_view kCallerName = "caller";
inline constexpr std::string_view kVarargsName = "varargs";
inline constexpr std::string_view kKwargsName = "kwargs";

inline bool same_name(std::string_view a, std::string_view b) noexcept {
  return a.data() == b.data() && a.size() == b.size();
}

enum class ExprKind : std::uint8_t {
  Const,
  Name,
  GetAttr,
  GetItem,
  Slice,
  Call,
  Filter,
  Test,
  Not,
  Neg,
  Pos,
  Binary,
  And,
  Or,
  Concat,
  Compare,
  Cond,
  List,
  Dict,
};

struct Expr {
  ExprKind kind;
  std::uint16_t height;  // longest path to a leaf, bounded by the parser
  std::uint32_t line;
};

enum class ConstKind : std::uint8_t { None, Bool, Int, Float, String };

struct ConstExpr : Expr {
  ConstKind ck;
  bool b;
  double f;
  Int128 i;
  std::string_view s;  // borrowed from the source or the arena
};

struct NameExpr : Expr {
  std::string_view name;  // interned: equal names share one pointer
};

struct GetAttrExpr : Expr {
  const Expr* object;
  std::string_view name;
};

struct GetItemExpr : Expr {
  const Expr* object;
  const Expr* key;  // may be a SliceExpr
};

struct SliceExpr : Expr {
  const Expr* start;  // each may be null
  const Expr* stop;
  const Expr* step;
};

struct Arg {
  std::string_view name;  // empty for a positional argument
  const Expr* value;
};

struct CallArgs {
  std::span<const Arg> args;         // positional first, then keywords
  const Expr* dyn_args = nullptr;    // *expr
  const Expr* dyn_kwargs = nullptr;  // **expr
};

struct CallExpr : Expr {
  const Expr* callee;
  CallArgs call;
};

struct FilterExpr : Expr {
  const Expr* input;  // null for the hole of a filter block or block set
  std::string_view name;
  const FilterFn* fn;  // resolved at compile time; null when unknown
  CallArgs call;
};

struct TestExpr : Expr {
  const Expr* input;
  std::string_view name;
  const TestFn* fn;
  CallArgs call;
};

struct UnaryExpr : Expr {
  const Expr* operand;
};

struct BinaryExpr : Expr {
  BinaryOp op;
  const Expr* left;
  const Expr* right;
};

struct LogicExpr : Expr {  // And, Or
  const Expr* left;
  const Expr* right;
};

struct ConcatExpr : Expr {
  std::span<const Expr* const> parts;
};

enum class CmpOp : std::uint8_t { Eq, Ne, Lt, Le, Gt, Ge, In, NotIn };

struct Comparison {
  CmpOp op;
  const Expr* rhs;
};

struct CompareExpr : Expr {
  const Expr* first;
  std::span<const Comparison> rest;
};

struct CondExpr : Expr {
  const Expr* test;
  const Expr* then;
  const Expr* otherwise;  // null: undefined
};

struct ListExpr : Expr {
  std::span<const Expr* const> items;
};

struct DictPair {
  const Expr* key;
  const Expr* value;
};

struct DictExpr : Expr {
  std::span<const DictPair> pairs;
};

// ---------------------------------------------------------------- assignment targets

enum class TargetKind : std::uint8_t { Name, Tuple, NamespaceAttr };

struct Target {
  TargetKind kind;
  std::uint32_t line;
  std::string_view name;                 // Name, NamespaceAttr (the namespace variable)
  std::string_view attr;                 // NamespaceAttr
  std::span<const Target* const> items;  // Tuple
};

// ---------------------------------------------------------------- statements

enum class StmtKind : std::uint8_t {
  Data,
  Print,
  If,
  For,
  Set,
  SetBlock,
  With,
  Macro,
  CallBlock,
  FilterBlock,
  Autoescape,
  Block,
  Load,  // include, import, from-import, extends: no loader, so they fail when reached
  Break,
  Continue,
};

struct Stmt {
  StmtKind kind;
  std::uint32_t line;
};

using Body = std::span<const Stmt* const>;

struct DataStmt : Stmt {
  std::string_view text;
};

struct PrintStmt : Stmt {
  const Expr* expr;
};

struct IfBranch {
  const Expr* test;
  Body body;
};

struct IfStmt : Stmt {
  std::span<const IfBranch> branches;
  Body otherwise;
};

struct ForStmt : Stmt {
  const Target* target;
  const Expr* iter;
  const Expr* filter;  // inline `if` condition, may be null
  bool recursive;
  Body body;
  Body otherwise;
};

struct SetStmt : Stmt {
  const Target* target;
  const Expr* value;
};

struct SetBlockStmt : Stmt {
  const Target* target;
  const Expr* filter;  // filter chain applied to the captured text, may be null
  Body body;
};

struct WithBinding {
  const Target* target;
  const Expr* value;
};

struct WithStmt : Stmt {
  std::span<const WithBinding> bindings;
  Body body;
};

struct Param {
  std::string_view name;
  const Expr* default_value;  // may be null
};

struct MacroDef {
  std::string_view name;
  std::span<const Param> params;
  Body body;
  bool uses_caller;
  bool uses_varargs;
  bool uses_kwargs;
  std::uint32_t line;
};

struct MacroStmt : Stmt {
  MacroDef def;
};

struct CallBlockStmt : Stmt {
  const CallExpr* call;
  MacroDef caller;  // the body as the `caller` macro
};

struct FilterBlockStmt : Stmt {
  const Expr* filter;  // chain whose innermost input is the captured body
  Body body;
};

struct AutoescapeStmt : Stmt {
  const Expr* value;
  Body body;
};

struct BlockStmt : Stmt {
  std::string_view name;
  bool scoped;
  Body body;
};

enum class LoadKind : std::uint8_t { Include, Import, FromImport, Extends };

struct LoadStmt : Stmt {
  LoadKind load;
  const Expr* template_name;
  bool ignore_missing;
};

}  // namespace korvel::engine::detail
