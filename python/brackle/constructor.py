"""YAML to plain Python data: ``load`` and ``load_all``.

Scalars follow the YAML 1.2 core schema, or the 1.1 rules for a document
with ``%YAML 1.1`` or a call with ``version=(1, 1)``. Aliases give the same
object as their anchor, merge keys (``<<``) are applied, a collection used as
a key becomes a hashable frozen form, and a local or unknown tag gives a
:class:`Tagged` value. Duplicate keys raise :class:`DuplicateKeyError`:

>>> import brackle
>>> load("a: 1\\nb: [x, 0x1F, .inf]\\n")
{'a': 1, 'b': ['x', 31, inf]}
>>> try:
...     load("a: 1\\na: 2\\n")
... except DuplicateKeyError as e:
...     print(e.key, e.first_mark.line, e.problem_mark.line)
a 0 1
>>> load("a: 1\\na: 2\\n", allow_duplicate_keys=True)
{'a': 2}
"""

from __future__ import annotations

import base64
import binascii
import datetime
import os
from collections.abc import Callable, Iterator, Mapping
from typing import IO, Any

from brackle._brackle import _iter_load
from brackle._source import decode, detect_encoding, read_source
from brackle.error import Mark, MarkedYAMLError

__all__ = [
    "load",
    "load_all",
    "iter_load",
    "Tagged",
    "FrozenDict",
    "HashedTuple",
    "ConstructorError",
    "DuplicateKeyError",
]

_NO_NAME = "<unicode string>"


class ConstructorError(MarkedYAMLError):
    """A well-formed node cannot become Python data (a scalar that does not
    read as its tag says, an unhashable key, an undefined alias)."""


class DuplicateKeyError(ConstructorError):
    """A mapping has the same key twice. ``key`` is the key's data,
    ``first_mark`` where it was first seen and ``problem_mark`` where it
    occurs again."""

    def __init__(self, key: Any, first_mark: Mark | None, problem: str, problem_mark: Mark) -> None:
        context = None if first_mark is None else f"the key {key!r} first occurs"
        super().__init__(context, first_mark, problem, problem_mark)
        self.key = key
        self.first_mark = first_mark


class Tagged:
    """A node with a local or unknown tag: ``tag`` is the resolved tag,
    ``value`` the node's data.

    >>> load("!point [1, 2]")
    Tagged('!point', [1, 2])
    """

    __slots__ = ("tag", "value")

    def __init__(self, tag: str, value: Any) -> None:
        self.tag = tag
        self.value = value

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Tagged):
            return NotImplemented
        return self.tag == other.tag and self.value == other.value

    def __hash__(self) -> int:
        return hash((self.tag, self.value))

    def __repr__(self) -> str:
        return f"Tagged({self.tag!r}, {self.value!r})"


class HashedTuple(tuple[Any, ...]):
    """What a sequence used as a mapping key becomes: a tuple that works out
    its hash once. Aliases can make a key of nested tuples that share their
    parts, and a plain tuple hashes each part as often as it occurs.

    >>> key = next(iter(load("? [a, [b]]\\n: x\\n")))
    >>> key == ("a", ("b",)), isinstance(key, tuple), hash(key) == hash(("a", ("b",)))
    (True, True, True)
    """

    def __hash__(self) -> int:
        found: int | None = self.__dict__.get("hash")
        if found is None:
            found = self.__dict__["hash"] = tuple.__hash__(self)
        return found


class FrozenDict(Mapping[Any, Any]):
    """A read-only, hashable mapping: what a mapping used as a mapping key
    becomes. It compares equal to a dict with the same pairs.

    >>> key = next(iter(load("? {a: 1}\\n: x\\n")))
    >>> key, key == {"a": 1}, hash(key) == hash(FrozenDict({"a": 1}))
    (FrozenDict({'a': 1}), True, True)
    """

    __slots__ = ("_items", "_hash")

    def __init__(self, items: Any = ()) -> None:
        self._items = dict(items)
        self._hash: int | None = None

    def __getitem__(self, key: Any) -> Any:
        return self._items[key]

    def __iter__(self) -> Iterator[Any]:
        return iter(self._items)

    def __len__(self) -> int:
        return len(self._items)

    def __hash__(self) -> int:
        if self._hash is None:
            self._hash = hash(frozenset(self._items.items()))
        return self._hash

    def __repr__(self) -> str:
        return f"FrozenDict({self._items!r})"


Tags = Mapping[str, Callable[[Any], Any]]


def iter_load(
    source: str | bytes | IO[Any] | os.PathLike[str],
    *,
    allow_duplicate_keys: bool = False,
    name: str | None = None,
    version: tuple[int, int] | None = None,
    tags: Tags | None = None,
) -> Iterator[Any]:
    """The data of each document of ``source``, one document at a time.

    Each document is read when the iteration reaches it and let go before
    the next one is read, so a stream of any length takes the memory of its
    text and one document. An error is raised when the iteration reaches it,
    after the documents before it. The arguments are those of
    :func:`load_all`.

    >>> for data in iter_load("--- {id: 1}\\n--- {id: 2}\\n"):
    ...     print(data["id"])
    1
    2
    """
    return _documents(source, allow_duplicate_keys, name, version, tags, False)


