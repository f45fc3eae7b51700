"""Shared fixtures for the Python suites."""

from __future__ import annotations

import json
import sys
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any

import pytest

# A stand-in for the Beads executable. It logs every call (its argv and working directory) as one
# JSON line and behaves as its configuration file says, per subcommand:
#   exit     {"cook": 0, "where": 0, "pour": 0}   exit status per subcommand
#   stdout / stderr {"cook": "..."}               text to print per subcommand
#   where_path                                     the "path" that `where --json` reports
#   flood    "cook" | "where" | "pour" | None      print more than the capture limit there
#   started_dir, release_file, guard_seconds       `cook` writes started_dir/<pid>, then waits
#                                                  for release_file (at most guard_seconds)
_BD_SCRIPT = r"""
import json, os, sys, time
here = os.path.dirname(os.path.abspath(__file__))
with open(os.path.join(here, "bd.json"), encoding="utf-8") as handle:
    config = json.load(handle)
args = sys.argv[1:]
with open(os.path.join(here, "calls.jsonl"), "a", encoding="utf-8") as log:
    log.write(json.dumps({"argv": sys.argv, "cwd": os.getcwd()}) + "\n")
command = {"cook": "cook", "where": "where", "mol": "pour"}.get(args[0] if args else "", "other")
if command == "cook" and config.get("release_file"):
    open(os.path.join(config["started_dir"], str(os.getpid())), "w").close()
    deadline = time.monotonic() + config.get("guard_seconds", 60)
    while not os.path.exists(config["release_file"]):
        if time.monotonic() > deadline:
            print("never released", file=sys.stderr)
            sys.exit(97)
        time.sleep(0.01)
if config.get("flood") == command:
    sys.stdout.write("x" * 70000)
    sys.stdout.flush()
if command == "where" and "where_path" in config:
    print(json.dumps({"path": config["where_path"], "other": 1}))
sys.stdout.write(config.get("stdout", {}).get(command, ""))
sys.stderr.write(config.get("stderr", {}).get(command, ""))
sys.exit(config.get("exit", {}).get(command, 0))
"""


@dataclass
class ScriptedBd:
    """The scripted bd: `path` is the executable to pass as bd_executable."""

    directory: Path
    config: dict[str, Any] = field(default_factory=dict)

    @property
    def path(self) -> Path:
        return self.directory / "bd"

    def configure(self, **settings: Any) -> ScriptedBd:
        self.config.update(settings)
        (self.directory / "bd.json").write_text(json.dumps(self.config), encoding="utf-8")
        return self

    def calls(self) -> list[dict[str, Any]]:
        log = self.directory / "calls.jsonl"
        if not log.exists():
            return []
        return [json.loads(line) for line in log.read_text(encoding="utf-8").splitlines()]


@pytest.fixture
def scripted_bd(tmp_path: Path) -> ScriptedBd:
    directory = tmp_path / "bd-bin"
    directory.mkdir()
    script = directory / "bd"
    script.write_text(f"#!{sys.executable}\n{_BD_SCRIPT}", encoding="utf-8")
    script.chmod(0o755)
    return ScriptedBd(directory).configure()


@dataclass
class Workspace:
    """A working directory with a TOML formula template and an active Beads registry beside it."""

    root: Path
    template: Path
    beads_dir: Path

    @property
    def formulas(self) -> Path:
        return self.beads_dir / "formulas"


TEMPLATE_TEXT = 'formula = "{{{ name }}}"\ndescription = "{{{ description }}}"\n'


@pytest.fixture
def workspace(tmp_path: Path) -> Workspace:
    root = tmp_path / "work"
    (root / "templates").mkdir(parents=True)
    template = root / "templates" / "release.formula.toml.j2"
    template.write_text(TEMPLATE_TEXT, encoding="utf-8")
    beads_dir = root / ".beads"
    (beads_dir / "formulas").mkdir(parents=True)
    return Workspace(root.resolve(), template.resolve(), beads_dir.resolve())
