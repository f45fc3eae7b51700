"""The typing stub: mypy accepts a real caller and rejects calls the module refuses."""

from __future__ import annotations

import subprocess
import sys
from pathlib import Path

import pytest

HERE = Path(__file__).resolve().parent


def run_mypy(*files: Path) -> subprocess.CompletedProcess[str]:
    return subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--cache-dir", "/dev/null",
         *map(str, files)],
        capture_output=True,
        text=True,
        cwd=HERE,
        check=False,
    )


def test_stub_ships_with_the_package():
    import korvel_beads

    package = Path(korvel_beads.__file__).parent
    assert (package / "py.typed").is_file()
    assert (package / "_native.pyi").is_file()


def test_mypy_accepts_the_typed_example():
    result = run_mypy(HERE / "typed_example.py")
    assert result.returncode == 0, result.stdout + result.stderr


def test_the_package_itself_type_checks_against_its_stub():
    package = HERE.parents[1] / "python" / "korvel_beads"
    result = run_mypy(*sorted(package.glob("*.py")))
    assert result.returncode == 0, result.stdout + result.stderr


@pytest.mark.parametrize(
    ("line", "complaint"),
    [
        ('korvel_beads.render("not a request")', "incompatible type"),
        ('korvel_beads.BeadComposeError("X", "m", stage="s")', "Unexpected keyword"),
        ('korvel_beads.BeadComposeRequest("/w", "t", "o", {}, "render")', "Too many positional"),
        ('korvel_beads.BeadComposeRequest("/w", "t", "o", {}, bead_variables={"a": 1})',
         "incompatible type"),
        ('korvel_beads.BeadComposeRequest("/w", "t", "o", {}).schema = "x"', "is read-only"),
    ],
)
def test_mypy_rejects_what_the_module_refuses(tmp_path, line, complaint):
    source = tmp_path / "wrong.py"
    source.write_text(f"import korvel_beads\n\n{line}\n", encoding="utf-8")
    result = run_mypy(source)
    assert result.returncode != 0
    assert complaint in result.stdout, result.stdout
