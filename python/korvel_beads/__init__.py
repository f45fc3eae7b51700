"""Compose Beads formulas from templates and drive the ``bd`` tool.

Build a :class:`BeadComposeRequest`, then call :func:`render`, :func:`validate`,
:func:`preview_pour`, :func:`pour` or :func:`execute`. Each returns a
:class:`BeadComposeReceipt` (also when a stage failed: look at ``receipt.outcome``) or raises
:class:`BeadComposeError` when the request cannot be run safely.

The command line ``python -m korvel_beads`` (or ``korvel-beads``) does the same from a shell.
"""

from korvel_beads._native import (
    BEADS_SCHEMA_V1,
    BeadComposeError,
    BeadComposeReceipt,
    BeadComposeRequest,
    BeadOperation,
    BeadOutcome,
    BeadStage,
    BeadStageOutcome,
    BeadStageReceipt,
    PourAuthorization,
    execute,
    pour,
    preview_pour,
    render,
    validate,
)

__all__ = [
    "BEADS_SCHEMA_V1",
    "BeadComposeError",
    "BeadOperation",
    "PourAuthorization",
    "BeadStage",
    "BeadStageOutcome",
    "BeadOutcome",
    "BeadStageReceipt",
    "BeadComposeReceipt",
    "BeadComposeRequest",
    "execute",
    "render",
    "validate",
    "preview_pour",
    "pour",
]
