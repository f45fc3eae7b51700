"""Safe strings and autoescape blocks working together with operators and filters, plus a few
statement forms of Jinja2 that are easy to get subtly wrong (nested unpacking, break with else,
macro defaults that name earlier arguments)."""

from . import E, J, X

AE = "{% autoescape true %}"
END = "{% endautoescape %}"

# Values come from the context: Jinja2 folds constant expressions at compile time, and folding
# drops the safe mark ("'<' ~ ('<b>'|safe)" folds to a plain string), which is not the language's
# meaning.
CTX = {"lt": "<", "b": "<b>", "i": "<i>%s</i>", "amp": "&amp;", "p": "<p>"}

CASES = [
    J("markup_concat_escapes_plain_side", AE + "{{{ lt ~ (b|safe) }}}" + END, CTX),
    J("markup_concat_without_autoescape", "{{{ lt ~ (b|safe) }}}", CTX),
    J("markup_plus_escapes_plain_side", "{{{ (b|safe) + lt }}}", CTX),
    J(
        "markup_plus_under_autoescape",
        AE + "{{{ (b|safe) + lt }}}|{{{ lt + (b|safe) }}}" + END,
        CTX,
    ),
    J("markup_upper_stays_safe", AE + "{{{ b|safe|upper }}}|{{{ b|upper }}}" + END, CTX),
    J("markup_format_escapes_arguments", AE + "{{{ i|safe|format(lt) }}}" + END, CTX),
    J("markup_length_and_index", "{{{ b|safe|length }}} {{{ (b|safe)[1] }}}", CTX),
    J(
        "markup_nested_autoescape",
        AE + "{{{ lt }}}{% autoescape false %}{{{ lt }}}{% endautoescape %}{{{ lt }}}" + END,
        CTX,
    ),
    J(
        "markup_macro_output_not_escaped_again",
        AE + "{% macro m(x) %}<i>{{{ x }}}</i>{% endmacro %}{{{ m(lt) }}}" + END,
        CTX,
    ),
    J("markup_set_block_escaped", AE + "{% set t | e %}<b>{% endset %}{{{ t }}}" + END),
    J("markup_tojson_not_escaped_again", AE + "{{{ {'a': '<&>'}|tojson }}}" + END),
    J("markup_escape_filter_on_safe", AE + "{{{ lt|e|e }}}{{{ amp|safe|e }}}" + END, CTX),
    J("markup_join_escapes_items", AE + "{{{ [lt, b|safe]|join('&') }}}" + END, CTX),
    J(
        "markup_default_safe",
        AE + "{{{ missing|default(b|safe) }}}{{{ missing|d(lt) }}}" + END,
        CTX,
    ),
    J("markup_string_filter", AE + "{{{ (lt|safe)|string }}}{{{ 5|string }}}" + END, CTX),
    J(
        "markup_call_block",
        AE + "{% macro w() %}<p>{{{ caller() }}}</p>{% endmacro %}"
        "{% call w() %}<b>{{{ lt }}}{% endcall %}" + END,
        CTX,
    ),
    J("markup_test_escaped_after_plus", "{{{ 'Y' if ((b|safe) + lt) is escaped else 'N' }}}", CTX),
    # Statement forms.
    J(
        "for_nested_unpacking",
        "{% for a, (b, c) in [[1, [2, 3]], [4, [5, 6]]] %}{{{ a }}}{{{ b }}}{{{ c }}} {% endfor %}",
    ),
    J("set_swap", "{% set a, b = 1, 2 %}{% set a, b = b, a %}{{{ a }}}{{{ b }}}"),
    # Jinja2 runs the else block after a break in the first iteration (its "iterated" flag is set
    # at the end of an iteration); an iteration did take place, so the engine does not.
    E(
        "for_break_then_else",
        "{% for i in range(3) %}{% break %}{% else %}e{% endfor %}|"
        "{% for i in [] %}{% else %}e{% endfor %}",
        "|e",
        "sound",
    ),
    J(
        "for_break_later_then_else",
        "{% for i in range(3) %}{{{ i }}}{% if i == 1 %}{% break %}"
        "{% endif %}{% else %}e{% endfor %}",
    ),
    J(
        "for_continue_on_last",
        "{% for i in range(3) %}{% if loop.last %}{% continue %}{% endif %}{{{ i }}}{% endfor %}",
    ),
    J(
        "macro_default_names_earlier_argument",
        "{% macro m(a, b=a * 2) %}{{{ a }}}-{{{ b }}}{% endmacro %}{{{ m(3) }}} {{{ m(3, 1) }}}",
    ),
    X(
        "with_targets_see_outer_scope",
        "{% with a = 1, b = a + 1 %}{{{ b }}}{% endwith %}",
        "undefined value",
    ),
    J(
        "loop_changed_in_recursive",
        "{% for n in [{'v': 1, 'c': [{'v': 1, 'c': []}]}, "
        "{'v': 1, 'c': []}] recursive %}{{{ 'c' if loop.changed(n.v) else '-' }}}"
        "{{{ loop(n.c) }}}{% endfor %}",
    ),
    J(
        "loop_cycle_nested",
        "{% for a in [1, 2] %}{% for b in [1, 2, 3] %}"
        "{{{ loop.cycle('x', 'y') }}}{% endfor %}|{% endfor %}",
    ),
]
