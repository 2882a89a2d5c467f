"""``brackle.format``: a text laid out afresh keeps its data and its comments
in their order, and formatting the result again gives it back."""

from __future__ import annotations

import random
from pathlib import Path

import pytest

import brackle
from brackle import FormatError, Node
from suite_util import ROOT, suite_cases, suite_missing_reason
from test_byte_for_byte import MUTATION_CASES, MUTATION_SEED, mutated, seeds

OPTION_SETS = {
    "defaults": {},
    "seq_indent=4, seq_offset=2": {"seq_indent": 4, "seq_offset": 2},
    "map_indent=4": {"map_indent": 4},
    "width=20": {"width": 20},
    "default_flow_style": {"default_flow_style": True},
    "CR LF": {"line_break": "\r\n"},
}


def texts() -> list[tuple[str, str]]:
    found = [(c.id, c.text) for c in suite_cases() if not c.must_fail]
    examples = sorted((ROOT / "examples").glob("*.y*ml"))
    return found + [(p.name, p.read_text()) for p in examples]


@pytest.mark.skipif(suite_missing_reason() is not None, reason=str(suite_missing_reason()))
@pytest.mark.parametrize("options", OPTION_SETS.values(), ids=OPTION_SETS.keys())
def test_format_reaches_its_fixed_point_in_one_pass(options):
    unsettled = set()
    for name, text in texts():
        try:
            once = brackle.format(text, allow_duplicate_keys=True, **options)
            twice = brackle.format(once, allow_duplicate_keys=True, **options)
        except FormatError:
            unsettled.add(name)
            continue
        if twice != once:
            unsettled.add(name)
    assert unsettled == set()


def _unbreakable(docs: list[brackle.Doc]) -> tuple[dict[int, list[range]], set[int], set[str]]:
    """What a formatted text's lines hold that no break may split: per line
    the column ranges of keys and of properties with what follows them; the
    lines of literal block scalars; and the end-of-line comments."""
    spans: dict[int, list[range]] = {}
    literal_lines: set[int] = set()
    comments: set[str] = set()
    for doc in docs:
        keys = {k for n in doc.nodes if n.kind == Node.MAPPING for k in n.children[::2]}
        for i, n in enumerate(doc.nodes):
            for t in [n.eol, *n.before, *n.inner, *n.after]:
                if t is not None and t.text is not None and not t.own_line:
                    comments.add(t.text)
            if n.style == Node.LITERAL and n.header_at is not None and n.raw is not None:
                first = n.header_at[0] + 1
                literal_lines.update(range(first, first + n.raw.count("\n")))
            props = [at for at in (n.anchor_at, n.tag_at) if at is not None]
            start = min(props, default=(n.line, n.col))
            if i in keys:
                end = n.col + len(n.raw or "") + 1 if n.kind == Node.SCALAR else 10**6
                spans.setdefault(n.line, []).append(range(n.col, end))
            if props:  # properties stay with what follows them
                end = n.col + 1 if start[0] == n.line else 10**6
                spans.setdefault(start[0], []).append(range(start[1], end))
    return spans, literal_lines, comments


def lines_over_the_width(out: str, width: int, step: int) -> list[str]:
    """The lines of ``out`` longer than ``width`` that a break would make
    fit: a space between two words, outside any key and between no property
    and its content, where the line's head fits and the next word fits on
    a line of its own ``step`` further in. Comments, directives, literal
    block scalars and indicators are never broken."""
    docs = brackle.parse(out)
    spans, literal_lines, comments = _unbreakable(docs)
    over = []
    for number, line in enumerate(out.splitlines()):
        text = line.rstrip()
        if len(text) <= width or number in literal_lines or text.lstrip()[:1] in ("#", "%"):
            continue
        for comment in comments:
            if text.endswith(" " + comment):
                text = text[: -len(comment)].rstrip()
        if len(text) <= width:
            continue
        begin = len(text) - len(text.lstrip())
        for indicator in ("--- ", "- ", "? ", "[", "{"):
            while text.startswith(indicator, begin):
                begin += len(indicator)
        held = spans.get(number, [])
        breaks = [
            at
            for at in range(begin + 1, len(text) - 1)
            if text[at] == " "
            and text[at - 1] not in " \"'"
            and text[at + 1] not in " #\"'"
            and not any(at in r for r in held)
        ]
        for at, end in zip(breaks, breaks[1:] + [len(text)]):
            if at <= width and begin + step + end - at - 1 <= width:
                over.append(line)
                break
    return over


@pytest.mark.skipif(suite_missing_reason() is not None, reason=str(suite_missing_reason()))
@pytest.mark.parametrize("options", OPTION_SETS.values(), ids=OPTION_SETS.keys())
def test_formatted_lines_keep_to_the_width(options):
    width = options.get("width", brackle.EmitOptions().width)
    step = options.get("map_indent", 2)
    over = {}
    for name, text in texts():
        try:
            out = brackle.format(text, allow_duplicate_keys=True, **options)
        except FormatError:
            continue
        long_lines = lines_over_the_width(out, width, step)
        if long_lines:
            over[name] = long_lines
    assert over == {}


