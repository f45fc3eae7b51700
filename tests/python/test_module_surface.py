"""The module surface of korvel_beads._native: names and their order, class flags, read-only and
fresh properties, constants, docstrings and BeadComposeError."""

from __future__ import annotations

import copy
import gc
import shutil
import subprocess
import sys

import pytest

import korvel_beads
from korvel_beads import _native

REGISTRATION_ORDER = [
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
CLASSES = [_native.__dict__[name] for name in REGISTRATION_ORDER[1:10]]
SYSTEM_MADE = [
    _native.BeadOperation,
    _native.PourAuthorization,
    _native.BeadStage,
    _native.BeadStageOutcome,
    _native.BeadOutcome,
    _native.BeadStageReceipt,
    _native.BeadComposeReceipt,
]
FUNCTIONS = ["execute", "render", "validate", "preview_pour", "pour"]


def test_names_are_registered_in_order_and_listed_in_all():
    assert _native.__all__ == REGISTRATION_ORDER
    module_names = [name for name in vars(_native) if not name.startswith("__")]
    assert module_names == REGISTRATION_ORDER
    assert _native.__doc__ == ""
    assert korvel_beads.__all__ == REGISTRATION_ORDER
    for name in REGISTRATION_ORDER:
        assert getattr(korvel_beads, name) is getattr(_native, name)


def test_schema_constant():
    assert _native.BEADS_SCHEMA_V1 == "korvel/beads/v1"


@pytest.mark.parametrize(
    ("cls", "attributes"),
    [
        (
            _native.BeadStage,
            {
                "RENDER": "render",
                "VALIDATE": "validate",
                "RESOLVE_ACTIVE_REGISTRY": "resolve_active_registry",
                "PREVIEW_POUR": "preview_pour",
                "POUR": "pour",
            },
        ),
        (
            _native.BeadOperation,
            {
                "RENDER": "render",
                "VALIDATE": "validate",
                "PREVIEW_POUR": "preview_pour",
                "POUR": "pour",
            },
        ),
        (_native.PourAuthorization, {"CREATE_PERSISTENT_BEADS": "CreatePersistentBeads"}),
    ],
)
def test_constants_classes_hold_plain_str_attributes(cls, attributes):
    own = {name: value for name, value in vars(cls).items() if name.isupper()}
    assert own == attributes
    assert all(type(value) is str for value in own.values())
    with pytest.raises(TypeError):
        setattr(cls, next(iter(attributes)), "changed")
    assert getattr(cls, next(iter(attributes))) == attributes[next(iter(attributes))]


def test_operation_has_no_resolve_constant():
    assert not hasattr(_native.BeadOperation, "RESOLVE_ACTIVE_REGISTRY")


@pytest.mark.parametrize("cls", CLASSES, ids=lambda cls: cls.__name__)
def test_class_names_flags_and_subclassing(cls):
    assert cls.__module__ == "builtins"
    assert cls.__qualname__ == cls.__name__
    if cls is not _native.BeadComposeError:  # Exception itself brings a __dict__
        assert "__dict__" not in dir(cls)
    assert cls.__weakrefoffset__ == 0
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


@pytest.mark.parametrize("cls", SYSTEM_MADE, ids=lambda cls: cls.__name__)
def test_system_made_classes_cannot_be_called(cls):
    with pytest.raises(TypeError):
        cls()
    with pytest.raises(TypeError):
        object.__new__(cls)
    assert cls.__doc__ is None


def test_constructible_class_docstrings_are_text_signatures():
    assert _native.BeadComposeError.__text_signature__ == "(code, message, stage=None)"
    assert _native.BeadComposeRequest.__text_signature__ == (
        '(working_directory, template, rendered_formula, compose_variables, *, operation="render", '
        "formula_name=None, bead_variables=None, bd_executable=None, pour_authorization=None, "
        "schema=...)"
    )
    for name in FUNCTIONS:
        function = getattr(_native, name)
        assert function.__text_signature__ == "(request)"
        assert function.__doc__ in (None, "")
        assert function.__module__ == "korvel_beads._native"


def test_error_from_two_texts():
    error = _native.BeadComposeError("X", "m")
    assert (error.code, error.message, error.stage) == ("X", "m", None)
    assert error.args == ("X", "m")
    assert str(error) == "m"
    assert isinstance(error, Exception)


def test_error_from_three_values_keeps_the_stage_and_copies():
    error = _native.BeadComposeError(
        "BEADS_COOK_FAILED", "Beads formula validation failed", "validate"
    )
    assert error.args == ("BEADS_COOK_FAILED", "Beads formula validation failed", "validate")
    clone = copy.copy(error)  # rebuilt from args through the constructor
    assert clone is not error
    assert (clone.code, clone.message, clone.stage) == (error.code, error.message, error.stage)
    with pytest.raises(_native.BeadComposeError) as raised:
        raise error
    assert raised.value.stage == "validate"


@pytest.mark.parametrize(
    ("arguments", "message", "argument"),
    [
        ((1, "m"), "'int' object is not an instance of 'str'", "code"),
        (("X", None), "'None' is not an instance of 'str'", "message"),
        (("X", "m", b"validate"), "'bytes' object is not an instance of 'str'", "stage"),
    ],
)
def test_error_arguments_of_the_wrong_type(arguments, message, argument):
    with pytest.raises(TypeError) as raised:
        _native.BeadComposeError(*arguments)
    assert str(raised.value) == message
    assert raised.value.__notes__ == [f"while processing '{argument}'"]


def test_error_with_a_keyword_fails_in_the_inherited_initialiser():
    with pytest.raises(TypeError, match="keyword"):
        _native.BeadComposeError("X", "m", stage="render")


def make_receipt(tmp_path):
    (tmp_path / "t.formula.toml.j2").write_text("a = 1\n")
    request = _native.BeadComposeRequest(
        tmp_path, tmp_path / "t.formula.toml.j2", tmp_path / "t.formula.toml", {}
    )
    return _native.render(request)


@pytest.mark.parametrize(
    "attribute",
    [
        "schema",
        "operation",
        "working_directory",
        "template",
        "rendered_formula",
        "compose_variables",
        "formula_name",
        "bead_variables",
        "bd_executable",
        "pour_authorization",
    ],
)
def test_request_properties_are_read_only(tmp_path, attribute):
    request = _native.BeadComposeRequest(tmp_path, "t", "o.formula.toml", {})
    before = getattr(request, attribute)
    with pytest.raises(AttributeError):
        setattr(request, attribute, "x")
    with pytest.raises(AttributeError):
        delattr(request, attribute)
    assert getattr(request, attribute) == before


def test_receipt_properties_are_read_only_and_fresh(tmp_path):
    receipt = make_receipt(tmp_path)
    # Records hold no Python objects, so results stay out of the garbage collector.
    assert not gc.is_tracked(receipt) and not gc.is_tracked(receipt.stages[0])
    assert receipt.stages is not receipt.stages
    assert receipt.outcome is not receipt.outcome
    stages = receipt.stages
    stages.append("extra")
    assert len(receipt.stages) == 1
    stage = receipt.stages[0]
    argv = stage.argv
    argv.append("x")
    assert stage.argv == []
    assert stage.outcome is not stage.outcome
    for obj, names in [
        (receipt, ["schema", "operation", "rendered_formula", "stages", "outcome"]),
        (
            stage,
            [
                "stage",
                "argv",
                "exit_status",
                "elapsed_ms",
                "stdout_excerpt",
                "stderr_excerpt",
                "outcome",
            ],
        ),
        (receipt.outcome, ["kind", "code"]),
        (stage.outcome, ["kind", "code"]),
    ]:
        for name in names:
            with pytest.raises(AttributeError):
                setattr(obj, name, None)
            with pytest.raises(AttributeError):
                delattr(obj, name)


def test_only_the_initialisation_function_is_exported():
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not installed")
    flags = ["-gU"] if sys.platform == "darwin" else ["-D", "--defined-only"]
    listing = subprocess.run(
        [nm, *flags, _native.__file__], capture_output=True, text=True, check=True
    ).stdout
    symbols = [line.split()[-1] for line in listing.splitlines() if line.strip()]
    assert [symbol.lstrip("_") for symbol in symbols] == ["PyInit__native"]


def test_a_subinterpreter_cannot_share_the_process_wide_types():
    subinterpreters = pytest.importorskip("_xxsubinterpreters")
    interpreter = subinterpreters.create()
    try:
        with pytest.raises(subinterpreters.RunFailedError, match="only be imported in the main"):
            subinterpreters.run_string(
                interpreter, f"import sys; sys.path[:0] = {sys.path!r}; import korvel_beads._native"
            )
    finally:
        subinterpreters.destroy(interpreter)
    assert _native.BeadStage.POUR == "pour"
