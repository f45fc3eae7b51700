// korvel::engine::Environment — settings, registration of filters/tests/functions beside the
// built-ins, syntax validation, and the compile/render entry points.
#include "korvel/engine/environment.hpp"

#include "korvel/engine/builtins/builtins.hpp"
#include "korvel/engine/environment_data.hpp"

namespace korvel::engine {

namespace detail {
const BuiltinTables& builtin_tables() {
  // Built on first use and read-only afterwards, so environments share it without copying.
  static const BuiltinTables tables = [] {
    BuiltinTables t;
    builtins::register_filters(t.filters);
    builtins::register_tests(t.tests);
    builtins::register_functions(t.functions);
    return t;
  }();
  return tables;
}
}  // namespace detail

Environment::Environment() : data_(std::make_shared<detail::EnvironmentData>()) {
  data_->formatter = default_format;
  data_->builtins = &detail::builtin_tables();
}

Environment::~Environment() = default;
Environment::Environment(const Environment& other) = default;
Environment& Environment::operator=(const Environment& other) = default;
Environment::Environment(Environment&& other) noexcept = default;
Environment& Environment::operator=(Environment&& other) noexcept = default;

void Environment::detach() {
  if (!data_) {
    data_ = std::make_shared<detail::EnvironmentData>();
    data_->formatter = default_format;
    data_->builtins = &detail::builtin_tables();
  } else if (data_.use_count() > 1) {
    data_ = std::make_shared<detail::EnvironmentData>(*data_);
  }
}

void Environment::set_trim_blocks(bool on) {
  detach();
  data_->trim_blocks = on;
}
void Environment::set_lstrip_blocks(bool on) {
  detach();
  data_->lstrip_blocks = on;
}
void Environment::set_keep_trailing_newline(bool on) {
  detach();
  data_->keep_trailing_newline = on;
}
bool Environment::trim_blocks() const noexcept { return data_->trim_blocks; }
bool Environment::lstrip_blocks() const noexcept { return data_->lstrip_blocks; }
bool Environment::keep_trailing_newline() const noexcept { return data_->keep_trailing_newline; }

Result<void> Environment::set_syntax(SyntaxConfig syntax) {
  const std::string* starts[] = {&syntax.block_start, &syntax.variable_start,
                                 &syntax.comment_start};
  for (int i = 0; i < 3; ++i) {
    if (starts[i]->empty()) return fail(ErrorKind::InvalidDelimiter);
    for (int j = i + 1; j < 3; ++j) {
      if (*starts[i] == *starts[j]) return fail(ErrorKind::InvalidDelimiter);
    }
  }
  detach();
  data_->syntax = std::move(syntax);
  return {};
}

const SyntaxConfig& Environment::syntax() const noexcept { return data_->syntax; }

void Environment::set_auto_escape_callback(AutoEscapeCallback callback) {
  detach();
  data_->auto_escape = std::move(callback);
}
void Environment::set_formatter(Formatter formatter) {
  detach();
  data_->formatter = formatter ? std::move(formatter) : Formatter(default_format);
}
void Environment::add_filter(std::string name, FilterFn filter) {
  detach();
  data_->filters.insert_or_assign(std::move(name), std::move(filter));
}
void Environment::add_test(std::string name, TestFn test) {
  detach();
  data_->tests.insert_or_assign(std::move(name), std::move(test));
}
void Environment::add_function(std::string name, FunctionFn function) {
  detach();
  data_->functions.insert_or_assign(std::move(name), std::move(function));
}
void Environment::set_unknown_method_callback(UnknownMethodCallback callback) {
  detach();
  data_->unknown_method = std::move(callback);
}

namespace detail {
namespace {
template <class Table>
const typename Table::mapped_type* find_in(const Table& own, const Table& builtin,
                                           std::string_view name) noexcept {
  if (!own.empty()) {
    if (auto it = own.find(name); it != own.end()) return &it->second;
  }
  if (auto it = builtin.find(name); it != builtin.end()) return &it->second;
  return nullptr;
}
}  // namespace

const FilterFn* find_filter(const EnvironmentData& env, std::string_view name) noexcept {
  return find_in(env.filters, env.builtins->filters, name);
}
const TestFn* find_test(const EnvironmentData& env, std::string_view name) noexcept {
  return find_in(env.tests, env.builtins->tests, name);
}
const FunctionFn* find_function(const EnvironmentData& env, std::string_view name) noexcept {
  return find_in(env.functions, env.builtins->functions, name);
}
}  // namespace detail

const FilterFn* Environment::find_filter(std::string_view name) const noexcept {
  return detail::find_filter(*data_, name);
}
const TestFn* Environment::find_test(std::string_view name) const noexcept {
  return detail::find_test(*data_, name);
}
const FunctionFn* Environment::find_function(std::string_view name) const noexcept {
  return detail::find_function(*data_, name);
}
const Formatter& Environment::formatter() const noexcept { return data_->formatter; }
const UnknownMethodCallback* Environment::unknown_method_callback() const noexcept {
  return data_->unknown_method ? &data_->unknown_method : nullptr;
}
EscapeChoice Environment::escape_for(std::string_view template_name) const {
  return data_->auto_escape ? data_->auto_escape(template_name) : EscapeChoice{};
}

Result<std::string> Environment::render_named_str(std::string_view name, std::string_view source,
                                                  const json::Object& context) const {
  return detail::compile_and_render(*this, name, source, context);
}

Result<Template> Environment::template_from_named_str(std::string_view name,
                                                      std::string_view source) const {
  auto program = detail::compile_program(data_, name, source);
  if (!program) return std::unexpected(std::move(program.error()));
  return Template(std::move(*program));
}

Result<std::string> Template::render(const json::Object& context) const {
  return detail::render_program(*program_, context);
}

std::string_view Template::name() const noexcept { return detail::program_name(*program_); }

}  // namespace korvel::engine
