"""BeadComposeRequest from Python values: defaults, stored values, the refusals in their order of
precedence, and the compose_variables round trip through json.dumps and the project's reader."""

from __future__ import annotations

import math
import pathlib
import re
from collections import OrderedDict

import pytest

from korvel_beads import _native

Req = _native.BeadComposeRequest
PATHS = ("/w", "/w/t.formula.toml.j2", "/w/o.formula.toml")


def refusal(call) -> str:
    with pytest.raises(_native.BeadComposeError) as raised:
        call()
    error = raised.value
    assert error.code == "BEADS_REQUEST_DESERIALIZATION_FAILED"
    assert error.stage == "request"
    assert str(error) == error.message
    assert error.args == (error.code, error.message, error.stage)
    return error.message


def test_defaults():
    request = Req(*PATHS, {})
    assert request.operation == "render"
    assert request.schema == "korvel/beads/v1"
    assert request.formula_name is None
    assert request.bd_executable is None
    assert request.pour_authorization is None
    assert request.bead_variables == {}
    assert request.compose_variables == {}


def test_every_value_is_stored():
    request = Req(
        pathlib.Path("/w"),
        "t.j2",
        "o.formula.json",
        {"k": "v"},
        operation="pour",
        formula_name="",
        bead_variables={"z": "1", "": "", "a": "x=1"},
        bd_executable=pathlib.PurePosixPath("/opt/bd"),
        pour_authorization="CreatePersistentBeads",
        schema="korvel/beads/v2",
    )
    assert request.working_directory == "/w" and type(request.working_directory) is str
    assert (request.template, request.rendered_formula) == ("t.j2", "o.formula.json")
    assert request.operation == "pour"
    assert request.formula_name == ""
    assert list(request.bead_variables.items()) == [("", ""), ("a", "x=1"), ("z", "1")]
    assert request.bd_executable == "/opt/bd"
    assert request.pour_authorization == "CreatePersistentBeads"
    assert request.schema == "korvel/beads/v2"


def test_path_like_objects_become_their_text():
    class Custom:
        def __fspath__(self):
            return "relative/dir"

    request = Req(Custom(), *PATHS[1:], {})
    assert request.working_directory == "relative/dir"


@pytest.mark.parametrize("operation", ["render", "validate", "preview_pour", "pour"])
def test_operations(operation):
    assert Req(*PATHS, {}, operation=operation).operation == operation


@pytest.mark.parametrize(
    ("arguments", "keywords", "message"),
    [
        (PATHS + ({1: "x"},), {}, "compose_variables object keys must be strings"),
        (PATHS + ({"a": {"\ud800": 1}},), {}, "compose_variables object keys must be strings"),
        (
            PATHS + ({"a": float("inf")},),
            {},
            "compose_variables floating-point values must be finite",
        ),
        (
            PATHS + ({"a": [(1, [float("nan")])]},),
            {},
            "compose_variables floating-point values must be finite",
        ),
        (
            PATHS + ({"a": ([float("nan")],)},),
            {},
            "compose_variables floating-point values must be finite",
        ),
        (PATHS + ([],), {}, "compose_variables must be a string-keyed mapping"),
        (PATHS + ("text",), {}, "compose_variables must be a string-keyed mapping"),
        (PATHS + (3,), {}, "compose_variables must be a string-keyed mapping"),
        (PATHS + (None,), {}, "compose_variables must be a string-keyed mapping"),
        (PATHS + ({"a", "b"},), {}, "TypeError: Object of type set is not JSON serializable"),
        (
            PATHS + ({"a": object()},),
            {},
            "TypeError: Object of type object is not JSON serializable",
        ),
        (PATHS + ({"a": "\ud800"},), {}, None),  # the reader's message for the surrogate escape
        (
            PATHS + ({},),
            {"pour_authorization": "createpersistentbeads"},
            "pour_authorization must be CreatePersistentBeads when supplied",
        ),
        (
            PATHS + ({},),
            {"pour_authorization": " CreatePersistentBeads"},
            "pour_authorization must be CreatePersistentBeads when supplied",
        ),
        (
            PATHS + ({},),
            {"operation": "Render"},
            "operation must be render, validate, preview_pour, or pour",
        ),
        (
            PATHS + ({},),
            {"operation": "render "},
            "operation must be render, validate, preview_pour, or pour",
        ),
        (
            PATHS + ({},),
            {"operation": "resolve_active_registry"},
            "operation must be render, validate, preview_pour, or pour",
        ),
        ((b"/w",) + PATHS[1:] + ({},), {}, "working_directory must be a path-like string"),
        (("/w", b"t", "o", {}), {}, "template must be a path-like string"),
        (("/w", "t", "o\udcff", {}), {}, "rendered_formula must be a path-like string"),
        (PATHS + ({},), {"bd_executable": b"/bin/bd"}, "bd_executable must be a path-like string"),
        (
            PATHS + ({},),
            {"bead_variables": [("a", "b")]},
            "bead_variables must be a string mapping",
        ),
        (PATHS + ({},), {"bead_variables": {1: "b"}}, "bead_variables keys must be strings"),
        (PATHS + ({},), {"bead_variables": {"a": 1}}, "bead_variables values must be strings"),
        (
            PATHS + ({},),
            {"bead_variables": {"a": "\ud800"}},
            "bead_variables values must be strings",
        ),
    ],
)
def test_refusals(arguments, keywords, message):
    got = refusal(lambda: Req(*arguments, **keywords))
    if message is None:
        assert re.fullmatch(r"[a-z ]+ at line 1 column \d+", got), got
    else:
        assert got == message


