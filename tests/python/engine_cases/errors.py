"""Failures: unpacking, keys, calls, and the limits that keep hostile templates from exhausting
the native stack or memory of the caller's process."""

from . import G, X

DEEP = 20000

CASES = [
    G("zero_to_negative_power", "{{{ 0 ** -1 }}}"),
    G("zero_float_to_negative_power", "{{{ 0.0 ** -2 }}}"),
    X("unpack_too_few", "{% for a, b in [1, 2] %}{% endfor %}", "cannot unpack"),
    X("unpack_set_count", "{% set a, b = [1, 2, 3] %}", "cannot unpack"),
    X("not_a_key_list", "{{{ {[1]: 2} }}}", "not a key type"),
    X("iterate_integer", "{% for i in 5 %}{% endfor %}", "invalid operation"),
    X("call_non_callable", "{{{ n() }}}", "invalid operation", {"n": 1}),
    X(
        "macro_unknown_keyword",
        "{% macro f(a) %}{% endmacro %}{{{ f(zz=1) }}}",
        "too many arguments",
    ),
    X("render_error_line", "a\nb\n\n{{{ missing.x }}}", "undefined value", line=4),
    X(
        "render_error_line_in_loop",
        "{% for i in [1] %}\nok\n{{{ i.x.y }}}\n{% endfor %}",
        "undefined value",
        line=3,
    ),
    X(
        "error_line_inside_macro",
        "{% macro m() %}\n{{{ missing.x }}}\n{% endmacro %}\na\n{{{ m() }}}",
        "undefined value",
        line=2,
    ),
    X(
        "error_line_inside_call_body",
        "{% macro m() %}{{{ caller() }}}{% endmacro %}\n"
        "{% call m() %}\n\n{{{ missing.x }}}{% endcall %}",
        "undefined value",
        line=4,
    ),
    X("error_line_multiline_expression", "{{{ 1 +\n  missing.x }}}", "undefined value", line=2),
    X(
        "error_line_in_set_block",
        "x\n{% set t %}\n{{{ 'a'|nosuch }}}\n{% endset %}",
        "unknown filter",
        line=3,
    ),
    X(
        "error_line_in_filter_block",
        "{% filter upper %}\n\n{{{ 1 is nosuch }}}{% endfilter %}",
        "unknown test",
        line=3,
    ),
    X(
        "error_line_after_raw",
        "{% raw %}\n\n{% endraw %}\n{{{ missing.x }}}",
        "undefined value",
        line=4,
    ),
    X(
        "error_line_after_comment",
        "{# one\ntwo\nthree #}{{{ missing.x }}}",
        "undefined value",
        line=3,
    ),
    X("syntax_error_line_unclosed_if", "a\n{% if true %}\nb", "syntax error"),
    # Limits: errors instead of a crash.
    X(
        "limit_nested_parentheses",
        "{{{ " + "(" * DEEP + "1" + ")" * DEEP + " }}}",
        "syntax error",
        why="bound",
    ),
    X("limit_nested_lists", "{{{ " + "[" * DEEP + "]" * DEEP + " }}}", "syntax error", why="bound"),
    X("limit_nested_unary", "{{{ " + "-" * DEEP + "1 }}}", "syntax error", why="bound"),
    X("limit_nested_not", "{{{ " + "not " * DEEP + "1 }}}", "syntax error", why="bound"),
    X(
        "limit_nested_filters_in_parens",
        "{{{ " + "(" * DEEP + "'a'" + ")|upper" * DEEP + " }}}",
        "syntax error",
        why="bound",
    ),
    X(
        "limit_nested_ifs",
        "{% if true %}" * DEEP + "x" + "{% endif %}" * DEEP,
        "syntax error",
        why="bound",
    ),
    X(
        "limit_nested_fors",
        "{% for i in [1] %}" * DEEP + "x" + "{% endfor %}" * DEEP,
        "syntax error",
        why="bound",
    ),
    # Doubling a value forty times asks for a terabyte: a bounded error, not an allocation failure
    # that ends the process.
    X(
        "limit_string_concat_doubling",
        "{% set s = namespace(v='x') %}{% for i in range(40) %}"
        "{% set s.v = s.v ~ s.v %}{% endfor %}{{{ s.v|length }}}",
        "invalid operation",
        why="bound",
    ),
    X(
        "limit_string_add_doubling",
        "{% set s = namespace(v='x') %}{% for i in range(40) %}"
        "{% set s.v = s.v + s.v %}{% endfor %}{{{ s.v|length }}}",
        "invalid operation",
        why="bound",
    ),
    X(
        "limit_list_add_doubling",
        "{% set s = namespace(v=[1]) %}{% for i in range(40) %}"
        "{% set s.v = s.v + s.v %}{% endfor %}{{{ s.v|length }}}",
        "invalid operation",
        why="bound",
    ),
    X(
        "limit_output_doubling",
        "{% set s = namespace(v='x') %}{% for i in range(40) %}"
        "{% set s.v %}{{{ s.v }}}{{{ s.v }}}{% endset %}{% endfor %}{{{ s.v|length }}}",
        "failed to write output",
        why="bound",
    ),
    # The display form of a value that shares one list 29 levels deep is 500 million items long.
    X(
        "limit_display_of_shared_nesting",
        "{% set s = namespace(v=1) %}{% for i in range(29) %}"
        "{% set s.v = [s.v, s.v] %}{% endfor %}{{{ s.v|string|length }}}",
        "invalid operation",
        why="bound",
    ),
    X(
        "limit_tojson_of_shared_nesting",
        "{% set s = namespace(v=1) %}{% for i in range(29) %}"
        "{% set s.v = [s.v, s.v] %}{% endfor %}{{{ s.v|tojson|length }}}",
        "invalid operation",
        why="bound",
    ),
    X(
        "limit_macro_recursion",
        "{% macro f() %}{{{ f() }}}{% endmacro %}{{{ f() }}}",
        "invalid operation",
        why="bound",
    ),
    X(
        "limit_macro_recursion_args",
        "{% macro f(n) %}{{{ f(n + 1) }}}{% endmacro %}{{{ f(0) }}}",
        "invalid operation",
        why="bound",
    ),
    X(
        "limit_recursive_loop",
        "{% for x in [1] recursive %}{{{ loop([1]) }}}{% endfor %}",
        "invalid operation",
        why="bound",
    ),
    X(
        "limit_caller_recursion",
        "{% macro f() %}{{{ caller() }}}{% call f() %}x{% endcall %}"
        "{% endmacro %}{% call f() %}y{% endcall %}",
        "invalid operation",
        why="bound",
    ),
    X(
        "call_block_without_caller",
        "{% macro f() %}{% endmacro %}{% call f() %}x{% endcall %}",
        "too many arguments",
    ),
]
