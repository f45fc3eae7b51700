"""The table of template cases that the engine is checked with against Jinja2.

Every case is a template named "case.txt" (no escaping applies to that name) with a JSON
context. A case either agrees with Jinja2 by design, and then its expected output is whatever
Jinja2 renders with the same settings as the renderer ("{{{" "}}}", trim and lstrip blocks, no
trailing newline kept, no autoescape), or it holds this engine's own expected output and one word
saying why the engines differ there:

  display  true/false, sequences and maps in the engine's listing form
  none     none prints as empty text through the renderer's formatter
  float    floats in the engine's display form (never exponent notation)
  error    the engine fails where Jinja2 does not (or the other way round); `error` holds
           the kind text that starts the message
  int      128-bit integers where Python's are unbounded
  bound    a limit that keeps the engine inside the caller's process (range size, nesting)
  extra    a built-in that Jinja2 does not have (bool, lines, split, startingwith, ...)
  sound    Jinja2's own result is a fault the engine does not copy

Contexts are JSON objects; the engine iterates a context map in ascending byte order of its
keys, so Jinja2 is given the same maps with their keys sorted.
"""

from __future__ import annotations

import json
from collections import Counter
from dataclasses import dataclass, field
from typing import Any

TEMPLATE_NAME = "case.txt"

REASONS = {"display", "none", "float", "error", "int", "bound", "extra", "sound"}


@dataclass(frozen=True)
class Case:
    name: str
    template: str
    context: dict[str, Any] = field(default_factory=dict)
    # None: the output must equal Jinja2's. Otherwise this engine's own output.
    expected: str | None = None
    # For an expected failure: the kind text that starts the engine's message.
    error: str | None = None
    # For an expected failure: the line the message names, "(in case.txt:{line})".
    line: int | None = None
    why: str | None = None
    # A generated case: where Jinja2 fails, the engine must fail too (with any kind).
    either: bool = False

    @property
    def follows_jinja2(self) -> bool:
        return self.expected is None and self.error is None and not self.either


def J(name: str, template: str, context: dict[str, Any] | None = None) -> Case:
    """A case whose output must equal Jinja2's."""
    return Case(name, template, context or {})


def E(
    name: str, template: str, expected: str, why: str, context: dict[str, Any] | None = None
) -> Case:
    """A case where the engine differs from Jinja2 by design; `expected` is the engine's output."""
    assert why in REASONS, why
    return Case(name, template, context or {}, expected=expected, why=why)


def X(
    name: str,
    template: str,
    error: str,
    context: dict[str, Any] | None = None,
    why: str = "error",
    line: int | None = None,
) -> Case:
    """A case that must fail with a message starting with the kind text `error` (and, when
    `line` is given, ending with the template's name and that line)."""
    assert why in REASONS, why
    return Case(name, template, context or {}, error=error, line=line, why=why)


def G(name: str, template: str, context: dict[str, Any] | None = None) -> Case:
    """A generated case: the engine renders what Jinja2 renders, and fails where Jinja2 fails."""
    return Case(name, template, context or {}, either=True)


def sorted_context(value: Any) -> Any:
    """The context as the engine sees it: every JSON object with its keys in ascending order."""
    if isinstance(value, dict):
        return {k: sorted_context(value[k]) for k in sorted(value, key=lambda s: s.encode())}
    if isinstance(value, list):
        return [sorted_context(v) for v in value]
    return value


def jinja2_environment():
    import jinja2

    return jinja2.Environment(
        variable_start_string="{{{",
        variable_end_string="}}}",
        trim_blocks=True,
        lstrip_blocks=True,
        keep_trailing_newline=False,
        autoescape=False,
        # break and continue are part of the engine's language.
        extensions=["jinja2.ext.loopcontrols"],
    )


def render_with_jinja2(case: Case, env=None) -> str:
    env = env or jinja2_environment()
    # Through JSON, so that Jinja2 sees exactly the values the engine reads.
    context = sorted_context(json.loads(json.dumps(case.context)))
    return env.from_string(case.template).render(context)


def all_cases() -> list[Case]:
    from . import (
        builtin_tests,
        chain_mix,
        errors,
        expression_mix,
        expressions,
        filters,
        functions,
        loop_matrix,
        markup,
        matrix,
        scoping_mix,
        statements,
        syntax,
        unicode_numbers,
        whitespace,
    )

    cases: list[Case] = []
    for module in (
        syntax,
        whitespace,
        expressions,
        statements,
        markup,
        filters,
        unicode_numbers,
        builtin_tests,
        functions,
        errors,
        matrix,
        expression_mix,
        scoping_mix,
        loop_matrix,
        chain_mix,
    ):
        cases.extend(module.CASES)
    duplicates = {n for n, k in Counter(c.name for c in cases).items() if k > 1}
    assert not duplicates, f"duplicate case names: {sorted(duplicates)}"
    return cases
