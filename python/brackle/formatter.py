"""Laying YAML out afresh: ``format``.

Every node is written anew from the options, with its comments and its
quoting; nothing of the source layout is kept but the blank lines between
entries (a run of more than :data:`MAX_BLANK_LINES` is cut to that many).
The result loads to the same data, with the same comments in the same
order, or :class:`FormatError` says why it cannot be written so; and
formatting it again gives it back.

>>> import brackle
>>> print(brackle.format("a:   {b: 1,  c: [x,y]}   # note\\nd:\\n    - 1\\n"), end="")
a: {b: 1, c: [x, y]} # note
d:
- 1
"""

from __future__ import annotations

from typing import Any

from brackle._brackle import emit, parse
from brackle._data import same_data
from brackle._record import Doc, Node, Trivia
from brackle.constructor import load_all
from brackle.error import YAMLError
from brackle.options import EmitOptions

__all__ = ["format", "FormatError", "MAX_BLANK_LINES"]

# The longest run of blank lines a formatted text keeps.
MAX_BLANK_LINES = 2

_BLOCK_SCALARS = (Node.LITERAL, Node.FOLDED)


class FormatError(YAMLError):
    """The text cannot be laid out anew without changing its data or its
    comments; nothing was written. ``reason`` says which."""

    def __init__(self, name: str, reason: str) -> None:
        super().__init__(f"{name}: {reason}")
        self.reason = reason


def _trivia_lists(node: Node) -> tuple[list[Trivia], list[Trivia], list[Trivia]]:
    return node.before, node.inner, node.after


def _blank_lines_after_block_scalars(doc: Doc, lines: list[str]) -> None:
    """Blank lines below a clipped or stripped block scalar belong to its
    source text (some to its raw text, some only to the lines between it
    and what follows), which is written anew from its value: they are
    counted in the source ``lines`` and become blank lines right after it,
    so that the gap stays."""
    for node in doc.nodes:
        if node.kind != Node.SCALAR or node.style not in _BLOCK_SCALARS:
            continue
        if node.raw is None or node.header_at is None:
            continue
        raw_lines = node.raw.split("\n")
        if raw_lines[0].endswith("+"):
            continue  # kept final line breaks are content: written from the value
        # A line of only spaces is content where it has more of them than
        # the block's indentation.
        text_lines = [line for line in raw_lines[1:] if line.strip()]
        indent = min((len(line) - len(line.lstrip(" ")) for line in text_lines), default=0)
        last = max(
            k
            for k, line in enumerate(raw_lines)
            if k == 0 or line.strip() or len(line.rstrip("\r")) > indent
        )
        at = node.header_at[0] + last + 1
        end = len(lines) - 1 if lines and lines[-1] == "" else len(lines)
        gap = 0
        while at + gap < end and not lines[at + gap].strip():
            gap += 1
        if gap:
            node.after.insert(0, Trivia.blank(gap))


def _cap_blank_lines(doc: Doc) -> None:
    """Cuts each run of blank lines to :data:`MAX_BLANK_LINES`."""
    lists = [doc.leading, doc.trailing]
    for node in doc.nodes:
        lists.extend(_trivia_lists(node))
    for items in lists:
        run = 0
        kept: list[Trivia] = []
        for t in items:
            if t.is_blank:
                room = MAX_BLANK_LINES - run
                if room <= 0:
                    continue
                t.blank_lines = min(t.blank_lines, room)
                run += t.blank_lines
            else:
                run = 0
            kept.append(t)
        items[:] = kept


def _comments_of_values_in_text_order(doc: Doc, lines: list[str]) -> None:
    """Puts the comments of a mapping value where the emitter, laying the
    value out anew, writes them in the order they stood. A value's comments
    on lines of their own are written before it and its end-of-line comment
    after it; but an empty or inline value's end-of-line comment can stand
    before comments the loader gave the value (they follow the entry: they
    go after it), and the end-of-line comment of a value on a later line can
    stand at the end of the key's line (it goes above the value, first)."""
    for node in doc.nodes:
        if node.kind != Node.MAPPING:
            continue
        for k, v in zip(node.children[::2], node.children[1::2]):
            key, value = doc.nodes[k], doc.nodes[v]
            eol = value.eol
            if eol is None or not any(t.text is not None for t in value.before):
                continue
            if value.line == key.line:
                value.after[:0] = value.before
                value.before.clear()
            elif key.line < len(lines) and lines[key.line][eol.col :].startswith(eol.text or ""):
                # in line with the comments below it
                col = next(t.col for t in value.before if t.text is not None)
                value.before.insert(0, Trivia(eol.text, True, col))
                value.eol = None


def _comments_after_opening_brackets(doc: Doc, lines: list[str]) -> None:
    """A flow collection's end-of-line comment that stood on the line where
    it begins, after its opening bracket (the collection went on below),
    stays there: it goes first among what the collection holds inside."""
    for node in doc.nodes:
        eol = node.eol
        if node.style != Node.FLOW or eol is None or node.line >= len(lines):
            continue
        goes_on = any(doc.nodes[c].line > node.line for c in node.children)
        if goes_on and lines[node.line][eol.col :].startswith(eol.text or ""):
            node.inner.insert(0, eol)
            node.eol = None


