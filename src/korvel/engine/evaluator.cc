// detail::Evaluator — renders a compiled template by walking its nodes (see evaluator.hpp).
#include "korvel/engine/evaluator.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <memory>

#include "korvel/engine/limits.hpp"
#include "korvel/engine/object.hpp"
#include "korvel/engine/output.hpp"
#include "korvel/engine/try.hpp"
#include "korvel/engine/value_heap.hpp"
#include "korvel/engine/value_ops.hpp"

namespace korvel::engine::detail {

// ---------------------------------------------------------------- frames

const Value* Frame::find(std::string_view name) const noexcept {
  for (std::uint32_t i = n_inline_; i-- > 0;) {
    if (same_name(inline_[i].first, name)) return &inline_[i].second;
  }
  for (const auto& [k, v] : more_) {
    if (same_name(k, name)) return &v;
  }
  return nullptr;
}

void Frame::set(std::string_view name, Value value) {
  for (std::uint32_t i = 0; i < n_inline_; ++i) {
    if (same_name(inline_[i].first, name)) {
      inline_[i].second = std::move(value);
      return;
    }
  }
  for (auto& [k, v] : more_) {
    if (same_name(k, name)) {
      v = std::move(value);
      return;
    }
  }
  if (n_inline_ < kInline) {
    inline_[n_inline_].first = name;
    inline_[n_inline_].second = std::move(value);
    ++n_inline_;
    return;
  }
  more_.emplace_back(name, std::move(value));
}

void Frame::clear() noexcept {
  for (std::uint32_t i = 0; i < n_inline_; ++i) inline_[i].second = Value();
  n_inline_ = 0;
  more_.clear();
}

namespace {

// Restores a pointer member when a scope ends, on every return path.
template <class T>
class Swap {
 public:
  Swap(T*& slot, T* value) noexcept : slot_(slot), saved_(slot) { slot_ = value; }
  ~Swap() { slot_ = saved_; }
  Swap(const Swap&) = delete;
  Swap& operator=(const Swap&) = delete;

 private:
  T*& slot_;
  T* saved_;
};

std::unexpected<Error> undefined_error() { return fail(ErrorKind::UndefinedError); }

}  // namespace

// ---------------------------------------------------------------- engine objects

class MacroObject final : public Object, public std::enable_shared_from_this<MacroObject> {
 public:
  MacroObject(const MacroDef* def, Frame* root) : def(def), closure(root) {}
  std::string_view type_name() const override { return "macro"; }
  bool is_callable() const override { return true; }
  Result<Value> call(State& state, std::span<const Value> args, const Kwargs& kwargs) override {
    if (!state.evaluator())
      return fail(ErrorKind::InvalidOperation, "macro called outside rendering");
    return state.evaluator()->call_macro(*this, args, kwargs);
  }
  Value get_attr(std::string_view name) const override {
    if (name == "name") return Value::borrowed_string(def->name);
    if (name == "arguments") {
      std::vector<Value> names;
      for (const auto& p : def->params) names.push_back(Value::borrowed_string(p.name));
      return Value::from_seq(std::move(names));
    }
    if (name == "catch_kwargs") return Value::from_bool(def->uses_kwargs);
    if (name == "catch_varargs") return Value::from_bool(def->uses_varargs);
    if (name == "caller") return Value::from_bool(def->uses_caller);
    return Value();
  }
  std::optional<Result<Value>> call_method(State&, std::string_view, std::span<const Value>,
                                           const Kwargs&) override {
    return std::nullopt;
  }
  void write_display(std::string& out) const override {
    out += "<macro ";
    out += def->name;
    out += '>';
  }

  const MacroDef* def;
  // Bindings of the enclosing scopes when the macro was defined below the top level.
  mutable Frame closure;
  bool has_closure = false;
};

class LoopObject final : public Object {
 public:
  LoopObject(std::vector<Value> items, const ForStmt* node, Frame* outer, int depth0)
      : items(std::move(items)), node(node), outer(outer), depth0(depth0) {}
  std::string_view type_name() const override { return "loop"; }
  bool is_callable() const override { return node->recursive; }
  Result<Value> call(State& state, std::span<const Value> args, const Kwargs& kwargs) override {
    if (!node->recursive) {
      return fail(ErrorKind::InvalidOperation,
                  "loop is not recursive; mark it recursive to call it");
    }
    if (!kwargs.empty())
      return fail(ErrorKind::TooManyArguments, "loop() takes no keyword arguments");
    if (!state.evaluator())
      return fail(ErrorKind::InvalidOperation, "loop called outside rendering");
    return state.evaluator()->call_loop(*this, args);
  }
  Value get_attr(std::string_view name) const override {
    const auto n = static_cast<Int128>(items.size());
    const auto i = static_cast<Int128>(index0);
    // Dispatch on the length first: one comparison finds the attribute.
    switch (name.size()) {
      case 4:
        if (name == "last") return Value::from_bool(index0 + 1 == items.size());
        break;
      case 5:
        if (name == "index") return Value::from_int(i + 1);
        if (name == "first") return Value::from_bool(index0 == 0);
        if (name == "depth") return Value::from_int(depth0 + 1);
        break;
      case 6:
        if (name == "index0") return Value::from_int(i);
        if (name == "length") return Value::from_int(n);
        if (name == "depth0") return Value::from_int(depth0);
        break;
      case 8:
        if (name == "revindex") return Value::from_int(n - i);
        if (name == "previtem") return index0 > 0 ? items[index0 - 1] : Value();
        if (name == "nextitem") {
          return index0 + 1 < items.size() ? items[index0 + 1] : Value();
        }
        break;
      case 9:
        if (name == "revindex0") return Value::from_int(n - i - 1);
        break;
      default:
        break;
    }
    return Value();
  }
  std::optional<Result<Value>> call_method(State&, std::string_view name,
                                           std::span<const Value> args,
                                           const Kwargs& kwargs) override {
    if (name == "cycle") {
      if (!kwargs.empty())
        return fail(ErrorKind::TooManyArguments, "cycle() takes no keyword arguments");
      if (args.empty()) return fail(ErrorKind::MissingArgument, "no items for cycling given");
      return Result<Value>(args[index0 % args.size()]);
    }
    if (name == "changed") {
      if (!kwargs.empty())
        return fail(ErrorKind::TooManyArguments, "changed() takes no keyword arguments");
      std::vector<Value> now(args.begin(), args.end());
      const bool changed = !has_last || now.size() != last.size() ||
                           !std::equal(now.begin(), now.end(), last.begin());
      if (changed) {
        last = std::move(now);
        has_last = true;
      }
      return Result<Value>(Value::from_bool(changed));
    }
    return std::nullopt;
  }
  void write_display(std::string& out) const override {
    out += "<loop ";
    write_int(static_cast<Int128>(index0 + 1), out);
    out += '/';
    write_int(static_cast<Int128>(items.size()), out);
    out += '>';
  }

