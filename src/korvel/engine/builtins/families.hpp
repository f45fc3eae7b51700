// Internal: the families of built-ins, each adding its entries to the engine's name tables; the
// registry (registry.cc) calls them all.
#pragma once

#include "korvel/engine/function.hpp"

namespace korvel::engine::builtins::detail {

void add_text_filters(FilterTable& filters);       // filters_text.cc
void add_layout_filters(FilterTable& filters);     // filters_layout.cc
void add_sequence_filters(FilterTable& filters);   // filters_sequence.cc
void add_number_filters(FilterTable& filters);     // filters_number.cc
void add_serialize_filters(FilterTable& filters);  // filters_serialize.cc
void add_tests(TestTable& tests);                  // tests.cc
void add_functions(FunctionTable& functions);      // functions.cc

}  // namespace korvel::engine::builtins::detail
