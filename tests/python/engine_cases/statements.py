"""if, for and the loop variable, set and its scoping, with, macros and call blocks, filter
blocks, autoescape blocks, blocks, and the statements that need a loader."""

from . import E, J, X

CTX = {
    "items": ["a", "b", "c"],
    "nums": [1, 2, 3, 4, 5, 6],
    "pairs": [["x", 1], ["y", 2]],
    "users": [
        {"name": "ann", "role": "admin", "active": True},
        {"name": "bob", "role": "user", "active": False},
        {"name": "cy", "role": "user", "active": True},
    ],
    "tree": [
        {
            "name": "root",
            "children": [
                {"name": "a", "children": [{"name": "a1", "children": []}]},
                {"name": "b", "children": []},
            ],
        },
    ],
    "conf": {"b": 2, "a": 1, "c": 3},
    "n": 3,
    "text": "x<y",
}

CASES = [
    # if / elif / else.
    J("if_true", "{% if n > 2 %}big{% endif %}", CTX),
    J("if_false_else", "{% if n > 5 %}big{% else %}small{% endif %}", CTX),
    J(
        "if_elif_chain",
        "{% for i in [1, 2, 3, 4] %}{% if i == 1 %}one{% elif i == 2 %}two"
        "{% elif i == 3 %}three{% else %}many{% endif %} {% endfor %}",
    ),
    J("if_nested", "{% if n %}{% if n > 1 %}a{% else %}b{% endif %}{% endif %}", CTX),
    J("if_undefined_false", "{% if missing %}x{% else %}y{% endif %}"),
    J("if_undefined_attr_of_defined", "{% if conf.zzz %}x{% else %}y{% endif %}", CTX),
    J("if_multiline", "start\n{% if n %}\n  inside\n{% endif %}\nend", CTX),
    # for and the loop variable.
    J("for_list", "{% for i in items %}{{{ i }}}{% endfor %}", CTX),
    J("for_string_chars", "{% for ch in 'abc' %}[{{{ ch }}}]{% endfor %}"),
    J("for_dict_keys_sorted_context", "{% for k in conf %}{{{ k }}}{% endfor %}", CTX),
    X(
        "for_dict_items_method_unknown",
        "{% for k, v in conf.items() %}{% endfor %}",
        "unknown method",
        CTX,
    ),
    J("for_dict_items_filter", "{% for k, v in conf|items %}{{{ k }}}={{{ v }}};{% endfor %}", CTX),
    J("for_else_empty", "{% for i in [] %}x{% else %}empty{% endfor %}"),
    J("for_else_not_taken", "{% for i in items %}{{{ i }}}{% else %}empty{% endfor %}", CTX),
    J("for_undefined_iterates_nothing", "{% for i in missing %}x{% else %}none{% endfor %}"),
    J("for_inline_condition", "{% for i in nums if i is even %}{{{ i }}}{% endfor %}", CTX),
    J(
        "for_inline_condition_else",
        "{% for i in nums if i > 10 %}{{{ i }}}{% else %}no{% endfor %}",
        CTX,
    ),
    J(
        "for_condition_loop_index",
        "{% for i in nums if i is odd %}{{{ loop.index }}}/{{{ loop.length }}} {% endfor %}",
        CTX,
    ),
    J("for_tuple_unpack", "{% for a, b in pairs %}{{{ a }}}{{{ b }}}{% endfor %}", CTX),
    J("for_tuple_unpack_parens", "{% for (a, b) in pairs %}{{{ b }}}{{{ a }}}{% endfor %}", CTX),
    J("loop_index", "{% for i in items %}{{{ loop.index }}}{{{ loop.index0 }}} {% endfor %}", CTX),
    J(
        "loop_revindex",
        "{% for i in items %}{{{ loop.revindex }}}{{{ loop.revindex0 }}} {% endfor %}",
        CTX,
    ),
    J(
        "loop_first_last",
        "{% for i in items %}{% if loop.first %}<{% endif %}{{{ i }}}"
        "{% if loop.last %}>{% endif %}{% endfor %}",
        CTX,
    ),
    J("loop_length", "{% for i in items %}{{{ loop.length }}}{% endfor %}", CTX),
    J(
        "loop_previtem_nextitem",
        "{% for i in items %}({{{ loop.previtem }}},{{{ loop.nextitem }}}){% endfor %}",
        CTX,
    ),
    J("loop_cycle", "{% for i in nums %}{{{ loop.cycle('odd', 'even') }}} {% endfor %}", CTX),
    J(
        "loop_changed",
        "{% for i in [1, 1, 2, 2, 1] %}{% if loop.changed(i) %}{{{ i }}}{% endif %}{% endfor %}",
    ),
    J(
        "loop_depth_flat",
        "{% for i in items %}{{{ loop.depth }}}{{{ loop.depth0 }}}{% endfor %}",
        CTX,
    ),
    J(
        "loop_nested_outer",
        "{% for a in [1, 2] %}{% set outer = loop %}{% for b in 'xy' %}"
        "{{{ outer.index }}}{{{ loop.index }}} {% endfor %}{% endfor %}",
    ),
    J(
        "loop_break",
        "{% for i in nums %}{% if i > 3 %}{% break %}{% endif %}{{{ i }}}{% endfor %}",
        CTX,
    ),
    J(
        "loop_continue",
        "{% for i in nums %}{% if i is even %}{% continue %}{% endif %}{{{ i }}}{% endfor %}",
        CTX,
    ),
    J(
        "loop_break_inner_only",
        "{% for a in [1, 2] %}{% for b in [1, 2, 3] %}{% if b == 2 %}"
        "{% break %}{% endif %}{{{ a }}}{{{ b }}} {% endfor %}{% endfor %}",
    ),
    J("loop_range", "{% for i in range(3) %}{{{ i }}}{% endfor %}"),
    J(
        "loop_over_map_of_lists",
        "{% for u in users %}{{{ u.name }}}:{{{ u['role'] }}} {% endfor %}",
        CTX,
    ),
    J("loop_var_not_leaking", "{% for i in items %}{% endfor %}[{{{ i }}}]", CTX),
    J("loop_shadows_outer", "{% set i = 'out' %}{% for i in items %}{% endfor %}{{{ i }}}", CTX),
    J(
        "loop_recursive",
        "{% for node in tree recursive %}{{{ node.name }}}"
        "{% if node.children %}({{{ loop(node.children) }}}){% endif %}{% endfor %}",
        CTX,
    ),
    J(
        "loop_recursive_depth",
        "{% for node in tree recursive %}{{{ node.name }}}{{{ loop.depth }}}"
        "{{{ loop.depth0 }}} {{{ loop(node.children) }}}{% endfor %}",
        CTX,
    ),
    J(
        "loop_recursive_multiline",
        "{% for node in tree recursive %}\n"
        "{{{ '  ' * loop.depth0 }}}- {{{ node.name }}}\n"
        "{% if node.children %}\n{{{ loop(node.children) }}}{% endif %}\n{% endfor %}",
        CTX,
    ),
    # set and its scoping.
    J("set_simple", "{% set a = 5 %}{{{ a * 2 }}}"),
    J("set_tuple_unpack", "{% set a, b = 1, 2 %}{{{ b }}}{{{ a }}}"),
    J("set_tuple_unpack_list", "{% set a, b = ['x', 'y'] %}{{{ a }}}{{{ b }}}"),
    J("set_shadows_context", "{% set n = 10 %}{{{ n }}}", CTX),
    J("set_block", "{% set block_text %}hello {{{ n }}}{% endset %}[{{{ block_text }}}]", CTX),
    J("set_block_multiline", "{% set t %}\nline1\n  line2\n{% endset %}{{{ t }}}|"),
    J("set_block_filtered", "{% set t | upper | replace('L', '_') %}hello{% endset %}{{{ t }}}"),
    J(
        "set_in_loop_not_visible_after",
        "{% set c = 0 %}{% for i in items %}{% set c = c + 1 %}{% endfor %}{{{ c }}}",
        CTX,
    ),
    J(
        "set_in_loop_visible_inside",
        "{% for i in items %}{% set c = i ~ '!' %}{{{ c }}}{% endfor %}",
        CTX,
    ),
    J("set_in_if_visible_after", "{% if true %}{% set x = 'in' %}{% endif %}{{{ x }}}"),
    J(
        "set_in_macro_local",
        "{% set v = 'outer' %}{% macro m() %}{% set v = 'inner' %}{{{ v }}}"
        "{% endmacro %}{{{ m() }}}{{{ v }}}",
    ),
    J(
        "namespace_counter",
        "{% set ns = namespace(count=0) %}{% for i in items %}"
        "{% set ns.count = ns.count + 1 %}{% endfor %}{{{ ns.count }}}",
        CTX,
    ),
    J(
        "namespace_found_flag",
        "{% set ns = namespace(found='no') %}{% for u in users %}"
        "{% if u.name == 'bob' %}{% set ns.found = u.role %}{% endif %}{% endfor %}"
        "{{{ ns.found }}}",
        CTX,
    ),
    J("namespace_attr_added", "{% set ns = namespace() %}{% set ns.a = 'x' %}{{{ ns.a }}}"),
    J("set_then_reset", "{% set a = 1 %}{% set a = a + 1 %}{{{ a }}}"),
    J("set_list_then_index", "{% set l = [10, 20] %}{{{ l[1] }}}"),
    # with.
    J("with_scope", "{% with a = 1, b = 2 %}{{{ a + b }}}{% endwith %}[{{{ a }}}]"),
    J("with_sees_outer", "{% with a = n * 2 %}{{{ a }}}{{{ n }}}{% endwith %}", CTX),
    J(
        "with_set_inside_local",
        "{% set a = 'o' %}{% with %}{% set a = 'i' %}{{{ a }}}{% endwith %}{{{ a }}}",
    ),
    # Macros.
    J("macro_simple", "{% macro hi(name) %}Hi {{{ name }}}!{% endmacro %}{{{ hi('you') }}}"),
    J(
        "macro_default_args",
        "{% macro f(a, b='B', c=3) %}{{{ a }}}{{{ b }}}{{{ c }}}{% endmacro %}"
        "{{{ f(1) }}} {{{ f(1, 2) }}} {{{ f(1, c='C') }}}",
    ),
    J(
        "macro_keyword_call",
        "{% macro f(a, b) %}{{{ a }}}-{{{ b }}}{% endmacro %}{{{ f(b=2, a=1) }}}",
    ),
    J(
        "macro_missing_arg_undefined",
        "{% macro f(a, b) %}[{{{ a }}}][{{{ b }}}]{% endmacro %}{{{ f(1) }}}",
    ),
    J(
        "macro_varargs",
        "{% macro f(a) %}{{{ a }}}:{{{ varargs|join(',') }}}{% endmacro %}{{{ f(1, 2, 3) }}}",
    ),
    J(
        "macro_kwargs",
        "{% macro f() %}{% for k, v in kwargs|dictsort %}{{{ k }}}={{{ v }}} "
        "{% endfor %}{% endmacro %}{{{ f(z=1, a=2) }}}",
    ),
    J("macro_sees_context", "{% macro f() %}{{{ n }}}{% endmacro %}{{{ f() }}}", CTX),
    J(
        "macro_recursive",
        "{% macro fact(k) %}{% if k <= 1 %}1{% else %}{{{ k * fact(k - 1)|int }}}"
        "{% endif %}{% endmacro %}{{{ fact(5) }}}",
    ),
    J("macro_output_is_text", "{% macro f() %}12{% endmacro %}{{{ f() ~ '3' }}}"),
    J(
        "macro_in_loop",
        "{% macro b(x) %}<{{{ x }}}>{% endmacro %}{% for i in items %}{{{ b(i) }}}{% endfor %}",
        CTX,
    ),
    J(
        "macro_whitespace",
        "{% macro row(k, v) %}\n{{{ k }}}: {{{ v }}}\n{% endmacro %}\n"
        "{% for k, v in conf|dictsort %}\n{{{ row(k, v) }}}{% endfor %}",
        CTX,
    ),
    J(
        "macro_caller",
        "{% macro box() %}[{{{ caller() }}}]{% endmacro %}{% call box() %}inside{% endcall %}",
    ),
    J(
        "macro_caller_args",
        "{% macro each(xs) %}{% for x in xs %}{{{ caller(x) }}}{% endfor %}"
        "{% endmacro %}{% call(item) each(items) %}<{{{ item }}}>{% endcall %}",
        CTX,
    ),
    J(
        "macro_caller_default_arg",
        "{% macro m() %}{{{ caller(1) }}}|{{{ caller(1, 2) }}}"
        "{% endmacro %}{% call(a, b='d') m() %}{{{ a }}}{{{ b }}}{% endcall %}",
    ),
    J(
        "macro_caller_twice",
        "{% macro twice() %}{{{ caller() }}}{{{ caller() }}}{% endmacro %}"
        "{% call twice() %}ab{% endcall %}",
    ),
    J(
        "macro_caller_sees_outer",
        "{% macro w() %}{{{ caller() }}}{% endmacro %}{% set v = 'o' %}"
        "{% call w() %}{{{ v }}}{{{ n }}}{% endcall %}",
        CTX,
    ),
    J(
        "macro_nested_call_blocks",
        "{% macro p(t) %}{{{ t }}}({{{ caller() }}}){% endmacro %}"
        "{% call p('a') %}{% call p('b') %}c{% endcall %}{% endcall %}",
    ),
    J(
        "macro_multiline_call",
        "{% macro list(xs) %}\n<ul>\n{% for x in xs %}\n  <li>{{{ caller(x) }}}"
        "</li>\n{% endfor %}\n</ul>\n{% endmacro %}\n{% call(x) list(items) %}{{{ x|upper }}}"
        "{% endcall %}",
        CTX,
    ),
    X(
        "macro_too_many_args",
        "{% macro f(a) %}{{{ a }}}{% endmacro %}{{{ f(1, 2) }}}",
        "too many arguments",
    ),
    # Filter blocks.
    J("filter_block_upper", "{% filter upper %}hello {{{ n }}}{% endfilter %}", CTX),
    J("filter_block_chain", "{% filter trim|replace('a', 'o') %}  banana  {% endfilter %}"),
    J("filter_block_with_args", "{% filter indent(2) %}a\nb\nc{% endfilter %}"),
    J(
        "filter_block_nested",
        "{% filter upper %}x{% filter lower %}Y{% endfilter %}z{% endfilter %}",
    ),
    # autoescape blocks.
    J(
        "autoescape_on_block",
        "{% autoescape true %}{{{ text }}}{% endautoescape %}|{{{ text }}}",
        CTX,
    ),
    J("autoescape_off_block", "{% autoescape false %}{{{ text }}}{% endautoescape %}", CTX),
    J("autoescape_safe_kept", "{% autoescape true %}{{{ text|safe }}}{% endautoescape %}", CTX),
    J("autoescape_literal_text_kept", "{% autoescape true %}<b>{{{ '&' }}}</b>{% endautoescape %}"),
    J("autoescape_quotes", "{% autoescape true %}{{{ '\"q\" \\'s\\'' }}}{% endautoescape %}"),
    # Blocks render in place.
    J("block_in_place", "a{% block body %}B{{{ n }}}{% endblock %}c", CTX),
    J("block_named_end", "{% block x %}X{% endblock x %}"),
    J("block_multiline", "head\n{% block content %}\n  body\n{% endblock %}\ntail"),
    # No loader: include, import, from-import and extends.
    X("include_fails", "{% include 'other.txt' %}", "template not found"),
    X("import_fails", "{% import 'macros.txt' as m %}{{{ m.x() }}}", "template not found"),
    X("from_import_fails", "{% from 'macros.txt' import x %}", "template not found"),
    X("extends_fails", "{% extends 'base.txt' %}", "template not found"),
    X("include_line_reported", "a\nb\n{% include 'x' %}", "template not found", line=3),
    # Display of values built by statements.
    E(
        "loop_cycle_bool_display",
        "{% for i in [1, 2] %}{{{ loop.first }}} {% endfor %}",
        "true false ",
        "display",
    ),
    E("set_list_prints", "{% set l = [1, 'two'] %}{{{ l }}}", '[1, "two"]', "display"),
    E(
        "varargs_prints",
        "{% macro f() %}{{{ varargs }}}{% endmacro %}{{{ f(1, 'a') }}}",
        '[1, "a"]',
        "display",
    ),
    J("loop_previtem_first_undefined", "{% for i in [1] %}[{{{ loop.previtem }}}]{% endfor %}"),
]

