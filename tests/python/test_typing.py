"""The typing stub: mypy accepts a real caller and rejects calls the module refuses."""

from __future__ import annotations

import ast
import subprocess
import sys
import types
from pathlib import Path

import pytest

import korvel_beads
from korvel_beads import _native

HERE = Path(__file__).resolve().parent


def run_mypy(*files: Path) -> subprocess.CompletedProcess[str]:
    return subprocess.run(
        [
            sys.executable,
            "-m",
            "mypy",
            "--strict",
            "--no-incremental",
            "--cache-dir",
            "/dev/null",
            *map(str, files),
        ],
        capture_output=True,
        text=True,
        cwd=HERE,
        check=False,
    )


def test_stub_ships_with_the_package():
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
        (
            'korvel_beads.BeadComposeRequest("/w", "t", "o", {}, bead_variables={"a": 1})',
            "incompatible type",
        ),
        ('korvel_beads.BeadComposeRequest("/w", "t", "o", {}).schema = "x"', "is read-only"),
    ],
)
def test_mypy_rejects_what_the_module_refuses(tmp_path, line, complaint):
    source = tmp_path / "wrong.py"
    source.write_text(f"import korvel_beads\n\n{line}\n", encoding="utf-8")
    result = run_mypy(source)
    assert result.returncode != 0
    assert complaint in result.stdout, result.stdout


def stub_tree() -> ast.Module:
    stub = Path(korvel_beads.__file__).parent / "_native.pyi"
    return ast.parse(stub.read_text(encoding="utf-8"))


def test_stub_names_the_same_attributes_as_the_module():
    tree = stub_tree()
    classes = {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}
    functions = [node.name for node in tree.body if isinstance(node, ast.FunctionDef)]
    assert sorted([*classes, *functions, "BEADS_SCHEMA_V1"]) == sorted(_native.__all__)
    for name, node in classes.items():
        runtime = getattr(_native, name)
        properties = [
            item.name
            for item in node.body
            if isinstance(item, ast.FunctionDef)
            and any(getattr(d, "id", None) == "property" for d in item.decorator_list)
        ]
        constants = [item.target.id for item in node.body if isinstance(item, ast.AnnAssign)]
        own = vars(runtime)
        assert properties == [
            key for key, value in own.items() if isinstance(value, types.GetSetDescriptorType)
        ], name
        assert constants == [key for key in own if key.isupper()], name
