"""Compose Beads formulas from templates and drive the ``bd`` tool."""

from korvel_beads import _native  # noqa: F401
