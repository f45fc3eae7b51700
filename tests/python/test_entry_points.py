"""The five entry functions end to end with a scripted bd: which stages run, how receipts and
errors reach Python, and that the interpreter lock is released while a request runs."""

from __future__ import annotations

import threading
import time

import pytest

from korvel_beads import _native

AUTH = _native.PourAuthorization.CREATE_PERSISTENT_BEADS
# Guards against a hung child or thread; nothing is timed or asserted about durations.
GUARD_SECONDS = 120


def make_request(workspace, bd=None, *, output=None, **keywords):
    if output is None:
        output = workspace.formulas / "release.formula.toml"
    return _native.BeadComposeRequest(
        workspace.root,
        workspace.template,
        output,
        {"name": 'rel"ease', "description": "line\nbreak"},
        bd_executable=None if bd is None else bd.path,
        **keywords,
    )


def stage_summary(receipt):
    return [(s.stage, s.outcome.kind, s.outcome.code) for s in receipt.stages]


EXPECTED_FORMULA = 'formula = "rel\\"ease"\ndescription = "line\\nbreak"'


def test_render_writes_the_formula_and_records_one_stage(workspace):
    receipt = _native.render(make_request(workspace))
    assert (receipt.schema, receipt.operation) == ("korvel/beads/v1", "render")
    assert receipt.rendered_formula == str(workspace.formulas / "release.formula.toml")
    assert (receipt.outcome.kind, receipt.outcome.code) == ("succeeded", None)
    [stage] = receipt.stages
    assert (stage.stage, stage.argv, stage.exit_status) == ("render", [], None)
    assert (stage.stdout_excerpt, stage.stderr_excerpt) == ("", "")
    assert (stage.outcome.kind, stage.outcome.code) == ("succeeded", None)
    assert isinstance(stage.elapsed_ms, int) and stage.elapsed_ms >= 0
    written = (workspace.formulas / "release.formula.toml").read_text(encoding="utf-8")
    assert written == EXPECTED_FORMULA


def test_operation_functions_force_their_operation_and_execute_uses_the_stored_one(
    workspace, scripted_bd
):
    scripted_bd.configure(where_path=str(workspace.beads_dir))
    request = make_request(
        workspace,
        scripted_bd,
        operation="pour",
        formula_name="release",
        pour_authorization=AUTH,
        bead_variables={"b": "2", "a": "x=1"},
    )
    rendered = _native.render(request)
    assert rendered.operation == "render"
    assert stage_summary(rendered) == [("render", "succeeded", None)]
    assert scripted_bd.calls() == []

    poured = _native.execute(request=request)
    assert poured.operation == "pour"
    assert stage_summary(poured) == [
        ("render", "succeeded", None),
        ("validate", "succeeded", None),
        ("resolve_active_registry", "succeeded", None),
        ("pour", "succeeded", None),
    ]
    program = str(scripted_bd.path)
    formula = str(workspace.formulas / "release.formula.toml")
    assert [s.argv for s in poured.stages[1:]] == [
        [program, "cook", formula, "--dry-run", "--json", "--var", "a=x=1", "--var", "b=2"],
        [program, "where", "--json"],
        [program, "mol", "pour", "release", "--json", "--var", "a=x=1", "--var", "b=2"],
    ]
    assert all(call["cwd"] == str(workspace.root) for call in scripted_bd.calls())
    assert [s.exit_status for s in poured.stages] == [None, 0, 0, 0]
    assert request.operation == "pour"  # the request itself never changes


