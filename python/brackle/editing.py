"""Editing YAML in place: documents that read as Python data and write back
only what changed.

``brackle.edit(source)`` gives a :class:`Stream`. Each document's root reads
as a :class:`YAMLMapping` (a ``MutableMapping``) or :class:`YAMLSequence` (a
``MutableSequence``) whose keys and scalars are what ``brackle.load`` gives.
Every change is made on the text itself: a changed scalar rewrites its own
text, an inserted entry or item adds its own lines at its siblings'
indentation, a deleted one takes away its own lines and the comments just
above it. Every other line comes back byte for byte.

>>> import brackle
>>> stream = brackle.edit("name: api   # the service\\nreplicas: 2\\nports: [80]\\n")
>>> doc = stream[0]
>>> doc["replicas"] = 3
>>> doc["ports"].append(443)
>>> doc["image"] = "api:1.4"
>>> print(stream, end="")
name: api   # the service
replicas: 3
ports: [80, 443]
image: api:1.4

After each change the text is read again and checked: it must load to the
data the change asks for, or the change is undone and ``EditError`` raised.
Views follow their path from the root: after ``seq.insert(0, x)`` a view of
``seq[0]`` sees ``x``.
"""

from __future__ import annotations

import contextlib
import difflib
import functools
import hashlib
import itertools
import operator
import os
import re
import threading
from collections.abc import Iterator, MutableMapping, MutableSequence
from operator import itemgetter
from typing import Any

from brackle._brackle import _edit_open, _edit_read
from brackle._data import same_data
from brackle._files import FileChangedError, locked, write_file
from brackle._record import Node
from brackle._source import read_source, refuse_nul
from brackle.constructor import Tagged
from brackle.error import EditError, YAMLError
from brackle.representer import Flow, dump

__all__ = ["edit", "Stream", "YAMLMapping", "YAMLSequence", "Comments", "Flow"]

# Lines (from, to) that hold every line of a document.
_ANY_LINE = (0, 2**31)

# New scalars stay on one line however long they are.
_ONE_LINE = 2**31 - 1

# A CR that is not part of a CR LF: lines that end in one are not edited.
_LONE_CR = re.compile("\r(?!\n)")


def edit(
    source: Any,
    *,
    name: str | None = None,
    allow_duplicate_keys: bool = False,
    strict: bool = False,
) -> Stream:
    """Opens a YAML stream for editing.

    ``source`` is YAML text (``str``), encoded text (``bytes``: UTF-8,
    UTF-16 or UTF-32, as ``load`` reads them), a path (``os.PathLike``), or
    a file object. Raises the package's errors when it is not well-formed
    YAML, holds a NUL character (whatever follows one would be lost), or
    holds a duplicate key; with ``allow_duplicate_keys`` the last value of
    a key is its value, as in ``load``, and the text keeps every entry.
    With ``strict``, an edit that would change a line outside the edited
    entry's own lines (its comment lines above included) is refused.

    Used in a ``with`` block, a stream read from a path writes the file once
    when the block ends without an exception, and leaves it as it was
    otherwise.
    """
    path = digest = None
    if isinstance(source, os.PathLike):
        path = os.fspath(source)
        with open(path, "rb") as f:
            source = f.read()
        digest = _digest(source)
        if name is None:
            name = path
    text, name, encoding = read_source(source, name)
    refuse_nul(text, name)
    stream = Stream(
        text, path=path, name=name, allow_duplicate_keys=allow_duplicate_keys, strict=strict
    )
    stream._encoding = encoding
    stream._digest = digest
    return stream


def _marked(key: Any) -> tuple[bool, Any]:
    """A key as the mapping tables hold it: a bool matches no number."""
    return (type(key) is bool, key)


def _same_file(a: str, b: str | None) -> bool:
    return b is not None and os.path.realpath(a) == os.path.realpath(b)


def _digest(data: bytes) -> bytes:
    return hashlib.blake2b(data, digest_size=32).digest()


def _serialised(method: Any) -> Any:
    """Runs ``method`` holding its stream's lock, so that a stream used from
    several threads makes its edits one after another and none is lost."""

    @functools.wraps(method)
    def serialised(self: Any, *args: Any, **kwargs: Any) -> Any:
        with _stream_of(self)._lock:
            return method(self, *args, **kwargs)

    return serialised


def _stream_of(owner: Any) -> Stream:
    if isinstance(owner, Stream):
        return owner
    return owner._stream if isinstance(owner, _View) else owner._view._stream


