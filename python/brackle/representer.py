"""Python data to YAML text: ``dump`` and ``dump_all``.

The data goes straight to the core's documents, in C++, and out through the
same emitter as ``emit``, laid out by the ``EmitOptions`` given as keyword
arguments. A string that would read back as something else (``'true'``,
``'1_000'``, ``''``) is quoted; shared containers become anchors and
aliases, so a cycle ends at an alias. A :class:`Flow` collection is written
in flow style, and a ``Doc`` record from ``brackle.parse`` as it was read: a
scalar on one line keeps its own text (``0600`` stays ``0600``).

>>> import brackle
>>> print(brackle.dump({"name": "brackle", "version": "1.0", "tags": ["yaml", None]}), end="")
name: brackle
version: '1.0'
tags:
- yaml
- null
"""

from __future__ import annotations

from collections.abc import Callable, Iterable, Mapping
from typing import Any, TextIO, overload

from brackle._brackle import _dump_all
from brackle.options import EmitOptions

__all__ = ["dump", "dump_all", "Flow"]


Represent = Mapping[type, Callable[[Any], Any]]


class Flow:
    """A collection written in flow style (``[a, b]``, ``{k: v}``) instead
    of block style, by ``dump`` and by the edit API:
    ``doc["ports"] = brackle.Flow([80, 443])``.

    >>> print(dump({"ports": Flow([80, 443])}), end="")
    ports: [80, 443]
    """

    __slots__ = ("value",)

    def __init__(self, value: Any) -> None:
        self.value = value

    def __repr__(self) -> str:
        return f"Flow({self.value!r})"


@overload
def dump_all(
    documents: Iterable[Any],
    stream: None = None,
    *,
    represent: Represent | None = None,
    sort_keys: bool = False,
    **options: Any,
) -> str: ...
@overload
def dump_all(
    documents: Iterable[Any],
    stream: TextIO,
    *,
    represent: Represent | None = None,
    sort_keys: bool = False,
    **options: Any,
) -> None: ...


def dump_all(
    documents: Iterable[Any],
    stream: TextIO | None = None,
    *,
    represent: Represent | None = None,
    sort_keys: bool = False,
    **options: Any,
) -> str | None:
    """Writes each item of ``documents`` as one YAML document.

    ``options`` are the fields of :class:`EmitOptions`; any other keyword
    raises ``TypeError``. Returns the text, or writes it to the text stream
    ``stream`` and returns ``None``. With ``sort_keys``, mappings are written
    in the order of their keys (where the keys compare).

    ``represent`` maps a type to a function that returns what to write for
    an object of that type (or of a class derived from it, when no built-in
    rule takes the object): plain data, or a :class:`~brackle.Tagged` to
    write it with a tag. An object of any other type that YAML does not hold
    raises :class:`~brackle.RepresenterError`. Dataclasses and enums are
    written this way:

    >>> import brackle, dataclasses, enum
    >>> from decimal import Decimal
    >>> @dataclasses.dataclass
    ... class Point:
    ...     x: int
    ...     y: int
    >>> class Color(enum.Enum):
    ...     RED = "red"
    >>> print(brackle.dump(
    ...     {"at": Point(1, 2), "color": Color.RED, "price": Decimal("9.90")},
    ...     represent={
    ...         Point: dataclasses.asdict,
    ...         enum.Enum: lambda member: member.value,
    ...         Decimal: lambda d: brackle.Tagged("!decimal", str(d)),
    ...     },
    ... ), end="")
    at:
      x: 1
      y: 2
    color: red
    price: !decimal '9.90'

    >>> import brackle
    >>> print(brackle.dump_all([{"a": 1}, [1.5, True]], explicit_start=True), end="")
    ---
    a: 1
    ---
    - 1.5
    - true
    """
    functions = None if represent is None else dict(represent)
    text: str = _dump_all(list(documents), EmitOptions(**options), functions, sort_keys)
    if stream is None:
        return text
    stream.write(text)
    return None


@overload
def dump(
    data: Any,
    stream: None = None,
    *,
    represent: Represent | None = None,
    sort_keys: bool = False,
    **options: Any,
) -> str: ...
@overload
def dump(
    data: Any,
    stream: TextIO,
    *,
    represent: Represent | None = None,
    sort_keys: bool = False,
    **options: Any,
) -> None: ...


def dump(
    data: Any,
    stream: TextIO | None = None,
    *,
    represent: Represent | None = None,
    sort_keys: bool = False,
    **options: Any,
) -> str | None:
    """Writes ``data`` as one YAML document; see :func:`dump_all`.

    >>> import brackle
    >>> print(brackle.dump({"on": "yes", "when": "2001-12-14"}), end="")
    'on': 'yes'
    when: '2001-12-14'
    """
    return dump_all([data], stream, represent=represent, sort_keys=sort_keys, **options)
