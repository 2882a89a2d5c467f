"""dump and dump_all: Python data to YAML text that reads back (through
``brackle.load_all``) as the same data."""

from __future__ import annotations

import base64
import datetime as dt
import io
import types
from collections import OrderedDict, UserDict

import pytest
from hypothesis import given
from hypothesis import strategies as st

import brackle
from brackle import EmitterError, Node, Tagged

CORE = "tag:yaml.org,2002:"


def dumped(data, **options):
    return brackle.dump(data, **options)


def read_back(text):
    """The documents of ``text`` as Python data."""
    return brackle.load_all(text)


# ---- how each type is written ------------------------------------------------


@pytest.mark.parametrize(
    ("data", "text"),
    [
        (None, "null\n"),
        (True, "true\n"),
        (False, "false\n"),
        (-17, "-17\n"),
        (10**30, "1" + "0" * 30 + "\n"),
        (1.5, "1.5\n"),
        (1e16, "1.0e+16\n"),
        (1e-7, "1.0e-07\n"),
        (float("nan"), ".nan\n"),
        (float("inf"), ".inf\n"),
        (float("-inf"), "-.inf\n"),
        ("text", "text\n"),
        ("two\nlines", '"two\\nlines"\n'),
        ({"k": "a\nb\n"}, "k: |\n  a\n  b\n"),
        ("tab\there", "'tab\there'\n"),
        ("bell\a", '"bell\\a"\n'),
        (b"\x00\xff", "!!binary AP8=\n"),
        ([b""], "- !!binary\n"),
        (
            {"b": bytes(range(60))},
            "b: !!binary |\n  "
            + base64.encodebytes(bytes(range(60))).decode().replace("\n", "\n  ").rstrip(" "),
        ),
        (dt.date(2001, 12, 14), "!!timestamp 2001-12-14\n"),
        (
            dt.datetime(2001, 12, 14, 21, 59, 43, 100000, dt.timezone(dt.timedelta(hours=-5))),
            "!!timestamp 2001-12-14T21:59:43.100000-05:00\n",
        ),
        ({1}, "!!set\n1: null\n"),
        ((1, "a"), "- 1\n- a\n"),
        ([], "[]\n"),
        ({}, "{}\n"),
        ({"k": [1, {"a": None}]}, "k:\n- 1\n- a: null\n"),
        ({(1, 2): "v"}, "? - 1\n  - 2\n: v\n"),
        (OrderedDict(b=1, a=2), "b: 1\na: 2\n"),
        (UserDict(a=1), "a: 1\n"),
        (types.MappingProxyType({"a": 1}), "a: 1\n"),
        (range(2), "- 0\n- 1\n"),
        (Tagged("!point", {"x": 1}), "!point\nx: 1\n"),
        (Tagged(CORE + "str", "1"), "!!str '1'\n"),
        (Tagged("tag:example.com,2000:t", []), "!<tag:example.com,2000:t> []\n"),
    ],
)
def test_each_type_is_written_in_its_documented_form(data, text):
    assert dumped(data) == text


@pytest.mark.parametrize(
    "text",
    [
        "true",
        "False",
        "yes",
        "Off",
        "null",
        "~",
        "",
        "1",
        "-1",
        "+1",
        "1_000",
        "0o17",
        "0x1F",
        "0b11",
        "1.5",
        ".5",
        "1e3",
        "1E+3",
        "1:30",
        ".nan",
        ".NaN",
        ".inf",
        "-.Inf",
        "2001-12-14",
        "2001-12-14 21:59:43.10 -5",
        "=",
        "<<",
        "- a",
        "? a",
        ": a",
        "a: b",
        "a #b",
        "#a",
        "'a'",
        "&a",
        "*a",
        "!a",
        "%a",
        "@a",
        "`a",
        "{a}",
        "[a]",
        "|",
        ">",
        " a",
        "a ",
        "---",
        "...",
        "\ufeffa",
    ],
)
def test_strings_that_would_read_back_as_something_else_are_quoted(text):
    for data in (text, [text], {text: text}):
        out = dumped(data)
        assert read_back(out) == [data], out
        assert not any(
            n.kind == Node.SCALAR and n.style == Node.PLAIN for n in brackle.parse(out)[0].nodes
        ), out


def test_shared_containers_become_anchors_and_a_cycle_ends_at_an_alias():
    shared = {"a": 1}
    loop = [shared]
    loop.append(loop)
    text = dumped({"x": shared, "y": loop, "z": ((), ())})
    assert text == "x: &id001\n  a: 1\ny: &id002\n- *id001\n- *id002\nz:\n- []\n- []\n"
    back = read_back(text)[0]
    assert back["y"][0] is back["x"] and back["y"][1] is back["y"]