class _Loaded:
    """One document as read from its own text (the stream's text from where
    the document begins to where the next one does)."""

    __slots__ = ("text", "editor", "data", "objects", "lookups", "aliased")

    def __init__(self, text: str, editor: Any, data: Any, objects: list[Any]) -> None:
        self.text = text
        self.editor = editor  # walks the nodes and gives the text of each edit
        self.data = data
        self.objects = objects
        self.lookups: dict[int, dict[Any, Any]] = {}  # mapping node: its own keys' entries
        self.aliased: set[int] | None = None  # the nodes an alias refers to


class _Documents:
    """A stream's documents, each read from its own text the first time an
    edit or a view needs its nodes: opening a long stream reads its data
    once, and an edit reads again only the document it changes."""

    __slots__ = ("_stream", "_read")

    def __init__(self, stream: Stream, count: int) -> None:
        self._stream = stream
        self._read: list[_Loaded | None] = [None] * count

    def __len__(self) -> int:
        return len(self._read)

    def __getitem__(self, index: int) -> _Loaded:
        loaded = self._read[index]
        if loaded is None:
            stream = self._stream
            loaded = stream._read(stream._document_text(index % len(self._read)))
            if loaded is None:
                raise EditError(
                    f"document {index} does not load on its own, so it cannot be edited"
                )
            self._read[index] = loaded
        return loaded

    def __setitem__(self, index: int, loaded: _Loaded) -> None:
        self._read[index] = loaded