# Scoping and loop corners where engines tend to part ways.
CASES += [
    J(
        "macro_sees_later_toplevel_set",
        "{% macro m() %}{{{ x }}}{% endmacro %}{% set x = 1 %}{{{ m() }}}",
    ),
    J(
        "macro_reassigns_outer_name",
        "{% set x = 1 %}{% macro m() %}{% set x = x + 1 %}{{{ x }}}"
        "{% endmacro %}{{{ m() }}}{{{ x }}}",
    ),
    J(
        "set_in_if_in_loop",
        "{% for i in [1, 2] %}{% if i == 1 %}{% set y = 'a' %}{% else %}"
        "{% set y = 'b' %}{% endif %}{{{ y }}}{% endfor %}",
    ),
    J(
        "set_block_in_loop",
        "{% for i in [1, 2] %}{% set t %}<{{{ i }}}>{% endset %}{{{ t }}}{% endfor %}",
    ),
    J(
        "macro_defined_in_loop",
        "{% for i in [1, 2] %}{% macro m() %}{{{ i }}}{% endmacro %}{{{ m() }}}{% endfor %}",
    ),
    J(
        "loop_in_call_body_sees_outer_loop",
        "{% macro w() %}({{{ caller() }}}){% endmacro %}"
        "{% for i in 'ab' %}{% call w() %}{{{ loop.index }}}{{{ i }}}{% endcall %}{% endfor %}",
    ),
    X(
        "loop_undefined_in_else",
        "{% for i in [] %}{% else %}[{{{ loop.index }}}]{% endfor %}",
        "undefined value",
    ),
    J(
        "loop_changed_many_args",
        "{% for a, b in [[1, 1], [1, 1], [1, 2], [2, 2]] %}"
        "{{{ 'c' if loop.changed(a, b) else '-' }}}{% endfor %}",
    ),
    J(
        "loop_nextitem_with_condition",
        "{% for i in range(6) if i is odd %}{{{ loop.nextitem }}},{% endfor %}",
    ),
    J(
        "loop_cycle_recursive",
        "{% for n in tree recursive %}{{{ loop.cycle('x', 'y') }}}"
        "{{{ loop(n.children) }}}{% endfor %}",
        CTX,
    ),
    J(
        "loop_nested_namespace",
        "{% set ns = namespace(s='') %}{% for a in [1, 2] %}"
        "{% for b in [3, 4] %}{% set ns.s = ns.s ~ a ~ b ~ ' ' %}{% endfor %}{% endfor %}"
        "{{{ ns.s }}}",
    ),
    J(
        "with_in_loop",
        "{% for i in [1, 2] %}{% with j = i * 10 %}{{{ j }}} {% endwith %}{% endfor %}",
    ),
    J(
        "loop_var_reassigned_inside",
        "{% for i in [1, 2] %}{% set i = i * 5 %}{{{ i }}}{% endfor %}",
    ),
    J(
        "loop_revindex_filtered",
        "{% for i in range(10) if i > 6 %}{{{ loop.revindex }}}{% endfor %}",
    ),
    J("if_elif_whitespace", "{% if false %}\n  a\n{% elif true %}\n  b\n{% endif %}\nc"),
    # Jinja2 reads a context variable as undefined inside a loop or a block set when the template
    # sets the same name at the top level afterwards; the engine reads the context value.
    E(
        "context_name_set_later_read_in_loop",
        "{% for i in [1] %}[{{{ c }}}]{% endfor %}{% set c = 3 %}{{{ c }}}",
        "[0]3",
        "sound",
        {"c": 0},
    ),
    E(
        "context_name_read_in_own_block_set",
        "{% set c %}[{{{ c }}}]{% endset %}{{{ c }}}",
        "[0]",
        "sound",
        {"c": 0},
    ),
    J("block_set_reads_unset_own_name", "{% set x %}[{{{ x }}}]{% endset %}{{{ x }}}"),
    J("top_level_read_before_set", "[{{{ c }}}]{% set c = 3 %}{{{ c }}}", {"c": 0}),
    X("set_attr_on_non_namespace", "{% set d = {} %}{% set d.x = 1 %}", "invalid operation"),
]
