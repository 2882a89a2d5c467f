"""The error classes and the marks they show."""

from __future__ import annotations

import pytest

from brackle.error import (
    EmitterError,
    InternalError,
    Mark,
    MarkedYAMLError,
    ScannerError,
    YAMLError,
    make_error,
)


@pytest.mark.parametrize(
    ("source", "index", "line", "col", "shown"),
    [
        ("a: 1\nb: [x", 8, 1, 3, "    b: [x\n       ^"),
        ("a: 1\r\nb: `\r\n", 9, 1, 3, "    b: `\n       ^"),  # the CR is no part of the line
        ("a: 1\n", 5, 1, 0, "    \n    ^"),  # the end of a text after its last line break
        ("[a", 2, 1, 0, "    [a\n      ^"),  # the end of a text without one
        ("", 0, 0, 0, "    \n    ^"),
    ],
)
def test_mark_shows_its_line_and_a_caret_under_the_place(source, index, line, col, shown):
    mark = Mark("<unicode string>", index, line, col, source)
    assert str(mark) == f'  in "<unicode string>", line {line + 1}, column {col + 1}:\n{shown}'


def test_mark_cuts_a_long_line_around_the_place():
    source = "k: " + "x" * 200 + "`" + "y" * 200
    index = source.index("`")
    snippet = str(Mark("s", index, 0, index, source)).splitlines()
    line, caret = snippet[1], snippet[2]
    assert line.startswith("    ... ") and line.endswith(" ...")
    assert len(line) < 100
    assert line[caret.index("^")] == "`"


def test_mark_without_source_shows_only_the_position():
    assert str(Mark("f.yaml", 3, 0, 3, None)) == '  in "f.yaml", line 1, column 4'


@pytest.mark.parametrize(("kind", "cls"), [("scanner", ScannerError), ("other", MarkedYAMLError)])
def test_make_error_builds_a_marked_error_for_its_kind(kind, cls):
    error = make_error(kind, "found something", 1, 3, 8, "a: 1\nb: [x", "f.yaml")
    assert type(error) is cls
    assert error.problem == "found something"
    assert error.problem_mark == Mark("f.yaml", 8, 1, 3, "a: 1\nb: [x")
    assert (error.context, error.context_mark) == (None, None)
    assert str(error) == 'found something\n  in "f.yaml", line 2, column 4:\n    b: [x\n       ^'


def test_emitter_error_built_from_a_message_shows_the_message():
    error = EmitterError(None, None, "a Plain scalar cannot represent this value here: x", None)
    assert str(error) == "a Plain scalar cannot represent this value here: x"
    assert error.problem == "a Plain scalar cannot represent this value here: x"
    assert isinstance(error, YAMLError) and isinstance(error, Exception)


def test_context_is_shown_before_the_problem():
    source = "a: [x\n"
    error = MarkedYAMLError(
        "while parsing a flow sequence",
        Mark("s", 3, 0, 3, source),
        "expected ',' or ']'",
        Mark("s", 6, 1, 0, source),
    )
    assert str(error).splitlines()[0] == "while parsing a flow sequence"
    assert str(error).splitlines()[4] == "expected ',' or ']'"


def test_internal_error_is_not_an_exception():
    error = InternalError("brackle-core: source larger than 4 GiB")
    assert isinstance(error, BaseException) and not isinstance(error, Exception)
    assert str(error) == "brackle-core: source larger than 4 GiB"
