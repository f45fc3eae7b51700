"""Generated loop cases: every attribute of the loop variable over several kinds of iterable,
with and without an inline condition, printed through tojson (undefined shown as "-")."""

from . import J

ITERABLES = [
    ("list", "[1, 2, 3]"),
    ("string", "'abc'"),
    ("map", "{'x': 1, 'y': 2, 'z': 3}"),
    ("empty", "[]"),
    ("range", "range(4)"),
    ("context", "nums"),
    ("one", "[7]"),
]
ATTRIBUTES = [
    "index",
    "index0",
    "revindex",
    "revindex0",
    "first",
    "last",
    "length",
    "previtem",
    "nextitem",
    "depth",
    "depth0",
    "cycle('a', 'b', 'c')",
    "changed(i)",
    "changed(loop.index is odd)",
]


def _cases():
    for it_label, iterable in ITERABLES:
        for attribute in ATTRIBUTES:
            label = attribute.split("(")[0] + ("_parity" if "odd" in attribute else "")
            for cond_label, cond in (("", ""), ("_filtered", " if i != 2")):
                template = (
                    "{% for i in "
                    + iterable
                    + cond
                    + " %}{% set v = loop."
                    + attribute
                    + " %}{{{ (v if v is defined else '-')|tojson }}},"
                    + "{% else %}none{% endfor %}"
                )
                yield J(f"loop_{label}_{it_label}{cond_label}", template, {"nums": [5, 2, 8, 2]})


CASES = list(_cases())
