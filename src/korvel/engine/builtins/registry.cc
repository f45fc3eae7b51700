// korvel::engine::builtins registry — fills the engine's name tables with every built-in filter,
// test and function (Jinja2's FILTERS / TESTS / DEFAULT_NAMESPACE). Entry points: register_filters,
// register_tests, register_functions.
#include "korvel/engine/builtins/builtins.hpp"
#include "korvel/engine/builtins/families.hpp"

namespace korvel::engine::builtins {

void register_filters(FilterTable& filters) {
  detail::add_text_filters(filters);
  detail::add_layout_filters(filters);
  detail::add_sequence_filters(filters);
  detail::add_number_filters(filters);
  detail::add_serialize_filters(filters);
}

void register_tests(TestTable& tests) { detail::add_tests(tests); }

void register_functions(FunctionTable& functions) { detail::add_functions(functions); }

}  // namespace korvel::engine::builtins