class Stream:
    """A YAML stream open for editing: a sequence of documents.

    ``stream[i]`` is document ``i``'s root (a view, or a scalar's value);
    ``stream[i] = value`` replaces it. ``str(stream)`` is the current text,
    ``diff()`` what changed since it was read; ``write()`` saves it.

    A stream may be shared between threads: each read and each edit holds
    the stream's lock, so edits are made one after another and none is lost.
    """

    def __init__(
        self,
        text: str,
        *,
        path: str | None = None,
        name: str | None = None,
        allow_duplicate_keys: bool = False,
        strict: bool = False,
    ) -> None:
        self._read_text = text  # as opened, for diff()
        self._saved_text = text  # as its file last held it
        self._strict = strict
        # The lines of the document (from, to) that the edit under way may
        # change, when strict.
        self._lines: tuple[int, int] | None = None
        self.path = path
        self._name = name
        self._allow_duplicate_keys = allow_duplicate_keys
        self._encoding = "utf-8"
        self._digest: bytes | None = None  # of the file's bytes as last read or written
        self._lock = threading.RLock()
        data, starts = _edit_open(text, name, allow_duplicate_keys)
        base = 1 if text.startswith("\ufeff") else 0
        self._data: list[Any] = data
        # Each document's text, from where it begins to where the next one
        # does: an edit replaces one of them, and the stream's text is
        # joined again only when asked for.
        bounds = [0] + [start + base for start in starts[1:]] + [len(text)]
        self._texts = [text[a:b] for a, b in zip(bounds, bounds[1:])]
        self._joined: str | None = text
        self._docs = _Documents(self, len(data))
        self._lone_cr = _LONE_CR.search(text) is not None

    # ---- reading ------------------------------------------------------------

    @property
    def _text(self) -> str:
        if self._joined is None:
            self._joined = "".join(self._texts)
        return self._joined

    def _document_text(self, index: int) -> str:
        """The text of document `index`: from where it begins to where the
        next one does."""
        return self._texts[index]

    def _editor(self, index: int) -> Any:
        """The editor of document `index`'s text."""
        if self._lone_cr:
            raise EditError("text whose lines end in a lone CR cannot be edited in place")
        return self._docs[index].editor

    def _read(self, text: str) -> _Loaded | None:
        """The one document `text` holds; None when it holds another number
        of documents. Raises the package's errors when it does not load."""
        read = _edit_read(text, self._name, self._allow_duplicate_keys)
        return None if read is None else _Loaded(text, *read)

    def _replace_document(self, index: int, text: str, loaded: _Loaded) -> None:
        """Puts `text`, read as `loaded`, in place of document `index`'s text."""
        self._texts[index] = text
        self._joined = None
        self._docs[index] = loaded
        self._data[index] = loaded.data

    @_serialised
    def __len__(self) -> int:
        return len(self._data)

    @_serialised
    def __getitem__(self, index: int) -> Any:
        index = range(len(self._data))[index]
        root = self._docs[index].editor.root()
        if root is None:
            return None
        return self._value(index, (), root)

    def __iter__(self) -> Iterator[Any]:
        return (self[i] for i in range(len(self)))

    @_serialised
    def __setitem__(self, index: int, value: Any) -> None:
        index = range(len(self._data))[index]
        canon = _canonical(value)
        editor = self._editor(index)
        _commit(
            self, index, editor.replace_root(value, index == len(self) - 1), lambda d: canon, None
        )

    @_serialised
    def __str__(self) -> str:
        return self._text

    @property
    def text(self) -> str:
        """The stream's current text."""
        return str(self)

    @_serialised
    def data(self) -> list[Any]:
        """Each document's data, as ``brackle.load_all`` gives it."""
        return [_copy_data(d) for d in self._data]

    @_serialised
    def write(self, path: str | os.PathLike[str] | None = None) -> None:
        """Saves the text, in the encoding it was read in, to ``path`` (by
        default the file it was read from).

        The file is replaced in one step, keeping its mode, owner and group;
        a symbolic link is followed. Raises ``brackle.FileChangedError``,
        leaving the file as it is, when the file read changed on disk since
        it was read or last written; ``brackle.FileWriteError`` when it
        cannot be replaced without losing something (hard links, an owner
        this user cannot give, a read-only file).
        """
        target = self.path if path is None else os.fspath(path)
        if target is None:
            raise ValueError("write() needs a path: this stream was not read from a file")
        text = self._text
        data = text.encode(self._encoding)
        if self._digest is None or not _same_file(target, self.path):
            write_file(target, data)
            return
        try:
            with locked(target) as f:
                if _digest(f.data) != self._digest:
                    raise FileChangedError(f.path, "the file changed on disk since it was read")
                f.replace(data)
        except FileNotFoundError:
            raise FileChangedError(target, "the file was removed since it was read") from None
        self._digest = _digest(data)
        self._saved_text = text

    @_serialised
    def diff(self) -> str:
        """The changes since the stream was opened, as a unified diff (empty
        when there are none)."""
        where = self._name or "<text>"
        return "".join(
            difflib.unified_diff(
                self._read_text.splitlines(True),
                self._text.splitlines(True),
                f"a/{where}",
                f"b/{where}",
            )
        )

    def __enter__(self) -> Stream:
        return self

    def __exit__(self, kind: Any, error: Any, trace: Any) -> None:
        if kind is None and self.path is not None and self._text != self._saved_text:
            self.write()

    @contextlib.contextmanager
    def _only_lines(self, lines: Any) -> Iterator[None]:
        """Within: an edit may change only the lines of its document that
        `lines()` gives (from, to) when the stream is strict; the outermost
        edit's lines hold for the edits it makes."""
        if not self._strict or self._lines is not None:
            yield
            return
        self._lines = lines()
        try:
            yield
        finally:
            self._lines = None

    def __repr__(self) -> str:
        return f"<brackle.Stream of {len(self)} documents>"

    # ---- what views use -------------------------------------------------------

    def _kind(self, doc: int, index: int) -> int:
        """Node `index`'s kind: `Node.SCALAR`, `SEQUENCE`, `MAPPING` or `ALIAS`."""
        kind: int = self._docs[doc].editor.node(index)[0]
        return kind

    def _children(self, doc: int, index: int) -> list[int]:
        children: list[int] = self._docs[doc].editor.children(index)
        return children

    def _count(self, doc: int, index: int) -> int:
        """How many children node `index` has (a mapping's: its entries)."""
        count: int = self._docs[doc].editor.count(index)
        return count

    def _deref(self, doc: int, index: int) -> int:
        """The node an alias refers to (the last node before it with that
        anchor), or `index` itself."""
        editor = self._docs[doc].editor
        target: int | None = editor.deref(index)
        if target is None:
            raise EditError(f"found undefined alias *{editor.node(index)[2]}")
        return target

    def _entries(self, doc: int, index: int) -> list[tuple[int, int, int]]:
        """A mapping's entries as (position, key node, value node), merge
        keys left out."""
        entries: list[tuple[int, int, int]] = self._docs[doc].editor.entries(index)
        return entries

    def _table(self, doc: int, index: int) -> dict[Any, Any]:
        """Mapping `index`'s own entries by key, `(is a bool, key)`: (entry
        position, value node); a bool matches no number. Made once per
        read of the text, with the loops in C."""
        loaded = self._docs[doc]
        table = loaded.lookups.get(index)
        if table is None:
            entries = self._entries(doc, index)
            keys = list(map(loaded.objects.__getitem__, map(itemgetter(1), entries)))
            marks = map(operator.is_, map(type, keys), itertools.repeat(bool))
            table = dict(zip(zip(marks, keys), map(itemgetter(0, 2), entries)))
            loaded.lookups[index] = table
        return table

    def _find(self, doc: int, index: int, key: Any, own: bool) -> tuple[int | None, int | None]:
        """(entry position, value node) of `key` in mapping `index`; with
        `own` false, keys merged in with `<<` count too (position None)."""
        marked = _marked(key)
        try:
            found = self._table(doc, index).get(marked)
            if found is not None or own:
                return found or (None, None)
            for source in self._merge_sources(doc, index):
                found = self._table(doc, source).get(marked)
                if found is not None:
                    return None, found[1]
        except TypeError:  # an unhashable key is no key of a mapping
            pass
        return None, None

    def _merge_sources(self, doc: int, index: int) -> list[int]:
        """The mappings merged into `index`, in the order they give way:
        each source, then what it merges itself, before the next source."""
        order: list[int] = []
        seen: set[int] = set()
        stack = [index]
        while stack:
            at = stack.pop()
            if at != index:
                if at in seen:
                    continue
                seen.add(at)
                order.append(at)
            editor = self._docs[doc].editor
            found: list[int] = []
            for j in editor.merges(at):
                target = self._deref(doc, editor.children(at)[j + 1])
                kind = self._kind(doc, target)
                if kind == Node.SEQUENCE:
                    found.extend(self._deref(doc, i) for i in editor.children(target))
                elif kind == Node.MAPPING:
                    found.append(target)
            stack.extend(reversed(found))
        return order

    def _shared(self, doc: int, path: tuple[Any, ...]) -> bool:
        """Whether a node on `path` (the root included) is one that an alias
        refers to: a change below it shows wherever the alias stands."""
        loaded = self._docs[doc]
        if loaded.aliased is None:
            loaded.aliased = set(loaded.editor.aliased())
        if not loaded.aliased:
            return False
        return any(i in loaded.aliased for i in self._walk(doc, path))

    def _resolve(self, doc: int, path: tuple[Any, ...]) -> int:
        """The node at `path` from document `doc`'s root, aliases followed."""
        return self._walk(doc, path)[-1]

    def _walk(self, doc: int, path: tuple[Any, ...]) -> list[int]:
        """The nodes from the root to the node at `path`, aliases followed."""
        root = self._docs[doc].editor.root()
        if root is None:
            raise KeyError(path)
        index = self._deref(doc, root)
        visited = [index]
        for step in path:
            kind = self._kind(doc, index)
            if kind == Node.MAPPING:
                _, value = self._find(doc, index, step, own=False)
                if value is None:
                    raise KeyError(step)
                index = value
            elif kind == Node.SEQUENCE and isinstance(step, int):
                index = self._children(doc, index)[step]
            else:
                raise KeyError(step)
            index = self._deref(doc, index)
            visited.append(index)
        return visited

    def _value(self, doc: int, path: tuple[Any, ...], index: int) -> Any:
        index = self._deref(doc, index)
        kind = self._kind(doc, index)
        if kind == Node.MAPPING:
            return YAMLMapping(self, doc, path)
        if kind == Node.SEQUENCE:
            return YAMLSequence(self, doc, path)
        return self._docs[doc].objects[index]


