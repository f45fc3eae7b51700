"""The built-in functions: range, dict, namespace, cycler and joiner."""

from . import E, J, X

CASES = [
    J("range_stop", "{{{ range(5)|join(',') }}}"),
    J("range_start_stop", "{{{ range(2, 6)|join(',') }}}"),
    J("range_step", "{{{ range(0, 10, 3)|join(',') }}}"),
    J("range_negative_step", "{{{ range(5, 0, -2)|join(',') }}}"),
    J("range_empty", "[{{{ range(0)|join(',') }}}] [{{{ range(5, 2)|join(',') }}}]"),
    J("range_length", "{{{ range(100)|length }}} {{{ range(10, 100, 7)|length }}}"),
    J(
        "range_in_loop_sum",
        "{% set ns = namespace(t=0) %}{% for i in range(1, 101) %}"
        "{% set ns.t = ns.t + i %}{% endfor %}{{{ ns.t }}}",
    ),
    J("range_at_bound", "{{{ range(100000)|length }}}"),
    X("range_over_bound", "{{{ range(100001)|length }}}", "invalid operation", why="bound"),
    X("range_zero_step", "{{{ range(1, 5, 0)|list|length }}}", "invalid operation"),
    J("dict_kwargs", "{% for k, v in dict(b=2, a=1)|items %}{{{ k }}}{{{ v }}}{% endfor %}"),
    J("dict_lookup", "{{{ dict(x='y').x }}}"),
    J("dict_empty", "{{{ dict()|length }}}"),
    E("dict_prints", "{{{ dict(a=1) }}}", '{"a": 1}', "display"),
    J("namespace_initial", "{% set ns = namespace(a=1, b='x') %}{{{ ns.a }}}{{{ ns.b }}}"),
    J("namespace_missing_attr", "{% set ns = namespace() %}[{{{ ns.zzz }}}]"),
    J(
        "namespace_in_macro",
        "{% set ns = namespace(v=0) %}{% macro bump() %}"
        "{% set ns.v = ns.v + 1 %}{% endmacro %}{{{ bump() }}}{{{ bump() }}}{{{ ns.v }}}",
    ),
    J(
        "cycler_next",
        "{% set c = cycler('a', 'b', 'c') %}{{{ c.next() }}}{{{ c.next() }}}"
        "{{{ c.next() }}}{{{ c.next() }}}",
    ),
    J(
        "cycler_current_reset",
        "{% set c = cycler(1, 2) %}{{{ c.current }}}{{{ c.next() }}}"
        "{{{ c.current }}}{% set _ = c.reset() %}{{{ c.current }}}",
    ),
    J(
        "cycler_in_loop",
        "{% set row = cycler('odd', 'even') %}{% for i in range(3) %}"
        "{{{ row.next() }}} {% endfor %}",
    ),
    J(
        "joiner_default",
        "{% set j = joiner() %}{% for i in range(3) %}{{{ j() }}}{{{ i }}}{% endfor %}",
    ),
    J(
        "joiner_custom",
        "{% set pipe = joiner(' | ') %}{% for w in ['a', 'b', 'c'] %}{{{ pipe() }}}"
        "{{{ w }}}{% endfor %}",
    ),
    J("joiner_skips_first_only", "{% set j = joiner('-') %}{{{ j() }}}x{{{ j() }}}y{{{ j() }}}z"),
    X("function_unknown", "{{{ frobnicate() }}}", "unknown function"),
    X("range_too_many_args", "{{{ range(1, 2, 3, 4) }}}", "too many arguments"),
]
