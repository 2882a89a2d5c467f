"""Conformance over the YAML test suite, through the module.

Checks, named as in tests/suite_known_differences.txt:
- py-identity: every accepted input comes back byte for byte through records,
  `emit(parse(text))`;
- py-rust-identity: the same inside the core, `_roundtrip_in_rust(text)`;
- py-events: the events rebuilt from the records equal the suite's
  `test.event`;
- py-error: every input the suite rejects raises the parse error.
"""

from __future__ import annotations

import difflib

import brackle
from brackle._brackle import _roundtrip_in_rust
from brackle.error import ScannerError
from brackle.options import EmitOptions
from suite_util import events_of, expect_listed, require_suite


def _accepted():
    return [case for case in require_suite() if not case.must_fail]


def _first_difference(expected: str, actual: str) -> str:
    at = next((i for i, (a, b) in enumerate(zip(expected, actual)) if a != b), None)
    if at is None:
        at = min(len(expected), len(actual))
    want, got = expected[at : at + 30], actual[at : at + 30]
    return f"first difference at character {at}: expected {want!r}, got {got!r}"


def _identity(check: str, roundtrip) -> None:
    cases = _accepted()
    differences: dict[str, str] = {}
    for case in cases:
        text = case.text
        try:
            out = roundtrip(text)
        except Exception as e:  # every failure is a difference of this check
            differences[case.id] = f"{type(e).__name__}: {e}"
            continue
        if out != text:
            differences[case.id] = _first_difference(text, out)
    expect_listed(check, {c.id for c in cases}, differences)


def test_accepted_inputs_round_trip_through_records():
    _identity("py-identity", lambda text: brackle.emit(brackle.parse(text), EmitOptions()))


def test_accepted_inputs_round_trip_inside_the_core():
    _identity("py-rust-identity", lambda text: _roundtrip_in_rust(text, EmitOptions()))


def test_events_rebuilt_from_records_equal_the_suite_events():
    cases = [c for c in _accepted() if (c.dir / "test.event").exists()]
    differences: dict[str, str] = {}
    for case in cases:
        expected = (case.dir / "test.event").read_text(encoding="utf-8").splitlines()
        try:
            actual = events_of(brackle.parse(case.text))
        except Exception as e:
            differences[case.id] = f"{type(e).__name__}: {e}"
            continue
        if actual != expected:
            diff = difflib.unified_diff(expected, actual, "test.event", "records", lineterm="", n=1)
            differences[case.id] = " | ".join(list(diff)[2:8])
    expect_listed("py-events", {c.id for c in cases}, differences)


def test_rejected_inputs_raise_the_parse_error():
    cases = [c for c in require_suite() if c.must_fail]
    differences: dict[str, str] = {}
    for case in cases:
        try:
            brackle.parse(case.text)
        except ScannerError:
            continue
        except Exception as e:
            differences[case.id] = f"{type(e).__name__} instead of ScannerError: {e}"
            continue
        differences[case.id] = "accepted"
    expect_listed("py-error", {c.id for c in cases}, differences)