def _strip_layout(doc: Doc, lines: list[str], flow: bool) -> None:
    """Takes away what ties ``doc`` to its source ``lines``, so that the
    emitter lays every node out from the options. Own-line comments keep
    their column for now; :func:`format` places them."""
    if flow:  # no blank line stands inside a flow collection
        for node in doc.nodes:
            for items in _trivia_lists(node):
                items[:] = [t for t in items if not t.is_blank]
    else:
        _blank_lines_after_block_scalars(doc, lines)
    _comments_of_values_in_text_order(doc, lines)
    _comments_after_opening_brackets(doc, lines)
    _cap_blank_lines(doc)
    doc.line_space = {}
    for node in doc.nodes:
        node.line = node.col = 0  # (0, 0): no source position
        node.anchor_at = node.tag_at = node.header_at = None
        node.colon = [None] * len(node.colon)
        node.flow_seps = []
        if node.kind == Node.SCALAR:
            node.raw = None
            # In flow style an empty plain scalar would be written '': the
            # word keeps it a null.
            if flow and node.style == Node.PLAIN and node.value == "" and node.tag is None:
                node.value = "null"
        if node.eol is not None:
            node.eol.col = 0
        for items in _trivia_lists(node):
            for t in items:
                if not t.own_line:
                    t.col = 0


def _comments(text: str, docs: list[Doc]) -> list[str]:
    """The comments of ``text`` (loaded as ``docs``) in the order they stand
    in it: every ``#`` at the start of a line or after a blank, outside the
    quoted and block scalars, up to the end of its line."""
    if text.startswith("\ufeff"):
        text = text[1:]
    line_starts = [0]
    at = text.find("\n")
    while at >= 0:
        line_starts.append(at + 1)
        at = text.find("\n", at + 1)
    # Where each quoted or block scalar's text stands: a # there is content.
    spans = []
    for doc in docs:
        for node in doc.nodes:
            if node.kind != Node.SCALAR or node.raw is None or node.style == Node.PLAIN:
                continue
            if node.header_at is None:
                line, col, raw = node.line, node.col, node.raw
            else:  # the content, from the line after the header (and its comment)
                line, col, raw = node.header_at[0] + 1, 0, node.raw.partition("\n")[2]
            if line < len(line_starts):
                start = line_starts[line] + col
                spans.append((start, start + len(raw)))
    spans.sort()
    found: list[str] = []
    span = 0
    at = text.find("#")
    while at >= 0:
        while span < len(spans) and spans[span][1] <= at:
            span += 1
        if span < len(spans) and spans[span][0] <= at:
            at = text.find("#", spans[span][1])
            continue
        if at == 0 or text[at - 1] in " \t\n\r":
            end = text.find("\n", at)
            end = len(text) if end < 0 else end
            found.append(text[at:end].rstrip("\r").rstrip())
            at = end
        at = text.find("#", at + 1)
    return found


def _relayout(docs: list[Doc], lines: list[str], options: EmitOptions) -> str:
    """The documents written anew from ``options``. An own-line comment
    keeps its place relative to the node it belongs to: as far right of the
    node's new column as it stood right of the old one (a comment at column
    0 stays there)."""
    source_cols = [[n.col for n in d.nodes] for d in docs]
    for doc in docs:
        _strip_layout(doc, lines, options.default_flow_style)
        # Every line is laid out anew: all end in the options' break.
        doc.line_break = options.line_break
        doc.other_line_breaks = {}
    first = emit(docs, options)
    placed = parse(first)
    if len(placed) != len(docs) or any(len(p.nodes) != len(d.nodes) for p, d in zip(placed, docs)):
        return first
    for doc, new, cols in zip(docs, placed, source_cols):
        for node, now, was in zip(doc.nodes, new.nodes, cols):
            for items in _trivia_lists(node):
                for t in items:
                    if t.text is not None and t.own_line and t.col != 0:
                        t.col = max(0, now.col + t.col - was)
    return emit(docs, options)


def _line_break_of(text: str) -> str:
    end = text.find("\n")
    return "\r\n" if end > 0 and text[end - 1] == "\r" else "\n"


def format(
    text: str,
    *,
    name: str = "<unicode string>",
    allow_duplicate_keys: bool = False,
    **options: Any,
) -> str:
    """``text`` laid out afresh. ``options`` are the fields of
    :class:`EmitOptions` (any other keyword raises ``TypeError``); quoting
    is kept unless ``preserve_quotes=False``, and the lines end in the
    text's first line break unless ``line_break`` is given.

    Raises the load error of a text that is not YAML, and
    :class:`FormatError` when the new layout would not load to the same
    data with the same comments in the same order.
    """
    options.setdefault("preserve_quotes", True)
    options.setdefault("line_break", _line_break_of(text))
    emit_options = EmitOptions(**options)
    docs = parse(text, name=name)
    comments = _comments(text, docs)
    before = load_all(text, name=name, allow_duplicate_keys=allow_duplicate_keys)
    out = _relayout(docs, text.split("\n"), emit_options)
    try:
        after: list[Any] | None = load_all(out, allow_duplicate_keys=True)
        out_comments: list[str] | None = _comments(out, parse(out))
    except YAMLError:
        after = out_comments = None
    if not same_data(after, before):
        raise FormatError(name, "cannot be laid out anew without changing its data; left as it is")
    if out_comments != comments:
        raise FormatError(name, "cannot be laid out anew without moving a comment; left as it is")
    return out