# ---- checking an edit -------------------------------------------------------------


def _copy_data(value: Any) -> Any:
    """A copy of loaded data that shares nothing with it: its lists, dicts,
    sets and tagged values are new, an object met twice is copied once
    (so shared and cyclic data stay so), and nesting of any depth is walked
    with a stack."""
    made: dict[int, Any] = {}
    fills: list[tuple[Any, Any]] = []

    def fresh(x: Any) -> Any:
        if id(x) in made:
            return made[id(x)]
        if isinstance(x, Tagged):
            new = Tagged(x.tag, None)
        elif type(x) in (list, dict, set):
            new = type(x)()
        else:
            return x
        made[id(x)] = new
        fills.append((x, new))
        return new

    top = fresh(value)
    while fills:
        old, new = fills.pop()
        if isinstance(old, Tagged):
            new.value = fresh(old.value)
        elif isinstance(old, list):
            new.extend(fresh(item) for item in old)
        elif isinstance(old, dict):
            new.update((k, fresh(v)) for k, v in old.items())
        else:
            new.update(old)
    return top


def _canonical(value: Any) -> Any:
    """`value` as it reads back once written: what the text must load to."""
    from brackle.constructor import load

    if isinstance(value, Flow):
        value = value.value
    if isinstance(value, (YAMLMapping, YAMLSequence)):
        value = value.data()
    return load(dump(value, width=_ONE_LINE))


def _data_at(root: Any, path: tuple[Any, ...]) -> Any:
    for step in path:
        if isinstance(root, Tagged):
            root = root.value
        root = root[step]
    return root.value if isinstance(root, Tagged) else root


