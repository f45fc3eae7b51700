"""The bundled example renders into a TOML formula of the shape bd reads (tomllib as the oracle),
with every escaped value intact and bd's own {{version}} placeholders left for bd."""

from __future__ import annotations

import json
import shutil
import tomllib
from pathlib import Path

from korvel_beads import cli

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"


def test_bundled_example_renders_to_a_formula(tmp_path):
    shutil.copy(EXAMPLES / "release-checklist.formula.toml.j2", tmp_path)
    variables = EXAMPLES / "release-checklist.variables.json"
    status = cli.main(
        [
            "render",
            "-C",
            str(tmp_path),
            "--variables",
            str(variables),
            "release-checklist.formula.toml.j2",
            "release-checklist.formula.toml",
        ]
    )
    assert status == 0
    formula = tomllib.loads((tmp_path / "release-checklist.formula.toml").read_text("utf-8"))
    source = json.loads(variables.read_text("utf-8"))
    assert formula["formula"] == source["formula"] == "release-checklist"
    assert (formula["description"], formula["version"]) == (source["description"], 1)
    assert formula["vars"]["version"]["required"] is True
    assert [
        {key: step.get(key, []) for key in ("id", "title", "description", "needs")}
        for step in formula["steps"]
    ] == source["steps"]
    assert "{{version}}" in formula["steps"][0]["title"]
