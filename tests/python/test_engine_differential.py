"""The engine checked against Jinja2: every case of engine_cases is rendered by korvel_render
(through korvel::Renderer, template name "case.txt", so no escaping applies) and compared with
Jinja2 configured alike, or with the engine's own expected output where the two differ by design.

The tool is found through the KORVEL_RENDER environment variable, else in the build directories
that the test command and the helpers use.
"""

from __future__ import annotations

import json
import os
import resource
import subprocess
from pathlib import Path

import engine_cases
import pytest
from engine_cases import TEMPLATE_NAME, Case

# Jinja2 reads an unknown escape such as "\\q" through Python, which warns about it.
pytestmark = pytest.mark.filterwarnings("ignore:invalid escape sequence:DeprecationWarning")

ROOT = Path(__file__).resolve().parents[2]
CASES = engine_cases.all_cases()
# A generous guard against a runaway rendering; no timing is asserted.
GUARD_SECONDS = 300
# The tool's address space is capped, so that a case that makes the engine allocate without bound
# fails on its own instead of exhausting the machine.
ADDRESS_SPACE_BYTES = 4 << 30


def _cap_memory() -> None:
    try:
        resource.setrlimit(resource.RLIMIT_AS, (ADDRESS_SPACE_BYTES, ADDRESS_SPACE_BYTES))
    except (OSError, ValueError):
        pass  # a platform that cannot cap the address space runs the tool uncapped


def find_tool() -> Path | None:
    override = os.environ.get("KORVEL_RENDER")
    if override:
        return Path(override)
    for build in ("test", "h6"):
        candidate = ROOT / "build" / build / "tools" / "korvel_render"
        if candidate.is_file() and os.access(candidate, os.X_OK):
            return candidate
    return None


TOOL = find_tool()
needs_tool = pytest.mark.skipif(
    TOOL is None,
    reason="korvel_render was not built (build the target korvel_render or set "
    "KORVEL_RENDER to its path)",
)


def run_batch(cases: list[Case]) -> dict[str, dict]:
    """Renders the cases with one process; a case that kills the process is recorded as a crash
    and the batch goes on with the cases after it."""
    results: dict[str, dict] = {}
    pending = list(cases)
    while pending:
        lines = "".join(
            json.dumps({"name": TEMPLATE_NAME, "template": c.template, "context": c.context}) + "\n"
            for c in pending
        )
        proc = subprocess.run(
            [str(TOOL), "--batch"],
            input=lines.encode(),
            capture_output=True,
            timeout=GUARD_SECONDS,
            preexec_fn=_cap_memory,
        )
        answers = [
            json.loads(line) for line in proc.stdout.decode(errors="replace").splitlines() if line
        ]
        # A crash leaves fewer answers than cases: the cases after it are run again.
        for case, answer in zip(pending, answers, strict=False):
            results[case.name] = answer
        if len(answers) >= len(pending):
            break
        crashed = pending[len(answers)]
        results[crashed.name] = {"crash": proc.returncode, "stderr": proc.stderr.decode()[-2000:]}
        pending = pending[len(answers) + 1 :]
    return results


@pytest.fixture(scope="module")
def engine_results() -> dict[str, dict]:
    return run_batch(CASES)


@pytest.fixture(scope="module")
def jinja2_env():
    return engine_cases.jinja2_environment()


def test_table_covers_the_language():
    assert len(CASES) >= 300
    assert sum(c.follows_jinja2 for c in CASES) >= 300


@pytest.mark.parametrize("case", [c for c in CASES if c.follows_jinja2], ids=lambda c: c.name)
def test_jinja2_renders_the_shared_cases(case, jinja2_env):
    # A shared case that Jinja2 itself refuses would compare nothing.
    engine_cases.render_with_jinja2(case, jinja2_env)


