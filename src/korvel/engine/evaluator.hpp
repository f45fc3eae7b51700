// Internal to the engine: detail::Evaluator, the tree-walking renderer of a compiled template, with
// Jinja2's scoping (a frame per loop iteration, macro, with, block and filter block; `if` shares
// its frame), the loop variable, macros with caller, and bounded call depth and stack use.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "korvel/engine/ast.hpp"
#include "korvel/engine/environment.hpp"
#include "korvel/engine/environment_data.hpp"
#include "korvel/engine/limits.hpp"
#include "korvel/engine/state.hpp"
#include "korvel/engine/value.hpp"
#include "korvel/engine/value_heap.hpp"

namespace korvel::engine::detail {

// One scope: a few bindings stored inline, more on the heap.
class Frame {
 public:
  explicit Frame(Frame* parent = nullptr) noexcept : parent_(parent) {}
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;

  Frame* parent() const noexcept { return parent_; }
  void set_parent(Frame* parent) noexcept { parent_ = parent; }
  const Value* find(std::string_view name) const noexcept;
  void set(std::string_view name, Value value);
  void clear() noexcept;
  // Drops every binding after the first `keep`.
  void truncate(std::uint32_t keep) noexcept {
    if (!more_.empty()) more_.clear();
    while (n_inline_ > keep) inline_[--n_inline_].second = Value();
  }
  // Appends a binding known not to be present yet.
  void push(std::string_view name, Value value) {
    if (n_inline_ < kInline) {
      inline_[n_inline_].first = name;
      inline_[n_inline_].second = std::move(value);
      ++n_inline_;
      return;
    }
    more_.emplace_back(name, std::move(value));
  }
  // The value of the first binding (the frame must have one).
  const Value& first_value() const noexcept { return inline_[0].second; }
  // Calls f(name, value) for each binding.
  template <class F>
  void for_each(F&& f) const {
    for (std::uint32_t i = 0; i < n_inline_; ++i) f(inline_[i].first, inline_[i].second);
    for (const auto& [k, v] : more_) f(k, v);
  }

 private:
  static constexpr std::uint32_t kInline = 4;
  Frame* parent_;
  std::uint32_t n_inline_ = 0;
  std::pair<std::string_view, Value> inline_[kInline];
  std::vector<std::pair<std::string_view, Value>> more_;
};

// Arguments of one call: a few inline, more on the heap, always contiguous.
class ArgBuffer {
 public:
  void push_back(Value v) {
    if (heap_.empty() && n_ < kInline) {
      inline_[n_++] = std::move(v);
      return;
    }
    if (heap_.empty()) {
      heap_.reserve(n_ * 2 + 1);
      for (std::size_t i = 0; i < n_; ++i) heap_.push_back(std::move(inline_[i]));
    }
    heap_.push_back(std::move(v));
  }
  std::span<const Value> span() const {
    return heap_.empty() ? std::span<const Value>(inline_, n_) : std::span<const Value>(heap_);
  }

 private:
  static constexpr std::size_t kInline = 4;
  Value inline_[kInline];
  std::size_t n_ = 0;
  std::vector<Value> heap_;
};

enum class Flow : std::uint8_t { Normal, Break, Continue };

class LoopObject;
class MacroObject;

class Evaluator {
 public:
  Evaluator(const Environment& env, std::string_view template_name, EscapeChoice escape,
            const json::Object& context);
  Evaluator(const Evaluator&) = delete;
  Evaluator& operator=(const Evaluator&) = delete;
  ~Evaluator();

  Result<void> render(Body body, std::string& out);

  State& state() noexcept { return state_; }
  Result<Value> call_macro(const MacroObject& macro, std::span<const Value> args,
                           const Kwargs& kwargs);
  Result<Value> call_loop(LoopObject& loop, std::span<const Value> args);

 private:
  // statements
  Result<Flow> exec_body(Body body);
  Result<Flow> exec(const Stmt* s);
  [[gnu::noinline]] Result<Flow> exec_for_stmt(const ForStmt* s);
  [[gnu::noinline]] Result<Flow> exec_other(const Stmt* s);
  Result<Flow> exec_for(const ForStmt* s, Value iterable, int depth0, std::string* capture);
  Result<void> exec_call_block(const CallBlockStmt* s);
  Result<void> write(std::string_view text);
  Result<void> print(const Value& v);
  Result<std::string> capture_body(Body body, Frame* frame);

  // expressions
  Result<Value> eval(const Expr* e);
  Result<Value> eval_inner(const Expr* e);
  [[gnu::noinline]] Result<Value> eval_aggregate(const Expr* e);
  Result<Value> eval_with_hole(const Expr* e, const Value& hole);
  Result<Value> eval_call(const CallExpr* e);
  Result<Value> eval_filter(const FilterExpr* e, const Value* hole);
  Result<Value> eval_test(const TestExpr* e);
  Result<Value> eval_compare(const CompareExpr* e);
  Result<Value> format_string(const Value& format, const Value& args);
  Result<Value> add_markup(const Value& l, const Value& r);
  Result<Value> eval_slice(const Value& base, const SliceExpr* s);
  Result<void> eval_args(const CallArgs& call, ArgBuffer& args, Kwargs& kwargs);
  Value lookup(std::string_view name);

  // assignment
  Result<void> assign(const Target* t, Value v, Frame& frame);
  Value make_macro(const MacroDef& def);
  // Fails once rendering has used kMaxStackBytes of native stack.
  Result<void> check_stack() const {
    const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    const std::uintptr_t used = stack_base_ > here ? stack_base_ - here : here - stack_base_;
    if (used > kMaxStackBytes) [[unlikely]]
      return stack_exhausted();
    return {};
  }
  [[gnu::noinline]] Result<void> stack_exhausted() const;
  std::unexpected<Error> located(Error e, std::uint32_t line) const;

  const Environment& env_;
  const EnvironmentData& data_;
  std::string_view name_;
  State state_;
  const json::Object& context_;
  std::string* out_ = nullptr;
  Frame root_;
  Frame* frame_ = &root_;
  int call_depth_ = 0;
  std::uintptr_t stack_base_;
  bool default_formatter_;
  std::vector<Value> assigned_namespaces_;

  friend class LoopObject;
};

}  // namespace korvel::engine::detail
