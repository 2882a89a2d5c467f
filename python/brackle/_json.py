"""Loaded data as strict JSON (RFC 8259), for ``brackle get --json``.

Every output parses as JSON, or nothing is written: infinities and NaN,
which JSON has no number for, and data that refers to itself are refused
with the path of the value; keys that are not strings become their YAML
text, and two keys that become the same text are refused. Aliases are
written out in full, within a budget of nodes (:data:`MIN_NODE_BUDGET`, or
:data:`BUDGET_PER_NODE` times the data's own node count when that is more),
so that a few hundred bytes of nested aliases cannot make gigabytes.

>>> print(to_json({"a": [1, None], 2: "x"}))
{
  "a": [
    1,
    null
  ],
  "2": "x"
}
"""

from __future__ import annotations

import base64
import datetime
import json
import math
from collections.abc import Iterator, Mapping, Sequence, Set
from typing import Any

from brackle.constructor import Tagged
from brackle.paths import format_path, scalar_text

__all__ = ["JSONError", "to_json", "MIN_NODE_BUDGET", "BUDGET_PER_NODE"]

MIN_NODE_BUDGET = 1_000_000
BUDGET_PER_NODE = 10

_INDENT = "  "


class JSONError(ValueError):
    """Data that cannot be written as strict JSON; the message names where."""


class _Open:
    """A container being written: its entries left, and its place."""

    __slots__ = ("ident", "steps", "entries", "is_object", "started")

    def __init__(self, data: Any, steps: list[Any]) -> None:
        self.ident = id(data)
        self.steps = steps
        self.is_object = isinstance(data, Mapping)
        if self.is_object:
            self.entries = _object_entries(data, steps)
        else:
            members = sorted(data, key=repr) if isinstance(data, Set) else data
            self.entries = iter(enumerate(members))
        self.started = False


def to_json(value: Any, at: Sequence[Any] = ()) -> str:
    """``value`` as indented JSON text, without a final line break; ``at``
    is the path of ``value``, which error messages start from."""
    distinct, expanded = _measure(value, list(at))
    budget = max(MIN_NODE_BUDGET, BUDGET_PER_NODE * distinct)
    if expanded > budget:
        raise JSONError(
            f"{format_path(at)}: its aliases written out in full would make {expanded:,} values, "
            f"more than the limit of alias expansion ({budget:,})"
        )
    out: list[str] = []
    stack: list[_Open] = []
    steps: list[Any] = list(at)
    data = value
    while True:
        data = _plain(data)
        if _is_container(data):
            stack.append(_Open(data, steps))
            out.append("{" if stack[-1].is_object else "[")
        else:
            out.append(_scalar(data, steps))
        # The next value to write, closing the containers that are done.
        while stack:
            top = stack[-1]
            entry = next(top.entries, None)
            if entry is not None:
                break
            stack.pop()
            closing = "}" if top.is_object else "]"
            out.append(f"\n{_INDENT * len(stack)}{closing}" if top.started else closing)
        else:
            return "".join(out)
        label, data = entry
        out.append(",\n" if top.started else "\n")
        top.started = True
        out.append(_INDENT * len(stack))
        if top.is_object:
            out.append(json.dumps(label, ensure_ascii=False) + ": ")
        steps = top.steps + [label]


def _is_container(data: Any) -> bool:
    return isinstance(data, (Mapping, list, tuple, Set))


def _children(data: Any) -> list[tuple[Any, Any]]:
    if isinstance(data, Mapping):
        return list(data.items())
    return list(enumerate(data))


def _measure(value: Any, at: list[Any]) -> tuple[int, int]:
    """The data's own node count (a shared collection counted once) and the
    number of values its JSON text would hold (aliases written out), found
    in one walk that sizes each collection once; a collection that contains
    itself is refused."""
    sizes: dict[int, int] = {}  # a collection walked: its expanded size
    open_ids: set[int] = set()  # the collections on the walk's path
    distinct = 0
    # Each frame: the collection, its path, its children left, the size so far.
    stack: list[list[Any]] = []
    root = _plain(value)
    if not _is_container(root):
        return 1, 1
    stack.append([root, at, iter(_children(root)), 1])
    open_ids.add(id(root))
    distinct = 1
    while stack:
        frame = stack[-1]
        nxt = next(frame[2], None)
        if nxt is None:
            stack.pop()
            open_ids.discard(id(frame[0]))
            sizes[id(frame[0])] = frame[3]
            if stack:
                stack[-1][3] += frame[3]
            continue
        label, child = nxt
        child = _plain(child)
        if not _is_container(child):
            distinct += 1
            frame[3] += 1
            continue
        if id(child) in sizes:
            frame[3] += sizes[id(child)]
            continue
        steps = frame[1] + [label]
        if id(child) in open_ids:
            raise JSONError(
                f"{format_path(steps)}: the value contains itself, which JSON cannot hold"
            )
        distinct += 1
        open_ids.add(id(child))
        stack.append([child, steps, iter(_children(child)), 1])
    return distinct, sizes[id(root)]


def _object_entries(data: Mapping[Any, Any], steps: list[Any]) -> Iterator[tuple[Any, Any]]:
    """The entries of a mapping with their keys as JSON key text; two keys
    with one text are refused."""
    texts: dict[str, Any] = {}
    entries = []
    for key, value in data.items():
        text = _key_text(key)
        if text in texts:
            raise JSONError(
                f"{format_path(steps)}: the keys {texts[text]!r} and {key!r} would both be "
                f"written as the JSON key {text!r}"
            )
        texts[text] = key
        entries.append((text, value))
    return iter(entries)


def _key_text(key: Any) -> str:
    """A key as JSON key text: a string as it is, any other key as its YAML
    text (``1``, ``true``, ``null``, ``[a, b]``)."""
    if isinstance(key, str):
        return key
    if key is None or isinstance(key, (bool, int, float, datetime.date)):
        return scalar_text(key)
    from brackle.representer import dump

    return dump(key, default_flow_style=True, width=1 << 30).strip()


def _plain(data: Any) -> Any:
    while isinstance(data, Tagged):  # the value of a tagged node, without its tag
        data = data.value
    return data


def _scalar(data: Any, steps: list[Any]) -> str:
    if isinstance(data, float) and not math.isfinite(data):
        raise JSONError(f"{format_path(steps)}: {scalar_text(data)} has no JSON number")
    if data is None or isinstance(data, (bool, int, float)):
        return scalar_text(data)  # null, true, false and numbers are written alike
    if isinstance(data, (bytes, bytearray)):
        text = base64.b64encode(data).decode("ascii")
    elif isinstance(data, (datetime.date, datetime.datetime)):
        text = data.isoformat()
    else:
        text = str(data)
    return json.dumps(text, ensure_ascii=False)
