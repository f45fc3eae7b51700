"""The argument binding shared by the five functions and both constructors: its exact TypeError
messages, and the "while processing" note on a bound value that cannot be converted."""

from __future__ import annotations

import pytest

from korvel_beads import _native

Req = _native.BeadComposeRequest
Err = _native.BeadComposeError
PATHS = ("/w", "/w/t.formula.toml.j2", "/w/o.formula.toml", {})


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (
            lambda: Err("X"),
            "BeadComposeError.__new__() missing 1 required positional argument: 'message'",
        ),
        (
            lambda: Err(),
            "BeadComposeError.__new__() missing 2 required positional arguments: "
            "'code' and 'message'",
        ),
        (
            lambda: Err("a", "b", "c", "d"),
            "BeadComposeError.__new__() takes from 2 to 3 positional arguments but 4 were given",
        ),
        (
            lambda: Err("a", "b", code="c"),
            "BeadComposeError.__new__() got multiple values for argument 'code'",
        ),
        (
            lambda: Err("a", "b", level="c"),
            "BeadComposeError.__new__() got an unexpected keyword argument 'level'",
        ),
        (
            lambda: Req(),
            "BeadComposeRequest.__new__() missing 4 required positional arguments: "
            "'working_directory', 'template', 'rendered_formula', and 'compose_variables'",
        ),
        (
            lambda: Req("/w"),
            "BeadComposeRequest.__new__() missing 3 required positional arguments: "
            "'template', 'rendered_formula', and 'compose_variables'",
        ),
        (
            lambda: Req("/w", compose_variables={}),
            "BeadComposeRequest.__new__() missing 2 required positional arguments: "
            "'template' and 'rendered_formula'",
        ),
        (
            lambda: Req("/w", "t"),
            "BeadComposeRequest.__new__() missing 2 required positional arguments: "
            "'rendered_formula' and 'compose_variables'",
        ),
        (
            lambda: Req(*PATHS, "render"),
            "BeadComposeRequest.__new__() takes 4 positional arguments but 5 were given",
        ),
        (
            lambda: Req(*PATHS, template="t"),
            "BeadComposeRequest.__new__() got multiple values for argument 'template'",
        ),
        (
            lambda: Req(*PATHS, operations="render"),
            "BeadComposeRequest.__new__() got an unexpected keyword argument 'operations'",
        ),
        (lambda: _native.render(), "render() missing 1 required positional argument: 'request'"),
        (
            lambda: _native.validate(1, 2),
            "validate() takes 1 positional arguments but 2 were given",
        ),
        (lambda: _native.pour(req=None), "pour() got an unexpected keyword argument 'req'"),
        (
            lambda: _native.preview_pour(None, request=None),
            "preview_pour() got multiple values for argument 'request'",
        ),
        (lambda: _native.execute(), "execute() missing 1 required positional argument: 'request'"),
    ],
)
def test_binding_messages(call, message):
    with pytest.raises(TypeError) as raised:
        call()
    assert str(raised.value) == message
    assert not getattr(raised.value, "__notes__", None)


@pytest.mark.parametrize("function", ["execute", "render", "validate", "preview_pour", "pour"])
@pytest.mark.parametrize(
    ("value", "message"),
    [
        (None, "'None' is not an instance of 'BeadComposeRequest'"),
        ("request", "'str' object is not an instance of 'BeadComposeRequest'"),
        ({}, "'dict' object is not an instance of 'BeadComposeRequest'"),
    ],
)
def test_functions_refuse_anything_but_a_request(function, value, message):
    for call in (
        lambda: getattr(_native, function)(value),
        lambda: getattr(_native, function)(request=value),
    ):
        with pytest.raises(TypeError) as raised:
            call()
        assert str(raised.value) == message
        assert raised.value.__notes__ == ["while processing 'request'"]


@pytest.mark.parametrize(
    ("keyword", "value", "error", "message"),
    [
        ("operation", None, TypeError, "'None' is not an instance of 'str'"),
        ("operation", 1, TypeError, "'int' object is not an instance of 'str'"),
        ("operation", "\ud800", UnicodeEncodeError, None),
        ("formula_name", b"x", TypeError, "'bytes' object is not an instance of 'str'"),
        ("formula_name", "\udfff", UnicodeEncodeError, None),
        ("pour_authorization", 1.5, TypeError, "'float' object is not an instance of 'str'"),
        ("schema", None, TypeError, "'None' is not an instance of 'str'"),
        ("schema", ["korvel/beads/v1"], TypeError, "'list' object is not an instance of 'str'"),
    ],
)
def test_request_keyword_conversions_carry_the_note(keyword, value, error, message):
    with pytest.raises(error) as raised:
        Req(*PATHS, **{keyword: value})
    if message is not None:
        assert str(raised.value) == message
    assert raised.value.__notes__ == [f"while processing '{keyword}'"]


def test_qualified_type_name_of_a_nested_class():
    class Outer:
        class Inner:
            pass

    with pytest.raises(TypeError) as raised:
        Req(*PATHS, schema=Outer.Inner())
    assert "'test_qualified_type_name_of_a_nested_class.<locals>.Outer.Inner' object" in str(
        raised.value
    )


def test_binding_errors_come_before_conversions():
    # A surplus argument is reported although operation is also of the wrong type.
    with pytest.raises(TypeError, match="unexpected keyword argument 'bogus'"):
        Req(*PATHS, operation=None, bogus=1)