@pytest.mark.parametrize(
    "out, width, over",
    [
        ("key: value\n", 8, ["key: value"]),
        ("key:\n  value\n", 8, []),
        ("key: words in a row\n", 12, ["key: words in a row"]),
        # too long for a line of its own: the value stays after its key
        ("key: a-long-word\n", 12, []),
        ("'a quoted key': v\n", 16, ["'a quoted key': v"]),
        ("'a quoted key':\n  v\n", 8, []),
        ("k: &anchor !!str value\n", 21, ["k: &anchor !!str value"]),
        ("k: &anchor !!str value\n", 20, []),
        ("- &anchor !!str value\n", 12, []),
        ("a: 1 # a comment past the width\n", 12, []),
        ("[a, b, c]\n", 6, ["[a, b, c]"]),
        ("a: |\n  a literal line past the width\n", 12, []),
    ],
)
def test_the_width_check_excuses_only_what_cannot_be_broken(out, width, over):
    assert lines_over_the_width(out, width, 2) == over


@pytest.mark.parametrize(
    "text, options, expected",
    [
        # blank lines after a block scalar followed by a comment: once grew
        # on every pass
        (
            "c:\n  command:\n    - >-\n      a\n\n      b\n    # note\n  env: 1\n",
            {"seq_indent": 4, "seq_offset": 2},
            "c:\n  command:\n    - >-\n      a\n\n      b\n    # note\n  env: 1\n",
        ),
        ("a: |\n  x\n\n\nb: 1\n", {}, "a: |\n  x\n\n\nb: 1\n"),
        ("a: |-\n  x\n  \n\nb: 1\n", {}, "a: |-\n  x\n\n\nb: 1\n"),
        # a line with a tab after the block is a blank line of its own,
        # counted once
        ("a: |\n  x\n\n\t\nb: 1\n", {}, "a: |\n  x\n\n\nb: 1\n"),
        # a line of spaces deeper than the block is content, not a gap
        ("foo: |\n  x\n   \n", {}, "foo: |\n  x\n   \n"),
        ("a: |-\n  x\n   \n\nb: 1\n", {}, "a: |-\n  x\n   \n\nb: 1\n"),
        # a directive line stays as written, with its comment
        ("%FOO  bar # ignored\n--- 'x'\n", {}, "%FOO  bar # ignored\n--- 'x'\n"),
        # blanks at the end of the stream are dropped, a line break kept
        ("[1]  \n  ", {}, "[1]\n"),
        ("a: 1\r\n  ", {}, "a: 1\r\n"),
        # runs of blank lines are cut to two
        ("a: 1\n\n\n\n\nb: 2\n", {}, "a: 1\n\n\nb: 2\n"),
        ("a:   {b: 1,  c: [x,y]}   # note\n", {}, "a: {b: 1, c: [x, y]} # note\n"),
        ("a: 'x'\nb: \"y\"\n", {}, "a: 'x'\nb: \"y\"\n"),
        ("a: 'x'\n", {"preserve_quotes": False}, "a: x\n"),
        # a comment after a flow collection's opening bracket stays there
        (
            "x: [    # after the bracket\n  a,    # after a\n  b]\n",
            {},
            "x: [ # after the bracket\n  a, # after a\n  b]\n",
        ),
        # a value's comments stay in the order they stood
        ("k: # c\n# next\nj: x\n", {}, "k: # c\n# next\nj: x\n"),
        ("key:    # one\n    # two\n  value\n", {}, "key:\n    # one\n    # two\n  value\n"),
        ("a: 1\r\nb:   2\r\n", {}, "a: 1\r\nb: 2\r\n"),
        ("a: 1\r\nb:   2\r\n", {"line_break": "\n"}, "a: 1\nb: 2\n"),
        # past the width, a value begins the line below its key where it fits
        ("key: value-of-ten\n", {"width": 14}, "key:\n  value-of-ten\n"),
        ("key: &anchor value\n", {"width": 15}, "key:\n  &anchor value\n"),
        ("key: &anchor value\n", {"width": 14}, "key: &anchor value\n"),
        ("xy: &anchor\n  a: 1\n", {"width": 10}, "xy:\n  &anchor\n  a: 1\n"),
        ("k: {a: bbbbbbbb}\n", {"width": 13}, "k: {\n  a:\n    bbbbbbbb}\n"),
        # no blank line stands inside a flow collection, in block style too
        ("- [\n  x,\n\n  y\n\n ]\n", {}, "- [x, y]\n"),
        # an explicit key's value written as nothing stays so
        ("? key\n# comment\n", {}, "? key\n# comment\n"),
        # the closing brackets after a flow collection's last item count
        ("x: {a: [bb, c]}\n", {"width": 12}, "x: {\n  a: [\n    bb,\n    c]}\n"),
        # a quoted scalar folds counting its opening quote
        ('k: "aa bb"\n', {"width": 9}, 'k: "aa\n  bb"\n'),
        # a comment after the colon of a flow value stays ahead of the
        # comments inside it, and after one holding none
        (
            "k: # c\n- a # d\n- b\n",
            {"default_flow_style": True},
            "{\n  k: # c\n  [\n    a, # d\n    b]}\n",
        ),
        ("k:\n  &x # c\n  - a\n", {"default_flow_style": True}, "{k: &x [a]} # c\n"),
        # the comment of a flow collection's last item follows its closing
        # brackets: no bracket stands alone on a line
        (
            "on:\n  push: {a: 1}\n  manual: {} # allow manual runs\nnext: 1\n",
            {"default_flow_style": True, "width": 30},
            "{\n  on: {\n    push: {a: 1},\n    manual: {}}, # allow manual runs\n  next: 1}\n",
        ),
    ],
)
def test_format_lays_out_and_keeps_gaps_quotes_and_line_breaks(text, options, expected):
    assert brackle.format(text, **options) == expected
    assert brackle.format(expected, **options) == expected


