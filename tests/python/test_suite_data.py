"""The data of the YAML test suite: for every accepted test with an
`in.json`, `brackle.load_all` gives the JSON's documents (check `py-data` in
tests/suite_known_differences.txt)."""

from __future__ import annotations

import json

import brackle
from suite_util import expect_listed, require_suite


def _json_documents(text: str) -> list[object]:
    """The JSON values of an `in.json`, one per document, one after another."""
    decoder = json.JSONDecoder()
    values, at = [], 0
    while True:
        while at < len(text) and text[at].isspace():
            at += 1
        if at == len(text):
            return values
        value, at = decoder.raw_decode(text, at)
        values.append(value)


def _json_form(value: object) -> object:
    # JSON has no tags: the suite writes a tagged node's data, and a set as
    # a mapping with null values.
    if isinstance(value, brackle.Tagged):
        return value.value
    if isinstance(value, (set, frozenset)):
        return dict.fromkeys(value)
    return repr(value)


def _as_json(data: object) -> object:
    """``data`` as JSON would carry it: keys made strings, as JSON makes them."""
    return json.loads(json.dumps(data, default=_json_form))


def test_load_all_gives_the_data_of_every_suite_test_with_json():
    considered, differences = set(), {}
    for case in require_suite():
        path = case.dir / "in.json"
        if case.must_fail or not path.exists():
            continue
        considered.add(case.id)
        expected = _json_documents(path.read_text(encoding="utf-8"))
        try:
            got = _as_json(brackle.load_all((case.dir / "in.yaml").read_bytes()))
        except (brackle.YAMLError, TypeError, ValueError) as e:
            differences[case.id] = f"{type(e).__name__}: {e}"
            continue
        if got != expected:
            differences[case.id] = f"{got!r} != {expected!r}"
    assert len(considered) > 250, len(considered)
    expect_listed("py-data", considered, differences)