@pytest.mark.parametrize(
    ("keywords", "message"),
    [
        # compose_variables before pour_authorization before operation before the paths ...
        (
            {
                "compose_variables": [],
                "pour_authorization": "x",
                "operation": "x",
                "working_directory": b"/w",
            },
            "compose_variables must be a string-keyed mapping",
        ),
        (
            {"pour_authorization": "x", "operation": "x", "working_directory": b"/w"},
            "pour_authorization must be CreatePersistentBeads when supplied",
        ),
        (
            {"operation": "x", "working_directory": b"/w"},
            "operation must be render, validate, preview_pour, or pour",
        ),
        # ... the three paths in order, then bead_variables, then bd_executable.
        (
            {"working_directory": b"/w", "template": b"t", "bead_variables": []},
            "working_directory must be a path-like string",
        ),
        (
            {"template": b"t", "rendered_formula": b"o", "bead_variables": []},
            "template must be a path-like string",
        ),
        (
            {"rendered_formula": b"o", "bead_variables": [], "bd_executable": b"bd"},
            "rendered_formula must be a path-like string",
        ),
        ({"bead_variables": [], "bd_executable": b"bd"}, "bead_variables must be a string mapping"),
        ({"bead_variables": {"k": 1, 2: "v"}}, "bead_variables values must be strings"),
        (
            {"compose_variables": {"a": float("nan"), 1: 2}},
            "compose_variables floating-point values must be finite",
        ),
    ],
)
def test_order_of_precedence(keywords, message):
    values = {
        "working_directory": "/w",
        "template": "t",
        "rendered_formula": "o",
        "compose_variables": {},
    }
    values.update(keywords)
    assert refusal(lambda: Req(**values)) == message


def test_conversion_errors_come_before_value_refusals():
    with pytest.raises(TypeError) as raised:
        Req("/w", "t", "o", [], operation="x", schema=None)
    assert raised.value.__notes__ == ["while processing 'schema'"]


@pytest.mark.parametrize("value", [1, None, ["a"]])
def test_paths_that_fspath_refuses_raise_its_type_error(value):
    with pytest.raises(TypeError) as raised:
        Req("/w", value, "o", {})
    assert not isinstance(raised.value, _native.BeadComposeError)
    assert "expected str, bytes or os.PathLike object" in str(raised.value)


def test_fspath_exceptions_pass_unchanged():
    class Broken:
        def __fspath__(self):
            raise LookupError("no path today")

    with pytest.raises(LookupError, match="no path today"):
        Req("/w", "t", Broken(), {})