@pytest.mark.parametrize(
    "relaid, message",
    [
        ("a: 1 # two\n# one\n", "moving a comment"),
        ("a: 1\n# one\n", "moving a comment"),
        ("# one\na: 1 # two\nb: 3\n", "changing its data"),
        ("a: [1 # two\n", "would not load"),
    ],
)
def test_format_refuses_a_layout_that_moves_a_comment_or_changes_the_data(
    monkeypatch, relaid, message
):
    import brackle.formatter

    monkeypatch.setattr(brackle.formatter, "_relayout", lambda text, options, name: relaid)
    with pytest.raises(FormatError, match=message):
        brackle.format("# one\na: 1 # two\n")


NESTED = {
    "flow collections": "[" * 200 + "x # c\n" + "]" * 200 + "\n",
    "flow collections with comments": "".join(f"[ # c{i}\n" for i in range(200)) + "]" * 200,
    "block mappings with comments": "".join(" " * i + "k: # c\n" for i in range(200))
    + " " * 200
    + "v\n",
}


@pytest.mark.parametrize("text", NESTED.values(), ids=NESTED.keys())
@pytest.mark.parametrize("options", OPTION_SETS.values(), ids=OPTION_SETS.keys())
def test_deeply_nested_commented_texts_settle_in_one_pass(text, options):
    once = brackle.format(text, **options)
    assert brackle.format(once, **options) == once


@pytest.mark.skipif(suite_missing_reason() is not None, reason=str(suite_missing_reason()))
def test_mutated_inputs_that_load_are_laid_out_as_text_that_loads():
    # A refusal because the new text would not load is a fault of the
    # layout, not of the input: it never happens.
    rng = random.Random(MUTATION_SEED)
    texts = seeds()
    option_sets = list(OPTION_SETS.values())
    kept = 0
    unloadable = []
    while kept < MUTATION_CASES:
        text = mutated(rng, rng.choice(texts))
        try:
            brackle.load_all(text, allow_duplicate_keys=True)
        except brackle.YAMLError:
            continue
        options = option_sets[kept % len(option_sets)]
        kept += 1
        try:
            brackle.format(text, allow_duplicate_keys=True, **options)
        except FormatError as e:
            if "would not load" in e.reason:
                unloadable.append((text, options))
    assert unloadable == []


def test_format_refuses_a_layout_deeper_than_flow_collections_may_nest():
    deep = "".join(" " * i + "k:\n" for i in range(300)) + " " * 300 + "v\n"
    with pytest.raises(FormatError, match="would not load"):
        brackle.format(deep, default_flow_style=True)


def test_format_takes_only_emit_options():
    with pytest.raises(TypeError):
        brackle.format("a: 1\n", indent=2)


def test_format_raises_the_load_error_of_a_text_that_is_not_yaml():
    with pytest.raises(brackle.ScannerError):
        brackle.format("a: [1\n", name="f.yaml")


def test_fmt_diff_prints_a_unified_diff_and_leaves_the_file(tmp_path: Path, capsys):
    from brackle.cli import main

    path = tmp_path / "f.yaml"
    path.write_text("a:   1\nb: 2\n")
    assert main(["fmt", "--diff", str(path)]) == 0
    assert capsys.readouterr().out == (
        f"--- {path}\n+++ {path} (formatted)\n@@ -1,2 +1,2 @@\n-a:   1\n+a: 1\n b: 2\n"
    )
    assert path.read_text() == "a:   1\nb: 2\n"
