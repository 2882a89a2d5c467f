"""dump and dump_all: Python data to YAML text that reads back as the same data.

Until ``brackle.load`` exists the text is read back here through ``parse``
records and a small resolver of the core schema's plain scalars; the
property runs through ``brackle.load`` too once it is there."""

from __future__ import annotations

import base64
import datetime as dt
import io
import re
import types
from collections import OrderedDict, UserDict

import pytest
from hypothesis import given
from hypothesis import strategies as st

import brackle
from brackle import EmitOptions, EmitterError, Node
from brackle._brackle import _dump_all

CORE = "tag:yaml.org,2002:"
INT = re.compile(r"[-+]?[0-9]+")
RADIX = re.compile(r"0o[0-7]+|0x[0-9a-fA-F]+")
FLOAT = re.compile(r"[-+]?(\.[0-9]+|[0-9]+(\.[0-9]*)?)([eE][-+]?[0-9]+)?")
WORDS = {"null": None, "Null": None, "NULL": None, "~": None, "": None,
         "true": True, "True": True, "TRUE": True, "false": False, "False": False, "FALSE": False,
         ".inf": float("inf"), "+.inf": float("inf"), "-.inf": float("-inf")}


def scalar(node):
    tag, text = node.tag and node.tag[2], node.value
    if tag == CORE + "binary":
        return base64.b64decode(text)
    if tag == CORE + "timestamp":
        return (dt.date if len(text) == 10 else dt.datetime).fromisoformat(text)
    if tag or node.style != Node.PLAIN:
        return text
    if text in WORDS:
        return WORDS[text]
    if INT.fullmatch(text) or RADIX.fullmatch(text):
        return int(text, 10 if INT.fullmatch(text) else 0)
    return float(text) if FLOAT.fullmatch(text) else text


def read_back(text):
    """The documents of ``text`` as Python data, aliases as shared objects."""
    out = []
    for doc in brackle.parse(text):
        anchors = {}

        def build(i, doc=doc, anchors=anchors):
            n = doc.nodes[i]
            if n.kind == Node.ALIAS:
                return anchors[n.anchor]
            if n.kind == Node.SCALAR:
                made = anchors[n.anchor] = scalar(n)
                return made
            is_set = n.tag and n.tag[2] == CORE + "set"
            made = anchors[n.anchor] = [] if n.kind == Node.SEQUENCE else set() if is_set else {}
            items = [build(c) for c in n.children]
            if isinstance(made, list):
                made.extend(items)
            elif is_set:
                made.update(items[::2])
            else:
                made.update(zip(items[::2], items[1::2]))
            return made

        out.append(None if doc.root is None else build(doc.root))
    return out


class Tagged:
    def __init__(self, tag, value):
        self.tag, self.value = tag, value


def dumped(data, **options):
    return _dump_all([data], EmitOptions(**options), Tagged)


# ---- how each type is written ------------------------------------------------

@pytest.mark.parametrize(
    ("data", "text"),
    [
        (None, "null\n"), (True, "true\n"), (False, "false\n"), (-17, "-17\n"),
        (10**30, "1" + "0" * 30 + "\n"), (1.5, "1.5\n"), (1e16, "1.0e+16\n"), (1e-7, "1.0e-07\n"),
        (float("nan"), ".nan\n"), (float("inf"), ".inf\n"), (float("-inf"), "-.inf\n"),
        ("text", "text\n"), ("two\nlines", '"two\\nlines"\n'),
        ({"k": "a\nb\n"}, "k: |\n  a\n  b\n"), ("tab\there", "'tab\there'\n"),
        ("bell\a", '"bell\\a"\n'), (b"\x00\xff", "!!binary AP8=\n"), ([b""], "- !!binary\n"),
        ({"b": bytes(range(60))}, "b: !!binary |\n  " + base64.encodebytes(bytes(range(60))).decode()
         .replace("\n", "\n  ").rstrip(" ")),
        (dt.date(2001, 12, 14), "!!timestamp 2001-12-14\n"),
        (dt.datetime(2001, 12, 14, 21, 59, 43, 100000, dt.timezone(dt.timedelta(hours=-5))),
         "!!timestamp 2001-12-14T21:59:43.100000-05:00\n"),
        ({1}, "!!set\n1: null\n"), ((1, "a"), "- 1\n- a\n"), ([], "[]\n"), ({}, "{}\n"),
        ({"k": [1, {"a": None}]}, "k:\n- 1\n- a: null\n"), ({(1, 2): "v"}, "? - 1\n  - 2\n: v\n"),
        (OrderedDict(b=1, a=2), "b: 1\na: 2\n"), (UserDict(a=1), "a: 1\n"),
        (types.MappingProxyType({"a": 1}), "a: 1\n"), (range(2), "- 0\n- 1\n"),
        (Tagged("!point", {"x": 1}), "!point\nx: 1\n"), (Tagged(CORE + "str", "1"), "!!str '1'\n"),
        (Tagged("tag:example.com,2000:t", []), "!<tag:example.com,2000:t> []\n"),
    ],
)
def test_each_type_is_written_in_its_documented_form(data, text):
    assert dumped(data) == text


