"""An unchanged document comes back byte for byte, whatever its line breaks
and however it ends; and so does every text that byte-level mutations of
the suite's inputs and the examples make, as long as it still loads."""

from __future__ import annotations

import os
import random
import re
from pathlib import Path

import pytest

import brackle
from brackle._brackle import _roundtrip_in_rust
from layouts import listed_layout, unstyled
from suite_util import events_of, suite_cases

OPTS = brackle.EmitOptions()
EXAMPLES = Path(__file__).resolve().parents[2] / "examples"


def both_round_trips(text: str) -> tuple[str, str]:
    return _roundtrip_in_rust(text, OPTS), brackle.emit(brackle.parse(text), OPTS)


# ---- line breaks -------------------------------------------------------------------


@pytest.mark.parametrize(
    "text",
    [
        "a: 1\r\nb: [x,\r\n  y]  # c\r\n\r\nk: |\r\n  t\r\n",  # CR LF throughout
        "a: 1\rb: 2\r\r# c\rk: |\r  t\r",  # lone CRs throughout
        "a: 1\nb: 2\r\nc: 3\rd: |\r\n  x\n  y\r",  # every kind, mixed
        "\r",
        "...\r",
        "{\r}",
        "-\r  &a k: a\r",
    ],
    ids=["crlf", "lone cr", "mixed", "one cr", "marker and cr", "flow with cr", "anchor after cr"],
)
def test_every_line_comes_back_with_its_own_break(text):
    assert both_round_trips(text) == (text, text)


@pytest.mark.parametrize(
    "text, line_break",
    [
        ("a: 1\r\nb: 2\r\n", "\r\n"),
        ("a: 1\rb: 2\r", "\r"),
        ("a: 1\nb: 2\r\n", "\n"),
        ("a: 1", "\n"),
    ],
)
def test_new_lines_take_the_source_s_first_break(text, line_break):
    docs = brackle.parse(text)
    root = docs[0].nodes[0]
    root.children += [len(docs[0].nodes), len(docs[0].nodes) + 1]
    docs[0].nodes += [brackle.Node(value="new"), brackle.Node(value="x")]
    assert f"{line_break}new: x" in brackle.emit(docs, OPTS)


def test_records_built_without_a_source_are_written_with_lf():
    assert brackle.dump({"a": [1, "x\ny"]}) == "a:\n- 1\n- |-\n  x\n  y\n"


# ---- block scalars at the end of the text ------------------------------------------

# A last line of blanks no deeper than the content, with no line break after
# it, is an empty line: clip drops it, keep keeps it as a line break. Blanks
# past the content's indentation are content (the suite's L24T/01).
BLOCK_SCALAR_ENDINGS = [
    ("a: |\n  x\n  ", "x\n"),
    ("a: |\n  x\n ", "x\n"),
    ("a: |\n  x\n\n  ", "x\n"),
    ("a: >\n  x\n  ", "x\n"),
    ("a: |-\n  x\n  ", "x"),
    ("a: |+\n  x\n  ", "x\n\n"),
    ("a: |+\n  x\n ", "x\n\n"),
    ("a: |+\n  x\n\n  ", "x\n\n\n"),
    ("a: |\n  x\n   ", "x\n \n"),
    ("a: |+\n  x\n   ", "x\n \n"),
    ("a: |\n  x", "x\n"),
    ("a: |+\n  x\n", "x\n"),
]


@pytest.mark.parametrize("text, value", BLOCK_SCALAR_ENDINGS)
def test_a_block_scalar_ending_the_text_reads_its_end_as_a_line_break(text, value):
    assert brackle.load(text) == {"a": value}
    assert both_round_trips(text) == (text, text)


@pytest.mark.parametrize("text, value", BLOCK_SCALAR_ENDINGS)
def test_an_entry_added_after_such_a_scalar_keeps_its_value(text, value):
    stream = brackle.edit(text)
    stream[0]["b"] = 1
    assert brackle.load(str(stream)) == {"a": value, "b": 1}


# ---- mutated inputs ------------------------------------------------------------------

# What a mutation inserts, deletes or repeats: indicators, blanks, line
# breaks, comment marks, quotes and byte-order marks.
PIECES = list("-?:,[]{}#&*!|>'\"%@` \t\n") + ["\r\n", "\r", "\ufeff"]
MUTATION_CASES = int(os.environ.get("BRACKLE_MUTATION_CASES", "3000"))
MUTATION_SEED = int(os.environ.get("BRACKLE_MUTATION_SEED", "22"))


def mutated(rng: random.Random, text: str) -> str:
    for _ in range(rng.randint(1, 3)):
        at = rng.randint(0, len(text))
        op = rng.choice("insert delete repeat".split())
        if op == "insert":
            text = text[:at] + rng.choice(PIECES) + text[at:]
        elif text:
            at = min(at, len(text) - 1)
            text = text[:at] + (text[at] * 2 if op == "repeat" else "") + text[at + 1 :]
    return text


def seeds() -> list[str]:
    texts = [case.text for case in suite_cases() if not case.must_fail]
    return texts + [p.read_text(encoding="utf-8") for p in sorted(EXAMPLES.glob("*.y*ml"))]


def test_mutated_inputs_that_still_load_come_back_byte_for_byte():
    rng = random.Random(MUTATION_SEED)
    texts = seeds()
    kept = 0
    listed: dict[str, int] = {}
    changed = []
    while kept < MUTATION_CASES:
        text = mutated(rng, rng.choice(texts))
        try:
            docs = brackle.parse(text)
        except brackle.YAMLError:
            continue
        kept += 1
        outputs = both_round_trips(text)
        if outputs == (text, text):
            continue
        layout = listed_layout(text)
        if layout is None:
            changed.append(text)
            continue
        listed[layout] = listed.get(layout, 0) + 1
        for output in outputs:
            assert unstyled(events_of(brackle.parse(output))) == unstyled(events_of(docs)), (
                text,
                output,
            )
    print(f"{kept} kept texts; {sum(listed.values())} in listed layouts: {listed}")
    assert not changed, f"{len(changed)} of {kept} came back changed, the first: {changed[:5]!r}"


def shared_layout_cases() -> list[tuple[str, str]]:
    """The cases both layout classifiers are held to: the listed layout each
    text is in first, or "-"."""
    path = Path(__file__).resolve().parents[1] / "listed_layouts.txt"
    escapes = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", "ufeff": "\ufeff"}
    cases = []
    for line in path.read_text(encoding="utf-8").splitlines():
        if line and not line.startswith("#"):
            name, written = line.split("\t", 1)
            text = re.sub(r"\\(ufeff|.)", lambda m: escapes[m.group(1)], written)
            cases.append((name, text))
    return cases


@pytest.mark.parametrize("layout, text", shared_layout_cases())
def test_each_shared_case_is_in_its_listed_layout_first(layout, text):
    assert (listed_layout(text) or "-") == layout
