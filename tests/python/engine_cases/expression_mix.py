"""Generated expression cases: nested arithmetic, comparisons, logic, conditionals, filters and
string operations built from a fixed seed, printed through tojson so that booleans and floats
compare as text. Jinja2 decides the result; where it fails (division by zero, mixing a string
with a number), the engine must fail too. Operands stay small so that no result outgrows the
engine's 128-bit integers."""

import random

from . import G

SEED = 4242
COUNT = 300

ATOMS = [
    "0",
    "1",
    "2",
    "3",
    "7",
    "-4",
    "0.5",
    "2.5",
    "n",
    "m",
    "x",
    "'ab'",
    "'7'",
    "true",
    "none",
    "[1, 2]",
    "items",
    "missing",
]
BINARY = ["+", "-", "*", "/", "//", "%", "==", "!=", "<", ">=", "and", "or", "in"]
# Text made of values that display alike in both engines (booleans and none do not).
TEXT_ATOMS = ["1", "-4", "2.5", "n", "x", "'ab'", "'7'", "missing", "(n * 3)", "(x ~ 1)"]


def _expr(rng: random.Random, depth: int) -> str:
    roll = rng.random()
    if depth >= 3 or roll < 0.3:
        return rng.choice(ATOMS)
    if roll < 0.65:
        return f"({_expr(rng, depth + 1)} {rng.choice(BINARY)} {_expr(rng, depth + 1)})"
    if roll < 0.72:
        return f"({_expr(rng, depth + 1)} ** {rng.choice(['0', '1', '2', '3'])})"
    if roll < 0.8:
        return f"(not {_expr(rng, depth + 1)})"
    if roll < 0.83:
        return f"({rng.choice(TEXT_ATOMS)} ~ {rng.choice(TEXT_ATOMS)})"
    if roll < 0.86:
        return f"(-{_expr(rng, depth + 1)})"
    if roll < 0.93:
        return f"({_expr(rng, depth + 1)} if {_expr(rng, depth + 1)} else {_expr(rng, depth + 1)})"
    flt = rng.choice(
        [
            "abs",
            "length",
            "int",
            "float",
            "first",
            "last",
            "list|length",
            "default(5)",
            "round",
            "sum",
        ]
    )
    return f"({_expr(rng, depth + 1)}|{flt})"


def _cases():
    rng = random.Random(SEED)
    for index in range(COUNT):
        yield G(
            f"expr_generated_{index:03d}",
            "{{{ " + _expr(rng, 0) + "|tojson }}}",
            {"n": 5, "m": -2, "x": "xy", "items": [3, 4]},
        )


CASES = list(_cases())
