"""The record classes that carry documents between Python and the core.

``parse`` builds one :class:`Doc` per YAML document, one :class:`Node` per
node and one :class:`Trivia` per comment or run of blank lines; ``emit`` reads
the same attributes back. The classes are plain mutable records: change an
attribute and emit again.

Nodes live in their document's ``nodes`` list and refer to each other by
index. A node's ``children`` is one flat list: the items of a sequence, or
key, value, key, value ... of a mapping.

>>> from brackle._record import Doc, Node
>>> key = Node(kind=Node.SCALAR, value="name", raw="name")
>>> value = Node(kind=Node.SCALAR, value="brackle", raw="brackle")
>>> top = Node(kind=Node.MAPPING, style=Node.BLOCK, children=[1, 2])
>>> doc = Doc(root=0, nodes=[top, key, value])
>>> doc.nodes[doc.nodes[0].children[1]].value
'brackle'
"""

from __future__ import annotations

__all__ = ["Doc", "Node", "Trivia"]


class _Record:
    """What the three records share: a repr of every field, equality by value
    between records of the same class, and no hash (records are mutable)."""

    __slots__ = ()

    def __repr__(self) -> str:
        fields = ", ".join(f"{n}={getattr(self, n)!r}" for n in self._fields())
        return f"{type(self).__name__}({fields})"

    def __eq__(self, other: object) -> bool:
        if type(other) is not type(self):
            return NotImplemented
        return all(getattr(self, n) == getattr(other, n) for n in self._fields())

    def _fields(self) -> tuple[str, ...]:
        slots: tuple[str, ...] = type(self).__slots__
        return slots

    __hash__ = None  # type: ignore[assignment]


class Trivia(_Record):
    """One comment, or one run of blank lines.

    A comment has its ``text`` (starting with ``#``), ``own_line`` (it stood
    on a line of its own) and the ``col`` of its ``#``; ``blank_lines`` is 0.
    A run of blank lines is ``Trivia(None, True, 0, count)``.

    >>> Trivia("# note", False, 6, 0)
    Trivia(text='# note', own_line=False, col=6, blank_lines=0)
    >>> Trivia.blank(2) == Trivia(None, True, 0, 2)
    True
    """

    __slots__ = ("text", "own_line", "col", "blank_lines")

    text: str | None
    own_line: bool
    col: int
    blank_lines: int

    def __init__(
        self,
        text: str | None = None,
        own_line: bool = True,
        col: int = 0,
        blank_lines: int = 0,
    ) -> None:
        self.text = text
        self.own_line = own_line
        self.col = col
        self.blank_lines = blank_lines

    @classmethod
    def blank(cls, count: int) -> Trivia:
        """A run of ``count`` blank lines."""
        return cls(None, True, 0, count)

    @property
    def is_blank(self) -> bool:
        """True for a run of blank lines, false for a comment."""
        return self.blank_lines != 0


class Node(_Record):
    """One node of a document: a scalar, sequence, mapping or alias.

    ``kind`` is one of the codes ``SCALAR`` (0), ``SEQUENCE`` (1), ``MAPPING``
    (2) and ``ALIAS`` (3); ``style`` one of ``PLAIN`` (0), ``SINGLE_QUOTED``
    (1), ``DOUBLE_QUOTED`` (2), ``LITERAL`` (3), ``FOLDED`` (4), ``BLOCK`` (5)
    and ``FLOW`` (6). A scalar has its decoded ``value`` and its source text
    ``raw``; set ``raw`` to ``None`` after changing ``value`` so that the
    value is written anew. An alias names its anchor in ``anchor``.

    For a mapping, ``merge`` and ``explicit`` list the positions in
    ``children`` of the keys that are merge keys (``<<``) or were written with
    ``?``, and ``colon`` holds the place of each entry's ``:`` (or ``None``).
    Places are ``(line, col)`` pairs counted from 0.

    >>> Node(kind=Node.ALIAS, style=Node.BLOCK, anchor="base").children
    []
    """

    SCALAR, SEQUENCE, MAPPING, ALIAS = 0, 1, 2, 3
    PLAIN, SINGLE_QUOTED, DOUBLE_QUOTED, LITERAL, FOLDED, BLOCK, FLOW = range(7)

    __slots__ = (
        "kind",
        "style",
        "anchor",
        "tag",
        "value",
        "raw",
        "line",
        "col",
        "children",
        "merge",
        "explicit",
        "before",
        "eol",
        "inner",
        "after",
        "tag_first",
        "flow_seps",
        "anchor_at",
        "tag_at",
        "header_at",
        "colon",
    )

    kind: int
    style: int
    anchor: str | None
    tag: tuple[str, str, str] | None
    value: str | None
    raw: str | None
    line: int
    col: int
    children: list[int]
    merge: list[int]
    explicit: list[int]
    before: list[Trivia]
    eol: Trivia | None
    inner: list[Trivia]
    after: list[Trivia]
    tag_first: bool
    flow_seps: list[str]
    anchor_at: tuple[int, int] | None
    tag_at: tuple[int, int] | None
    header_at: tuple[int, int] | None
    colon: list[tuple[int, int] | None]

    # One call per node on every parse: a plain __init__ over slots, with
    # fresh lists only where the caller gave none.
    def __init__(
        self,
        kind: int = 0,
        style: int = 0,
        anchor: str | None = None,
        tag: tuple[str, str, str] | None = None,
        value: str | None = None,
        raw: str | None = None,
        line: int = 0,
        col: int = 0,
        children: list[int] | None = None,
        merge: list[int] | None = None,
        explicit: list[int] | None = None,
        before: list[Trivia] | None = None,
        eol: Trivia | None = None,
        inner: list[Trivia] | None = None,
        after: list[Trivia] | None = None,
        tag_first: bool = False,
        flow_seps: list[str] | None = None,
        anchor_at: tuple[int, int] | None = None,
        tag_at: tuple[int, int] | None = None,
        header_at: tuple[int, int] | None = None,
        colon: list[tuple[int, int] | None] | None = None,
    ) -> None:
        self.kind = kind
        self.style = style
        self.anchor = anchor
        self.tag = tag
        self.value = value
        self.raw = raw
        self.line = line
        self.col = col
        self.children = [] if children is None else children
        self.merge = [] if merge is None else merge
        self.explicit = [] if explicit is None else explicit
        self.before = [] if before is None else before
        self.eol = eol
        self.inner = [] if inner is None else inner
        self.after = [] if after is None else after
        self.tag_first = tag_first
        self.flow_seps = [] if flow_seps is None else flow_seps
        self.anchor_at = anchor_at
        self.tag_at = tag_at
        self.header_at = header_at
        self.colon = [] if colon is None else colon