@pytest.mark.parametrize(
    ("function", "config", "stages", "code"),
    [
        ("validate", {}, ["render", "validate"], None),
        ("validate", {"exit": {"cook": 2}}, ["render", "validate"], "BEADS_COOK_FAILED"),
        (
            "preview_pour",
            {},
            ["render", "validate", "resolve_active_registry", "preview_pour"],
            None,
        ),
        (
            "preview_pour",
            {"exit": {"where": 1}},
            ["render", "validate", "resolve_active_registry"],
            "BEADS_WHERE_FAILED",
        ),
        (
            "preview_pour",
            {"where_path": "/nonexistent/beads"},
            ["render", "validate", "resolve_active_registry"],
            "BEADS_WHERE_FAILED",
        ),
        (
            "preview_pour",
            {"exit": {"pour": 4}},
            ["render", "validate", "resolve_active_registry", "preview_pour"],
            "BEADS_PREVIEW_POUR_FAILED",
        ),
        (
            "pour",
            {"exit": {"pour": 1}},
            ["render", "validate", "resolve_active_registry", "pour"],
            "BEADS_POUR_FAILED",
        ),
    ],
)
def test_stage_endings_come_back_as_receipts(
    workspace, scripted_bd, function, config, stages, code
):
    scripted_bd.configure(
        **{"where_path": str(workspace.beads_dir), "stderr": {"cook": "cook says no"}, **config}
    )
    request = make_request(workspace, scripted_bd, formula_name="release", pour_authorization=AUTH)
    receipt = getattr(_native, function)(request)
    assert receipt.operation == function
    assert [s.stage for s in receipt.stages] == stages
    expected_kind = "succeeded" if code is None else "failed"
    assert (receipt.outcome.kind, receipt.outcome.code) == (expected_kind, code)
    last = receipt.stages[-1]
    assert (last.outcome.kind, last.outcome.code) == (expected_kind, code)
    assert all(s.outcome.kind == "succeeded" for s in receipt.stages[:-1])
    if function == "validate":
        assert receipt.stages[1].exit_status == config.get("exit", {}).get("cook", 0)
        assert receipt.stages[1].stderr_excerpt == "cook says no"


def test_preview_pour_refers_to_the_formula_in_the_registry_only(workspace, scripted_bd):
    scripted_bd.configure(where_path=str(workspace.beads_dir))
    other = workspace.root / "other.formula.toml"
    receipt = _native.preview_pour(
        make_request(workspace, scripted_bd, output=other, formula_name="release")
    )
    assert (receipt.outcome.kind, receipt.outcome.code) == (
        "failed",
        "BEADS_FORMULA_OUTSIDE_ACTIVE_REGISTRY",
    )
    assert receipt.stages[-1].exit_status == 0


def raised(call):
    with pytest.raises(_native.BeadComposeError) as info:
        call()
    error = info.value
    assert str(error) == error.message
    assert error.args == (error.code, error.message, error.stage)
    return error


@pytest.mark.parametrize(
    ("keywords", "function", "code", "message"),
    [
        (
            {"schema": "korvel/beads/v1 "},
            "render",
            "BEADS_UNKNOWN_SCHEMA",
            "unsupported Beads composition schema `korvel/beads/v1 `",
        ),
        ({}, "pour", "BEADS_FORMULA_NAME_REQUIRED", "formula name is required for pour operations"),
        (
            {"formula_name": "release"},
            "pour",
            "BEADS_POUR_AUTH_REQUIRED",
            "persistent Beads creation requires explicit authorization",
        ),
        (
            {"bead_variables": {"a.b": "1"}},
            "render",
            "BEADS_VARIABLE_KEY_INVALID",
            "invalid Beads variable key `a.b`",
        ),
        (
            {"bead_variables": {"k": "a\0b"}},
            "render",
            "BEADS_VARIABLE_VALUE_INVALID",
            'invalid Beads variable value for `k`: "a\\0b"',
        ),
    ],
)
def test_validation_failures_raise_with_stage_request(workspace, keywords, function, code, message):
    output = workspace.formulas / "release.formula.toml"
    error = raised(lambda: getattr(_native, function)(make_request(workspace, **keywords)))
    assert (error.code, error.stage, error.message) == (code, "request", message)
    assert not output.exists()  # nothing is written before validation passed