@pytest.mark.parametrize(
    "text",
    ["true", "False", "yes", "Off", "null", "~", "", "1", "-1", "+1", "1_000", "0o17", "0x1F",
     "0b11", "1.5", ".5", "1e3", "1E+3", "1:30", ".nan", ".NaN", ".inf", "-.Inf", "2001-12-14",
     "2001-12-14 21:59:43.10 -5", "=", "<<", "- a", "? a", ": a", "a: b", "a #b", "#a", "'a'",
     "&a", "*a", "!a", "%a", "@a", "`a", "{a}", "[a]", "|", ">", " a", "a ", "---", "...", "\ufeffa"],
)
def test_strings_that_would_read_back_as_something_else_are_quoted(text):
    for data in (text, [text], {text: text}):
        out = dumped(data)
        assert read_back(out) == [data], out
        assert not any(n.kind == Node.SCALAR and n.style == Node.PLAIN
                       for n in brackle.parse(out)[0].nodes), out


def test_shared_containers_become_anchors_and_a_cycle_ends_at_an_alias():
    shared = {"a": 1}
    loop = [shared]
    loop.append(loop)
    text = dumped({"x": shared, "y": loop, "z": ((), ())})
    assert text == "x: &id001\n  a: 1\ny: &id002\n- *id001\n- *id002\nz:\n- []\n- []\n"
    back = read_back(text)[0]
    assert back["y"][0] is back["x"] and back["y"][1] is back["y"]


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
        (lambda: brackle.dump(1, sort_keys=True), TypeError, "sort_keys"),
        (lambda: brackle.dump(1, line_break="\v"), ValueError, "line_break"),
        (lambda: dumped(Tagged(1, "v")), TypeError, "tag must be a str"),
        (lambda: brackle.dump("\ud800"), UnicodeEncodeError, "surrogate"),
    ],
)
def test_what_cannot_be_written_raises(call, error, message):
    with pytest.raises(error, match=message):
        call()


def test_dump_all_writes_documents_and_a_stream_gets_the_text():
    stream = io.StringIO()
    assert brackle.dump_all(iter([{"a": 1}, "b", None]), stream, explicit_end=True) is None
    assert stream.getvalue() == "a: 1\n...\nb\n...\nnull\n...\n"
    assert brackle.dump({"a": [1, 2]}, default_flow_style=True, explicit_start=True) == (
        "--- {a: [1, 2]}\n")
    assert brackle.dump({"a": [1]}, map_indent=4, seq_indent=4, seq_offset=2) == "a:\n  - 1\n"
    assert brackle.dump_all([]) == ""


# ---- load(dump(x)) == x --------------------------------------------------------

_SCALARS = (
    st.none() | st.booleans() | st.integers() | st.floats(allow_nan=False) | st.text()
    | st.binary(max_size=100) | st.dates()
    | st.datetimes(timezones=st.none() | st.just(dt.timezone.utc)
                   | st.builds(dt.timezone, st.integers(-23, 23).map(lambda h: dt.timedelta(hours=h))))
)
_KEYS = st.none() | st.booleans() | st.integers() | st.floats(allow_nan=False) | st.text()
_DATA = st.recursive(
    _SCALARS,
    lambda inner: st.lists(inner, max_size=4) | st.dictionaries(_KEYS, inner, max_size=4)
    | st.frozensets(_KEYS, max_size=3).map(set),
    max_leaves=20,
)
_OPTIONS = st.fixed_dictionaries({}, optional={
    "width": st.integers(1, 100), "default_flow_style": st.booleans(),
    "map_indent": st.integers(1, 4), "seq_indent": st.integers(1, 4), "seq_offset": st.integers(0, 2),
    "explicit_start": st.booleans(), "line_break": st.sampled_from(["\n", "\r\n"]),
})


@given(st.lists(_DATA, min_size=1, max_size=3), _OPTIONS)
def test_dumped_data_reads_back_as_the_same_data(documents, options):
    text = brackle.dump_all(documents, **options)
    assert read_back(text) == documents, text
    load_all = getattr(brackle, "load_all", None)
    if load_all is not None:
        assert list(load_all(text)) == documents, text