class Doc(_Record):
    """One YAML document: its node arena, root and everything around it.

    ``nodes`` holds the :class:`Node` records, ``root`` the index of the root
    node (``None`` in an empty document). The other fields keep what a
    byte-for-byte round trip needs: directives (``version``,
    ``tag_directives``, ``tags_before_version``, ``directives_raw``), the
    ``---`` and ``...`` markers, comments and blank lines before and after
    the content (``leading``, ``trailing``), a byte-order mark, whether the
    source ended with a line break, the text after the last document
    (``stream_tail``) and the source lines with tabs or trailing blanks
    (``line_space``, by line number). ``line_break`` is the source's first
    line break (``"\\n"``, ``"\\r\\n"`` or ``"\\r"``; ``None`` when unknown),
    which ``emit`` writes at the end of every line unless its options ask for
    another; ``other_line_breaks`` (on the first document) the source lines,
    by number, that end in another break, which come back as they were.

    >>> Doc()
    Doc(version=None, tag_directives=[], explicit_start=False, explicit_end=False,
        root=None, nodes=[], leading=[], trailing=[], bom=False, final_line_break=False,
        tags_before_version=0, directives_raw=None, stream_tail='', line_space={},
        line_break=None, other_line_breaks={})
    """

    __slots__ = (
        "version",
        "tag_directives",
        "explicit_start",
        "explicit_end",
        "root",
        "nodes",
        "leading",
        "trailing",
        "bom",
        "final_line_break",
        "tags_before_version",
        "directives_raw",
        "stream_tail",
        "line_space",
        "line_break",
        "other_line_breaks",
    )

    version: tuple[int, int] | None
    tag_directives: list[tuple[str, str]]
    explicit_start: bool
    explicit_end: bool
    root: int | None
    nodes: list[Node]
    leading: list[Trivia]
    trailing: list[Trivia]
    bom: bool
    final_line_break: bool
    tags_before_version: int
    directives_raw: tuple[str, int] | None
    stream_tail: str
    line_space: dict[int, str]
    line_break: str | None
    other_line_breaks: dict[int, str]

    def __init__(
        self,
        version: tuple[int, int] | None = None,
        tag_directives: list[tuple[str, str]] | None = None,
        explicit_start: bool = False,
        explicit_end: bool = False,
        root: int | None = None,
        nodes: list[Node] | None = None,
        leading: list[Trivia] | None = None,
        trailing: list[Trivia] | None = None,
        bom: bool = False,
        final_line_break: bool = False,
        tags_before_version: int = 0,
        directives_raw: tuple[str, int] | None = None,
        stream_tail: str = "",
        line_space: dict[int, str] | None = None,
        line_break: str | None = None,
        other_line_breaks: dict[int, str] | None = None,
    ) -> None:
        self.version = version
        self.tag_directives = [] if tag_directives is None else tag_directives
        self.explicit_start = explicit_start
        self.explicit_end = explicit_end
        self.root = root
        self.nodes = [] if nodes is None else nodes
        self.leading = [] if leading is None else leading
        self.trailing = [] if trailing is None else trailing
        self.bom = bom
        self.final_line_break = final_line_break
        self.tags_before_version = tags_before_version
        self.directives_raw = directives_raw
        self.stream_tail = stream_tail
        self.line_space = {} if line_space is None else line_space
        self.line_break = line_break
        self.other_line_breaks = {} if other_line_breaks is None else other_line_breaks
