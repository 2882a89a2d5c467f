"""Comparing loaded data: the one equality that the edit checks and the
formatter's check use.

>>> a = [1]
>>> same_data({"x": a, "y": a}, {"x": [1], "y": [1]})
True
>>> same_data([1], [True]), same_data(float("nan"), float("nan"))
(False, True)
>>> same_data({"a": 1, "b": 2}, {"b": 2, "a": 1}), same_data({1, 2}, {2, 1})
(True, True)
>>> same_data({float("nan"), 1}, {1, float("nan")})
True
"""

from __future__ import annotations

from collections.abc import Iterable, Mapping
from typing import Any

from brackle.constructor import Tagged

__all__ = ["same_data"]


def same_data(a: Any, b: Any) -> bool:
    """Whether two loaded values are the same data: same types, equal
    scalars (NaN equal to NaN), containers equal item by item, mappings and
    sets in any order. Walks with a stack; a pair met again counts as equal,
    so data that shares its parts (keys built from aliases) is compared once
    per part, never once per path to it."""
    stack = [(a, b)]
    seen: set[tuple[int, int]] = set()
    while stack:
        x, y = stack.pop()
        if x is y:
            continue
        kind = type(x)
        if kind is not type(y):
            return False
        if kind is str or kind is int:
            if x != y:
                return False
            continue
        if isinstance(x, Tagged):
            if x.tag != y.tag:
                return False
            stack.append((x.value, y.value))
            continue
        if isinstance(x, (list, tuple, Mapping, set, frozenset)):
            pair = (id(x), id(y))
            if pair in seen:
                continue
            seen.add(pair)
            if len(x) != len(y):
                return False
            if isinstance(x, Mapping):
                if _keys_in_step(x, y):
                    stack.extend(zip(x.values(), y.values()))
                    continue
                keys = _matched(x, y)
                if keys is None:
                    return False
                stack.extend((x[kx], y[ky]) for kx, ky in keys)
            elif isinstance(x, (set, frozenset)):
                if _matched(x, y) is None:
                    return False
            else:
                stack.extend(zip(x, y))
            continue
        if isinstance(x, float) and x != x:
            if y == y:
                return False
            continue
        if x != y:
            return False
    return True


def _same_key(x: Any, y: Any) -> bool:
    if type(x) is str:
        return type(y) is str and x == y
    return same_data(x, y)


def _keys_in_step(x: Mapping[Any, Any], y: Mapping[Any, Any]) -> bool:
    """Whether the keys of ``x`` and ``y`` are the same data in the same
    order, compared by their structure, not by ``==``, which would walk a
    shared key once per path through it."""
    return all(_same_key(kx, ky) for kx, ky in zip(x, y))


def _matched(xs: Iterable[Any], ys: Iterable[Any]) -> list[tuple[Any, Any]] | None:
    """Each member of ``xs`` with a distinct member of ``ys`` that is the
    same data, looked for among those of the same hash; ``None`` when some
    member has none."""
    buckets: dict[int, list[Any]] = {}
    for member in ys:
        buckets.setdefault(hash(member), []).append(member)
    pairs = []
    for member in xs:
        # A NaN hashes by its identity: it is looked for among all the rest.
        found = _take_same(member, buckets.get(hash(member), []))
        if found is _NONE:
            found = next(
                (f for b in buckets.values() if (f := _take_same(member, b)) is not _NONE), _NONE
            )
        if found is _NONE:
            return None
        pairs.append((member, found))
    return pairs


_NONE = object()


def _take_same(member: Any, bucket: list[Any]) -> Any:
    """Takes out of ``bucket`` the first value that is the same data as
    ``member``, and gives it; ``_NONE`` when there is none."""
    for i, other in enumerate(bucket):
        if same_data(member, other):
            return bucket.pop(i)
    return _NONE