def _commit(
    stream: Stream,
    doc: int,
    candidates: list[str],
    change: Any,
    check: Any,
    path: tuple[Any, ...] = (),
) -> None:
    """Takes the first candidate text that reads back as it should, or
    leaves the text as it was and raises EditError.

    A candidate is the new text of document `doc`, which must load on its
    own as one document; the other documents' text stays as it is, so only
    this one is read again. `change(data)` makes the expected data from a
    copy of the document's data (mutating it at `path`, or returning a
    replacement); the document must load to that. Where the change cannot
    be applied to a copy, because an alias shares what changes (the text
    changes every place the alias stands, a copy only one), `check(stream)`
    looks at the changed place instead.
    """
    old = stream._docs[doc]
    expected = None
    if change is not None:
        try:
            data = _copy_along(old.data, path)
            replaced = change(data)
            expected = data if replaced is None else replaced
        except (TypeError, KeyError, IndexError, AttributeError):
            expected = None
    too_far = False
    for text in dict.fromkeys(candidates):
        if stream._lines is not None and not _within(old.text, text, stream._lines):
            too_far = True
            continue
        loaded = _read_in_place(stream, doc, text)
        if loaded is None:
            continue
        stream._docs[doc] = loaded
        if same_data(loaded.data, expected) if expected is not None else _passes(check, stream):
            stream._docs[doc] = old
            stream._replace_document(doc, text, loaded)
            return
    stream._docs[doc] = old
    if too_far:
        raise EditError(
            "strict: the change would rewrite lines outside the edited entry's own lines"
        )
    raise EditError("the change cannot be written so that the text reads back as the changed data")


def _within(old: str, new: str, lines: tuple[int, int]) -> bool:
    """Whether `new` keeps every line of `old` outside lines [from, to),
    in place around what replaced them."""
    lo, hi = lines
    a, b = old.splitlines(), new.splitlines()
    tail = len(a) - hi
    return lo + tail <= len(b) and b[:lo] == a[:lo] and b[len(b) - tail :] == a[hi:]


def _read_in_place(stream: Stream, doc: int, text: str) -> _Loaded | None:
    """`text` read as the new text of document `doc`: None when it does not
    load as one document that leaves the documents after it as they were
    (the next one begins on a line of its own, after a `...` where there
    was one)."""
    if doc + 1 < len(stream) and not text.endswith("\n"):
        return None
    if _LONE_CR.search(text):
        return None
    try:
        loaded = stream._read(text)
    except YAMLError:
        return None
    if loaded is None or loaded.editor.explicit_end() != stream._docs[doc].editor.explicit_end():
        return None
    return loaded


def _copy_along(root: Any, path: tuple[Any, ...]) -> Any:
    """`root` with the containers on `path` copied (one level each), so
    that a change at the path's end leaves `root` as it was; what is off
    the path stays shared."""

    def one_level(x: Any) -> Any:
        if isinstance(x, Tagged):
            return Tagged(x.tag, one_level(x.value))
        return type(x)(x) if type(x) in (dict, list, set) else x

    top = one_level(root)
    parent = top
    for step in path:
        inner = parent.value if isinstance(parent, Tagged) else parent
        child = one_level(inner[step])
        inner[step] = child
        parent = child
    return top


def _passes(check: Any, stream: Stream) -> bool:
    """Whether `check` holds for the changed stream; a check that cannot
    look (the path now leads elsewhere) does not."""
    try:
        return bool(check(stream))
    except (TypeError, KeyError, IndexError, AttributeError):
        return False


def _anchors_used_outside(stream: Stream, doc: int, top: int) -> list[str]:
    """The anchors in node `top`'s subtree that an alias outside it uses."""
    used: list[str] = stream._docs[doc].editor.anchors_used_outside(top)
    return used


# ---- views --------------------------------------------------------------------------