def test_round_trip_sorts_keys_at_every_level_and_normalises_values():
    class Text(str):
        pass

    class Number(int):
        pass

    source = {
        "b": {"z": 1, "a": [(1, 2), True, None]},
        "a": OrderedDict([("y", 1.5), ("x", -3)]),
        "big": 2**70,
        "unsigned": 2**64 - 1,
        "negative": -(2**63),
        "sub": [Text("t"), Number(7), 0.1],
    }
    request = Req(*PATHS, source)
    result = request.compose_variables
    assert list(result) == ["a", "b", "big", "negative", "sub", "unsigned"]
    assert list(result["a"]) == ["x", "y"]
    assert list(result["b"]) == ["a", "z"]
    assert result["b"]["a"] == [[1, 2], True, None]
    assert type(result["big"]) is float and result["big"] == float(2**70)
    assert result["unsigned"] == 2**64 - 1 and type(result["unsigned"]) is int
    assert result["negative"] == -(2**63)
    assert [type(value) for value in result["sub"]] == [str, int, float]
    assert result["sub"] == ["t", 7, 0.1]
    assert result["a"]["y"] == 1.5
    # A fresh object on every read, independent of the caller's value.
    result["a"]["x"] = 99
    source["b"]["z"] = 42
    assert request.compose_variables["a"]["x"] == -3
    assert request.compose_variables["b"]["z"] == 1
    assert request.compose_variables is not request.compose_variables


def test_keys_ordered_by_bytes_not_by_code_points():
    # U+FFFF encodes as EF BF BF, U+10000 as F0 90 80 80; "B" sorts before "a".
    request = Req(*PATHS, {"\U00010000": 1, "\uffff": 2, "a": 3, "B": 4})
    assert list(request.compose_variables) == ["B", "a", "\uffff", "\U00010000"]


def nested(levels: int):
    value: object = 1
    for level in range(levels - 1):
        value = [value] if level % 2 else {"k": value}
    return {"top": value}


def test_nesting_127_levels_is_accepted_and_128_refused():
    assert Req(*PATHS, nested(127)).compose_variables == nested(127)
    message = refusal(lambda: Req(*PATHS, nested(128)))
    assert message.startswith("recursion limit exceeded at line 1 column ")


@pytest.mark.parametrize("levels", [129, 400, 5000])
def test_deeper_nesting_is_refused_without_crashing(levels):
    assert refusal(lambda: Req(*PATHS, nested(levels)))


def test_a_non_finite_float_below_the_checked_depth_still_never_passes():
    deep = nested(200)
    deep["nan"] = float("nan")
    assert refusal(lambda: Req(*PATHS, deep))


@pytest.mark.parametrize(
    "make",
    [
        lambda: (lambda items: (items.append(items), {"loop": items})[1])([]),
        lambda: (lambda d: (d.__setitem__("self", d), d)[1])({}),
    ],
)
def test_a_container_that_holds_itself_is_refused(make):
    message = refusal(lambda: Req(*PATHS, make()))
    assert message == "ValueError: Circular reference detected"


def test_dict_subclass_is_a_mapping():
    class Config(dict):
        pass

    assert Req(*PATHS, Config(b=1, a=2)).compose_variables == {"a": 2, "b": 1}
    variables = Req(*PATHS, {}, bead_variables=Config(k="v")).bead_variables
    assert variables == {"k": "v"} and type(variables) is dict


def test_bead_variables_read_back_fresh_and_sorted():
    request = Req(*PATHS, {}, bead_variables={"z": "1", "a": "2", "m": "3"})
    first = request.bead_variables
    assert list(first) == ["a", "m", "z"]
    first["new"] = "x"
    assert "new" not in request.bead_variables


def test_float_values_round_trip_exactly():
    values = [0.1, 1e-7, 1e16, 2.0, -0.0, 5e-324, 1.7976931348623157e308]
    result = Req(*PATHS, {"v": values}).compose_variables["v"]
    assert result == values
    assert math.copysign(1.0, result[4]) == -1.0


class Unprintable(Exception):
    def __str__(self) -> str:
        raise RuntimeError("no text")


def mapping_whose_items_raise(failure: BaseException) -> dict:
    class Raising(dict):
        # json.dumps walks a dict subclass through items(); the pre-check reads the dict itself.
        def items(self):
            raise failure

    return {"nested": Raising(k=1)}


@pytest.mark.parametrize(
    ("failure", "message"),
    [
        (ValueError("boom"), "ValueError: boom"),
        (Unprintable(), "Unprintable: <exception str() failed>"),
    ],
)
def test_json_dumps_failures_become_request_errors(failure, message):
    assert refusal(lambda: Req(*PATHS, mapping_whose_items_raise(failure))) == message


def test_an_interrupt_inside_json_dumps_is_not_turned_into_a_request_error():
    with pytest.raises(KeyboardInterrupt):
        Req(*PATHS, mapping_whose_items_raise(KeyboardInterrupt()))
