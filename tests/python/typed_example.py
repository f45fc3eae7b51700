"""A small caller of korvel_beads, checked by mypy against the package's stub (test_typing.py)."""

from __future__ import annotations

from pathlib import Path

import korvel_beads
from korvel_beads import BeadComposeError, BeadComposeReceipt, BeadComposeRequest


def compose(workspace: Path, version: str) -> BeadComposeReceipt | None:
    request = BeadComposeRequest(
        workspace,
        workspace / "release.formula.toml.j2",
        workspace / ".beads" / "formulas" / "release.formula.toml",
        {"version": version, "steps": [1, 2, 3]},
        operation=korvel_beads.BeadOperation.PREVIEW_POUR,
        formula_name="release",
        bead_variables={"assignee": "ci"},
        bd_executable="/usr/local/bin/bd",
        pour_authorization=korvel_beads.PourAuthorization.CREATE_PERSISTENT_BEADS,
    )
    try:
        receipt = korvel_beads.execute(request)
    except BeadComposeError as error:
        stage: str | None = error.stage
        print(error.code, error.message, stage)
        return None
    for stage_receipt in receipt.stages:
        status: int | None = stage_receipt.exit_status
        argv: list[str] = stage_receipt.argv
        print(stage_receipt.stage, status, " ".join(argv), stage_receipt.elapsed_ms + 1)
    code: str | None = receipt.outcome.code
    print(receipt.outcome.kind, code, request.compose_variables.get("version"))
    return receipt
