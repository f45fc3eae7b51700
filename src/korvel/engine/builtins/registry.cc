// korvel::engine::builtins registry — the name tables of built-ins (filled as built-ins are added).
#include "korvel/engine/builtins/builtins.hpp"

namespace korvel::engine::builtins {

void register_filters(FilterTable& /*filters*/) {}
void register_tests(TestTable& /*tests*/) {}
void register_functions(FunctionTable& /*functions*/) {}

}  // namespace korvel::engine::builtins
