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

import bisect
import copy
import os
from collections.abc import Iterator, MutableMapping, MutableSequence
from typing import Any

from brackle._brackle import _edit_load, emit
from brackle._files import write_atomic
from brackle._record import Doc, Node
from brackle.constructor import Tagged, _read
from brackle.error import YAMLError
from brackle.options import EmitOptions
from brackle.representer import dump

__all__ = ["edit", "Stream", "YAMLMapping", "YAMLSequence", "Comments", "EditError"]

# Scalars written anew stay on one line however long they are.
_ONE_LINE = 2**31 - 1


class EditError(YAMLError):
    """An edit that cannot be written into the text; the text is unchanged."""


def edit(source: Any, *, name: str | None = None) -> Stream:
    """Opens a YAML stream for editing.

    ``source`` is YAML text (``str``), encoded text (``bytes``: UTF-8, or
    UTF-16/32 with a byte-order mark), a path (``os.PathLike``), or a file
    object. Raises the package's errors when it is not well-formed YAML or
    holds a duplicate key.
    """
    path = None
    if isinstance(source, os.PathLike):
        path = os.fspath(source)
        with open(path, "rb") as f:
            source = f.read()
        if name is None:
            name = path
    elif not isinstance(source, (str, bytes, bytearray, memoryview)) and not hasattr(source, "read"):
        raise TypeError(f"edit() takes str, bytes, a path or a file, not {type(source).__name__}")
    source, name = _read(source, name)
    return Stream(source, path=path, name=name)


class _Loaded:
    """One document as read from the current text."""

    __slots__ = ("doc", "data", "objects", "spans", "anchors", "lookups", "aliased")

    def __init__(self, doc: Doc, data: Any, objects: list, spans: list[int]) -> None:
        self.doc = doc
        self.data = data
        self.objects = objects
        self.spans = spans
        self.anchors: dict[str, list[int]] | None = None  # name: the nodes that define it
        self.lookups: dict[int, dict] = {}  # mapping node: its own keys' entries
        self.aliased: set[int] | None = None  # the nodes an alias refers to


