"""Paths into a document, written as the ``yq`` tool writes them.

A path is ``.`` for the root, then steps: ``.key``, ``."key with spaces"``,
``.["key.with.dots"]``, ``[0]`` and ``[-1]`` (from the end).
:func:`parse_path` turns one into a list of steps, ``str`` for keys and
``int`` for indexes:

>>> parse_path(".spec.containers[0].image")
['spec', 'containers', 0, 'image']
>>> parse_path('.["a.b"]."c d"[-1]')
['a.b', 'c d', -1]
>>> parse_path(".")
[]

A key step matches a mapping key that loads as the same string, or a key
that loads as a number, boolean or null whose plain YAML text is the step
(``.80`` finds the key written ``80:``, ``.true`` the key ``true:``):

>>> data = {80: "http", "name": "web", True: "yes"}
>>> [find_key(data, step) for step in ("80", "name", "true", "x")]
[(True, 80), (True, 'name'), (True, True), (False, None)]
"""

from __future__ import annotations

import datetime
import math
from collections.abc import Iterable, Mapping, Sequence, Set
from typing import Any

__all__ = [
    "PathError",
    "parse_path",
    "format_path",
    "find_key",
    "scalar_text",
    "is_collection",
    "locate",
    "resolve",
]

Step = str | int

# Characters that end a bare key: a bare key is the run up to the next step.
_BARE_END = ".[]\"' "


class PathError(ValueError):
    """A path that cannot be read; the message says where and why."""

    def __init__(self, path: str, pos: int, why: str) -> None:
        super().__init__(f"bad path {path!r} at character {pos + 1}: {why}")
        self.path = path
        self.pos = pos


def _quoted(path: str, pos: int) -> tuple[str, int]:
    """The text of the quoted key at ``pos`` and the position after it.

    Double quotes take ``\\"`` and ``\\\\`` as escapes; single quotes take
    ``''`` for a quote, as YAML does.
    """
    quote = path[pos]
    out: list[str] = []
    i = pos + 1
    while i < len(path):
        c = path[i]
        if c == quote:
            if quote == "'" and path.startswith("''", i):
                out.append("'")
                i += 2
                continue
            return "".join(out), i + 1
        if quote == '"' and c == "\\" and i + 1 < len(path):
            out.append(path[i + 1])
            i += 2
            continue
        out.append(c)
        i += 1
    raise PathError(path, pos, f"the key opened with {quote} is never closed")


def _bracket(path: str, pos: int) -> tuple[Step, int]:
    """The step in brackets at ``pos`` (a ``[``): an index or a quoted key."""
    i = pos + 1
    if i < len(path) and path[i] in "\"'":
        key, i = _quoted(path, i)
        if not path.startswith("]", i):
            raise PathError(path, i, "expected ] after the quoted key")
        return key, i + 1
    end = path.find("]", i)
    if end < 0:
        raise PathError(path, pos, "the [ is never closed")
    text = path[i:end].strip()
    try:
        return int(text), end + 1
    except ValueError:
        raise PathError(
            path, i, f"expected an index or a quoted key in brackets, found {text!r}"
        ) from None


def parse_path(path: str) -> list[Step]:
    """The steps of ``path``: keys as ``str``, indexes as ``int``.

    Raises :class:`PathError` for a path that does not start with ``.`` or
    ``[``, an empty key, an unclosed quote or bracket, or a bracket that holds
    neither an integer nor a quoted key.

    >>> parse_path('.a[1][2]."b"')
    ['a', 1, 2, 'b']
    """
    text = path.strip()
    if not text:
        raise PathError(path, 0, "the path is empty (the root is .)")
    if text == ".":
        return []
    steps: list[Step] = []
    i = 0
    while i < len(text):
        c = text[i]
        if c == "[":
            step, i = _bracket(text, i)
            steps.append(step)
        elif c == ".":
            i += 1
            if i >= len(text):
                raise PathError(path, i - 1, "a key must follow the .")
            if text[i] == "[":
                step, i = _bracket(text, i)
                steps.append(step)
            elif text[i] in "\"'":
                key, i = _quoted(text, i)
                steps.append(key)
            else:
                start = i
                while i < len(text) and text[i] not in _BARE_END:
                    i += 1
                if i == start:
                    raise PathError(path, start, f"expected a key, found {text[start]!r}")
                steps.append(text[start:i])
        else:
            raise PathError(path, i, f"expected . or [, found {c!r}")
    return steps