  std::vector<Value> items;
  std::size_t index0 = 0;
  const ForStmt* node;
  Frame* outer;
  int depth0;
  bool active = true;
  std::vector<Value> last;
  bool has_last = false;
};

// ---------------------------------------------------------------- evaluator

Evaluator::Evaluator(const Environment& env, std::string_view template_name, EscapeChoice escape,
                     const json::Object& context)
    : env_(env),
      data_(env.internal_data()),
      name_(template_name),
      state_(env, std::move(escape), std::string(template_name)),
      context_(context),
      stack_base_(reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0))) {
  state_.set_evaluator(this);
  using FormatPtr = Result<void> (*)(Output&, State&, const Value&);
  const FormatPtr* target = data_.formatter.target<FormatPtr>();
  default_formatter_ = target && *target == &default_format;
}

Evaluator::~Evaluator() {
  // Break any cycle a template made through namespace attributes, so the values are freed.
  for (const Value& ns : assigned_namespaces_) clear_namespace(ns);
}

std::unexpected<Error> Evaluator::located(Error e, std::uint32_t line) const {
  if (!e.has_location()) e.set_location(name_, line);
  return std::unexpected(std::move(e));
}

Result<void> Evaluator::stack_exhausted() const {
  return fail(ErrorKind::InvalidOperation, "template nesting too deep");
}

Result<void> Evaluator::render(Body body, std::string& out) {
  stack_base_ = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  out_ = &out;
  frame_ = &root_;
  auto r = exec_body(body);
  if (!r) return std::unexpected(std::move(r.error()));
  return {};
}

Result<void> Evaluator::write(std::string_view text) {
  if (text.size() > kMaxOutputBytes - out_->size()) [[unlikely]] {
    return fail(ErrorKind::WriteFailure, "output size limit exceeded");
  }
  out_->append(text);
  return {};
}