class _View:
    """A collection of an open stream, found again by its path from the
    document's root at every use."""

    __slots__ = ("_stream", "_doc", "_path")

    def __init__(self, stream: Stream, doc: int, path: tuple[Any, ...]) -> None:
        self._stream = stream
        self._doc = doc
        self._path = path

    def _index(self) -> int:
        return self._stream._resolve(self._doc, self._path)

    def _editor(self) -> Any:
        return self._stream._editor(self._doc)

    def _child_count(self, c: int) -> int:
        return self._stream._count(self._doc, c)

    def _child_nodes(self, c: int, pos: int) -> list[int]:
        """The nodes of child `pos` of collection `c`: an entry's key and
        value, or an item."""
        ch = self._stream._children(self._doc, c)
        mapping = self._stream._kind(self._doc, c) == Node.MAPPING
        return list(ch[2 * pos : 2 * pos + 2]) if mapping else [ch[pos]]

    def _only_lines(self, c: int, pos: int, op: str) -> Any:
        """Holds a strict stream's edit `op` of child `pos` of collection `c`
        to the child's own lines (see `Stream._only_lines`)."""
        return self._stream._only_lines(lambda: self._own_lines(c, pos, op))

    def _own_lines(self, c: int, pos: int, op: str) -> tuple[int, int]:
        """The lines (from, to) of the document that edit `op` of child `pos`
        may change: a child's lines, its comment lines above too for a
        delete; for an insert, none where the new child gets lines of its
        own, else the lines of the child it shares them with."""
        n = self._child_count(c)
        if n == 0:
            return _ANY_LINE  # an empty collection: the edit writes it anew
        comments, first, last, _, shares = self._editor().child_lines(c, min(pos, n - 1))
        if op == "set":
            return first, last + 1
        if op == "delete":
            return comments, last + 1
        if op == "eol":
            return first, first + 1
        if op == "before":
            return comments, first
        if shares or self._editor().node(c)[1]:
            return first, last + 1
        return (comments, comments) if pos < n else (last + 1, last + 1)

    @_serialised
    def data(self) -> Any:
        """A copy of this collection as plain data (what ``brackle.load``
        gives for it)."""
        value = self._stream._docs[self._doc].objects[self._index()]
        return _copy_data(value.value if isinstance(value, Tagged) else value)

    def __eq__(self, other: object) -> bool:
        return bool(self.data() == (other.data() if isinstance(other, _View) else other))

    __hash__ = None  # type: ignore[assignment]

    def __repr__(self) -> str:
        return f"{type(self).__name__}({self.data()!r})"

    @_serialised
    def comments(self, key: Any) -> Comments:
        """The comments of the entry `key` (or item at index `key`)."""
        self._position(key)
        return Comments(self, key)

    # ---- what the edits share ------------------------------------------------------

    def _position(self, key: Any) -> int:
        raise NotImplementedError

    def _guard(self, node: int, keep: str | None = None) -> bool:
        """Refuses to drop an anchor that aliases elsewhere use; true when
        `keep`, the anchor the node keeps, is one of them."""
        used = _anchors_used_outside(self._stream, self._doc, node)
        lost = [a for a in used if a != keep]
        if lost:
            raise EditError(
                f"the anchor &{lost[0]} is used by an alias elsewhere; "
                "change or remove the alias first"
            )
        return bool(used)

    def _apply(self, candidates: list[str], change: Any, check: Any, shared: bool = False) -> None:
        """Commits an edit of this collection: checked against the changed
        data, or only at the changed place when an alias shares it."""
        if shared or self._stream._shared(self._doc, self._path):
            change = None
        _commit(self._stream, self._doc, candidates, change, check, self._path)

    def _holds(self, step: Any, canon: Any) -> Any:
        """A check that this collection's `step` reads as `canon`."""
        path = self._path + (step,)
        return lambda s: same_data(_data_at(s._docs[self._doc].data, path), canon)

    def _size_is(self, n: int) -> Any:
        return lambda s: len(_data_at(s._docs[self._doc].data, self._path)) == n

    def _set(self, c: int, pos: int, step: Any, value: Any) -> None:
        editor = self._editor()
        v = self._child_nodes(c, pos)[-1]
        kind, _, anchor = editor.node(v)
        canon = _canonical(value)
        candidates = editor.set_child(c, pos, value)
        kept = self._guard(v, anchor if kind != Node.ALIAS else None)
        with self._only_lines(c, pos, "set"):
            self._apply(
                candidates,
                lambda d: _data_at(d, self._path).__setitem__(step, canon),
                self._holds(step, canon),
                shared=kept,
            )

    def _replace_self(self, value: Any) -> None:
        """Writes `value` in place of this whole collection."""
        stream = self._stream
        if not self._path:
            stream[self._doc] = value
            return
        parent = stream._value(
            self._doc, self._path[:-1], stream._resolve(self._doc, self._path[:-1])
        )
        parent._set(parent._index(), parent._position(self._path[-1]), self._path[-1], value)

    def _in_block(self) -> bool:
        """Whether this collection is written in flow style, empty, where
        block style could stand (at the root, or in a block collection)."""
        stream = self._stream
        index = self._index()
        if not self._editor().node(index)[1] or stream._children(self._doc, index):
            return False
        if not self._path:
            return True
        parent = stream._resolve(self._doc, self._path[:-1])
        return not self._editor().node(parent)[1]