@pytest.mark.parametrize("case", [c for c in CASES if c.expected is not None], ids=lambda c: c.name)
def test_engine_outputs_differ_from_jinja2(case, jinja2_env):
    # An engine-specific output that Jinja2 also produces belongs with the shared cases.
    try:
        theirs = engine_cases.render_with_jinja2(case, jinja2_env)
    except Exception:
        return
    assert theirs != case.expected, f"{case.name}: Jinja2 agrees; make it a shared case"


@needs_tool
@pytest.mark.parametrize("case", CASES, ids=lambda c: c.name)
def test_engine_matches(case, engine_results, jinja2_env):
    got = engine_results[case.name]
    assert "crash" not in got, f"korvel_render died (status {got.get('crash')}): {got['stderr']}"
    assert "usage" not in got, got["usage"]
    if case.error is not None:
        assert "error" in got, f"expected a failure '{case.error}', rendered {got.get('output')!r}"
        assert got["error"].startswith(case.error), got["error"]
        if case.line is not None:
            assert got["error"].endswith(f"(in {TEMPLATE_NAME}:{case.line})"), got["error"]
        return
    if case.either:
        try:
            want = engine_cases.render_with_jinja2(case, jinja2_env)
        except Exception as refusal:
            assert "error" in got, (
                f"Jinja2 fails ({refusal}); the engine rendered {got['output']!r}"
            )
            return
    else:
        want = (
            case.expected
            if case.expected is not None
            else engine_cases.render_with_jinja2(case, jinja2_env)
        )
    assert "error" not in got, got["error"]
    assert got["output"] == want


# The command line as template authors use it.
CLI_CASES = [
    # (id, arguments before the template, template name, template, context or None,
    #  status, stdout, start of stderr)
    ("plain", [], "t.txt", "Hi {{{ who }}}!\n", {"who": "there"}, 0, "Hi there!", ""),
    ("no_context", [], "t.txt", "[{{{ who }}}]", None, 0, "[]", ""),
    ("json_name_escapes", [], "t.json", '{"v": {{{ v }}}}', {"v": 'a"b'}, 0, '{"v": "a\\"b"}', ""),
    (
        "legacy_json_mode",
        ["--mode", "legacy-json"],
        "t.json",
        '{"v": "{{{ v }}}"}',
        {"v": 'a"b'},
        0,
        '{"v": "a\\"b"}',
        "",
    ),
    (
        "toml_mode",
        ["--mode", "toml"],
        "t.toml",
        'v = "{{{ v }}}"',
        {"v": "a\tb"},
        0,
        'v = "a\\tb"',
        "",
    ),
    ("name_option", ["--name", "other.json"], "t.txt", "{{{ v }}}", {"v": "x"}, 0, '"x"', ""),
    # Without --mode the name chooses it, as in formula rendering.
    (
        "mode_from_json_formula_name",
        [],
        "f.formula.json.j2",
        '{"v": "{{{ v }}}"}',
        {"v": 'a"b'},
        0,
        '{"v": "a\\"b"}',
        "",
    ),
    (
        "mode_from_toml_formula_name",
        [],
        "f.formula.toml.j2",
        'v = "{{{ v }}}"',
        {"v": "a\tb"},
        0,
        'v = "a\\tb"',
        "",
    ),
    ("mode_from_other_name", [], "f.json.j2", "{{{ v }}}", {"v": "x"}, 0, '"x"', ""),
    (
        "mode_option_wins",
        ["--mode", "standard"],
        "f.formula.json.j2",
        "{{{ v }}}",
        {"v": "x"},
        0,
        '"x"',
        "",
    ),
    ("render_error", [], "t.txt", "a\n{{{ nope.x }}}", {}, 1, "", "undefined value"),
    ("syntax_error", [], "t.txt", "{% if %}", {}, 1, "", "syntax error"),
    ("bad_mode", ["--mode", "yaml"], "t.txt", "x", None, 2, "", ""),
]


