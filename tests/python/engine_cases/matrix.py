"""Generated cases: every built-in filter and test, and every binary operator, applied to a
spread of values, written as literals and again read from the JSON context (the engine uses the
context's JSON tree without copying it, which is a path of its own). Each result goes through
tojson, whose text the engine writes as Jinja2 does, so results compare without depending on how
values display. Where Jinja2 fails, the engine must fail too (a filter given a value it cannot
take is an error, not a guess)."""

import ast

from . import G

# (label, literal, plain): plain values display alike in both engines (no booleans, none, maps,
# nested strings).
VALUES = [
    ("int0", "0", True),
    ("int7", "7", True),
    ("neg3", "-3", True),
    ("float", "2.5", True),
    ("negfloat", "-0.5", True),
    ("empty", "''", True),
    ("words", "'Hello wOrld'", True),
    ("spaced", "'  a-b c  '", True),
    ("unicode", "'Äöü straße'", True),
    ("digits", "'12'", True),
    ("decimal", "'3.5'", True),
    ("nolist", "[]", True),
    ("ints", "[3, 1, 2, 3]", True),
    ("strs", "['b', 'A', 'c', 'a']", False),
    ("records", "[{'n': 'x', 'v': 2}, {'n': 'y', 'v': 0}, {'n': 'x', 'v': 1}]", False),
    ("map", "{'b': 1, 'a': 2}", False),
    ("none", "none", False),
    ("true", "true", False),
]

# Filters whose result embeds the text of the value: only for plain values.
TEXT_FILTERS = {
    "capitalize",
    "center",
    "escape",
    "format",
    "indent",
    "join",
    "lower",
    "replace",
    "string",
    "title",
    "trim",
    "upper",
    "urlencode",
    "wordcount",
    "safe",
}
# Filters that return an iterator in Jinja2.
LAZY_FILTERS = {
    "batch",
    "map",
    "reject",
    "rejectattr",
    "reverse",
    "select",
    "selectattr",
    "slice",
    "unique",
    "items",
}

FILTERS = [
    "abs",
    "attr('n')",
    "batch(2)",
    "batch(3, 0)",
    "capitalize",
    "count",
    "default('d')",
    "default('d', true)",
    "dictsort",
    "dictsort(by='value')",
    "escape",
    "first",
    "float",
    "groupby('n')",
    "indent(2)",
    "int",
    "int(5)",
    "items",
    "join",
    "join('-')",
    "join(attribute='n')",
    "last",
    "length",
    "list",
    "lower",
    "map('string')",
    "map(attribute='v')",
    "max",
    "min",
    "max(attribute='v')",
    "reject('odd')",
    "rejectattr('v')",
    "replace('a', 'o')",
    "reverse",
    "round",
    "round(1, 'floor')",
    "select('odd')",
    "select",
    "selectattr('v')",
    "selectattr('n', 'eq', 'x')",
    "slice(2)",
    "sort",
    "sort(reverse=true)",
    "sort(attribute='v')",
    "string",
    "sum",
    "sum(attribute='v')",
    "title",
    "trim",
    "unique",
    "upper",
    "urlencode",
    "wordcount",
]

TESTS = [
    "boolean",
    "defined",
    "divisibleby(3)",
    "even",
    "odd",
    "false",
    "true",
    "float",
    "integer",
    "number",
    "string",
    "mapping",
    "sequence",
    "iterable",
    "none",
    "lower",
    "upper",
    "escaped",
    "in([0, 'a', 7])",
    "eq(7)",
    "gt(2)",
    "le('b')",
    "sameas(none)",
    "filter",
    "test",
]

OPERANDS = [
    ("i7", "7"),
    ("i2", "2"),
    ("im3", "-3"),
    ("f15", "1.5"),
    ("s", "'ab'"),
    ("l", "[1, 2]"),
    ("t", "true"),
    ("n", "none"),
]
OPERATORS = [
    ("add", "+"),
    ("sub", "-"),
    ("mul", "*"),
    ("div", "/"),
    ("fdiv", "//"),
    ("mod", "%"),
    ("pow", "**"),
    ("eq", "=="),
    ("lt", "<"),
    ("ge", ">="),
    ("in", "in"),
]


# Where Jinja2's answer is Python's rather than the language's: a list or dict cannot be hashed
# (unique, and the filter/test tests given a non-string), a string % list formats the list as a
# mapping, and a negative base to a fractional power gives a complex number.
def _python_only(expr_parts: tuple[str, ...]) -> bool:
    flt_or_test, label = expr_parts
    if flt_or_test == "unique" and label in ("records",):
        return True
    if flt_or_test in ("filter", "test") and label in ("nolist", "ints", "strs", "records", "map"):
        return True
    return False


def _context_value(literal: str):
    """The JSON value of a literal, for the context form of a case."""
    return ast.literal_eval(literal.replace("none", "None").replace("true", "True"))


def _filter_cases():
    for flt in FILTERS:
        base = flt.split("(")[0]
        text_like = base in TEXT_FILTERS or flt == "map('string')"
        for label, literal, plain in VALUES:
            if (text_like and not plain) or _python_only((flt, label)):
                continue
            tail = f"|{flt}" + ("|list" if base in LAZY_FILTERS else "") + "|tojson }}}"
            name = (
                "gen_filter_"
                + flt.replace("(", "_")
                .replace(")", "")
                .replace("'", "")
                .replace(", ", "_")
                .replace("=", "_")
                + "__"
                + label
            )
            yield G(name, "{{{ (" + literal + ")" + tail)
            yield G(name + "_ctx", "{{{ v" + tail, {"v": _context_value(literal)})


def _test_cases():
    for test in TESTS:
        for label, literal, _ in VALUES:
            if _python_only((test, label)):
                continue
            name = "gen_test_" + test.split("(")[0] + "__" + label
            yield G(name, "{{{ (" + literal + " is " + test + ")|tojson }}}")


def _operator_cases():
    for op_label, op in OPERATORS:
        for a_label, a in OPERANDS:
            for b_label, b in OPERANDS:
                if (op == "%" and a_label == "s") or (
                    op == "**" and a.startswith("-") and b_label == "f15"
                ):
                    continue
                name = f"gen_op_{a_label}_{op_label}_{b_label}"
                yield G(name, "{{{ (" + a + " " + op + " " + b + ")|tojson }}}")


CASES = [*_filter_cases(), *_test_cases(), *_operator_cases()]