class YAMLMapping(_View, MutableMapping[Any, Any]):
    """A mapping of an open stream; reads and writes like a dict.

    Keys merged in with ``<<`` can be read and set (setting one adds the key
    to this mapping), not deleted. ``insert(index, key, value)`` adds an
    entry at a position.
    """

    __slots__ = ()

    def _lookup(self, c: int) -> dict[Any, Any]:
        return self._stream._table(self._doc, c)

    def _own(self, key: Any) -> tuple[int | None, int | None]:
        return self._stream._find(self._doc, self._index(), key, own=True)

    def _position(self, key: Any) -> int:
        pos, _ = self._own(key)
        if pos is None:
            raise KeyError(key)
        return pos

    @_serialised
    def __getitem__(self, key: Any) -> Any:
        stream = self._stream
        _, v = stream._find(self._doc, self._index(), key, own=False)
        if v is None:
            raise KeyError(key)
        return stream._value(self._doc, self._path + (key,), v)

    @_serialised
    def __iter__(self) -> Iterator[Any]:
        stream = self._stream
        c = self._index()
        keys = [key for _, key in self._lookup(c)]
        seen = set(self._lookup(c))
        for source in stream._merge_sources(self._doc, c):
            for marked in self._lookup(source):
                if marked not in seen:
                    seen.add(marked)
                    keys.append(marked[1])
        return iter(keys)

    @_serialised
    def __len__(self) -> int:
        return sum(1 for _ in self)

    def __contains__(self, key: object) -> bool:
        try:
            self[key]
        except (KeyError, TypeError):
            return False
        return True

    @_serialised
    def __setitem__(self, key: Any, value: Any) -> None:
        pos, _ = self._own(key)
        if pos is None:
            self.insert(len(self._lookup(self._index())), key, value)
            return
        self._set(self._index(), pos, key, value)

    @_serialised
    def __delitem__(self, key: Any) -> None:
        stream = self._stream
        c = self._index()
        pos, v = self._own(key)
        if pos is None:
            if key in self:
                raise EditError(
                    f"the key {key!r} comes from a merge (<<) and cannot be deleted here"
                )
            raise KeyError(key)
        earlier = self._earlier_duplicates(c, pos) if stream._allow_duplicate_keys else []
        with self._only_lines(c, pos, "delete"):
            if earlier:
                self._delete_with_duplicates(key, earlier)
            elif self._child_count(c) == 1:
                self._guard_entry(c, pos)
                self._replace_self({})
            else:
                self._delete_entry(c, pos, lambda d: _data_at(d, self._path).__delitem__(key), 1)

    def _guard_entry(self, c: int, pos: int) -> None:
        for node in self._child_nodes(c, pos):
            self._guard(node)

    def _delete_entry(self, c: int, pos: int, change: Any, shrinks_by: int) -> None:
        """Deletes entry `pos` of mapping `c` from the text; `change` makes
        the same change to the expected data, whose size shrinks by
        `shrinks_by`."""
        self._guard_entry(c, pos)
        size = len(_data_at(self._stream._docs[self._doc].data, self._path))
        self._apply(self._editor().delete_child(c, pos), change, self._size_is(size - shrinks_by))

    def _earlier_duplicates(self, c: int, pos: int) -> list[int]:
        """The positions of the entries before `pos` whose key equals its key:
        a key given more than once, where duplicate keys are allowed."""
        stream = self._stream
        objects = stream._docs[self._doc].objects
        entries = stream._entries(self._doc, c)
        mine = _marked(next(objects[k] for p, k, _ in entries if p == pos))
        return [p for p, k, _ in entries if p < pos and _marked(objects[k]) == mine]

    def _delete_with_duplicates(self, key: Any, earlier: list[int]) -> None:
        """Deletes every entry of a key given more than once: the earlier
        ones first (the data keeps the last value meanwhile), then the last.
        All of them go, or none."""
        stream = self._stream
        old_text, old = stream._document_text(self._doc), stream._docs[self._doc]
        try:
            for pos in sorted(earlier, reverse=True):
                self._delete_entry(self._index(), pos, lambda d: None, 0)
            del self[key]
        except BaseException:
            stream._replace_document(self._doc, old_text, old)
            raise

    @_serialised
    def insert(self, index: int, key: Any, value: Any) -> None:
        """Adds the entry `key: value` before the entry at `index` (counted
        among this mapping's own keys), or at the end; an existing `key`
        is moved there."""
        if self._own(key)[0] is not None:
            del self[key]
        c = self._index()
        own = [pos for pos, _ in self._lookup(c).values()]
        own.sort()
        n = len(own)
        index = max(0, n + index) if index < 0 else min(index, n)
        at = own[index] if index < n else self._child_count(c)
        with self._only_lines(c, at, "insert"):
            if self._in_block():
                self._replace_self({key: value})
                return
            canon = _canonical(value)
            self._apply(
                self._editor().insert_entry(c, at, key, value),
                lambda d: _data_at(d, self._path).__setitem__(key, canon),
                self._holds(key, canon),
            )