class Stream:
    """A YAML stream open for editing: a sequence of documents.

    ``stream[i]`` is document ``i``'s root (a view, or a scalar's value);
    ``stream[i] = value`` replaces it. ``str(stream)`` is the current text;
    ``write()`` saves it.
    """

    def __init__(self, text: str, *, path: str | None = None, name: str | None = None) -> None:
        self._text = text
        self.path = path
        self._name = name
        self._load()

    # ---- reading ------------------------------------------------------------

    def _load(self) -> None:
        loaded = _edit_load(self._text, self._name)
        self._docs = [_Loaded(*item) for item in loaded]
        self._base = 1 if self._text.startswith("\ufeff") else 0
        starts = [self._base]
        find = self._text.find
        at = find("\n", self._base)
        while at != -1:
            starts.append(at + 1)
            at = find("\n", at + 1)
        self._line_starts = starts
        self._lone_cr = any(getattr(d.doc, "lone_cr", False) for d in self._docs)
        self._options = _detect_options(self)

    def __len__(self) -> int:
        return len(self._docs)

    def __getitem__(self, index: int) -> Any:
        loaded = self._docs[index]
        if loaded.doc.root is None:
            return None
        return self._value(index % len(self._docs), (), loaded.doc.root)

    def __iter__(self) -> Iterator[Any]:
        return (self[i] for i in range(len(self)))

    def __setitem__(self, index: int, value: Any) -> None:
        index = range(len(self._docs))[index]
        canon = _canonical(value)
        editor = _Editor(self, index)
        _commit(self, index, editor.replace_root(value), lambda d: canon, None)

    def __str__(self) -> str:
        return self._text

    @property
    def text(self) -> str:
        """The stream's current text."""
        return self._text

    def data(self) -> list[Any]:
        """Each document's data, as ``brackle.load_all`` gives it."""
        return [copy.deepcopy(d.data) for d in self._docs]

    def write(self, path: str | os.PathLike[str] | None = None) -> None:
        """Saves the text to ``path`` (by default the file it was read from),
        replacing the file in one step."""
        target = self.path if path is None else path
        if target is None:
            raise ValueError("write() needs a path: this stream was not read from a file")
        write_atomic(target, self._text)

    def __repr__(self) -> str:
        return f"<brackle.Stream of {len(self)} documents>"

    # ---- what views use -------------------------------------------------------

    def _node(self, doc: int, index: int) -> Node:
        return self._docs[doc].doc.nodes[index]

    def _deref(self, doc: int, index: int) -> int:
        """The node an alias refers to (the last node before it with that
        anchor), or `index` itself."""
        loaded = self._docs[doc]
        node = loaded.doc.nodes[index]
        if node.kind != Node.ALIAS:
            return index
        if loaded.anchors is None:
            loaded.anchors = {}
            for i, n in enumerate(loaded.doc.nodes):
                if n.anchor is not None and n.kind != Node.ALIAS:
                    loaded.anchors.setdefault(n.anchor, []).append(i)
        found = loaded.anchors.get(node.anchor, [])
        at = bisect.bisect_left(found, index)
        if at == 0:
            raise EditError(f"found undefined alias *{node.anchor}")
        return found[at - 1]

    def _entries(self, doc: int, index: int) -> list[tuple[int, int, int]]:
        """A mapping's entries as (position, key node, value node), merge
        keys left out."""
        node = self._node(doc, index)
        merges = set(node.merge)
        ch = node.children
        return [(j // 2, ch[j], ch[j + 1]) for j in range(0, len(ch), 2) if j not in merges]

    def _find(self, doc: int, index: int, key: Any, own: bool) -> tuple[int | None, int | None]:
        """(entry position, value node) of `key` in mapping `index`; with
        `own` false, keys merged in with `<<` count too (position None)."""
        objects = self._docs[doc].objects
        entry = value = None
        for pos, k, v in self._entries(doc, index):
            if _same_key(objects[k], key):
                entry, value = pos, v
        if entry is not None or own:
            return entry, value
        for source in self._merge_sources(doc, index):
            for _, k, v in self._entries(doc, source):
                if _same_key(objects[k], key):
                    return None, v
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
            node = self._node(doc, at)
            found = []
            for j in node.merge:
                target = self._deref(doc, node.children[j + 1])
                tnode = self._node(doc, target)
                if tnode.kind == Node.SEQUENCE:
                    found.extend(self._deref(doc, i) for i in tnode.children)
                elif tnode.kind == Node.MAPPING:
                    found.append(target)
            stack.extend(reversed(found))
        return order

    def _shared(self, doc: int, path: tuple) -> bool:
        """Whether a node on `path` (the root included) is one that an alias
        refers to: a change below it shows wherever the alias stands."""
        loaded = self._docs[doc]
        if loaded.aliased is None:
            nodes = loaded.doc.nodes
            loaded.aliased = {self._deref(doc, i) for i, n in enumerate(nodes) if n.kind == Node.ALIAS}
        if not loaded.aliased:
            return False
        return any(i in loaded.aliased for i in self._walk(doc, path))

    def _resolve(self, doc: int, path: tuple) -> int:
        """The node at `path` from document `doc`'s root, aliases followed."""
        return self._walk(doc, path)[-1]

    def _walk(self, doc: int, path: tuple) -> list[int]:
        """The nodes from the root to the node at `path`, aliases followed."""
        root = self._docs[doc].doc.root
        if root is None:
            raise KeyError(path)
        index = self._deref(doc, root)
        visited = [index]
        for step in path:
            node = self._node(doc, index)
            if node.kind == Node.MAPPING:
                _, value = self._find(doc, index, step, own=False)
                if value is None:
                    raise KeyError(step)
                index = value
            elif node.kind == Node.SEQUENCE and isinstance(step, int):
                index = node.children[step]
            else:
                raise KeyError(step)
            index = self._deref(doc, index)
            visited.append(index)
        return visited

    def _value(self, doc: int, path: tuple, index: int) -> Any:
        index = self._deref(doc, index)
        node = self._node(doc, index)
        if node.kind == Node.MAPPING:
            return YAMLMapping(self, doc, path)
        if node.kind == Node.SEQUENCE:
            return YAMLSequence(self, doc, path)
        return self._docs[doc].objects[index]


def _same_key(a: Any, b: Any) -> bool:
    """Keys match as dict keys do, except that a bool matches no number."""
    return (isinstance(a, bool) == isinstance(b, bool)) and a == b


def _detect_options(stream: Stream) -> EmitOptions:
    """Emit options for new text that follow the indentation the stream
    already uses: the step of its first nested block mapping, and where its
    first block sequence under a key puts the `-`."""
    map_indent, seq_offset = None, None
    for loaded in stream._docs:
        nodes = loaded.doc.nodes
        for node in nodes:
            if node.kind != Node.MAPPING or node.style != Node.BLOCK:
                continue
            ch = node.children
            for j in range(0, len(ch), 2):
                key, value = nodes[ch[j]], nodes[ch[j + 1]]
                if value.style != Node.BLOCK or value.line <= key.line:
                    continue
                step = value.col - key.col
                if value.kind == Node.MAPPING and map_indent is None and 0 < step <= 8:
                    map_indent = step
                elif value.kind == Node.SEQUENCE and seq_offset is None and 0 <= step <= 8:
                    seq_offset = step
            if map_indent is not None and seq_offset is not None:
                break
        if map_indent is not None and seq_offset is not None:
            break
    map_indent = map_indent or 2
    seq_offset = seq_offset or 0
    return EmitOptions(
        map_indent=map_indent,
        seq_indent=seq_offset + 2 if seq_offset else 2,
        seq_offset=seq_offset,
        width=_ONE_LINE,
        preserve_quotes=True,
    )


# ---- text surgery ---------------------------------------------------------------

_BLOCK_SCALARS = (Node.LITERAL, Node.FOLDED)


class _Editor:
    """Finds the text of one document's nodes and splices new text in.

    Offsets are indexes into the stream's text. A node's text runs from its
    properties (``props_start``) to the end of its content (``end``); a
    block scalar's ends after its last line break.
    """

    def __init__(self, stream: Stream, doc: int) -> None:
        if stream._lone_cr:
            raise EditError("text whose lines end in a lone CR cannot be edited in place")
        self.s = stream
        self.doc = doc
        self.loaded = stream._docs[doc]
        self.nodes = self.loaded.doc.nodes
        self.text = stream._text
        self.starts = stream._line_starts
        self.nl = "\r\n" if "\r\n" in self.text[: self.text.find("\n") + 1 or None] else "\n"

    # ---- where things are ----------------------------------------------------------

    def off(self, pos: tuple[int, int]) -> int:
        return self.starts[pos[0]] + pos[1]

    def start(self, i: int) -> int:
        return self.loaded.spans[2 * i] + self.s._base

    def end(self, i: int) -> int:
        """Where node `i`'s content ends: a block collection ends with its
        last descendant."""
        while True:
            node = self.nodes[i]
            if node.style == Node.BLOCK and node.kind in (Node.MAPPING, Node.SEQUENCE) and node.children:
                i = node.children[-1]
                continue
            if node.kind == Node.SCALAR and node.style in _BLOCK_SCALARS and node.header_at:
                # The raw text is the header (without its comment) and the
                # lines after the header's line as they stand.
                raw = node.raw or ""
                cut = raw.find("\n")
                if cut == -1:
                    return self.off(node.header_at) + len(raw)
                return self.line_start(node.header_at[0] + 1) + len(raw) - cut - 1
            if node.kind == Node.SCALAR and not node.raw and (node.anchor_at or node.tag_at):
                return self.props_end(i)
            return max(self.start(i), self.loaded.spans[2 * i + 1] + self.s._base)

    def props_end(self, i: int) -> int:
        """Where the anchor and tag before node `i`'s content end."""
        at = self.props_start(i)
        text = self.text
        while text[at : at + 1] in ("&", "!"):
            while at < len(text) and text[at] not in " \t\r\n,[]{}":
                at += 1
            while text[at : at + 1] in (" ", "\t"):
                at += 1
        while at > 0 and text[at - 1] in " \t":
            at -= 1
        return at

    def props_start(self, i: int) -> int:
        node = self.nodes[i]
        at = self.start(i)
        for pos in (node.anchor_at, node.tag_at, node.header_at):
            if pos is not None:
                at = min(at, self.off(pos))
        return at

    def line_of(self, offset: int) -> int:
        return bisect.bisect_right(self.starts, offset) - 1

    def line_start(self, line: int) -> int:
        return self.starts[line] if line < len(self.starts) else len(self.text)

    def line_end(self, line: int) -> int:
        """Where line `line`'s break begins (or the text ends)."""
        end = self.text.find("\n", self.starts[line])
        end = len(self.text) if end == -1 else end
        return end - 1 if end > self.starts[line] and self.text[end - 1] == "\r" else end

    def last_line(self, i: int) -> int:
        return self.line_of(max(self.props_start(i), self.end(i) - 1))

    def first_on_line(self, offset: int) -> bool:
        return self.text[self.starts[self.line_of(offset)] : offset].strip(" \t") == ""

    def is_comment_line(self, line: int) -> bool:
        return self.text[self.starts[line] : self.line_end(line)].lstrip(" \t").startswith("#")

    def comment_top(self, line: int, bound: int) -> int:
        """The first of the comment lines just above `line` (no blank line
        between), not reaching `bound`; `line` when there are none."""
        while line - 1 > bound and self.is_comment_line(line - 1):
            line -= 1
        return line

    # ---- a collection's children as runs of text -----------------------------------

    def child_count(self, c: int) -> int:
        node = self.nodes[c]
        return len(node.children) // 2 if node.kind == Node.MAPPING else len(node.children)

    def child_nodes(self, c: int, pos: int) -> list[int]:
        node = self.nodes[c]
        return node.children[2 * pos : 2 * pos + 2] if node.kind == Node.MAPPING else [node.children[pos]]

    def child_start(self, c: int, pos: int) -> int:
        """Where child `pos` of collection `c` begins: its `-`, its `?`, or
        its key's properties."""
        node = self.nodes[c]
        at = self.props_start(self.child_nodes(c, pos)[0])
        if node.kind == Node.MAPPING and 2 * pos not in node.explicit or node.style == Node.FLOW and node.kind == Node.SEQUENCE:
            return at
        if node.style == Node.FLOW:
            j = at - 1
            while j >= 0 and self.text[j] in " \t":
                j -= 1
            return j if j >= 0 and self.text[j] == "?" else at
        # A block collection's `-` or `?` stands at the collection's column,
        # on the child's line or the nearest line above it that has one there.
        mark = "-" if node.kind == Node.SEQUENCE else "?"
        bound = self.child_last_line(c, pos - 1) if pos else self.line_of(self.start(c)) - 1
        for line in range(self.line_of(at), bound, -1):
            found = self.starts[line] + node.col
            if self.text[found : found + 1] == mark and self.text[self.starts[line] : found].strip(" \t") == "":
                return found
        return self.start(c) if pos == 0 else at

    def child_end(self, c: int, pos: int) -> int:
        return max(self.end(n) for n in self.child_nodes(c, pos))

    def child_last_line(self, c: int, pos: int) -> int:
        node = self.nodes[c]
        last = max(self.last_line(n) for n in self.child_nodes(c, pos))
        if node.kind == Node.MAPPING and pos < len(node.colon) and node.colon[pos] is not None:
            last = max(last, node.colon[pos][0])
        return last

    def own_flow_lines(self, c: int, pos: int) -> tuple[int, int] | None:
        """The lines of a flow collection's child `pos` when it has them to
        itself: it begins its line, and after it comes only its comma and
        a comment."""
        start = self.child_start(c, pos)
        if not self.first_on_line(start) or self.line_of(start) <= self.line_of(self.start(c)):
            return None
        end = self.child_end(c, pos)
        last = self.line_of(max(start, end - 1))
        rest = self.text[end : self.line_end(last)].lstrip(" \t")
        rest = rest[1:].lstrip(" \t") if rest.startswith(",") else rest
        return (self.line_of(start), last) if rest == "" or rest.startswith("#") else None

    def value_mark_end(self, c: int, pos: int) -> int:
        """Just past what introduces child `pos`'s value: its `:` in a
        mapping, its `-` in a block sequence."""
        node = self.nodes[c]
        if node.kind == Node.MAPPING:
            colon = node.colon[pos] if pos < len(node.colon) else None
            if colon is None:
                raise EditError("this entry has no `:` to write a value after")
            return self.off(colon) + 1
        return self.child_start(c, pos) + 1

    # ---- splicing -------------------------------------------------------------------

    def splice(self, start: int, end: int, new: str) -> str:
        return self.text[:start] + new + self.text[end:]

    def lines_to_text(self, lines: list[str], col: int) -> str:
        return "".join(" " * col + line + self.nl if line else self.nl for line in lines)

    def shift(self, text: str, col: int) -> str:
        """`text` with every line after the first moved right by `col`."""
        lines = text.split("\n")
        return (self.nl).join([lines[0]] + [(" " * col + l) if l else l for l in lines[1:]])

    # ---- new text ---------------------------------------------------------------------

    def render(self, value: Any, context: str, hint: int | None = None, flow: bool = False) -> str:
        """`value` written as a child: for `"map"` the text after a key's
        `:`, for `"seq"` after an item's `-`, for `"flow"` an item between
        brackets, for `"root"` a document. Lines after the first are placed
        as if the key or `-` stood at column 0."""
        if context == "flow":
            flow = True
        if hint is not None and isinstance(value, str) and not isinstance(value, Tagged):
            scalar = Node(kind=Node.SCALAR, style=hint, value=value)
            if context == "root":
                doc = Doc(root=0, nodes=[scalar])
            else:
                top = Node(
                    kind=Node.SEQUENCE if context != "map" else Node.MAPPING,
                    style=Node.FLOW if context == "flow" else Node.BLOCK,
                )
                top.children = [1, 2] if context == "map" else [1]
                nodes = [top, Node(kind=Node.SCALAR, value="k", raw="k")] if context == "map" else [top]
                doc = Doc(root=0, nodes=nodes + [scalar])
            text = emit([doc], self.s._options)
        else:
            data = {"k": value} if context == "map" else value if context == "root" else [value]
            text = self.dump(data, flow)
            if text.endswith("\n"):
                text = text[:-1]
        if context == "map":
            return text[2:]
        if context == "seq":
            return text[1:]
        if context == "flow":
            return text[1:-1]
        return text

    def dump(self, data: Any, flow: bool) -> str:
        """`data` as a document in the stream's indentation, its
        collections in flow style or block style."""
        options = self.s._options
        kwargs = {name: getattr(options, name) for name in EmitOptions.__slots__}
        kwargs["default_flow_style"] = flow
        return dump(data, **kwargs)

    def render_child(self, key: Any, value: Any, block: bool, in_flow: bool = False) -> list[str]:
        """The lines of a new entry (`key`) or item (`key` is `_ITEM`) at
        column 0: in block style, or on one line in flow style (between
        brackets when `in_flow`, else as a block entry or `-` item)."""
        text = self.dump([value] if key is _ITEM else {key: value}, not block)
        if text.endswith("\n"):
            text = text[:-1]
        if block:
            return text.split("\n")
        inner = text[1:-1]
        return [inner if in_flow or key is not _ITEM else "- " + inner]

    # ---- the edits: each gives the candidate texts, best first -------------------------

    def set_child(self, c: int, pos: int, value: Any) -> list[str]:
        node = self.nodes[c]
        v = self.child_nodes(c, pos)[-1]
        old = self.nodes[v]
        hint = old.style if old.kind == Node.SCALAR else None
        anchor = old.anchor if old.kind != Node.ALIAS else None
        if node.style == Node.FLOW:
            prefix = f"&{anchor} " if anchor else ""
            if node.kind == Node.MAPPING and (pos >= len(node.colon) or node.colon[pos] is None):
                # `{key}`: the key's value gets its `:` after the key.
                at = self.end(self.child_nodes(c, pos)[0])
                return [self.splice(at, at, ": " + self.render(value, "flow", h)) for h in (hint, None)]
            return [
                self.splice(self.props_start(v), self.end(v), prefix + self.render(value, "flow", h))
                for h in (hint, None)
            ]
        context = "map" if node.kind == Node.MAPPING else "seq"
        start = self.child_start(c, pos)
        base = start - self.starts[self.line_of(start)]
        if context == "map" and (pos >= len(node.colon) or node.colon[pos] is None):
            # `? key` without a value: the value gets a `:` line of its own.
            at = self.line_start(self.last_line(self.child_nodes(c, pos)[0]) + 1)
            open_end = at == len(self.text) and not self.text.endswith("\n")
            before, after = (self.nl, "") if open_end else ("", self.nl)
            return [
                self.splice(at, at, before + " " * base + ":" + self.shift(self.render(value, context, None, flow), base) + after)
                for flow in (False, True)
            ]
        mark_end = self.value_mark_end(c, pos)
        return [
            self.replace_value(v, anchor, self.shift(self.render(value, context, h, flow), base), mark_end)
            for h, flow in ((hint, False), (None, False), (None, True))
        ]

    def replace_value(self, v: int, anchor: str | None, new: str, mark_end: int) -> str:
        """The text with node `v` (written after `mark_end`, its `:` or `-`)
        replaced by `new`, which begins with a blank (a value on the mark's
        line) or a line break (a block collection below it)."""
        old = self.nodes[v]
        props, end = self.props_start(v), self.end(v)
        if end < mark_end:  # an empty value, placed at its mark
            props = end = mark_end
        mark_line = self.line_of(mark_end - 1)
        block_scalar = old.kind == Node.SCALAR and old.style in _BLOCK_SCALARS
        block_collection = old.kind in (Node.MAPPING, Node.SEQUENCE) and old.style == Node.BLOCK
        below = block_collection and self.line_of(self.start(v)) > mark_line
        # A block scalar's text takes its last line break along, and the
        # comment after its header stays on the first line.
        if self.text[end - 1 : end] == "\n":
            new += self.nl
        if block_scalar and old.header_at:
            header_line = old.header_at[0]
            rest = self.text[self.off(old.header_at) : self.line_end(header_line)]
            comment = rest.find("#")
            if comment > 0 and rest[comment - 1] in " \t":
                blank = len(rest[:comment]) - len(rest[:comment].rstrip(" \t"))
                first, sep, tail = new.partition(self.nl)
                new = first + rest[comment - blank :] + sep + tail
        if new.startswith(" "):
            if not below and self.line_of(props) == mark_line and props != end and props >= mark_end:
                return self.splice(props, end, (f"&{anchor} " if anchor else "") + new[1:])
            keep = ""
            if below and self.line_of(props) > mark_line:
                rest = self.text[mark_end : self.line_end(mark_line)]
                keep = rest if rest.strip().startswith("#") else ""
            return self.splice(mark_end, end, (f" &{anchor}" if anchor else "") + new + keep)
        if below and not old.tag:
            return self.splice(self.line_end(mark_line), end, new)
        prefix = f" &{anchor}" if anchor else ""
        if block_scalar:
            return self.splice(mark_end, end, prefix + new)
        last = self.line_end(self.last_line(v))
        return self.splice(mark_end, last, prefix + self.text[end:last] + new)

    def replace_root(self, value: Any) -> list[str]:
        root = self.loaded.doc.root
        if root is None:
            # A document without content, the stream's last: its root is
            # written at the end of the text.
            doc = self.loaded.doc
            if self.doc != len(self.s._docs) - 1 or doc.explicit_end or doc.stream_tail:
                raise EditError("only the last document of a stream can take a root where it has none")
            text = self.text
            if text and not text.endswith("\n"):
                text += self.nl
            return [text + self.shift(self.render(value, "root"), 0) + self.nl]
        old = self.nodes[root]
        if old.kind == Node.SCALAR and not old.raw and not old.anchor and not old.tag:
            # An empty root (a lone `---`): the new one gets lines of its own.
            at = self.end(root)
            before = "" if at == 0 or self.text[at - 1] == "\n" else self.nl
            after = "" if self.text[at : at + 1] in ("\n", "\r") else self.nl
            return [
                self.splice(at, at, before + self.shift(self.render(value, "root", None, f), 0) + after)
                for f in (False, True)
            ]
        anchor = old.anchor if old.kind != Node.ALIAS else None
        prefix = f"&{anchor} " if anchor else ""
        if old.kind in (Node.MAPPING, Node.SEQUENCE) and old.style == Node.BLOCK and anchor:
            prefix = f"&{anchor}{self.nl}"
        end = self.end(root)
        tail = self.nl if self.text[end - 1 : end] == "\n" else ""
        hint = old.style if old.kind == Node.SCALAR else None
        return [
            self.splice(self.props_start(root), end, prefix + self.shift(self.render(value, "root", h, f), 0) + tail)
            for h, f in ((hint, False), (None, False), (None, True))
        ]

    def delete_child(self, c: int, pos: int) -> list[str]:
        node = self.nodes[c]
        n = self.child_count(c)
        if node.style == Node.FLOW:
            lines = self.own_flow_lines(c, pos)
            if lines is not None:
                return [self.splice(self.starts[lines[0]], self.line_start(lines[1] + 1), "")]
            if pos + 1 < n:
                return [self.splice(self.child_start(c, pos), self.child_start(c, pos + 1), "")]
            start = self.child_start(c, pos)
            if self.first_on_line(start):
                # The comma before it stays: a flow collection may end with one.
                return [self.splice(start, self.child_end(c, pos), "")]
            return [self.splice(self.child_end(c, pos - 1), self.child_end(c, pos), "")]
        start = self.child_start(c, pos)
        last = self.child_last_line(c, pos)
        if self.first_on_line(start):
            bound = self.child_last_line(c, pos - 1) if pos else -1
            a = self.starts[self.comment_top(self.line_of(start), bound)]
            b = self.line_start(last + 1)
            if b == len(self.text) and not self.text.endswith("\n") and a > 0:
                a -= 2 if self.text[a - 2 : a] == "\r\n" else 1
            return [self.splice(a, b, "")]
        if pos + 1 < n:
            following = self.child_start(c, pos + 1)
            if self.line_of(following) == last + 1:
                return [self.splice(start, following, "")]
        a = start
        while a > 0 and self.text[a - 1] in " \t":
            a -= 1
        return [self.splice(a, self.line_end(last), "")]

    def insert_child(self, c: int, pos: int, key: Any, value: Any) -> list[str]:
        node = self.nodes[c]
        n = self.child_count(c)
        if node.style == Node.FLOW:
            item = self.render_child(key, value, block=False, in_flow=True)[0]
            if n == 0:
                at = self.start(c) + 1
                return [self.splice(at, at, item)]
            if pos < n:
                at = self.child_start(c, pos)
                if self.first_on_line(at) and self.line_of(at) > self.line_of(self.start(c)):
                    line = self.starts[self.line_of(at)]
                    return [self.splice(line, line, self.text[line:at] + item + "," + self.nl)]
                return [self.splice(at, at, item + ", ")]
            at = self.child_end(c, n - 1)
            return [self.splice(at, at, ", " + item)]
        first = self.child_start(c, 0)
        col = first - self.starts[self.line_of(first)]
        out = []
        for block in (True, False):
            lines = self.render_child(key, value, block)
            if pos < n:
                start = self.child_start(c, pos)
                if self.first_on_line(start):
                    bound = self.child_last_line(c, pos - 1) if pos else -1
                    at = self.starts[self.comment_top(self.line_of(start), bound)]
                    new = self.lines_to_text(lines, col)
                else:
                    at = start
                    new = lines[0] + self.nl + self.lines_to_text(lines[1:], col) + " " * col
            else:
                at = self.line_start(self.child_last_line(c, n - 1) + 1)
                new = self.lines_to_text(lines, col)
                if at == len(self.text) and not self.text.endswith("\n"):
                    new = self.nl + new[: -len(self.nl)]
            out.append(self.splice(at, at, new))
        return out

    # ---- comments ---------------------------------------------------------------------

    def comment_lines(self, c: int, pos: int) -> tuple[int, int]:
        """The lines of child `pos`'s comments above it: from the first to
        the child's own line (excluded)."""
        start = self.child_start(c, pos)
        first = self.line_of(start)
        if not self.first_on_line(start):
            return first, first
        bound = self.child_last_line(c, pos - 1) if pos else -1
        return self.comment_top(first, bound), first

    def eol_comment(self, c: int, pos: int) -> int | None:
        """Where the comment at the end of child `pos`'s first line begins:
        a comment the loader read there, found by its column and text."""
        start = self.child_start(c, pos)
        line = self.line_of(start)
        begin, stop = self.starts[line], self.line_end(line)
        doc = self.loaded.doc
        groups = [doc.leading, doc.trailing]
        for node in self.nodes:
            groups.extend((node.before, node.inner, node.after, [node.eol] if node.eol else []))
        for group in groups:
            for t in group:
                at = begin + t.col
                if t.text and not t.own_line and start <= at < stop and self.text.startswith(t.text, at):
                    return at
        return None

    def set_eol(self, c: int, pos: int, text: str | None) -> str:
        start = self.child_start(c, pos)
        line = self.line_of(start)
        stop = self.line_end(line)
        at = self.eol_comment(c, pos)
        written = "#" + (" " + text if text else "") if text is not None else ""
        if at is None and text is None:
            return self.text
        cut = stop if at is None else at
        while cut > start and self.text[cut - 1] in " \t":
            cut -= 1
        if at is not None and text is not None:
            return self.splice(at, stop, written)
        return self.splice(cut, stop, "  " + written if written else "")

    def set_before(self, c: int, pos: int, texts: list[str]) -> str:
        top, first = self.comment_lines(c, pos)
        start = self.child_start(c, pos)
        if not self.first_on_line(start):
            if texts:
                raise EditError("comments cannot go above an entry that shares its line")
            return self.text
        col = start - self.starts[first]
        new = "".join(" " * col + ("# " + t if t else "#") + self.nl for t in texts)
        return self.splice(self.starts[top], self.starts[first], new)


_ITEM = object()  # render_child's key for a sequence item


# ---- checking an edit -------------------------------------------------------------


def _same_data(a: Any, b: Any) -> bool:
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


def _canonical(value: Any) -> Any:
    """`value` as it reads back once written: what the text must load to."""
    from brackle.constructor import load

    if isinstance(value, (YAMLMapping, YAMLSequence)):
        value = value.data()
    return load(dump(value, width=_ONE_LINE))


def _data_at(root: Any, path: tuple) -> Any:
    for step in path:
        if isinstance(root, Tagged):
            root = root.value
        root = root[step]
    return root.value if isinstance(root, Tagged) else root


def _commit(
    stream: Stream, doc: int, candidates: list[str], change: Any, check: Any, path: tuple = ()
) -> None:
    """Takes the first candidate text that reads back as it should, or
    leaves the text as it was and raises EditError.

    The stream must keep its number of documents (the text changes only
    inside document `doc`). `change(data)` makes the expected data from a
    copy of the document's data (mutating it at `path`, or returning a
    replacement); the document must load to that. Where the change cannot
    be applied to a copy, because an alias shares what changes (the text
    changes every place the alias stands, a copy only one), `check(stream)`
    looks at the changed place instead.
    """
    old_text = stream._text
    expected = None
    if change is not None:
        try:
            data = _copy_along(stream._docs[doc].data, path)
            replaced = change(data)
            expected = data if replaced is None else replaced
        except (TypeError, KeyError, IndexError, AttributeError):
            expected = None
    count = len(stream._docs)
    for text in dict.fromkeys(candidates):
        stream._text = text
        try:
            stream._load()
        except YAMLError:
            continue
        if len(stream._docs) != count:
            continue
        if expected is not None:
            if _same_data(stream._docs[doc].data, expected):
                break
        elif _passes(check, stream):
            break
    else:
        stream._text = old_text
        stream._load()
        raise EditError("the change cannot be written so that the text reads back as the changed data")


def _copy_along(root: Any, path: tuple) -> Any:
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
    nodes = stream._docs[doc].doc.nodes
    inside: set[int] = set()
    stack = [top]
    while stack:
        i = stack.pop()
        if i in inside:
            continue
        inside.add(i)
        stack.extend(nodes[i].children)
    if not any(nodes[i].anchor and nodes[i].kind != Node.ALIAS for i in inside):
        return []
    used = []
    for i, node in enumerate(nodes):
        if node.kind == Node.ALIAS and i not in inside:
            target = stream._deref(doc, i)
            if target in inside:
                used.append(nodes[target].anchor)
    return used


# ---- views --------------------------------------------------------------------------


class _View:
    """A collection of an open stream, found again by its path from the
    document's root at every use."""

    __slots__ = ("_stream", "_doc", "_path")

    def __init__(self, stream: Stream, doc: int, path: tuple) -> None:
        self._stream = stream
        self._doc = doc
        self._path = path

    def _index(self) -> int:
        return self._stream._resolve(self._doc, self._path)

    def _editor(self) -> _Editor:
        return _Editor(self._stream, self._doc)

    def data(self) -> Any:
        """A copy of this collection as plain data (what ``brackle.load``
        gives for it)."""
        value = self._stream._docs[self._doc].objects[self._index()]
        return copy.deepcopy(value.value if isinstance(value, Tagged) else value)

    def __eq__(self, other: object) -> bool:
        return self.data() == (other.data() if isinstance(other, _View) else other)

    __hash__ = None  # type: ignore[assignment]

    def __repr__(self) -> str:
        return f"{type(self).__name__}({self.data()!r})"

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
            raise EditError(f"the anchor &{lost[0]} is used by an alias elsewhere; "
                            "change or remove the alias first")
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
        return lambda s: _same_data(_data_at(s._docs[self._doc].data, path), canon)

    def _size_is(self, n: int) -> Any:
        return lambda s: len(_data_at(s._docs[self._doc].data, self._path)) == n

    def _set(self, c: int, pos: int, step: Any, value: Any) -> None:
        v = self._editor().child_nodes(c, pos)[-1]
        node = self._stream._node(self._doc, v)
        canon = _canonical(value)
        candidates = self._editor().set_child(c, pos, value)
        kept = self._guard(v, node.anchor if node.kind != Node.ALIAS else None)
        self._apply(candidates, lambda d: _data_at(d, self._path).__setitem__(step, canon),
                    self._holds(step, canon), shared=kept)

    def _replace_self(self, value: Any) -> None:
        """Writes `value` in place of this whole collection."""
        stream = self._stream
        canon = _canonical(value)
        if not self._path:
            stream[self._doc] = value
            return
        parent = stream._value(self._doc, self._path[:-1], stream._resolve(self._doc, self._path[:-1]))
        parent._set(parent._index(), parent._position(self._path[-1]), self._path[-1], canon)

    def _in_block(self) -> bool:
        """Whether this collection is written in flow style, empty, where
        block style could stand (at the root, or in a block collection)."""
        stream = self._stream
        node = stream._node(self._doc, self._index())
        if node.style != Node.FLOW or node.children:
            return False
        if not self._path:
            return True
        parent = stream._resolve(self._doc, self._path[:-1])
        return stream._node(self._doc, parent).style == Node.BLOCK


class YAMLMapping(_View, MutableMapping):
    """A mapping of an open stream; reads and writes like a dict.

    Keys merged in with ``<<`` can be read and set (setting one adds the key
    to this mapping), not deleted. ``insert(index, key, value)`` adds an
    entry at a position.
    """

    __slots__ = ()

    def _lookup(self, c: int) -> dict:
        loaded = self._stream._docs[self._doc]
        cache = loaded.lookups
        table = cache.get(c)
        if table is None:
            objects = loaded.objects
            table = {}
            for pos, k, v in self._stream._entries(self._doc, c):
                key = objects[k]
                table[(type(key) is bool, key)] = (pos, v)
            cache[c] = table
        return table

    def _own(self, key: Any) -> tuple[int | None, int | None]:
        try:
            return self._lookup(self._index()).get((type(key) is bool, key), (None, None))
        except TypeError:  # unhashable
            return None, None

    def _position(self, key: Any) -> int:
        pos, _ = self._own(key)
        if pos is None:
            raise KeyError(key)
        return pos

    def __getitem__(self, key: Any) -> Any:
        stream = self._stream
        c = self._index()
        _, v = self._own(key)
        if v is None:
            _, v = stream._find(self._doc, c, key, own=False)
            if v is None:
                raise KeyError(key)
        return stream._value(self._doc, self._path + (key,), v)

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

    def __len__(self) -> int:
        return sum(1 for _ in self)

    def __contains__(self, key: object) -> bool:
        try:
            self[key]
        except (KeyError, TypeError):
            return False
        return True

    def __setitem__(self, key: Any, value: Any) -> None:
        pos, _ = self._own(key)
        if pos is None:
            self.insert(len(self._lookup(self._index())), key, value)
            return
        self._set(self._index(), pos, key, value)

    def __delitem__(self, key: Any) -> None:
        stream = self._stream
        c = self._index()
        pos, v = self._own(key)
        if pos is None:
            if key in self:
                raise EditError(f"the key {key!r} comes from a merge (<<) and cannot be deleted here")
            raise KeyError(key)
        editor = self._editor()
        for node in editor.child_nodes(c, pos):
            self._guard(node)
        if editor.child_count(c) == 1:
            self._replace_self({})
            return
        size = len(_data_at(stream._docs[self._doc].data, self._path))
        self._apply(editor.delete_child(c, pos), lambda d: _data_at(d, self._path).__delitem__(key),
                    self._size_is(size - 1))

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
        if self._in_block():
            self._replace_self({key: value})
            return
        editor = self._editor()
        at = own[index] if index < n else editor.child_count(c)
        canon = _canonical(value)
        self._apply(editor.insert_child(c, at, key, value),
                    lambda d: _data_at(d, self._path).__setitem__(key, canon), self._holds(key, canon))


class YAMLSequence(_View, MutableSequence):
    """A sequence of an open stream; reads and writes like a list."""

    __slots__ = ()

    def _items(self) -> list[int]:
        return self._stream._node(self._doc, self._index()).children

    def _position(self, index: Any) -> int:
        n = len(self._items())
        if not isinstance(index, int) or not -n <= index < n:
            raise IndexError("sequence index out of range")
        return index % n

    def __len__(self) -> int:
        return len(self._items())

    def __getitem__(self, index: Any) -> Any:
        if isinstance(index, slice):
            return [self[i] for i in range(*index.indices(len(self)))]
        i = self._position(index)
        return self._stream._value(self._doc, self._path + (i,), self._items()[i])

    def __setitem__(self, index: Any, value: Any) -> None:
        if isinstance(index, slice):
            raise TypeError("a sequence of a stream takes items one at a time, not by slice")
        i = self._position(index)
        self._set(self._index(), i, i, value)

    def __delitem__(self, index: Any) -> None:
        if isinstance(index, slice):
            for i in sorted(range(*index.indices(len(self))), reverse=True):
                del self[i]
            return
        i = self._position(index)
        c = self._index()
        editor = self._editor()
        self._guard(editor.child_nodes(c, i)[0])
        if editor.child_count(c) == 1:
            self._replace_self([])
            return
        self._apply(editor.delete_child(c, i), lambda d: _data_at(d, self._path).__delitem__(i),
                    self._size_is(editor.child_count(c) - 1))

    def insert(self, index: int, value: Any) -> None:
        n = len(self)
        index = max(0, n + index) if index < 0 else min(index, n)
        if self._in_block():
            self._replace_self([value])
            return
        canon = _canonical(value)
        self._apply(self._editor().insert_child(self._index(), index, _ITEM, value),
                    lambda d: _data_at(d, self._path).insert(index, canon), self._holds(index, canon))


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

    def _where(self) -> tuple[_Editor, int, int]:
        view = self._view
        c = view._index()
        return view._editor(), c, view._position(self._key)

    @property
    def eol(self) -> str | None:
        editor, c, pos = self._where()
        found = editor.eol_comment(c, pos)
        return None if found is None else _comment_text(editor.text[found : editor.line_end(editor.line_of(found))])

    @eol.setter
    def eol(self, text: str | None) -> None:
        editor, c, pos = self._where()
        _commit(self._view._stream, self._view._doc, [editor.set_eol(c, pos, _check_comment(text))], lambda d: None, None)

    @property
    def before(self) -> list[str]:
        editor, c, pos = self._where()
        top, first = editor.comment_lines(c, pos)
        return [
            _comment_text(editor.text[editor.starts[line] : editor.line_end(line)].lstrip(" \t"))
            for line in range(top, first)
        ]

    @before.setter
    def before(self, texts: list[str] | None) -> None:
        editor, c, pos = self._where()
        lines = [_check_comment(t) for t in texts or []]
        _commit(self._view._stream, self._view._doc, [editor.set_before(c, pos, lines)], lambda d: None, None)

    def __repr__(self) -> str:
        return f"Comments(before={self.before!r}, eol={self.eol!r})"


def _comment_text(written: str) -> str:
    text = written[1:]
    return text[1:] if text.startswith(" ") else text


def _check_comment(text: str | None) -> str | None:
    if text is not None and ("\n" in text or "\r" in text):
        raise ValueError("a comment is one line: it cannot hold a line break")
    return text
