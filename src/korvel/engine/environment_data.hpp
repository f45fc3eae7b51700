// Internal to the engine: the settings an Environment holds (shared copy-on-write with the
// templates compiled from it), and the compile and render entry points environment.cc calls.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "korvel/engine/environment.hpp"
#include "korvel/engine/function.hpp"

namespace korvel::engine::detail {

// The built-in tables, built once and never changed afterwards.
struct BuiltinTables {
  FilterTable filters;
  TestTable tests;
  FunctionTable functions;
};
const BuiltinTables& builtin_tables();

struct EnvironmentData {
  bool trim_blocks = false;
  bool lstrip_blocks = false;
  bool keep_trailing_newline = false;
  SyntaxConfig syntax;
  AutoEscapeCallback auto_escape;
  Formatter formatter;
  UnknownMethodCallback unknown_method;
  // Registered names; looked up before the built-ins.
  FilterTable filters;
  TestTable tests;
  FunctionTable functions;
  const BuiltinTables* builtins = nullptr;
};

// Registered names first, then the built-ins; nullptr when absent.
const FilterFn* find_filter(const EnvironmentData& env, std::string_view name) noexcept;
const TestFn* find_test(const EnvironmentData& env, std::string_view name) noexcept;
const FunctionFn* find_function(const EnvironmentData& env, std::string_view name) noexcept;

// Compiles `source` (copied into the program) under `env`.
Result<std::shared_ptr<const Program>> compile_program(std::shared_ptr<EnvironmentData> env,
                                                       std::string_view name,
                                                       std::string_view source);
// Renders a compiled program with a context.
Result<std::string> render_program(const Program& program, const json::Object& context);
// Compiles and renders without keeping the program (borrows `source` for the duration).
Result<std::string> compile_and_render(const Environment& env, std::string_view name,
                                       std::string_view source, const json::Object& context);
std::string_view program_name(const Program& program) noexcept;

}  // namespace korvel::engine::detail
