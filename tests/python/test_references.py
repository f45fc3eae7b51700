"""No reference is leaked on any path: the objects a call receives have the same reference count
afterwards, whether the call succeeded, was refused or failed in binding."""

from __future__ import annotations

import sys

import pytest

from korvel_beads import _native

Req = _native.BeadComposeRequest


class Marker:
    def __fspath__(self) -> str:
        return "/w"


@pytest.mark.parametrize(
    "call",
    [
        lambda m, d: Req(m, "t", "o", d),
        lambda m, d: Req(m, "t", "o", d, operation="nope"),
        lambda m, d: Req(m, "t", "o", [d]),
        lambda m, d: Req("/w", "t", "o", d, bead_variables={"k": m}),
        lambda m, d: Req("/w", "t", "o", d, bd_executable=m, formula_name=None),
        lambda m, d: Req("/w", "t", "o", d, schema=m),
        lambda m, d: Req("/w", "t", "o", {"a": [m, d]}),
        lambda m, d: Req(m, "t", "o", d, bogus=m),
        lambda m, d: Req(m, "t", "o", d, m),
        lambda m, d: _native.render(m),
        lambda m, d: _native.render(request=m),
        lambda m, d: _native.BeadComposeError(m, "x"),
        lambda m, d: _native.BeadComposeError("x", "y", m),
    ],
)
def test_arguments_keep_their_reference_counts(call):
    marker, variables = Marker(), {"k": [1, 2.5, "v"]}
    before = (sys.getrefcount(marker), sys.getrefcount(variables))
    for _ in range(50):
        try:
            call(marker, variables)
        except (TypeError, _native.BeadComposeError):
            pass
    assert (sys.getrefcount(marker), sys.getrefcount(variables)) == before


def test_results_and_errors_release_their_types(tmp_path):
    (tmp_path / "t.formula.toml.j2").write_text("a = 1\n")
    request = Req(tmp_path, tmp_path / "t.formula.toml.j2", tmp_path / "t.formula.toml", {})
    types = [
        _native.BeadComposeReceipt,
        _native.BeadStageReceipt,
        _native.BeadOutcome,
        _native.BeadStageOutcome,
        _native.BeadComposeError,
        Req,
    ]
    before = [sys.getrefcount(cls) for cls in types]
    for _ in range(50):
        receipt = _native.render(request)
        _ = [(s.outcome.kind, s.argv) for s in receipt.stages]
        _ = receipt.outcome.code
        try:
            _native.render(Req("/w", "t", "o.formula.toml", {}, schema="v0"))
        except _native.BeadComposeError as error:
            _ = (error.code, error.args)
        Req("/w", "t", "o", {})
    del receipt
    assert [sys.getrefcount(cls) for cls in types] == before
