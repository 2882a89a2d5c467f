"""Properties over generated input: the record path and the core agree, and
values written from records read back as they were."""

from __future__ import annotations

import os

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import brackle
from brackle._brackle import _roundtrip_in_rust
from brackle._record import Doc, Node
from brackle.error import ScannerError
from brackle.options import EmitOptions

OPTS = EmitOptions()

# BRACKLE_HYPOTHESIS_PROFILE=long runs many more examples.
settings.register_profile(
    "brackle", max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow]
)
settings.register_profile("long", parent=settings.get_profile("brackle"), max_examples=20000)
settings.load_profile(os.environ.get("BRACKLE_HYPOTHESIS_PROFILE", "brackle"))

# Pieces of YAML-like lines: indentation, indicators, scalars of every
# style, properties, comments and odd whitespace, so that generated texts
# are often valid and often not.
_PIECES = st.sampled_from(
    [
        "", " ", "  ", "\t", "- ", "? ", ": ", "a", "b: ", "key: value", "'q'", '"d\\n"', "|", ">-",
        "[", "]", "{", "}", ", ", "&x ", "*x", "!t ", "!!str ", "# c", "---", "...", "%YAML 1.2",
        "<<: ", "\ufeff", "é", "\r",
    ]
)
_TEXTS = st.lists(st.lists(_PIECES, max_size=6).map("".join), max_size=8).map("\n".join)


def _outcome(call, text):
    try:
        return call(text)
    except ScannerError as e:
        return ("error", e.problem, e.problem_mark.index)


@given(_TEXTS)
def test_record_path_agrees_with_the_core(text):
    through_records = _outcome(lambda t: brackle.emit(brackle.parse(t), OPTS), text)
    inside_core = _outcome(lambda t: _roundtrip_in_rust(t, OPTS), text)
    assert through_records == inside_core


@given(_TEXTS)
def test_records_rebuilt_from_their_attributes_emit_the_same(text):
    try:
        docs = brackle.parse(text)
    except ScannerError:
        return
    copies = [Doc(*(getattr(d, f) for f in Doc.__slots__)) for d in docs]
    for copy in copies:
        copy.nodes = [Node(*(getattr(n, f) for f in Node.__slots__)) for n in copy.nodes]
    assert brackle.emit(copies, OPTS) == brackle.emit(docs, OPTS)


_VALUES = st.text(
    st.characters(blacklist_categories=("Cs",), blacklist_characters="\ufeff"), max_size=20
)


@given(st.lists(st.tuples(_VALUES, _VALUES, st.integers(0, 4)), min_size=1, max_size=5), st.booleans())
def test_values_written_from_records_read_back_unchanged(pairs, flow):
    # A mapping of distinct keys, each value in a preferred style that the
    # emitter may overrule when the style cannot carry it.
    pairs = list({k: (v, s) for k, v, s in pairs}.items())
    nodes = [Node(2, 6 if flow else 5)]
    for key, (value, style) in pairs:
        nodes[0].children += [len(nodes), len(nodes) + 1]
        nodes += [Node(0, 0, value=key), Node(0, style, value=value)]
    text = brackle.emit([Doc(root=0, nodes=nodes, final_line_break=True)], OPTS)
    [doc] = brackle.parse(text)
    top = doc.nodes[doc.root]
    read = [doc.nodes[i].value for i in top.children]
    assert read == [x for key, (value, _) in pairs for x in (key, value)], text