@needs_tool
@pytest.mark.parametrize("case", CLI_CASES, ids=lambda c: c[0])
def test_command_line(case, tmp_path):
    _, options, name, template, context, status, stdout, stderr = case
    path = tmp_path / name
    path.write_text(template)
    args = [str(TOOL), *options, str(path)]
    if context is not None:
        (tmp_path / "ctx.json").write_text(json.dumps(context))
        args.append(str(tmp_path / "ctx.json"))
    proc = subprocess.run(args, capture_output=True, text=True, timeout=GUARD_SECONDS)
    assert proc.returncode == status, proc.stderr
    if status == 0:
        assert proc.stdout == stdout
    else:
        assert proc.stdout == ""
        assert proc.stderr.startswith(stderr) and proc.stderr.strip()
        if status == 1:
            assert f"(in {path}:" in proc.stderr


@needs_tool
@pytest.mark.parametrize(
    "stdin_case",
    [
        ("template_on_stdin", ["-"], "{{{ 1 + 1 }}}", 0),
        ("context_not_an_object", ["-", "CTX"], "x", 2),
        ("context_not_json", ["-", "BAD"], "x", 2),
        ("missing_template_file", ["/nonexistent/t.txt"], "", 2),
        ("template_is_a_directory", ["DIR"], "", 2),
        ("context_is_a_directory", ["-", "DIR"], "x", 2),
        ("too_many_arguments", ["a", "b", "c"], "", 2),
    ],
    ids=lambda c: c[0],
)
def test_command_line_inputs(stdin_case, tmp_path):
    _, args, stdin, status = stdin_case
    (tmp_path / "CTX").write_text("[1, 2]")
    (tmp_path / "BAD").write_text("{nope")
    args = [
        str(tmp_path) if a == "DIR" else str(tmp_path / a) if a in ("CTX", "BAD") else a
        for a in args
    ]
    proc = subprocess.run(
        [str(TOOL), *args], input=stdin, capture_output=True, text=True, timeout=GUARD_SECONDS
    )
    assert proc.returncode == status, proc.stderr
    if status == 0:
        assert proc.stdout == "2"
    else:
        assert proc.stderr.strip()


def mismatch_report() -> str:
    """Every case whose engine result differs, as text for the engine's authors."""
    env = engine_cases.jinja2_environment()
    results = run_batch(CASES)
    lines, failed = [], 0
    for case in CASES:
        got = results[case.name]
        jinja2_refusal = None
        if case.either:
            try:
                engine_cases.render_with_jinja2(case, env)
            except Exception as refusal:
                jinja2_refusal = f"{type(refusal).__name__}: {refusal}"
        if case.error is not None:
            ok = (
                "error" in got
                and got["error"].startswith(case.error)
                and (
                    case.line is None or got["error"].endswith(f"(in {TEMPLATE_NAME}:{case.line})")
                )
            )
            want = f"error starting {case.error!r}" + (f" at line {case.line}" if case.line else "")
        elif jinja2_refusal is not None:
            ok = "error" in got
            want = f"a failure, as Jinja2 fails: {jinja2_refusal[:200]}"
        else:
            want = (
                case.expected
                if case.expected is not None
                else engine_cases.render_with_jinja2(case, env)
            )
            ok = got.get("output") == want
            want = repr(want)
        if ok:
            continue
        failed += 1
        shown = case.template if len(case.template) < 300 else case.template[:300] + "..."
        lines += [
            f"- {case.name} ({case.why or 'jinja2'})",
            f"  template: {shown!r}",
            f"  context:  {json.dumps(case.context)[:300]}",
            f"  want:     {want}",
            f"  got:      {json.dumps(got)[:600]}",
        ]
    lines.insert(0, f"{len(CASES)} cases, {len(CASES) - failed} pass, {failed} mismatch")
    return "\n".join(lines)


if __name__ == "__main__":
    if TOOL is None:
        raise SystemExit("korvel_render was not built; set KORVEL_RENDER")
    print(mismatch_report())