def test_missing_bd_raises_after_the_formula_was_written(workspace, tmp_path):
    request = _native.BeadComposeRequest(
        workspace.root,
        workspace.template,
        workspace.root / "x.formula.toml",
        {"name": "n", "description": "d"},
        bd_executable=tmp_path / "no-such-bd",
    )
    error = raised(lambda: _native.validate(request))
    assert (error.code, error.stage) == ("BEADS_BD_UNAVAILABLE", "validate")
    assert error.message == f"Beads executable is unavailable: {tmp_path / 'no-such-bd'}"
    assert (workspace.root / "x.formula.toml").exists()
    assert _native.render(request).outcome.kind == "succeeded"


@pytest.mark.parametrize(
    ("flood", "function", "stage", "display"),
    [
        ("cook", "validate", "validate", "Validate"),
        ("where", "preview_pour", "resolve_active_registry", "ResolveActiveRegistry"),
        ("pour", "preview_pour", "preview_pour", "PreviewPour"),
    ],
)
def test_output_limit_raises_with_the_stage_that_hit_it(
    workspace, scripted_bd, flood, function, stage, display
):
    scripted_bd.configure(where_path=str(workspace.beads_dir), flood=flood)
    request = make_request(workspace, scripted_bd, formula_name="release")
    error = raised(lambda: getattr(_native, function)(request))
    assert (error.code, error.stage) == ("BEADS_PROCESS_OUTPUT_LIMIT", stage)
    assert error.message == f"Beads {display} output exceeded the 65536-byte capture limit"


def test_a_failing_stage_is_not_raised_and_failed_excerpts_are_kept(workspace, scripted_bd):
    long_output = "é" * 20000
    scripted_bd.configure(exit={"cook": 3}, stdout={"cook": long_output})
    receipt = _native.validate(make_request(workspace, scripted_bd))
    stage = receipt.stages[1]
    assert stage.stdout_excerpt == "é" * 16384
    assert (stage.exit_status, stage.outcome.code) == (3, "BEADS_COOK_FAILED")


def test_threads_run_requests_while_python_keeps_running(workspace, scripted_bd, tmp_path):
    workers = 4
    started = tmp_path / "started"
    started.mkdir()
    release = tmp_path / "release"
    scripted_bd.configure(
        started_dir=str(started), release_file=str(release), guard_seconds=GUARD_SECONDS
    )
    receipts: list[object] = []
    failures: list[BaseException] = []

    def run(index: int) -> None:
        request = make_request(
            workspace, scripted_bd, output=workspace.root / f"f{index}.formula.toml"
        )
        try:
            receipts.append(_native.validate(request))
        except BaseException as failure:  # reported by the main thread
            failures.append(failure)

    threads = [threading.Thread(target=run, args=(i,)) for i in range(workers)]
    for thread in threads:
        thread.start()
    # Every bd child is now blocked until this thread, running Python code, releases them. That
    # can only happen if each worker let go of the interpreter lock while its request runs.
    python_steps = 0
    deadline = time.monotonic() + GUARD_SECONDS
    while len(list(started.iterdir())) < workers and time.monotonic() < deadline:
        python_steps += 1
        time.sleep(0.005)
    all_started = len(list(started.iterdir()))
    release.touch()
    for thread in threads:
        thread.join(GUARD_SECONDS)
    assert all_started == workers
    assert python_steps > 0
    assert failures == []
    assert [r.outcome.kind for r in receipts] == ["succeeded"] * workers


def test_an_unusable_argument_for_bd_raises_with_stage_validate(workspace):
    request = _native.BeadComposeRequest(
        workspace.root,
        workspace.template,
        workspace.root / "x.formula.toml",
        {"name": "n", "description": "d"},
        bd_executable="/bin/b\0d",
    )
    error = raised(lambda: _native.validate(request))
    assert (error.code, error.stage) == ("BEADS_PROCESS_ARGUMENT_INVALID", "validate")
    assert error.message.startswith("invalid argument for Beads executable `/bin/b\0d`: ")