def format_path(steps: Iterable[Step]) -> str:
    """The path text of ``steps``, quoting keys that a bare key cannot hold.

    >>> format_path(["spec", "a.b", 0])
    '.spec."a.b"[0]'
    """
    out: list[str] = []
    for step in steps:
        if isinstance(step, int):
            out.append(f"[{step}]")
        elif step and not any(c in _BARE_END for c in step):
            out.append(f".{step}")
        else:
            escaped = step.replace("\\", "\\\\").replace('"', '\\"')
            out.append(f'."{escaped}"')
    return "".join(out) or "."


def scalar_text(value: Any) -> str:
    """The plain YAML text of a loaded scalar, as ``get`` prints it.

    >>> [scalar_text(v) for v in (None, True, 1.5, float("inf"), "x")]
    ['null', 'true', '1.5', '.inf', 'x']
    """
    if value is None:
        return "null"
    if value is True:
        return "true"
    if value is False:
        return "false"
    if isinstance(value, float):
        if math.isnan(value):
            return ".nan"
        if math.isinf(value):
            return ".inf" if value > 0 else "-.inf"
        return repr(value)
    if isinstance(value, (datetime.date, datetime.datetime)):
        return value.isoformat()
    return str(value)


def find_key(mapping: Mapping[Any, Any], step: str) -> tuple[bool, Any]:
    """Whether ``mapping`` has a key for ``step``, and that key.

    A string key equal to ``step`` wins; otherwise the first key that loaded
    as a number, boolean or null and whose plain text is ``step``.
    """
    if step in mapping:
        return True, step
    for key in mapping:
        if key is None or isinstance(key, (bool, int, float)):
            if scalar_text(key) == step:
                return True, key
    return False, None


def is_collection(value: Any) -> bool:
    """Whether a path can step into ``value``: a mapping, sequence or set,
    but not a string or bytes."""
    if isinstance(value, (str, bytes, bytearray)):
        return False
    return isinstance(value, (Mapping, Sequence, Set))


def locate(parent: Any, step: Step, at: Sequence[Step]) -> tuple[Any, str | None]:
    """The key or index that ``step`` names in ``parent`` (reached by the
    steps ``at``), and ``None``; or, when it is not there, what a new entry
    would be keyed by (``None`` where there can be none) and why not.

    >>> locate({80: "http"}, "80", [])
    (80, None)
    >>> locate({"a": [1]}, "b", [])
    ('b', ". has no key 'b'")
    >>> locate([1], 1, ["a"])
    (1, '.a has no index 1')
    """
    where = format_path(at)
    if isinstance(parent, Mapping):
        found, key = find_key(parent, str(step))
        if found:
            return key, None
        return step, f"{where} has no key {str(step)!r}"
    if is_collection(parent) and isinstance(parent, Sequence):
        if not isinstance(step, int):
            return None, f"{where} is a sequence: {step!r} is not an index"
        if not -len(parent) <= step < len(parent):
            return step, f"{where} has no index {step}"
        return step, None
    return None, f"{where} is a scalar, not a collection"


def resolve(root: Any, steps: Sequence[Step]) -> tuple[Any, str | None]:
    """The value at ``steps`` under ``root`` and ``None``, or ``None`` and why
    there is none. Walks loaded data and the views of a document opened for
    editing alike.

    >>> resolve({"a": [1, {"b": 2}]}, ["a", -1, "b"])
    (2, None)
    >>> resolve({"a": [1]}, ["a", 3])
    (None, '.a has no index 3')
    """
    node = root
    for i, step in enumerate(steps):
        key, why = locate(node, step, steps[:i])
        if why is not None:
            return None, why
        node = node[key]
    return node, None
