"""The module as the interpreter sees it: its names, docstrings, signatures,
the package's public surface, and calls from several threads."""

from __future__ import annotations

import inspect
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pytest

import brackle
from brackle import _brackle
from brackle.options import EmitOptions

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"

PARSE_DOC = """\
Loads every document of `source` into a list of `Doc` records.

# Arguments

* `source`: the YAML stream. A leading byte-order mark is taken off before scanning and
  recorded on the first document, so it comes back on emit.
* `allow_duplicate_keys`: accepted for signature compatibility and not acted on here.
  Duplicate keys are reported by `brackle.constructor`, whatever this is set to.
* `name`: the stream name that appears in the position of any error raised.

# Errors

Raises the exception `brackle.error` maps the core's [`ErrorKind`] to when `source` is not
well-formed YAML, with a `Mark` pointing into `source`."""

EMIT_DOC = """\
Emits `Doc` records as one YAML stream and returns it.

# Arguments

* `docs`: any iterable of `Doc` records, emitted in order.
* `opts`: an `EmitOptions` record.

# Errors

Raises `ValueError` when a record cannot be read as a document: a mapping with an odd number
of children, a node index past the end of the arena, an alias with no name, an unknown kind
or style code, or a `line_break` the emitter does not write. Raises
`brackle.error.EmitterError` when the tree itself cannot be emitted. A missing or wrongly
typed attribute raises whatever the attribute access does."""

ROUNDTRIP_DOC = """\
Parses and emits `source` inside the core, without ever building a record.

This is the reference the record path is measured against, so that a round-trip failure is
attributable. If `emit(parse(text))` differs from the source and this does not, the record
model dropped something and the bug is at the boundary. If this differs the same way, the
emitter and the boundary agree and the defect is upstream of both.

# Errors

Raises the same exceptions as `parse` and `emit`: a `brackle.error` class for a source that
is not well-formed, `brackle.error.EmitterError` for a tree that cannot be emitted, and
`ValueError` for an `opts` record the core cannot take."""


def test_module_lists_its_three_functions_in_order():
    assert _brackle.__all__ == ["parse", "emit", "_roundtrip_in_rust"]
    assert _brackle.__name__ == "brackle._brackle"
    assert _brackle.__doc__ == (
        "The extension module `brackle._brackle`: `parse`, `emit` and `_roundtrip_in_rust`."
    )


@pytest.mark.parametrize(
    ("name", "signature", "doc"),
    [
        ("parse", "(source, *, allow_duplicate_keys=True, name='<unicode string>')", PARSE_DOC),
        ("emit", "(docs, opts)", EMIT_DOC),
        ("_roundtrip_in_rust", "(source, opts)", ROUNDTRIP_DOC),
    ],
)
def test_functions_carry_text_signatures_and_docstrings(name, signature, doc):
    function = getattr(_brackle, name)
    assert str(inspect.signature(function)) == signature
    assert function.__doc__ == doc


def test_package_exports_the_public_surface():
    assert brackle.parse is _brackle.parse and brackle.emit is _brackle.emit
    for name in brackle.__all__:
        assert hasattr(brackle, name), name
    assert {
        "parse",
        "emit",
        "EmitOptions",
        "Doc",
        "Node",
        "Trivia",
        "EmitterError",
        "YAMLError",
    } <= set(brackle.__all__)


def test_package_docstring_example_runs():
    text = "name: brackle  # the engine\nitems: [a, 'b']\n"
    docs = brackle.parse(text)
    assert brackle.emit(docs, brackle.EmitOptions()) == text
    doc = docs[0]
    assert doc.nodes[doc.nodes[doc.root].children[1]].value == "brackle"


def test_emit_options_defaults():
    opts = EmitOptions()
    assert (
        opts.line_break,
        opts.map_indent,
        opts.seq_indent,
        opts.seq_offset,
        opts.width,
        opts.explicit_start,
        opts.explicit_end,
        opts.default_flow_style,
        opts.preserve_quotes,
    ) == ("\n", 2, 2, 0, 80, False, False, False, False)
    assert EmitOptions(width=10) == EmitOptions(width=10) != EmitOptions()
    assert repr(EmitOptions(width=10)).startswith("EmitOptions(line_break='\\n', map_indent=2")
    with pytest.raises(TypeError):
        EmitOptions("\n")  # keyword arguments only


@pytest.mark.parametrize("path", sorted(EXAMPLES.glob("*.y*ml")), ids=lambda p: p.name)
def test_examples_round_trip_through_records_and_inside_the_core(path):
    text = path.read_bytes().decode("utf-8")
    assert brackle.emit(brackle.parse(text), EmitOptions()) == text
    assert _brackle._roundtrip_in_rust(text, EmitOptions()) == text


def _inputs() -> list[str]:
    texts = [p.read_bytes().decode("utf-8") for p in sorted(EXAMPLES.glob("*.y*ml"))]
    # A larger stream, so that the threads' core work overlaps.
    big = "".join(
        f"item{i}:  # entry {i}\n  name: 'n{i}'\n  list: [a, b, {{c: {i}}}]\n"
        f"  text: |\n    line {i}\n\n"
        for i in range(3000)
    )
    return texts + [big, "- a\n- [b\n", "a: 1\n---\nb:\tc \n"]


def _call(function, text):
    try:
        return function(text)
    except brackle.YAMLError as e:
        return (type(e), str(e))


@pytest.mark.parametrize(
    "function",
    [
        brackle.parse,
        lambda text: _brackle._roundtrip_in_rust(text, EmitOptions()),
        lambda text: brackle.emit(brackle.parse(text), EmitOptions(width=40)),
    ],
    ids=["parse", "roundtrip_in_rust", "emit"],
)
def test_threads_give_the_results_of_serial_calls(function):
    texts = _inputs() * 4
    serial = [_call(function, t) for t in texts]
    with ThreadPoolExecutor(max_workers=4) as pool:
        threaded = list(pool.map(lambda t: _call(function, t), texts))
    assert threaded == serial
