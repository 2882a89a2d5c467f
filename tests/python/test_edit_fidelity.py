"""Edits touch only their own lines: over every file in examples/ and every
valid suite input with a mapping or sequence root, each child of each
collection is changed, given a new sibling before it, and deleted, one edit
at a time. The output must differ from the input only in the edited
child's lines and load to the edited data.

Two edits may reach one line further, and are counted apart:
- "pulled": deleting the first entry of a mapping that begins on its `-`
  line (`- a: 1`) moves the next entry up onto that line;
- "emptied": deleting a collection's only child writes `{}` or `[]` after
  its key or `-`.
An edit may be refused (EditError) but never half done: then the text is
unchanged. A strict stream (`brackle.edit(text, strict=True)`) makes exactly
the "kept" edits and refuses every other one.

Run this file as a script for the counts over examples/ and the suite.
"""

from __future__ import annotations

import collections
import copy
import sys

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import brackle
from brackle import EditError
from brackle.constructor import Tagged
from brackle.editing import YAMLMapping, YAMLSequence
from suite_util import ROOT, require_suite

EXAMPLES = sorted(p for p in (ROOT / "examples").iterdir() if p.suffix in (".yaml", ".yml"))
OPS = ("set", "insert", "delete")


def children(stream, doc):
    """(path of a collection, key or index of one of its children), for
    every child of every collection reached from the root without aliases
    that loads as a dict or list (not a set, !!omap or !!pairs)."""
    out = []
    stack = [()]
    data = stream._docs[doc].data
    while stack:
        path = stack.pop()
        view = stream._value(doc, path, stream._resolve(doc, path))
        if type(at(data, path)) is not (dict if isinstance(view, YAMLMapping) else list):
            continue
        own = (
            [k for _, k in view._lookup(view._index())]
            if isinstance(view, YAMLMapping)
            else range(len(view))
        )
        for key in own:
            out.append((path, key))
            if isinstance(view[key], (YAMLMapping, YAMLSequence)) and not stream._shared(
                doc, path + (key,)
            ):
                stack.append(path + (key,))
    return out


def new_value(old):
    if isinstance(old, bool):
        return not old
    if isinstance(old, int):
        return old + 1
    if isinstance(old, float):
        return 2.5
    if isinstance(old, str):
        return old + "more\n" if old.endswith("\n") else old + "-x"
    return "filled"


def at(data, path):
    for step in path:
        data = data.value if isinstance(data, Tagged) else data
        data = data[step]
    return data.value if isinstance(data, Tagged) else data


def keeps(before: str, after: str, lo: int, hi: int) -> bool:
    """Whether `after` keeps every line of `before` outside lines [lo, hi)
    byte for byte, in place around what replaced them."""
    a, b = before.splitlines(True), after.splitlines(True)
    tail = len(a) - hi
    return lo + tail <= len(b) and b[:lo] == a[:lo] and b[len(b) - tail :] == a[hi:]


def one_edit(text: str, doc: int, path: tuple, key, op: str) -> str:
    """Makes one edit on a fresh stream and says how far it reached; the
    same edit on a strict stream goes through exactly when it was "kept"."""
    stream = brackle.edit(text)
    view = stream._value(doc, path, stream._resolve(doc, path))
    editor = stream._editor(doc)
    # The editor counts lines in the document's own text.
    shift = "".join(stream._texts[:doc]).count("\n")
    c, pos = view._index(), view._position(key)
    comments, first, last, _, shares_line = editor.child_lines(c, pos)
    lo, hi = first + shift, last + 1 + shift
    alone = view._child_count(c) == 1
    # Where an alias shares what changes, the change shows at the alias too.
    shared = stream._shared(doc, path + (key,))
    expected = copy.deepcopy(brackle.load_all(text))
    if op == "set" and isinstance(view[key], (YAMLMapping, YAMLSequence)):
        return "skipped"

    def make(view):
        if op == "set":
            view[key] = new_value(view[key])
        elif op == "insert" and isinstance(view, YAMLMapping):
            view.insert([k for _, k in view._lookup(c)].index(key), "added", "new value")
        elif op == "insert":
            view.insert(key, "new item")
        else:
            del view[key]

    try:
        if op == "set":
            at(expected[doc], path)[key] = brackle.load(brackle.dump(new_value(view[key])))
        elif op == "insert" and isinstance(view, YAMLMapping):
            at(expected[doc], path)["added"] = "new value"
        elif op == "insert":
            at(expected[doc], path).insert(key, "new item")
        else:
            del at(expected[doc], path)[key]
        make(view)
        if op == "insert":
            lo = hi = lo if shares_line else comments + shift
            hi += 1 if shares_line else 0
        elif op == "delete":
            lo = comments + shift
    except EditError:
        assert str(stream) == text, "a refused edit changed the text"
        return "refused"
    after = str(stream)
    got = brackle.load_all(after)
    if shared:
        assert len(got) == len(expected)
    else:
        assert got == expected, f"{op} {path}/{key!r} loads to other data:\n{after}"
    outcome = "relaid"
    if keeps(text, after, lo, hi):
        outcome = "kept"
    elif op == "delete" and alone:
        mark = 0
        if path:
            parent = stream._resolve(doc, path[:-1])
            owner = stream._value(doc, path[:-1], parent)
            mark = editor.child_lines(parent, owner._position(path[-1]))[3]
        end = editor.last_line(c) + 1
        if keeps(text, after, mark + shift, max(hi, end + shift)):
            outcome = "emptied"
    elif op == "delete" and shares_line and keeps(text, after, lo, hi + 1):
        outcome = "pulled"
    strict = brackle.edit(text, strict=True)
    try:
        make(strict._value(doc, path, strict._resolve(doc, path)))
    except EditError:
        assert outcome != "kept" and str(strict) == text, f"strict refused a kept {op}"
    else:
        assert outcome == "kept" and str(strict) == after, f"strict let a {outcome} {op} through"
    return outcome