class YAMLSequence(_View, MutableSequence[Any]):
    """A sequence of an open stream; reads and writes like a list."""

    __slots__ = ()

    def _items(self) -> list[int]:
        return self._stream._children(self._doc, self._index())

    def _position(self, index: Any) -> int:
        n = self._child_count(self._index())
        if not isinstance(index, int) or not -n <= index < n:
            raise IndexError("sequence index out of range")
        return index % n

    @_serialised
    def __len__(self) -> int:
        return self._child_count(self._index())

    @_serialised
    def __getitem__(self, index: Any) -> Any:
        if isinstance(index, slice):
            return [self[i] for i in range(*index.indices(len(self)))]
        i = self._position(index)
        return self._stream._value(self._doc, self._path + (i,), self._items()[i])

    @_serialised
    def __setitem__(self, index: Any, value: Any) -> None:
        if isinstance(index, slice):
            raise TypeError("a sequence of a stream takes items one at a time, not by slice")
        i = self._position(index)
        self._set(self._index(), i, i, value)

    @_serialised
    def __delitem__(self, index: Any) -> None:
        if isinstance(index, slice):
            for i in sorted(range(*index.indices(len(self))), reverse=True):
                del self[i]
            return
        i = self._position(index)
        c = self._index()
        self._guard(self._child_nodes(c, i)[0])
        size = self._child_count(c)
        with self._only_lines(c, i, "delete"):
            if size == 1:
                self._replace_self([])
                return
            self._apply(
                self._editor().delete_child(c, i),
                lambda d: _data_at(d, self._path).__delitem__(i),
                self._size_is(size - 1),
            )

    @_serialised
    def insert(self, index: int, value: Any) -> None:
        n = len(self)
        index = max(0, n + index) if index < 0 else min(index, n)
        with self._only_lines(self._index(), index, "insert"):
            if self._in_block():
                self._replace_self([value])
                return
            canon = _canonical(value)
            self._apply(
                self._editor().insert_item(self._index(), index, value),
                lambda d: _data_at(d, self._path).insert(index, canon),
                self._holds(index, canon),
            )


# ---- comments -------------------------------------------------------------------------


class Comments:
    """The comments of one entry or item of an open stream.

    ``eol`` is the comment at the end of the entry's first line, ``before``
    the comment lines just above it (no blank line between). Texts are
    given without the ``#`` and the blank after it; setting them writes
    ``# text``, and ``None`` (or ``[]``) takes them away.
    """

    __slots__ = ("_view", "_key")

    def __init__(self, view: _View, key: Any) -> None:
        self._view = view
        self._key = key

    def _where(self) -> tuple[Any, int, int]:
        view = self._view
        c = view._index()
        return view._editor(), c, view._position(self._key)

    @property
    @_serialised
    def eol(self) -> str | None:
        editor, c, pos = self._where()
        text: str | None = editor.eol_comment(c, pos)
        return text

    @eol.setter
    @_serialised
    def eol(self, text: str | None) -> None:
        editor, c, pos = self._where()
        candidates = editor.set_eol_comment(c, pos, _check_comment(text))
        with self._view._only_lines(c, pos, "eol"):
            _commit(self._view._stream, self._view._doc, candidates, lambda d: None, None)

    @property
    @_serialised
    def before(self) -> list[str]:
        editor, c, pos = self._where()
        texts: list[str] = editor.comments_before(c, pos)
        return texts

    @before.setter
    @_serialised
    def before(self, texts: list[str] | None) -> None:
        editor, c, pos = self._where()
        lines = [text for text in map(_check_comment, texts or []) if text is not None]
        candidates = editor.set_comments_before(c, pos, lines)
        with self._view._only_lines(c, pos, "before"):
            _commit(self._view._stream, self._view._doc, candidates, lambda d: None, None)

    def __repr__(self) -> str:
        return f"Comments(before={self.before!r}, eol={self.eol!r})"


def _check_comment(text: str | None) -> str | None:
    if text is not None and ("\n" in text or "\r" in text):
        raise ValueError("a comment is one line: it cannot hold a line break")
    return text
