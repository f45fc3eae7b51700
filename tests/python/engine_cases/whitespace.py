"""Generated whitespace cases: templates built from a fixed seed out of text runs (spaces, tabs,
line breaks, CRLF), block tags with and without "-" and "+", comments, raw blocks and variables,
so that trim_blocks, lstrip_blocks and explicit whitespace control meet in every combination.
Every template is well formed, and Jinja2 decides the output."""

import random

from . import J

SEED = 20251211
COUNT = 400

TEXT = ["", " ", "  ", "\t", "\n", "\n\n", "  \n", "\n  ", "\r\n", "x", "a b", " y\n", "\n\tz "]


def _modifier(rng: random.Random) -> str:
    # "+" on the left turns lstrip off for the tag, on the right trim.
    return rng.choice(["", "", "-", "+"])


def _block(rng: random.Random, depth: int) -> str:
    kind = rng.choice(
        ["text", "text", "var", "comment", "if", "for", "set", "raw"]
        if depth < 3
        else ["text", "var", "comment"]
    )
    if kind == "text":
        return rng.choice(TEXT)
    if kind == "var":
        return "{{{" + rng.choice(["", "-"]) + " v " + rng.choice(["", "-"]) + "}}}"
    if kind == "comment":
        return "{#" + rng.choice(["", "-", "+"]) + " c " + rng.choice(["", "-"]) + "#}"
    if kind == "raw":
        # Jinja2 reads "+" on the left of raw tags only.
        return (
            "{%"
            + rng.choice(["", "-", "+"])
            + " raw "
            + rng.choice(["", "-"])
            + "%}"
            + rng.choice(TEXT)
            + "{{{ v }}}"
            + rng.choice(TEXT)
            + "{%"
            + rng.choice(["", "-", "+"])
            + " endraw "
            + rng.choice(["", "-"])
            + "%}"
        )
    if kind == "set":
        return "{%" + _modifier(rng) + " set s = 1 " + _modifier(rng) + "%}"
    head = "if v" if kind == "if" else "for i in [1, 2]"
    tail = "endif" if kind == "if" else "endfor"
    body = "".join(_block(rng, depth + 1) for _ in range(rng.randint(0, 4)))
    middle = ""
    if rng.random() < 0.3:
        word = "else"
        middle = (
            "{%"
            + _modifier(rng)
            + f" {word} "
            + _modifier(rng)
            + "%}"
            + "".join(_block(rng, depth + 1) for _ in range(rng.randint(0, 3)))
        )
    return (
        "{%"
        + _modifier(rng)
        + f" {head} "
        + _modifier(rng)
        + "%}"
        + body
        + middle
        + "{%"
        + _modifier(rng)
        + f" {tail} "
        + _modifier(rng)
        + "%}"
    )


def _template(rng: random.Random) -> str:
    return "".join(_block(rng, 0) for _ in range(rng.randint(2, 8)))


def _cases():
    rng = random.Random(SEED)
    for index in range(COUNT):
        yield J(f"ws_generated_{index:03d}", _template(rng), {"v": "V"})


CASES = list(_cases())
