"""Typing stub for the extension module korvel_beads._native."""

import os
from typing import Any, ClassVar, Final, final

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

BEADS_SCHEMA_V1: Final[str]
"""The schema identifier of version 1 of the request and receipt contract: "korvel/beads/v1"."""

_PathLike = str | os.PathLike[str]

@final
class BeadComposeError(Exception):
    """A request that cannot be run safely: a stable ``BEADS_...`` code, a message and a stage.

    ``str()`` of the error is its message. All three arguments are positional only.
    """

    def __init__(self, code: str, message: str, stage: str | None = None, /) -> None: ...
    @property
    def code(self) -> str:
        """The stable error code, for example "BEADS_UNKNOWN_SCHEMA"."""
    @property
    def stage(self) -> str | None:
        """The stage the failure belongs to: "request", "render", "validate", ... or None."""
    @property
    def message(self) -> str:
        """The human-readable message."""

@final
class BeadOperation:
    """The operations a request can ask for (plain str constants; not instantiable)."""

    RENDER: ClassVar[str]
    """"render": render the formula file only."""
    VALIDATE: ClassVar[str]
    """"validate": render, then check the formula with ``bd cook --dry-run``."""
    PREVIEW_POUR: ClassVar[str]
    """"preview_pour": render, validate, resolve the active registry, ``bd mol pour --dry-run``."""
    POUR: ClassVar[str]
    """"pour": as preview_pour, but pour persistently (needs the pour authorization)."""

@final
class PourAuthorization:
    """The explicit permission a persistent pour needs (a str constant; not instantiable)."""

    CREATE_PERSISTENT_BEADS: ClassVar[str]
    """"CreatePersistentBeads": the only accepted value of ``pour_authorization``."""

@final
class BeadStage:
    """The stages a receipt can record (plain str constants; not instantiable)."""

    RENDER: ClassVar[str]
    """"render"."""
    VALIDATE: ClassVar[str]
    """"validate"."""
    RESOLVE_ACTIVE_REGISTRY: ClassVar[str]
    """"resolve_active_registry"."""
    PREVIEW_POUR: ClassVar[str]
    """"preview_pour"."""
    POUR: ClassVar[str]
    """"pour"."""

@final
class BeadStageOutcome:
    """How one stage ended (made by the module only)."""

    @property
    def kind(self) -> str:
        """ "succeeded", "skipped" or "failed"."""
    @property
    def code(self) -> str | None:
        """The ``BEADS_...`` code of a failed stage, else None."""

@final
class BeadOutcome:
    """How the whole request ended (made by the module only)."""

    @property
    def kind(self) -> str:
        """ "succeeded", "refused" or "failed"."""
    @property
    def code(self) -> str | None:
        """The ``BEADS_...`` code when refused or failed, else None."""

@final
class BeadStageReceipt:
    """The record of one stage that ran (made by the module only)."""

    @property
    def stage(self) -> str:
        """The stage text, one of the ``BeadStage`` values."""
    @property
    def argv(self) -> list[str]:
        """The ``bd`` command line, program first; empty for the render stage. A new list."""
    @property
    def exit_status(self) -> int | None:
        """The child's exit status; None when a signal ended it, and for the render stage."""
    @property
    def elapsed_ms(self) -> int:
        """Elapsed wall time of the stage in whole milliseconds."""
    @property
    def stdout_excerpt(self) -> str:
        """The first 16384 characters of the child's standard output."""
    @property
    def stderr_excerpt(self) -> str:
        """The first 16384 characters of the child's standard error."""
    @property
    def outcome(self) -> BeadStageOutcome:
        """How the stage ended."""

@final
class BeadComposeReceipt:
    """The result of a request that got past validation (made by the module only)."""

    @property
    def schema(self) -> str:
        """Always "korvel/beads/v1"."""
    @property
    def operation(self) -> str:
        """The operation that ran, one of the ``BeadOperation`` values."""
    @property
    def rendered_formula(self) -> str:
        """The absolute path of the rendered formula file."""
    @property
    def stages(self) -> list[BeadStageReceipt]:
        """Every stage that ran, in order; never empty. A new list each read."""
    @property
    def outcome(self) -> BeadOutcome:
        """How the request ended: succeeded, or failed with the failing stage's code."""

@final
class BeadComposeRequest:
    """One composition: where to work, what to render where, and what to tell ``bd``.

    The constructor checks the shape of the values and raises ``BeadComposeError`` (code
    "BEADS_REQUEST_DESERIALIZATION_FAILED", stage "request") for a refused value; paths, schema
    and variable rules are checked when the request runs.
    """

    def __new__(
        cls,
        working_directory: _PathLike,
        template: _PathLike,
        rendered_formula: _PathLike,
        compose_variables: dict[str, Any],
        *,
        operation: str = "render",
        formula_name: str | None = None,
        bead_variables: dict[str, str] | None = None,
        bd_executable: _PathLike | None = None,
        pour_authorization: str | None = None,
        schema: str = ...,
    ) -> BeadComposeRequest: ...
    @property
    def schema(self) -> str:
        """The schema identifier the request carries."""
    @property
    def operation(self) -> str:
        """The stored operation: "render", "validate", "preview_pour" or "pour"."""
    @property
    def working_directory(self) -> str:
        """The working directory as given (not resolved)."""
    @property
    def template(self) -> str:
        """The formula template path as given."""
    @property
    def rendered_formula(self) -> str:
        """The rendered formula path as given."""
    @property
    def compose_variables(self) -> dict[str, Any]:
        """The template's context as JSON values; a new dict, keys sorted, on every read."""
    @property
    def formula_name(self) -> str | None:
        """The Beads formula name, or None."""
    @property
    def bead_variables(self) -> dict[str, str]:
        """The ``--var`` variables for ``bd``; a new dict, keys sorted, on every read."""
    @property
    def bd_executable(self) -> str | None:
        """The ``bd`` executable, or None for "bd" found on PATH."""
    @property
    def pour_authorization(self) -> str | None:
        """ "CreatePersistentBeads" when given, else None."""

def execute(request: BeadComposeRequest) -> BeadComposeReceipt:
    """Run the operation stored in the request."""

def render(request: BeadComposeRequest) -> BeadComposeReceipt:
    """Render the formula file only, whatever the request's operation."""

def validate(request: BeadComposeRequest) -> BeadComposeReceipt:
    """Render, then check the formula with ``bd cook --dry-run``."""

def preview_pour(request: BeadComposeRequest) -> BeadComposeReceipt:
    """Render, validate, resolve the active registry and preview the pour (``--dry-run``)."""

def pour(request: BeadComposeRequest) -> BeadComposeReceipt:
    """Render, validate, resolve the active registry and pour persistently (needs authorization)."""
