"""The built-in tests, used with `is` and `is not`, and through select/reject."""

from . import E, J, X


def T(*exprs: str) -> str:
    """One Y or N per condition, so that the case does not depend on how booleans display."""
    return " ".join("{{{ 'Y' if (" + e + ") else 'N' }}}" for e in exprs)


CTX = {
    "n": 4,
    "f": 2.5,
    "s": "Hello",
    "low": "abc",
    "up": "ABC",
    "items": [1, 2],
    "conf": {"a": 1},
    "nothing": None,
    "yes": True,
    "no": False,
}

CASES = [
    J(
        "test_boolean",
        T("yes is boolean", "1 is boolean", "no is boolean", "nothing is boolean"),
        CTX,
    ),
    J(
        "test_defined",
        T(
            "n is defined",
            "missing is defined",
            "missing is not defined",
            "nothing is defined",
            "conf.a is defined",
            "conf.b is defined",
        ),
        CTX,
    ),
    J("test_undefined", T("missing is undefined", "n is undefined"), CTX),
    J(
        "test_divisibleby",
        T("9 is divisibleby 3", "10 is divisibleby(3)", "0 is divisibleby 5"),
        CTX,
    ),
    J("test_even_odd", T("n is even", "n is odd", "3 is odd", "0 is even", "-3 is odd"), CTX),
    J("test_eq_ne", T("n is eq 4", "n is equalto 4", "n is ne 4", "n is ne 5"), CTX),
    J(
        "test_compare",
        T(
            "n is gt 3",
            "n is gt 4",
            "n is ge 4",
            "n is ge 5",
            "n is lt 5",
            "n is lt 4",
            "n is le 4",
            "n is le 3",
        ),
        CTX,
    ),
    J(
        "test_operator_names",
        "{% for op in ['==', '!=', '>', '>=', '<', '<='] %}"
        "{{{ op }}}{{{ [1, 2, 3]|select(op, 2)|join(',') }}} {% endfor %}",
    ),
    J("test_escaped_safe", T("'a'|e is escaped", "'a' is escaped", "'a'|safe is escaped")),
    J(
        "test_false_true",
        T("no is false", "0 is false", "yes is true", "1 is true", "nothing is false"),
        CTX,
    ),
    J("test_filter", T("'upper' is filter", "'nosuch' is filter", "'odd' is filter")),
    J("test_test", T("'odd' is test", "'upper' is test", "'defined' is test")),
    J("test_float", T("f is float", "n is float", "'2.5' is float", "2.0 is float"), CTX),
    J("test_integer", T("n is integer", "f is integer", "yes is integer", "'1' is integer"), CTX),
    J("test_number", T("n is number", "f is number", "s is number", "nothing is number"), CTX),
    J("test_in", T("2 is in items", "5 is in items", "'a' is in conf", "'el' is in s"), CTX),
    J(
        "test_iterable",
        T(
            "items is iterable",
            "s is iterable",
            "conf is iterable",
            "n is iterable",
            "missing is iterable",
        ),
        CTX,
    ),
    J(
        "test_lower_upper",
        T("low is lower", "up is lower", "up is upper", "s is upper", "s is lower"),
        CTX,
    ),
    J("test_mapping", T("conf is mapping", "items is mapping", "s is mapping"), CTX),
    J("test_none", T("nothing is none", "missing is none", "0 is none", "none is none"), CTX),
    J("test_sameas", T("nothing is sameas none", "yes is sameas true", "1 is sameas true"), CTX),
    J(
        "test_sequence",
        T("items is sequence", "s is sequence", "conf is sequence", "n is sequence"),
        CTX,
    ),
    J("test_string", T("s is string", "n is string", "items is string", "missing is string"), CTX),
    J("test_not_negation", T("n is not odd", "s is not string", "not n is odd"), CTX),
    J("test_in_select", "{{{ [1, 'a', 2.5, none, [1]]|select('number')|list|length }}}"),
    J("test_in_reject", "{{{ ['a', 1, 'b']|reject('string')|join }}}"),
    J("test_with_call_syntax", T("n is divisibleby(2)", "n is eq(4)"), CTX),
    J("test_chained_with_and", T("n is even and s is string", "n is odd or s is lower"), CTX),
    # Not in Jinja2.
    E(
        "test_startingwith",
        T("s is startingwith 'He'", "s is startingwith('lo')"),
        "Y N",
        "extra",
        CTX,
    ),
    E("test_endingwith", T("s is endingwith 'lo'", "s is endingwith 'He'"), "Y N", "extra", CTX),
    E("test_safe", T("'a'|safe is safe", "'a' is safe"), "Y N", "extra"),
    E("test_result_prints", "{{{ 3 is odd }}} {{{ 3 is even }}}", "true false", "display"),
    X("test_unknown", "{{{ 1 is nosuchtest }}}", "unknown test"),
    X("test_unknown_line", "\n{% if 1 is nosuchtest %}{% endif %}", "unknown test", line=2),
]

# Corners where engines tend to part ways.
CASES += [
    J("test_number_bool", T("true is number", "true is integer", "1.0 is integer", "1 is float")),
    J("test_range_sequence", T("range(3) is sequence", "range(3) is iterable")),
    J(
        "test_previtem_defined",
        "{% for i in [1, 2] %}{{{ 'Y' if loop.previtem is defined else 'N' }}}{% endfor %}",
    ),
    J("test_eq_bool_int", T("true is eq 1", "false is sameas false", "'a' is in ['a']")),
    J(
        "test_lower_upper_non_strings",
        T("none is lower", "true is lower", "false is lower", "7 is lower", "none is upper"),
    ),
    J(
        "test_lower_upper_mixed",
        T("'abc1' is lower", "'ABC!' is upper", "'' is lower", "'1' is upper"),
    ),
    J(
        "test_divisibleby_negative",
        T("-9 is divisibleby 3", "9 is divisibleby(-3)", "7 is divisibleby 2"),
    ),
]