def _documents(
    source: str | bytes | IO[Any] | os.PathLike[str],
    allow_duplicate_keys: bool,
    name: str | None,
    version: tuple[int, int] | None,
    tags: Tags | None,
    unknown_tags_fail: bool,
) -> Iterator[Any]:
    """:func:`iter_load`; with ``unknown_tags_fail``, a tag that has neither
    a rule nor a function in ``tags`` raises :class:`ConstructorError`
    instead of giving a :class:`Tagged`."""
    if tags is not None and not isinstance(tags, dict):
        tags = dict(tags)
    if isinstance(source, os.PathLike):
        path = os.fspath(source)
        with open(path, "rb") as f:
            source = f.read()
        name = path if name is None else name
    # UTF-8 bytes go to the core as they are: no decoded copy of the text.
    if isinstance(source, bytes) and detect_encoding(source) == "utf-8":
        try:
            return _iter_load(source, name, allow_duplicate_keys, version, tags, unknown_tags_fail)
        except UnicodeDecodeError:
            decode(source, name)  # raises the reader's error, at the first bad byte
            raise
    text, name, _ = read_source(source, name)
    return _iter_load(text, name, allow_duplicate_keys, version, tags, unknown_tags_fail)


def load_all(
    source: str | bytes | IO[Any] | os.PathLike[str],
    *,
    allow_duplicate_keys: bool = False,
    name: str | None = None,
    version: tuple[int, int] | None = None,
    tags: Tags | None = None,
) -> list[Any]:
    """The data of every document of ``source``, in a list.

    ``source`` is a str, bytes (UTF-8, UTF-16 or UTF-32, told apart by a
    byte-order mark or by the NUL bytes at the start), a path or a readable
    file object. ``version=(1, 1)`` reads every document by the
    1.1 rules, ``(1, 2)`` by the core schema; by default each document's
    ``%YAML`` directive decides.

    ``tags`` maps a tag to a function that makes the data of each node with
    that tag: it is called with what the node would give as a
    :class:`Tagged` value (a str, list or dict) and returns the data in its
    place. A tag is named as it resolves: ``!Ref`` for a local tag,
    ``tag:yaml.org,2002:str`` for ``!!str``.

    >>> load_all("--- 1\\n--- [a]\\n")
    [1, ['a']]
    >>> load_all("key: !Ref Bucket\\n", tags={"!Ref": lambda name: {"Ref": name}})
    [{'key': {'Ref': 'Bucket'}}]
    """
    return list(
        iter_load(
            source,
            allow_duplicate_keys=allow_duplicate_keys,
            name=name,
            version=version,
            tags=tags,
        )
    )


def load(
    source: str | bytes | IO[Any] | os.PathLike[str],
    *,
    allow_duplicate_keys: bool = False,
    name: str | None = None,
    version: tuple[int, int] | None = None,
    tags: Tags | None = None,
) -> Any:
    """The data of the first document of ``source``, ``None`` for an empty
    stream; the arguments are those of :func:`load_all`.

    >>> load("%YAML 1.1\\n---\\n[yes, 0777, 1:30]\\n")
    [True, 511, 90]
    """
    documents = load_all(
        source,
        allow_duplicate_keys=allow_duplicate_keys,
        name=name,
        version=version,
        tags=tags,
    )
    return documents[0] if documents else None


# ---- helpers the extension module calls -------------------------------------


def _construct_error(
    message: str,
    line: int,
    col: int,
    source: str | bytes,
    name: str,
    key: Any,
    first_line: int | None,
    first_col: int | None,
) -> ConstructorError:
    text = source.decode("utf-8") if isinstance(source, bytes) else source

    def mark(line: int, col: int) -> Mark:
        return Mark.at_line(name, text, line, col)

    if first_line is None and key is None:
        return ConstructorError(None, None, message, mark(line, col))
    first = None if first_line is None else mark(first_line, first_col or 0)
    return DuplicateKeyError(key, first, message, mark(line, col))


def _timestamp(
    year: int,
    month: int,
    day: int,
    has_time: bool,
    hour: int,
    minute: int,
    second: int,
    fraction: str,
    zone_minutes: int | None,
) -> datetime.date:
    if not has_time:
        return datetime.date(year, month, day)
    micro = int((fraction + "000000")[:6]) if fraction else 0
    zone = None
    if zone_minutes is not None:
        zone = datetime.timezone(datetime.timedelta(minutes=zone_minutes))
    return datetime.datetime(year, month, day, hour, minute, second, micro, tzinfo=zone)


def _binary(text: str) -> bytes:
    try:
        return base64.b64decode("".join(text.split()).encode("ascii"), validate=True)
    except (binascii.Error, UnicodeEncodeError) as e:
        raise ValueError(str(e)) from None
