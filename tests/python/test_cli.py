"""The korvel-beads command line: output for people and as JSON, and its exit statuses."""

from __future__ import annotations

import io
import json
import shlex
import subprocess
import sys
from pathlib import Path

import pytest

from korvel_beads import cli


def run(*argv: str) -> tuple[int, str, str]:
    out, err = io.StringIO(), io.StringIO()
    status = cli.main(list(argv), stdout=out, stderr=err)
    return status, out.getvalue(), err.getvalue()


@pytest.fixture
def variables_file(tmp_path: Path) -> Path:
    path = tmp_path / "vars.json"
    path.write_text(json.dumps({"name": "from-file", "description": "d"}), encoding="utf-8")
    return path


def common(workspace, *extra: str) -> list[str]:
    return [
        "-C",
        str(workspace.root),
        "templates/release.formula.toml.j2",
        ".beads/formulas/release.formula.toml",
        *extra,
    ]


def test_render_for_people(workspace, variables_file):
    status, out, err = run(
        "render",
        *common(workspace, "--variables", str(variables_file), "--set", 'description="from --set"'),
    )
    formula = workspace.formulas / "release.formula.toml"
    assert (status, err) == (0, "")
    assert formula.read_text(encoding="utf-8") == (
        'formula = "from-file"\ndescription = "from --set"'
    )
    assert out.splitlines()[0] == f"render: {formula}"
    assert "  render: succeeded in " in out
    assert out.endswith("outcome: succeeded\n")


def test_failed_stage_shows_command_exit_status_and_excerpts(workspace, scripted_bd):
    scripted_bd.configure(
        exit={"cook": 2}, stdout={"cook": "partial\n"}, stderr={"cook": "bad step\nsecond line\n"}
    )
    status, out, err = run(
        "validate",
        *common(workspace, "--set", 'name="n"', "--bd", str(scripted_bd.path), "--var", "k=v"),
    )
    formula = workspace.formulas / "release.formula.toml"
    assert (status, err) == (1, "")
    argv = [str(scripted_bd.path), "cook", str(formula), "--dry-run", "--json", "--var", "k=v"]
    assert f"    command: {shlex.join(argv)}\n" in out
    assert "  validate: failed BEADS_COOK_FAILED in " in out
    assert "    exit status: 2\n" in out
    assert "    standard output:\n    partial\n" in out
    assert "    standard error:\n    bad step\n    second line\n" in out
    assert out.endswith("outcome: failed BEADS_COOK_FAILED\n")


def test_json_receipt(workspace, scripted_bd):
    scripted_bd.configure(where_path=str(workspace.beads_dir))
    status, out, _ = run(
        "preview-pour",
        *common(workspace, "--bd", str(scripted_bd.path), "--json", "--set", 'name="n"'),
    )
    document = json.loads(out)
    assert status == 0
    assert document["operation"] == "preview_pour"
    assert document["outcome"] == {"kind": "succeeded", "code": None}
    assert [s["stage"] for s in document["stages"]] == [
        "render",
        "validate",
        "resolve_active_registry",
        "preview_pour",
    ]
    # The formula name defaults to the output's file name without its formula suffix.
    assert document["stages"][3]["argv"][1:] == ["mol", "pour", "release", "--dry-run", "--json"]
    assert document["stages"][0]["exit_status"] is None


def test_pour_needs_the_authorization_flag(workspace, scripted_bd):
    scripted_bd.configure(where_path=str(workspace.beads_dir))
    args = common(workspace, "--bd", str(scripted_bd.path), "--formula-name", "release")
    status, out, err = run("pour", *args)
    assert (status, out) == (2, "")
    assert err == (
        "BEADS_POUR_AUTH_REQUIRED: persistent Beads creation requires explicit authorization\n"
    )
    assert scripted_bd.calls() == []
    status, out, err = run("pour", *args, "--authorize-pour")
    assert (status, err) == (0, "")
    assert scripted_bd.calls()[-1]["argv"][1:] == ["mol", "pour", "release", "--json"]


def test_refusal_as_json(workspace):
    status, out, err = run("render", *common(workspace, "--var", "a.b=1", "--json"))
    assert status == 2
    assert err == "BEADS_VARIABLE_KEY_INVALID: invalid Beads variable key `a.b`\n"
    assert json.loads(out) == {
        "error": {
            "code": "BEADS_VARIABLE_KEY_INVALID",
            "message": "invalid Beads variable key `a.b`",
            "stage": "request",
        }
    }


@pytest.mark.parametrize(
    ("extra", "complaint"),
    [
        (["--set", "name"], "--set expects KEY=VALUE"),
        (["--set", "name=unquoted"], "--set name: the value must be JSON"),
        (["--var", "novalue"], "--var expects KEY=VALUE"),
        (["--variables", "/nonexistent/vars.json"], "cannot read --variables file"),
    ],
)
def test_unusable_command_line_values(workspace, extra, complaint):
    status, out, err = run("render", *common(workspace, *extra))
    assert (status, out) == (2, "")
    assert err.startswith(f"korvel-beads: error: {complaint}")


def test_variables_file_must_hold_an_object(workspace, tmp_path):
    listing = tmp_path / "list.json"
    listing.write_text("[1, 2]", encoding="utf-8")
    status, _, err = run("render", *common(workspace, "--variables", str(listing)))
    assert status == 2
    assert "must hold a JSON object" in err


def test_help_explains_every_option_with_examples(capsys):
    with pytest.raises(SystemExit) as exited:
        cli.main(["pour", "--help"])
    assert exited.value.code == 0
    text = capsys.readouterr().out
    for option in [
        "--working-directory",
        "--variables",
        "--set",
        "--var",
        "--formula-name",
        "--bd",
        "--json",
        "--authorize-pour",
        "examples:",
        "exit status:",
    ]:
        assert option in text


def test_python_dash_m_runs_the_command_line(workspace):
    result = subprocess.run(
        [sys.executable, "-m", "korvel_beads", "render", *common(workspace, "--var", "=x")],
        capture_output=True,
        text=True,
        check=False,
    )
    assert result.returncode == 2
    assert result.stderr.startswith("BEADS_VARIABLE_KEY_INVALID: ")


def test_console_script_is_installed(workspace):
    script = Path(sys.executable).parent / "korvel-beads"
    if not script.exists():
        pytest.skip("the package is not installed into this interpreter's environment")
    result = subprocess.run(
        [str(script), "render", *common(workspace, "--set", 'name="n"')],
        capture_output=True,
        text=True,
        check=False,
    )
    assert (result.returncode, result.stderr) == (0, "")
