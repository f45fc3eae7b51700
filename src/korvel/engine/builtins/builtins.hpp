// korvel::engine::builtins — the built-in filters, tests and functions (range, namespace, upper,
// join, ...). The Environment constructor fills its tables through these three entry points.
#pragma once

#include "korvel/engine/function.hpp"

namespace korvel::engine::builtins {

void register_filters(FilterTable& filters);
void register_tests(TestTable& tests);
void register_functions(FunctionTable& functions);

}  // namespace korvel::engine::builtins