def outcomes(text: str):
    stream = brackle.edit(text)
    for doc in range(len(stream)):
        if not isinstance(stream[doc], (YAMLMapping, YAMLSequence)):
            continue
        for path, key in children(stream, doc):
            for op in OPS:
                yield (op, path, key), one_edit(text, doc, path, key, op)


def suite_texts():
    for case in require_suite():
        if case.must_fail:
            continue
        text = case.text
        if "\r" in text.replace("\r\n", ""):
            continue  # lone CR: not edited in place
        try:
            brackle.load_all(text)
        except brackle.YAMLError:
            continue  # no data to edit: duplicate keys, or a tag that does not fit
        yield case.id, text


@pytest.mark.parametrize("path", EXAMPLES, ids=lambda p: p.name)
def test_edits_of_examples_keep_every_other_line(path):
    text = path.read_text(encoding="utf-8")
    results = collections.Counter()
    for (op, where, key), outcome in outcomes(text):
        results[outcome] += 1
        assert outcome != "relaid", f"{op} at {where}/{key!r} changed other lines"
    assert results["kept"] > 0


# Suite inputs where an edit rewrites more than its own lines, and why.
RELAID = {
    # `[ word1\n# comment\n, word2]`: the comma that ends an item begins the
    # next item's line, so deleting either item changes a line of the other.
    "7TMG": "a comma at the start of the next item's line",
}


def test_edits_of_suite_inputs_load_to_the_edited_data_and_keep_other_lines():
    relaid = set()
    for case_id, text in suite_texts():
        for _, outcome in outcomes(text):
            if outcome == "relaid":
                relaid.add(case_id)
    assert relaid == set(RELAID)


# Values and keys whose text needs care: indicators, quotes, line breaks,
# types that plain text would change, tags, nesting.
VALUES = [
    "x",
    "",
    " lead",
    "a: b",
    "#c",
    "- d",
    "multi\nline\n",
    "multi\nno end",
    "tab\there",
    "'q'",
    '"dq"',
    "true",
    "1.5",
    "null",
    "é✓",
    "]",
    "{",
    "*a",
    "&b",
    "!c",
    "%d",
    "@e",
    "x" * 120,
    0,
    -1,
    3.25,
    True,
    None,
    [],
    {},
    [1, [2, {"a": None}]],
    {"k": "v", "n": {"m": [1, 2]}},
    {"odd key: x": "y"},
    Tagged("!t", "v"),
    Tagged("!m", {"a": 1}),
]
KEYS = ["new", "", "a b", "k:", "#", 1, True, None, 2.5, "- x", "? y"]
TEXTS = [p.read_text(encoding="utf-8") for p in EXAMPLES]


@settings(deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.data())
def test_any_edit_is_refused_untouched_or_loads_to_the_edited_data(data):
    if len(TEXTS) == len(EXAMPLES):
        TEXTS.extend(text for _, text in suite_texts())
    text = data.draw(st.sampled_from(TEXTS))
    stream = brackle.edit(text)
    docs = [d for d in range(len(stream)) if isinstance(stream[d], (YAMLMapping, YAMLSequence))]
    if not docs:
        return
    doc = data.draw(st.sampled_from(docs))
    found = children(stream, doc)
    if not found:
        return
    path, key = data.draw(st.sampled_from(found))
    view = stream._value(doc, path, stream._resolve(doc, path))
    shared = stream._shared(doc, path + (key,))
    expected = brackle.load_all(text)
    target = at(expected[doc], path)
    value = data.draw(st.sampled_from(VALUES))
    op = data.draw(st.sampled_from(["set", "insert", "delete", "eol", "before"]))
    try:
        if op == "set":
            view[key] = value
            target[key] = brackle.load(brackle.dump(value))
        elif op == "insert" and isinstance(view, YAMLMapping):
            new_key = data.draw(st.sampled_from([k for k in KEYS if k not in view]))
            view.insert(data.draw(st.integers(-2, 5)), new_key, value)
            target[new_key] = brackle.load(brackle.dump(value))
        elif op == "insert":
            index = data.draw(st.integers(-3, len(view) + 1))
            view.insert(index, value)
            target.insert(index, brackle.load(brackle.dump(value)))
        elif op == "delete":
            del view[key]
            del target[key]
        elif op == "eol":
            view.comments(key).eol = data.draw(st.sampled_from(["note", "", None, "# x", "a: b"]))
        else:
            view.comments(key).before = data.draw(st.sampled_from([["note"], [], None, ["", "x"]]))
    except EditError:
        assert str(stream) == text
        return
    if not shared:
        assert brackle.load_all(str(stream)) == expected


if __name__ == "__main__":
    for label, texts in (
        ("examples/", ((p.name, p.read_text(encoding="utf-8")) for p in EXAMPLES)),
        ("suite", suite_texts()),
    ):
        counts = collections.Counter()
        for _, text in texts:
            for (op, _, _), outcome in outcomes(text):
                counts[op, outcome] += 1
        print(label)
        for (op, outcome), n in sorted(counts.items()):
            print(f"  {op:7} {outcome:8} {n}")
    sys.exit(0)
