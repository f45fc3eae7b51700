// Temporary: compile/render entry points until the evaluator lands.
#include "korvel/engine/environment_data.hpp"

namespace korvel::engine::detail {

struct Program {
  std::string name;
};

Result<std::shared_ptr<const Program>> compile_program(std::shared_ptr<const EnvironmentData>,
                                                       std::string_view,
                                                       std::string_view) {
  return fail(ErrorKind::InvalidOperation, "not implemented yet");
}
Result<std::string> render_program(const Program&, const json::Object&) {
  return fail(ErrorKind::InvalidOperation, "not implemented yet");
}
Result<std::string> compile_and_render(const EnvironmentData&, std::string_view,
                                       std::string_view, const json::Object&) {
  return fail(ErrorKind::InvalidOperation, "not implemented yet");
}
std::string_view program_name(const Program& program) noexcept { return program.name; }

}  // namespace korvel::engine::detail
