// detail::compile_program, render_program, compile_and_render — the compile and render entry
// points behind Environment and Template: source preparation (line breaks normalized as Jinja2
// does, one trailing line break dropped unless kept), parsing into an arena, rendering.
#include <cstring>
#include <exception>
#include <new>

#include "korvel/engine/arena.hpp"
#include "korvel/engine/environment_data.hpp"
#include "korvel/engine/evaluator.hpp"
#include "korvel/engine/parser.hpp"

namespace korvel::engine::detail {

struct Program {
  std::shared_ptr<EnvironmentData> env;
  std::string name;
  std::string source;
  std::string_view text;  // the part of `source` the parser reads
  EscapeChoice escape;
  Arena arena;
  Body body;

  explicit Program(std::size_t arena_block) : arena(arena_block) {}
};

namespace {

// "\r\n" and "\r" become "\n" (only copied when the source holds a "\r"); then one final "\n" is
// dropped unless `keep_trailing_newline`.
std::string_view prepare(std::string_view source, bool keep_trailing_newline,
                         std::string& storage) {
  if (std::memchr(source.data(), '\r', source.size()) != nullptr) {
    storage.clear();
    storage.reserve(source.size());
    for (std::size_t i = 0; i < source.size(); ++i) {
      if (source[i] == '\r') {
        storage += '\n';
        if (i + 1 < source.size() && source[i + 1] == '\n') ++i;
      } else {
        storage += source[i];
      }
    }
    source = storage;
  }
  if (!keep_trailing_newline && !source.empty() && source.back() == '\n') {
    source.remove_suffix(1);
  }
  return source;
}

std::size_t arena_block_for(std::size_t source_size) {
  return std::max<std::size_t>(4096, source_size * 2);
}

// Runs `body`, turning an exception thrown beneath it (memory exhausted, or one from a filter or
// callback) into an error, so that nothing is thrown out of the engine into its caller.
template <class F>
auto guarded(F&& body) -> decltype(body()) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return fail(ErrorKind::InvalidOperation, "out of memory");
  } catch (const std::exception& e) {
    return fail(ErrorKind::InvalidOperation, std::string("internal failure: ") + e.what());
  } catch (...) {
    return fail(ErrorKind::InvalidOperation, "internal failure");
  }
}

Result<std::shared_ptr<const Program>> compile_program_unguarded(
    std::shared_ptr<EnvironmentData> env, std::string_view name, std::string_view source) {
  auto program = std::make_shared<Program>(arena_block_for(source.size()));
  program->name = std::string(name);
  program->source = std::string(source);
  std::string normalized;
  std::string_view text = prepare(program->source, env->keep_trailing_newline, normalized);
  if (!normalized.empty()) {
    program->source = std::move(normalized);
    text = std::string_view(program->source).substr(0, text.size());
  }
  program->text = text;
  program->escape = env->auto_escape ? env->auto_escape(name) : EscapeChoice{};
  auto body = parse(program->text, *env, program->arena);
  if (!body) {
    Error e = std::move(body.error());
    e.set_location(name, e.line());
    return std::unexpected(std::move(e));
  }
  program->body = *body;
  program->env = std::move(env);
  return std::shared_ptr<const Program>(std::move(program));
}

Result<std::string> render_program_unguarded(const Program& program, const json::Object& context) {
  const Environment env(program.env);
  Evaluator evaluator(env, program.name, program.escape, context);
  std::string out;
  out.reserve(program.text.size() + program.text.size() / 2);
  auto r = evaluator.render(program.body, out);
  if (!r) return std::unexpected(std::move(r.error()));
  return out;
}

Result<std::string> compile_and_render_unguarded(const Environment& env, std::string_view name,
                                                 std::string_view source,
                                                 const json::Object& context) {
  const EnvironmentData& data = env.internal_data();
  std::string normalized;
  const std::string_view text = prepare(source, data.keep_trailing_newline, normalized);
  const EscapeChoice escape = data.auto_escape ? data.auto_escape(name) : EscapeChoice{};
  Arena arena(arena_block_for(text.size()));
  auto body = parse(text, data, arena);
  if (!body) {
    Error e = std::move(body.error());
    e.set_location(name, e.line());
    return std::unexpected(std::move(e));
  }
  Evaluator evaluator(env, name, escape, context);
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  auto r = evaluator.render(*body, out);
  if (!r) return std::unexpected(std::move(r.error()));
  return out;
}

}  // namespace

Result<std::shared_ptr<const Program>> compile_program(std::shared_ptr<EnvironmentData> env,
                                                       std::string_view name,
                                                       std::string_view source) {
  return guarded([&] { return compile_program_unguarded(std::move(env), name, source); });
}

Result<std::string> render_program(const Program& program, const json::Object& context) {
  return guarded([&] { return render_program_unguarded(program, context); });
}

Result<std::string> compile_and_render(const Environment& env, std::string_view name,
                                       std::string_view source, const json::Object& context) {
  return guarded([&] { return compile_and_render_unguarded(env, name, source, context); });
}

std::string_view program_name(const Program& program) noexcept { return program.name; }

}  // namespace korvel::engine::detail
