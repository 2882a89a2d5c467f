"""``brackle.format``: a text laid out afresh keeps its data and its comments
in their order, and formatting the result again gives it back."""

from __future__ import annotations

from pathlib import Path

import pytest

import brackle
from brackle import FormatError
from suite_util import ROOT, suite_cases, suite_missing_reason

OPTION_SETS = {
    "defaults": {},
    "seq_indent=4, seq_offset=2": {"seq_indent": 4, "seq_offset": 2},
    "map_indent=4": {"map_indent": 4},
    "width=20": {"width": 20},
    "default_flow_style": {"default_flow_style": True},
    "CR LF": {"line_break": "\r\n"},
}

# Texts whose comments the emitter does not yet place as they stood when it
# lays them out anew in flow style, so that format refuses them: an
# end-of-line comment after `key:` whose value is a sequence below it.
COMMENTS_MOVE = set()
COMMENTS_MOVE_IN_FLOW_STYLE = {"RZP5", "XW4D"}


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
    flow = options.get("default_flow_style")
    assert unsettled == (COMMENTS_MOVE_IN_FLOW_STYLE if flow else COMMENTS_MOVE)


@pytest.mark.parametrize("flow", [False, True], ids=["block", "flow"])
@pytest.mark.parametrize("path", sorted((ROOT / "examples").glob("*.y*ml")), ids=lambda p: p.name)
def test_formatted_examples_keep_to_the_width(path: Path, flow: bool):
    out = brackle.format(path.read_text(), width=80, default_flow_style=flow)
    # A comment is never broken, and the closing brackets of a flow
    # collection follow its last item.
    over = [
        line
        for line in out.splitlines()
        if len(line.split(" #")[0].rstrip("]},")) > 80 and not line.lstrip().startswith("#")
    ]
    assert over == []


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
        # a line of spaces deeper than the block is content, not a gap
        ("foo: |\n  x\n   \n", {}, "foo: |\n  x\n   \n"),
        ("a: |-\n  x\n   \n\nb: 1\n", {}, "a: |-\n  x\n   \n\nb: 1\n"),
        # a directive line stays as written, with its comment
        ("%FOO  bar # ignored\n--- 'x'\n", {}, "%FOO  bar # ignored\n--- 'x'\n"),
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
    ],
)
def test_format_refuses_a_layout_that_moves_a_comment_or_changes_the_data(
    monkeypatch, relaid, message
):
    import brackle.formatter

    monkeypatch.setattr(brackle.formatter, "_relayout", lambda docs, lines, options: relaid)
    with pytest.raises(FormatError, match=message):
        brackle.format("# one\na: 1 # two\n")


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
