"""Comparing loaded data: the one equality that the edit checks and the
formatter's check use.

>>> a = [1]
>>> same_data({"x": a, "y": a}, {"x": [1], "y": [1]})
True
>>> same_data([1], [True]), same_data(float("nan"), float("nan"))
(False, True)
"""

from __future__ import annotations

from typing import Any

from brackle.constructor import Tagged

__all__ = ["same_data"]


def same_data(a: Any, b: Any) -> bool:
    """Whether two loaded values are the same data: same types, equal
    scalars (NaN equal to NaN), containers equal item by item. Walks with a
    stack; a pair met again counts as equal."""
    stack = [(a, b)]
    seen: set[tuple[int, int]] = set()
    while stack:
        x, y = stack.pop()
        if type(x) is not type(y):
            return False
        if isinstance(x, Tagged):
            if x.tag != y.tag:
                return False
            stack.append((x.value, y.value))
            continue
        if isinstance(x, (list, tuple, dict)):
            pair = (id(x), id(y))
            if pair in seen:
                continue
            seen.add(pair)
            if len(x) != len(y):
                return False
            if isinstance(x, dict):
                for k, v in x.items():
                    if k not in y:
                        return False
                    stack.append((v, y[k]))
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