@pytest.mark.parametrize(
    ("data", "text"),
    [
        (
            {"a": brackle.Flow([1, {"b": [2]}]), "c": [brackle.Flow({})]},
            "a: [1, {b: [2]}]\nc:\n- {}\n",
        ),
        (brackle.Flow(brackle.Tagged("!t", [1])), "!t [1]\n"),
        (brackle.Flow("a scalar"), "a scalar\n"),
    ],
)
def test_flow_writes_its_collection_in_flow_style_at_any_depth(data, text):
    assert brackle.dump(data) == text
    shared = [1]
    assert brackle.dump([brackle.Flow(shared), shared]) == "- &id001 [1]\n- *id001\n"


@pytest.mark.parametrize(
    ("text", "written"),
    [
        ("0600", "0600"),
        ("'yes'  # quoted", "'yes' # quoted"),
        ("[1, 0x1F, {k: 3.10}]", "[1, 0x1F, {k: 3.10}]"),
        ("&a !t 1.0", "&a !t 1.0"),
        # A scalar of several lines is written from its value at its new place.
        ("|\n  two\n  lines\n", "|\n  two\n  lines"),
        ('"a\n  b"', "a b"),
        ("# nothing", ""),
    ],
)
def test_a_parsed_document_is_written_as_it_was_read(text, written):
    out = brackle.dump({"k": brackle.parse(text)[0]})
    assert out == f"k: {written}\n".replace(": \n", ":\n")
    assert brackle.load(out) == {"k": brackle.load(text)}


@pytest.mark.parametrize("depth", [10, 900, 200_000])
def test_deep_data_is_written_or_refused_without_recursion(depth):
    data = []
    for _ in range(depth):
        data = [data]
    if depth < 1000:
        assert dumped(data).count("-") == depth
    else:
        with pytest.raises(EmitterError, match="nested more than"):
            dumped(data)


@pytest.mark.parametrize(
    ("call", "error", "message"),
    [
        (lambda: brackle.dump(object()), TypeError, "cannot represent an object of type 'object'"),
        (lambda: brackle.dump({"a": [1j]}), TypeError, "type 'complex'"),
        (lambda: brackle.dump(1, indent=2), TypeError, "indent"),
        (lambda: brackle.dump(1, line_break="\v"), ValueError, "line_break"),
        (lambda: dumped(Tagged(1, "v")), TypeError, "tag must be a str"),
        (lambda: brackle.dump("\ud800"), UnicodeEncodeError, "surrogate"),
    ],
)
def test_what_cannot_be_written_raises(call, error, message):
    with pytest.raises(error, match=message):
        call()


@pytest.mark.parametrize(
    "data, expected",
    [
        ({"b": 1, "a": {"d": 2, "c": 3}}, "a:\n  c: 3\n  d: 2\nb: 1\n"),
        # keys that do not compare keep their order
        ({"b": 1, 2: 2, "a": 3, 1: 0, "c": 5}, "b: 1\n2: 2\na: 3\n1: 0\nc: 5\n"),
        ({3: "x", 1: "y"}, "1: y\n3: x\n"),
    ],
)
def test_sort_keys_writes_mappings_in_key_order(data, expected):
    assert brackle.dump(data, sort_keys=True) == expected


def test_dump_all_writes_documents_and_a_stream_gets_the_text():
    stream = io.StringIO()
    assert brackle.dump_all(iter([{"a": 1}, "b", None]), stream, explicit_end=True) is None
    assert stream.getvalue() == "a: 1\n...\nb\n...\nnull\n...\n"
    assert brackle.dump({"a": [1, 2]}, default_flow_style=True, explicit_start=True) == (
        "--- {a: [1, 2]}\n"
    )
    assert brackle.dump({"a": [1]}, map_indent=4, seq_indent=4, seq_offset=2) == "a:\n  - 1\n"
    assert brackle.dump_all([]) == ""


# ---- load(dump(x)) == x --------------------------------------------------------

_SCALARS = (
    st.none()
    | st.booleans()
    | st.integers()
    | st.floats(allow_nan=False)
    | st.text()
    | st.binary(max_size=100)
    | st.dates()
    | st.datetimes(
        timezones=st.none()
        | st.just(dt.UTC)
        | st.builds(dt.timezone, st.integers(-23, 23).map(lambda h: dt.timedelta(hours=h)))
    )
)
_KEYS = st.none() | st.booleans() | st.integers() | st.floats(allow_nan=False) | st.text()
_DATA = st.recursive(
    _SCALARS,
    lambda inner: (
        st.lists(inner, max_size=4)
        | st.dictionaries(_KEYS, inner, max_size=4)
        | st.frozensets(_KEYS, max_size=3).map(set)
    ),
    max_leaves=20,
)
_OPTIONS = st.fixed_dictionaries(
    {},
    optional={
        "width": st.integers(1, 100),
        "default_flow_style": st.booleans(),
        "map_indent": st.integers(1, 4),
        "seq_indent": st.integers(1, 4),
        "seq_offset": st.integers(0, 2),
        "explicit_start": st.booleans(),
        "line_break": st.sampled_from(["\n", "\r\n"]),
    },
)


@given(st.lists(_DATA, min_size=1, max_size=3), _OPTIONS)
def test_dumped_data_reads_back_as_the_same_data(documents, options):
    text = brackle.dump_all(documents, **options)
    assert read_back(text) == documents, text