Result<void> Evaluator::print(const Value& v) {
  if (default_formatter_ && state_.escape().kind == EscapeChoice::Kind::None) {
    if (v.is_string()) return write(v.str());
    if (v.is_undefined()) return {};
    if (v.is_int()) {
      const Int128 i = v.as_int();
      if (i >= INT64_MIN && i <= INT64_MAX) {
        char buf[24];
        auto r = std::to_chars(buf, buf + sizeof buf, static_cast<std::int64_t>(i));
        return write(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
      }
    }
    if (!v.write_display_checked(*out_, kMaxOutputBytes - out_->size())) {
      return fail(ErrorKind::WriteFailure, "output size limit exceeded");
    }
    return {};
  }
  Output o(*out_);
  return data_.formatter(o, state_, v);
}

Result<std::string> Evaluator::capture_body(Body body, Frame* frame) {
  std::string captured;
  Swap<std::string> out_swap(out_, &captured);
  Swap<Frame> frame_swap(frame_, frame);
  KV_CHECK(exec_body(body));
  return captured;
}

// ---------------------------------------------------------------- statements

Result<Flow> Evaluator::exec_body(Body body) {
  for (const Stmt* s : body) {
    Flow f = KV_TRY(exec(s));
    if (f != Flow::Normal) return f;
  }
  return Flow::Normal;
}

Result<Flow> Evaluator::exec(const Stmt* s) {
  switch (s->kind) {
    case StmtKind::Data: {
      auto r = write(static_cast<const DataStmt*>(s)->text);
      if (!r) return located(std::move(r.error()), s->line);
      return Flow::Normal;
    }
    case StmtKind::Print: {
      Value v = KV_TRY(eval(static_cast<const PrintStmt*>(s)->expr));
      auto r = print(v);
      if (!r) return located(std::move(r.error()), s->line);
      return Flow::Normal;
    }
    case StmtKind::Break:
      return Flow::Break;
    case StmtKind::Continue:
      return Flow::Continue;
    default:
      break;
  }
  if (auto st = check_stack(); !st) return located(std::move(st.error()), s->line);
  switch (s->kind) {
    case StmtKind::If: {
      const auto* n = static_cast<const IfStmt*>(s);
      for (const auto& b : n->branches) {
        Value t = KV_TRY(eval(b.test));
        if (t.is_true()) return exec_body(b.body);
      }
      return exec_body(n->otherwise);
    }
    case StmtKind::For:
      return exec_for_stmt(static_cast<const ForStmt*>(s));
    default:
      return exec_other(s);
  }
}

Result<Flow> Evaluator::exec_for_stmt(const ForStmt* n) {
  Value iterable = KV_TRY(eval(n->iter));
  return exec_for(n, std::move(iterable), 0, nullptr);
}

Result<Flow> Evaluator::exec_other(const Stmt* s) {
  switch (s->kind) {
    case StmtKind::Set: {
      const auto* n = static_cast<const SetStmt*>(s);
      Value v = KV_TRY(eval(n->value));
      auto r = assign(n->target, std::move(v), *frame_);
      if (!r) return located(std::move(r.error()), s->line);
      return Flow::Normal;
    }
    case StmtKind::SetBlock: {
      const auto* n = static_cast<const SetBlockStmt*>(s);
      Frame inner(frame_);
      std::string text = KV_TRY(capture_body(n->body, &inner));
      Value v = Value::string_with_mark(std::move(text), state_.auto_escape());
      if (n->filter) v = KV_TRY(eval_with_hole(n->filter, v));
      auto r = assign(n->target, std::move(v), *frame_);
      if (!r) return located(std::move(r.error()), s->line);
      return Flow::Normal;
    }
    case StmtKind::With: {
      const auto* n = static_cast<const WithStmt*>(s);
      Frame inner(frame_);
      for (const auto& b : n->bindings) {
        Value v = KV_TRY(eval(b.value));
        auto r = assign(b.target, std::move(v), inner);
        if (!r) return located(std::move(r.error()), s->line);
      }
      Swap<Frame> swap(frame_, &inner);
      return exec_body(n->body);
    }
    case StmtKind::Macro: {
      const auto* n = static_cast<const MacroStmt*>(s);
      frame_->set(n->def.name, make_macro(n->def));
      return Flow::Normal;
    }
    case StmtKind::CallBlock: {
      auto r = exec_call_block(static_cast<const CallBlockStmt*>(s));
      if (!r) return located(std::move(r.error()), s->line);
      return Flow::Normal;
    }
    case StmtKind::FilterBlock: {
      const auto* n = static_cast<const FilterBlockStmt*>(s);
      Frame inner(frame_);
      std::string text = KV_TRY(capture_body(n->body, &inner));
      Value body = Value::string_with_mark(std::move(text), state_.auto_escape());
      Value result = KV_TRY(eval_with_hole(n->filter, body));
      std::string shown;
      auto r = result.write_display_checked(shown);
      if (r) r = write(shown);
      if (!r) return located(std::move(r.error()), s->line);
      return Flow::Normal;
    }
    case StmtKind::Autoescape: {
      const auto* n = static_cast<const AutoescapeStmt*>(s);
      Value v = KV_TRY(eval(n->value));
      EscapeChoice choice;
      if (auto text = v.as_str()) {
        if (*text == "html") {
          choice.kind = EscapeChoice::Kind::Html;
        } else if (*text == "json") {
          choice.kind = EscapeChoice::Kind::Json;
        } else if (*text != "none" && !text->empty()) {
          choice.kind = EscapeChoice::Kind::Custom;
          choice.custom = std::string(*text);
        }
      } else if (v.is_true()) {
        choice.kind = EscapeChoice::Kind::Html;
      }
      EscapeChoice saved = state_.escape();
      state_.set_escape(std::move(choice));
      Frame inner(frame_);
      Swap<Frame> swap(frame_, &inner);
      auto r = exec_body(n->body);
      state_.set_escape(std::move(saved));
      return r;
    }
    case StmtKind::Block: {
      const auto* n = static_cast<const BlockStmt*>(s);
      Frame inner(n->scoped ? frame_ : &root_);
      Swap<Frame> swap(frame_, &inner);
      auto r = exec_body(n->body);
      if (!r) return std::unexpected(std::move(r.error()));
      return Flow::Normal;
    }
    case StmtKind::Load: {
      const auto* n = static_cast<const LoadStmt*>(s);
      // There is no loader, so even `ignore missing` cannot find a template to skip to.
      Value name = KV_TRY(eval(n->template_name));
      return located(Error(ErrorKind::TemplateNotFound, name.to_display()), s->line);
    }
    default:
      return Flow::Normal;
  }
}

Result<Flow> Evaluator::exec_for(const ForStmt* s, Value iterable, int depth0,
                                 std::string* /*capture*/) {
  auto listed = iterable.iterate();
  if (!listed) return located(std::move(listed.error()), s->iter->line);
  std::vector<Value> items = std::move(*listed);
  if (s->filter) {
    Frame probe(frame_);
    Swap<Frame> swap(frame_, &probe);
    std::vector<Value> kept;
    kept.reserve(items.size());
    for (auto& item : items) {
      probe.clear();
      auto r = assign(s->target, item, probe);
      if (!r) return located(std::move(r.error()), s->line);
      Value keep = KV_TRY(eval(s->filter));
      if (keep.is_true()) kept.push_back(std::move(item));
    }
    items = std::move(kept);
  }
  if (items.empty()) {
    if (s->otherwise.empty()) return Flow::Normal;
    Frame inner(frame_);
    Swap<Frame> swap(frame_, &inner);
    auto r = exec_body(s->otherwise);
    if (!r) return std::unexpected(std::move(r.error()));
    return Flow::Normal;
  }
  auto loop_ptr = std::make_shared<LoopObject>(std::move(items), s, frame_, depth0);
  LoopObject* loop = loop_ptr.get();
  const Value loop_value = Value::from_object(std::move(loop_ptr));
  Frame iteration(frame_);
  Swap<Frame> swap(frame_, &iteration);
  const std::size_t n = loop->items.size();
  const bool simple_target = s->target->kind == TargetKind::Name;
  for (std::size_t i = 0; i < n; ++i) {
    // Each iteration starts afresh with only `loop` bound, as in Jinja2.
    if (i == 0) {
      iteration.push(kLoopName, loop_value);
    } else {
      iteration.truncate(1);
      // The body may have rebound `loop`; each iteration sees the loop object again.
      if (ValueAccess::cell(iteration.first_value()) != ValueAccess::cell(loop_value)) {
        iteration.set(kLoopName, loop_value);
      }
    }
    loop->index0 = i;
    if (simple_target && !same_name(s->target->name, kLoopName)) {
      iteration.push(s->target->name, loop->items[i]);
    } else if (auto r = assign(s->target, loop->items[i], iteration); !r) {
      loop->active = false;
      return located(std::move(r.error()), s->line);
    }
    auto f = exec_body(s->body);
    if (!f) {
      loop->active = false;
      return std::unexpected(std::move(f.error()));
    }
    if (*f == Flow::Break) break;
  }
  loop->active = false;
  loop->last.clear();  // may hold the loop itself (`loop.changed(loop)`): no cycle outlives it
  return Flow::Normal;
}

Result<Value> Evaluator::call_loop(LoopObject& loop, std::span<const Value> args) {
  if (args.size() != 1) {
    return fail(args.empty() ? ErrorKind::MissingArgument : ErrorKind::TooManyArguments,
                "loop() takes exactly one argument");
  }
  if (!loop.active) return fail(ErrorKind::InvalidOperation, "loop called after it ended");
  if (call_depth_ >= kMaxCallDepth) {
    return fail(ErrorKind::InvalidOperation, "recursion limit exceeded");
  }
  ++call_depth_;
  std::string captured;
  Result<Flow> r;
  {
    Swap<std::string> out_swap(out_, &captured);
    Swap<Frame> frame_swap(frame_, loop.outer);
    r = exec_for(loop.node, args[0], loop.depth0 + 1, nullptr);
  }
  --call_depth_;
  if (!r) return std::unexpected(std::move(r.error()));
  return Value::string_with_mark(std::move(captured), state_.auto_escape());
}

Value Evaluator::make_macro(const MacroDef& def) {
  auto macro = std::make_shared<MacroObject>(&def, &root_);
  if (frame_ != &root_) {
    for (Frame* f = frame_; f && f != &root_; f = f->parent()) {
      f->for_each([&](std::string_view name, const Value& v) {
        if (!macro->closure.find(name)) macro->closure.set(name, v);
      });
    }
    macro->has_closure = true;
  }
  return Value::from_object(std::move(macro));
}

Result<Value> Evaluator::call_macro(const MacroObject& m, std::span<const Value> args,
                                    const Kwargs& kwargs) {
  const MacroDef& def = *m.def;
  if (call_depth_ >= kMaxCallDepth) {
    return fail(ErrorKind::InvalidOperation, "recursion limit exceeded");
  }
  Frame call(m.has_closure ? &m.closure : &root_);
  const std::size_t n = def.params.size();
  Kwargs kw = kwargs;
  auto take = [&kw](std::string_view name, Value* out) {
    for (auto it = kw.begin(); it != kw.end(); ++it) {
      if (it->first == name) {
        *out = std::move(it->second);
        kw.erase(it);
        return true;
      }
    }
    return false;
  };
  std::vector<const Param*> missing;
  bool found_caller = false;
  for (std::size_t i = 0; i < n; ++i) {
    const Param& p = def.params[i];
    if (i < args.size()) {
      call.set(p.name, args[i]);
      continue;
    }
    Value v;
    if (p.name == "caller") found_caller = true;
    if (take(p.name, &v)) {
      call.set(p.name, std::move(v));
    } else {
      missing.push_back(&p);
    }
  }
  if (def.uses_caller && !found_caller) {
    Value caller;
    take("caller", &caller);
    call.set(kCallerName, std::move(caller));
  }
  if (def.uses_kwargs) {
    MapEntries entries;
    for (auto& [k, v] : kw) entries.emplace_back(Value::from_string(k), std::move(v));
    call.set(kKwargsName, Value::from_map(std::move(entries)));
  } else if (!kw.empty()) {
    if (find_kwarg(kw, "caller")) {
      return fail(ErrorKind::TooManyArguments,
                  "macro '" + std::string(def.name) + "' does not take a caller");
    }
    return fail(
        ErrorKind::TooManyArguments,
        "macro '" + std::string(def.name) + "' takes no keyword argument '" + kw[0].first + "'");
  }
  if (def.uses_varargs) {
    std::vector<Value> rest;
    for (std::size_t i = n; i < args.size(); ++i) rest.push_back(args[i]);
    call.set(kVarargsName, Value::from_seq(std::move(rest)));
  } else if (args.size() > n) {
    return fail(ErrorKind::TooManyArguments, "macro '" + std::string(def.name) +
                                                 "' takes not more than " + std::to_string(n) +
                                                 " argument(s)");
  }
  if (m.has_closure && !same_name(def.name, kCallerName) && !call.find(def.name)) {
    call.set(def.name,
             Value::from_object(std::const_pointer_cast<MacroObject>(m.shared_from_this())));
  }
  ++call_depth_;
  std::string captured;
  Result<Flow> r;
  {
    Swap<Frame> frame_swap(frame_, &call);
    Swap<std::string> out_swap(out_, &captured);
    r = Flow::Normal;
    for (const Param* p : missing) {
      if (!p->default_value) {
        call.set(p->name, Value());
        continue;
      }
      auto v = eval(p->default_value);
      if (!v) {
        r = std::unexpected(std::move(v.error()));
        break;
      }
      call.set(p->name, std::move(*v));
    }
    if (r) r = exec_body(def.body);
  }
  --call_depth_;
  if (!r) return std::unexpected(std::move(r.error()));
  return Value::string_with_mark(std::move(captured), state_.auto_escape());
}

Result<void> Evaluator::exec_call_block(const CallBlockStmt* s) {
  Value caller = make_macro(s->caller);
  ArgBuffer args;
  Kwargs kwargs;
  KV_CHECK(eval_args(s->call->call, args, kwargs));
  kwargs.emplace_back("caller", std::move(caller));
  Value result;
  const Expr* callee = s->call->callee;
  if (callee->kind == ExprKind::Name) {
    const std::string_view name = static_cast<const NameExpr*>(callee)->name;
    Value v = lookup(name);
    if (v.is_undefined()) return fail(ErrorKind::UnknownFunction, std::string(name));
    result = KV_TRY(state_.call(v, args.span(), kwargs));
  } else {
    Value v = KV_TRY(eval(callee));
    result = KV_TRY(state_.call(v, args.span(), kwargs));
  }
  if (result.is_string()) return write(result.str());
  return print(result);
}

Result<void> Evaluator::assign(const Target* t, Value v, Frame& frame) {
  switch (t->kind) {
    case TargetKind::Name:
      frame.set(t->name, std::move(v));
      return {};
    case TargetKind::Tuple: {
      if (!v.is_seq() && !v.is_string() && !v.is_map() && !v.is_bytes() && !v.is_object()) {
        return fail(ErrorKind::CannotUnpack,
                    "cannot unpack non-iterable " + std::string(kind_name(v.kind())));
      }
      auto items = v.iterate();
      if (!items) return fail(ErrorKind::CannotUnpack, items.error().detail().value_or(""));
      const std::size_t want = t->items.size();
      if (items->size() != want) {
        return fail(ErrorKind::CannotUnpack,
                    (items->size() < want ? "not enough values to unpack (expected "
                                          : "too many values to unpack (expected ") +
                        std::to_string(want) + ", got " + std::to_string(items->size()) + ")");
      }
      for (std::size_t i = 0; i < want; ++i) KV_CHECK(assign(t->items[i], (*items)[i], frame));
      return {};
    }
    case TargetKind::NamespaceAttr: {
      Value ns = lookup(t->name);
      if (!is_namespace(ns)) {
        return fail(
            ErrorKind::InvalidOperation,
            "cannot assign attribute on non-namespace object '" + std::string(t->name) + "'");
      }
      if (std::find_if(assigned_namespaces_.begin(), assigned_namespaces_.end(),
                       [&](const Value& seen) { return seen.as_object() == ns.as_object(); }) ==
          assigned_namespaces_.end()) {
        assigned_namespaces_.push_back(ns);
      }
      return ns.as_object()->set_attr(t->attr, std::move(v));
    }
  }
  return {};
}

// ---------------------------------------------------------------- expressions

Value Evaluator::lookup(std::string_view name) {
  for (const Frame* f = frame_; f; f = f->parent()) {
    if (const Value* v = f->find(name)) return *v;
  }
  if (const json::Value* v = find_json_member(context_, name)) return Value::from_json(*v);
  if (const FunctionFn* fn = find_function(data_, name)) {
    return make_function_value(std::string(name), *fn);
  }
  return Value();
}

Result<Value> Evaluator::eval(const Expr* e) {
  auto r = eval_inner(e);
  if (!r) [[unlikely]]
    return located(std::move(r.error()), e->line);
  return r;
}

Result<void> Evaluator::eval_args(const CallArgs& call, ArgBuffer& args, Kwargs& kwargs) {
  for (const Arg& a : call.args) {
    Value v = KV_TRY(eval(a.value));
    if (a.name.empty()) {
      args.push_back(std::move(v));
    } else {
      kwargs.emplace_back(std::string(a.name), std::move(v));
    }
  }
  if (call.dyn_args) {
    Value v = KV_TRY(eval(call.dyn_args));
    auto items = v.iterate();
    if (!items) return std::unexpected(std::move(items.error()));
    for (auto& item : *items) args.push_back(std::move(item));
  }
  if (call.dyn_kwargs) {
    Value v = KV_TRY(eval(call.dyn_kwargs));
    if (!v.is_map()) {
      return fail(ErrorKind::InvalidOperation,
                  "argument after ** must be a map, not " + std::string(kind_name(v.kind())));
    }
    for (auto& [k, val] : v.map_entries()) {
      auto key = k.as_str();
      if (!key) return fail(ErrorKind::InvalidOperation, "keywords must be strings");
      kwargs.emplace_back(std::string(*key), std::move(val));
    }
  }
  return {};
}

Result<Value> Evaluator::eval_call(const CallExpr* e) {
  // Expression trees are bounded by the parser; calls are where rendering can recurse.
  KV_CHECK(check_stack());
  ArgBuffer args;
  Kwargs kwargs;
  const Expr* callee = e->callee;
  if (callee->kind == ExprKind::Name) {
    const std::string_view name = static_cast<const NameExpr*>(callee)->name;
    for (const Frame* f = frame_; f; f = f->parent()) {
      if (const Value* v = f->find(name)) {
        Value fn = *v;
        KV_CHECK(eval_args(e->call, args, kwargs));
        return state_.call(fn, args.span(), kwargs);
      }
    }
    if (const json::Value* v = find_json_member(context_, name)) {
      Value fn = Value::from_json(*v);
      KV_CHECK(eval_args(e->call, args, kwargs));
      return state_.call(fn, args.span(), kwargs);
    }
    const FunctionFn* fn = find_function(data_, name);
    if (!fn) return fail(ErrorKind::UnknownFunction, std::string(name));
    KV_CHECK(eval_args(e->call, args, kwargs));
    return (*fn)(state_, args.span(), kwargs);
  }
  if (callee->kind == ExprKind::GetAttr) {
    const auto* ga = static_cast<const GetAttrExpr*>(callee);
    Value base = KV_TRY(eval(ga->object));
    if (base.is_undefined()) return undefined_error();
    KV_CHECK(eval_args(e->call, args, kwargs));
    if (base.is_map()) {
      Value member = base.get_attr(ga->name);
      if (Object* o = member.as_object(); o && o->is_callable()) {
        return o->call(state_, args.span(), kwargs);
      }
    }
    return state_.call_method(base, ga->name, args.span(), kwargs);
  }
  Value fn = KV_TRY(eval(callee));
  KV_CHECK(eval_args(e->call, args, kwargs));
  return state_.call(fn, args.span(), kwargs);
}

Result<Value> Evaluator::eval_filter(const FilterExpr* e, const Value* hole) {
  KV_CHECK(check_stack());
  ArgBuffer args;
  if (hole) {
    args.push_back(*hole);
  } else {
    args.push_back(KV_TRY(eval(e->input)));
  }
  Kwargs kwargs;
  KV_CHECK(eval_args(e->call, args, kwargs));
  if (!e->fn) return fail(ErrorKind::UnknownFilter, std::string(e->name));
  return (*e->fn)(state_, args.span(), kwargs);
}

Result<Value> Evaluator::eval_test(const TestExpr* e) {
  ArgBuffer args;
  args.push_back(KV_TRY(eval(e->input)));
  Kwargs kwargs;
  KV_CHECK(eval_args(e->call, args, kwargs));
  if (!e->fn) return fail(ErrorKind::UnknownTest, std::string(e->name));
  const bool ok = KV_TRY((*e->fn)(state_, args.span(), kwargs));
  return Value::from_bool(ok);
}

Result<Value> Evaluator::eval_with_hole(const Expr* e, const Value& hole) {
  if (e->kind != ExprKind::Filter) return eval(e);
  const auto* f = static_cast<const FilterExpr*>(e);
  Result<Value> r;
  if (f->input) {
    Value inner = KV_TRY(eval_with_hole(f->input, hole));
    r = eval_filter(f, &inner);
  } else {
    r = eval_filter(f, &hole);
  }
  if (!r) return located(std::move(r.error()), e->line);
  return r;
}

Result<Value> Evaluator::add_markup(const Value& l, const Value& r) {
  // As Jinja2's Markup: safe text plus plain text escapes the plain side (HTML escaping) and
  // stays safe. Under the JSON and custom formats safety is the formatter's business, so the
  // result is then plain text, as any other addition.
  const auto kind = state_.escape().kind;
  if (kind != EscapeChoice::Kind::None && kind != EscapeChoice::Kind::Html) {
    return binary_op(BinaryOp::Add, l, r);
  }
  if (l.str().size() + r.str().size() > kMaxDisplayBytes) {
    return fail(ErrorKind::InvalidOperation, "string too long");
  }
  std::string out;
  if (l.is_safe()) {
    out += l.str();
    write_html_escaped(r.str(), out);
  } else {
    write_html_escaped(l.str(), out);
    out += r.str();
  }
  return Value::safe_string(std::move(out));
}

Result<Value> Evaluator::format_string(const Value& format, const Value& args) {
  // `"%s-%s" % (a, b)` is printf-style formatting, as the `format` filter does it: a sequence
  // gives the positional values, a map the named ones, anything else the one value.
  ArgBuffer call;
  call.push_back(format);
  Kwargs named;
  if (args.is_seq()) {
    for (std::size_t i = 0; i < args.seq_len(); ++i) call.push_back(args.seq_at(i));
  } else if (args.is_map()) {
    for (auto& [k, v] : args.map_entries()) {
      if (!k.is_string()) return fail(ErrorKind::InvalidOperation, "format keys must be strings");
      named.emplace_back(std::string(k.str()), std::move(v));
    }
  } else {
    call.push_back(args);
  }
  return state_.apply_filter("format", call.span(), named);
}

Result<Value> Evaluator::eval_compare(const CompareExpr* e) {
  Value left = KV_TRY(eval(e->first));
  for (const Comparison& c : e->rest) {
    Value right = KV_TRY(eval(c.rhs));
    bool ok = false;
    switch (c.op) {
      case CmpOp::Eq:
        ok = left == right;
        break;
      case CmpOp::Ne:
        ok = !(left == right);
        break;
      case CmpOp::In:
        ok = KV_TRY(contains(right, left));
        break;
      case CmpOp::NotIn:
        ok = !KV_TRY(contains(right, left));
        break;
      default: {
        if (left.is_int() && right.is_int()) {
          const Int128 x = left.as_int(), y = right.as_int();
          ok = c.op == CmpOp::Lt   ? x < y
               : c.op == CmpOp::Le ? x <= y
               : c.op == CmpOp::Gt ? x > y
                                   : x >= y;
          break;
        }
        if (left.is_undefined() || right.is_undefined()) return undefined_error();
        const int cmp = KV_TRY(compare(left, right));
        const bool unordered = (left.is_float() && std::isnan(left.as_float())) ||
                               (right.is_float() && std::isnan(right.as_float()));
        if (unordered) {
          ok = false;
        } else if (c.op == CmpOp::Lt) {
          ok = cmp < 0;
        } else if (c.op == CmpOp::Le) {
          ok = cmp <= 0;
        } else if (c.op == CmpOp::Gt) {
          ok = cmp > 0;
        } else {
          ok = cmp >= 0;
        }
      }
    }
    if (!ok) return Value::from_bool(false);
    left = std::move(right);
  }
  return Value::from_bool(true);
}

namespace {
// Python slice bounds for a sequence of n items.
bool slice_bounds(const std::optional<Int128>& start_in, const std::optional<Int128>& stop_in,
                  Int128 step, Int128 n, Int128* start, Int128* stop) {
  if (step > 0) {
    Int128 s = start_in.value_or(0), e = stop_in.value_or(n);
    if (s < 0) s = std::max<Int128>(s + n, 0);
    if (s > n) s = n;
    if (e < 0) e = std::max<Int128>(e + n, 0);
    if (e > n) e = n;
    *start = s;
    *stop = e;
  } else {
    Int128 s = start_in.value_or(n - 1), e = stop_in ? *stop_in : -1;
    if (start_in) {
      if (s < 0) s = std::max<Int128>(s + n, -1);
      if (s >= n) s = n - 1;
    }
    if (stop_in) {
      if (e < 0) e = std::max<Int128>(e + n, -1);
      if (e >= n) e = n - 1;
    }
    *start = s;
    *stop = e;
  }
  return true;
}
}  // namespace

Result<Value> Evaluator::eval_slice(const Value& base, const SliceExpr* s) {
  std::optional<Int128> parts[3];
  const Expr* exprs[3] = {s->start, s->stop, s->step};
  bool integral = true;
  for (int i = 0; i < 3; ++i) {
    if (!exprs[i]) continue;
    Value v = KV_TRY(eval(exprs[i]));
    if (v.is_none()) continue;
    if (!v.is_int() && !v.is_bool()) {
      integral = false;
      continue;
    }
    parts[i] = *v.to_int();
  }
  if (base.is_undefined()) return undefined_error();
  if (!integral || !(base.is_seq() || base.is_string() || base.is_bytes())) return Value();
  const Int128 step = parts[2].value_or(1);
  if (step == 0) return fail(ErrorKind::InvalidOperation, "slice step cannot be zero");
  std::vector<Value> chars;
  Int128 n;
  if (base.is_string()) {
    chars = *base.iterate();
    n = static_cast<Int128>(chars.size());
  } else if (base.is_bytes()) {
    n = static_cast<Int128>(base.str().size());
  } else {
    n = static_cast<Int128>(base.seq_len());
  }
  Int128 start, stop;
  slice_bounds(parts[0], parts[1], step, n, &start, &stop);
  if (base.is_string()) {
    std::string out;
    for (Int128 i = start; step > 0 ? i < stop : i > stop; i += step) {
      out += chars[static_cast<std::size_t>(i)].str();
    }
    return Value::string_with_mark(std::move(out), base.is_safe());
  }
  if (base.is_bytes()) {
    std::string out;
    const std::string_view bytes = base.str();
    for (Int128 i = start; step > 0 ? i < stop : i > stop; i += step) {
      out += bytes[static_cast<std::size_t>(i)];
    }
    return Value::from_bytes(std::move(out));
  }
  std::vector<Value> out;
  for (Int128 i = start; step > 0 ? i < stop : i > stop; i += step) {
    out.push_back(base.seq_at(static_cast<std::size_t>(i)));
  }
  return Value::from_seq(std::move(out));
}

Result<Value> Evaluator::eval_inner(const Expr* e) {
  switch (e->kind) {
    case ExprKind::Const: {
      const auto* c = static_cast<const ConstExpr*>(e);
      switch (c->ck) {
        case ConstKind::None:
          return Value::none();
        case ConstKind::Bool:
          return Value::from_bool(c->b);
        case ConstKind::Int:
          return Value::from_int(c->i);
        case ConstKind::Float:
          return Value::from_float(c->f);
        case ConstKind::String:
          return Value::borrowed_string(c->s);
      }
      return Value();
    }
    case ExprKind::Name: {
      const std::string_view name = static_cast<const NameExpr*>(e)->name;
      for (const Frame* f = frame_; f; f = f->parent()) {
        if (const Value* v = f->find(name)) return *v;
      }
      if (const json::Value* v = find_json_member(context_, name)) return Value::from_json(*v);
      return lookup(name);
    }
    default:
      break;
  }
  switch (e->kind) {
    case ExprKind::GetAttr: {
      const auto* g = static_cast<const GetAttrExpr*>(e);
      if (g->object->kind == ExprKind::Name) {
        // A local looked up in place: no copy of the value (and of its reference count).
        const std::string_view name = static_cast<const NameExpr*>(g->object)->name;
        for (const Frame* f = frame_; f; f = f->parent()) {
          if (const Value* v = f->find(name)) {
            if (v->is_undefined()) return undefined_error();
            return v->get_attr(g->name);
          }
        }
      }
      Value base = KV_TRY(eval(g->object));
      if (base.is_undefined()) return undefined_error();
      return base.get_attr(g->name);
    }
    case ExprKind::GetItem: {
      const auto* g = static_cast<const GetItemExpr*>(e);
      Value base = KV_TRY(eval(g->object));
      if (g->key->kind == ExprKind::Slice) {
        return eval_slice(base, static_cast<const SliceExpr*>(g->key));
      }
      Value key = KV_TRY(eval(g->key));
      if (base.is_undefined()) return undefined_error();
      return base.get_item(key);
    }
    case ExprKind::Slice:
      return fail(ErrorKind::InvalidOperation, "slice outside of a subscript");
    case ExprKind::Call:
      return eval_call(static_cast<const CallExpr*>(e));
    case ExprKind::Filter:
      return eval_filter(static_cast<const FilterExpr*>(e), nullptr);
    case ExprKind::Test:
      return eval_test(static_cast<const TestExpr*>(e));
    case ExprKind::Not: {
      Value v = KV_TRY(eval(static_cast<const UnaryExpr*>(e)->operand));
      return Value::from_bool(!v.is_true());
    }
    case ExprKind::Neg:
    case ExprKind::Pos: {
      Value v = KV_TRY(eval(static_cast<const UnaryExpr*>(e)->operand));
      if (v.is_undefined()) return undefined_error();
      return e->kind == ExprKind::Neg ? negate(v) : unary_plus(v);
    }
    case ExprKind::Binary: {
      const auto* b = static_cast<const BinaryExpr*>(e);
      Value l = KV_TRY(eval(b->left));
      Value r = KV_TRY(eval(b->right));
      if (l.is_undefined() || r.is_undefined()) return undefined_error();
      if (b->op == BinaryOp::Mod && l.is_string()) return format_string(l, r);
      if (b->op == BinaryOp::Add && l.is_string() && r.is_string() && l.is_safe() != r.is_safe()) {
        return add_markup(l, r);
      }
      return binary_op(b->op, l, r);
    }
    case ExprKind::And: {
      const auto* l = static_cast<const LogicExpr*>(e);
      Value left = KV_TRY(eval(l->left));
      if (!left.is_true()) return left;
      return eval(l->right);
    }
    case ExprKind::Or: {
      const auto* l = static_cast<const LogicExpr*>(e);
      Value left = KV_TRY(eval(l->left));
      if (left.is_true()) return left;
      return eval(l->right);
    }
    case ExprKind::Concat:
    case ExprKind::List:
    case ExprKind::Dict:
      return eval_aggregate(e);
    case ExprKind::Compare:
      return eval_compare(static_cast<const CompareExpr*>(e));
    case ExprKind::Cond: {
      const auto* c = static_cast<const CondExpr*>(e);
      Value t = KV_TRY(eval(c->test));
      if (t.is_true()) return eval(c->then);
      if (c->otherwise) return eval(c->otherwise);
      return Value();
    }
    default:
      return Value();
  }
}

Result<Value> Evaluator::eval_aggregate(const Expr* e) {
  switch (e->kind) {
    case ExprKind::Concat: {
      const auto* c = static_cast<const ConcatExpr*>(e);
      // Under HTML escaping `~` joins as Jinja2's markup_join: when any part is safe, the plain
      // parts are escaped and the result is safe.
      std::vector<Value> parts;
      parts.reserve(c->parts.size());
      bool any_safe = false, safe = true;
      for (const Expr* part : c->parts) {
        parts.push_back(KV_TRY(eval(part)));
        any_safe = any_safe || parts.back().is_safe();
        safe = safe && parts.back().is_safe();
      }
      const bool markup = any_safe && state_.escape().kind == EscapeChoice::Kind::Html;
      std::string out;
      for (const Value& v : parts) {
        if (markup && !v.is_safe()) {
          std::string text;
          if (!v.write_display_checked(text)) {
            return fail(ErrorKind::InvalidOperation, "string too long");
          }
          write_html_escaped(text, out);
        } else if (out.size() > kMaxDisplayBytes ||
                   !v.write_display_checked(out, kMaxDisplayBytes - out.size())) {
          return fail(ErrorKind::InvalidOperation, "string too long");
        }
      }
      if (out.size() > kMaxDisplayBytes)
        return fail(ErrorKind::InvalidOperation, "string too long");
      safe = safe || markup;
      return Value::string_with_mark(std::move(out), safe);
    }
    case ExprKind::List: {
      const auto* l = static_cast<const ListExpr*>(e);
      std::vector<Value> items;
      items.reserve(l->items.size());
      for (const Expr* item : l->items) items.push_back(KV_TRY(eval(item)));
      return Value::from_seq(std::move(items));
    }
    case ExprKind::Dict: {
      const auto* d = static_cast<const DictExpr*>(e);
      MapEntries entries;
      entries.reserve(d->pairs.size());
      for (const DictPair& p : d->pairs) {
        Value k = KV_TRY(eval(p.key));
        if (k.is_seq() || k.is_map() || k.is_object()) {
          return fail(ErrorKind::NonKey, std::string(kind_name(k.kind())) + " cannot be a map key");
        }
        Value v = KV_TRY(eval(p.value));
        entries.emplace_back(std::move(k), std::move(v));
      }
      return Value::from_map(std::move(entries));
    }
    default:
      return Value();
  }
}

}  // namespace korvel::engine::detail
