"""parse: its arguments, the byte-order mark, and the errors it raises."""

from __future__ import annotations

import pytest

import brackle
from brackle._brackle import _roundtrip_in_rust
from brackle._record import Doc
from brackle.error import Mark, MarkedYAMLError, ScannerError, YAMLError

BOM = "\ufeff"
# The ":" before the tab is an error at line 2, column 3, character 12.
BAD = "a: 1\n---\nb:\tc \n"
BAD_MESSAGE = "':' must be followed by a valid YAML whitespace"


def test_empty_source_is_one_empty_document():
    assert brackle.parse("") == [Doc()]


def test_source_of_only_a_byte_order_mark_is_one_empty_document_with_bom():
    assert brackle.parse(BOM) == [Doc(bom=True)]


def test_byte_order_mark_is_recorded_on_the_first_document_only():
    docs = brackle.parse(BOM + "a: b\n---\nc: d\n")
    assert [d.bom for d in docs] == [True, False]
    # Positions count from after the mark.
    assert docs[0].nodes[0].colon == [(0, 1)]
    assert docs[0].nodes[2].col == 3


@pytest.mark.parametrize("marks", [2, 3])
def test_only_the_first_of_several_leading_byte_order_marks_is_taken_off(marks):
    # Taken off too, a second mark would be lost, and a third would read
    # back as a second: "- - " would come back a sequence.
    text = BOM * marks + "- - \n"
    [doc] = brackle.parse(text)
    assert doc.bom and doc.nodes[0].value == BOM * (marks - 1) + "- -"
    assert brackle.emit([doc], brackle.EmitOptions()) == text


def test_byte_order_mark_inside_the_text_is_not_a_mark_of_the_stream():
    [doc] = brackle.parse("'a\ufeffb'\n")
    assert not doc.bom and doc.nodes[0].value == "a\ufeffb"


@pytest.mark.parametrize("flag", [True, False])
def test_allow_duplicate_keys_does_not_change_the_result(flag):
    text = "a: 1\na: 2\n"
    assert brackle.parse(text, allow_duplicate_keys=flag) == brackle.parse(text)


@pytest.mark.parametrize("value", [1, 0, None, "yes"])
def test_allow_duplicate_keys_accepts_only_a_bool(value):
    with pytest.raises(TypeError):
        brackle.parse("a: 1\n", allow_duplicate_keys=value)


@pytest.mark.parametrize(
    ("args", "kwargs"),
    [
        ((b"a: 1\n",), {}),  # source must be a str
        ((), {}),  # source is required
        (("a",), {"name": 3}),
        (("a", True), {}),  # allow_duplicate_keys is keyword only
        (("a",), {"unknown": 1}),
    ],
)
def test_bad_arguments_raise_type_error(args, kwargs):
    with pytest.raises(TypeError):
        brackle.parse(*args, **kwargs)


def test_source_may_be_given_by_keyword():
    assert brackle.parse(source="a\n") == brackle.parse("a\n")


def _error_of(call):
    with pytest.raises(ScannerError) as info:
        call()
    return info.value


def test_parse_error_carries_message_and_position():
    error = _error_of(lambda: brackle.parse(BAD))
    assert isinstance(error, MarkedYAMLError) and isinstance(error, YAMLError)
    assert error.problem == BAD_MESSAGE
    mark = error.problem_mark
    assert (mark.name, mark.line, mark.column, mark.index) == ("<unicode string>", 2, 3, 12)
    assert mark.buffer == BAD
    assert str(error) == (
        f'{BAD_MESSAGE}\n  in "<unicode string>", line 3, column 4:\n    b:\tc \n       ^'
    )


def test_parse_error_position_counts_from_after_the_byte_order_mark():
    error = _error_of(lambda: brackle.parse(BOM + BAD))
    mark = error.problem_mark
    assert (mark.line, mark.column, mark.index) == (2, 3, 12)
    assert mark.buffer == BAD


def test_parse_error_names_the_stream():
    error = _error_of(lambda: brackle.parse(BAD, name="config.yaml"))
    assert error.problem_mark.name == "config.yaml"
    assert 'in "config.yaml", line 3, column 4' in str(error)


def test_roundtrip_in_rust_errors_always_name_the_unicode_string():
    error = _error_of(lambda: _roundtrip_in_rust(BAD, brackle.EmitOptions()))
    assert error.problem == BAD_MESSAGE
    assert error.problem_mark == Mark("<unicode string>", 12, 2, 3, BAD)


@pytest.mark.parametrize(
    ("text", "position"),
    [
        ('a: "x\\q"\n', (0, 3, 3)),  # an error on the first line is on line 0
        ("[a", (1, 0, 2)),  # the end of a text without a final line break
    ],
)
def test_error_positions_count_lines_and_columns_from_zero(text, position):
    mark = _error_of(lambda: brackle.parse(text)).problem_mark
    assert (mark.line, mark.column, mark.index) == position


def test_roundtrip_in_rust_keeps_the_byte_order_mark():
    text = BOM + "a: b  # c\n"
    assert _roundtrip_in_rust(text, brackle.EmitOptions()) == text
    assert brackle.emit(brackle.parse(text), brackle.EmitOptions()) == text
