"""Text surgery for the edit API: where each node's text stands in the
stream, and the new text of a change spliced in.

An `Editor` works on one document of a `brackle.editing.Stream` as it was
last read. Each edit method returns candidate texts for that document,
best first; the stream reads each back and keeps the first that loads to
the changed data.
"""

from __future__ import annotations

import bisect
from typing import TYPE_CHECKING, Any

from brackle._brackle import emit
from brackle._record import Doc, Node
from brackle.constructor import Tagged
from brackle.error import EditError
from brackle.options import EmitOptions
from brackle.representer import Flow, dump

if TYPE_CHECKING:
    from brackle.editing import Stream

__all__ = ["Editor", "ITEM", "ONE_LINE", "unwrap"]

# Scalars written anew stay on one line however long they are.
ONE_LINE = 2**31 - 1


def unwrap(value: Any) -> tuple[Any, bool]:
    """The value to write, and whether it was asked for in flow style."""
    return (value.value, True) if isinstance(value, Flow) else (value, False)


def detect_options(nodes: list[Node]) -> EmitOptions:
    """Emit options for new text that follow the indentation a document
    already uses: the step of its first nested block mapping, and where its
    first block sequence under a key puts the `-`."""
    map_indent, seq_offset = None, None
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
    map_indent = map_indent or 2
    seq_offset = seq_offset or 0
    return EmitOptions(
        map_indent=map_indent,
        seq_indent=seq_offset + 2 if seq_offset else 2,
        seq_offset=seq_offset,
        width=ONE_LINE,
        preserve_quotes=True,
    )


_BLOCK_SCALARS = (Node.LITERAL, Node.FOLDED)


class Editor:
    """Finds the text of one document's nodes and splices new text in.

    Offsets are indexes into the document's own text. A node's text runs from its
    properties (``props_start``) to the end of its content (``end``); a
    block scalar's ends after its last line break.
    """

    def __init__(self, stream: Stream, doc: int) -> None:
        if stream._lone_cr:
            raise EditError("text whose lines end in a lone CR cannot be edited in place")
        self.s = stream
        self.doc = doc
        self.loaded = loaded = stream._docs[doc]
        if loaded.options is None:
            loaded.options = detect_options(loaded.doc.nodes)
        self.options = loaded.options
        self.nodes = loaded.doc.nodes
        self.text = loaded.text
        self.starts = loaded.line_starts
        self.nl = "\r\n" if "\r\n" in self.text[: self.text.find("\n") + 1 or None] else "\n"

    # ---- where things are ----------------------------------------------------------

    def off(self, pos: tuple[int, int]) -> int:
        return self.starts[pos[0]] + pos[1]

    def start(self, i: int) -> int:
        return self.loaded.spans[2 * i] + self.loaded.base

    def end(self, i: int) -> int:
        """Where node `i`'s content ends: a block collection ends with its
        last descendant."""
        while True:
            node = self.nodes[i]
            if (
                node.style == Node.BLOCK
                and node.kind in (Node.MAPPING, Node.SEQUENCE)
                and node.children
            ):
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
            return max(self.start(i), self.loaded.spans[2 * i + 1] + self.loaded.base)

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
        return (
            node.children[2 * pos : 2 * pos + 2]
            if node.kind == Node.MAPPING
            else [node.children[pos]]
        )

    def child_start(self, c: int, pos: int) -> int:
        """Where child `pos` of collection `c` begins: its `-`, its `?`, or
        its key's properties."""
        node = self.nodes[c]
        at = self.props_start(self.child_nodes(c, pos)[0])
        if (
            node.kind == Node.MAPPING
            and 2 * pos not in node.explicit
            or node.style == Node.FLOW
            and node.kind == Node.SEQUENCE
        ):
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
            if (
                self.text[found : found + 1] == mark
                and self.text[self.starts[line] : found].strip(" \t") == ""
            ):
                return int(found)
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
        return (self.nl).join(
            [lines[0]] + [(" " * col + line) if line else line for line in lines[1:]]
        )

    # ---- new text ---------------------------------------------------------------------

    def render(self, value: Any, context: str, hint: int | None = None, flow: bool = False) -> str:
        """`value` written as a child: for `"map"` the text after a key's
        `:`, for `"seq"` after an item's `-`, for `"flow"` an item between
        brackets, for `"root"` a document. Lines after the first are placed
        as if the key or `-` stood at column 0."""
        if flow and context in ("map", "seq"):
            return " " + self.render(value, "flow", hint)
        if context == "flow":
            flow = True
        if (
            hint not in (None, Node.PLAIN)
            and isinstance(value, str)
            and not isinstance(value, Tagged)
        ):
            scalar = Node(kind=Node.SCALAR, style=hint, value=value)
            if context == "root":
                doc = Doc(root=0, nodes=[scalar])
            else:
                top = Node(
                    kind=Node.SEQUENCE if context != "map" else Node.MAPPING,
                    style=Node.FLOW if context == "flow" else Node.BLOCK,
                )
                top.children = [1, 2] if context == "map" else [1]
                nodes = (
                    [top, Node(kind=Node.SCALAR, value="k", raw="k")] if context == "map" else [top]
                )
                doc = Doc(root=0, nodes=nodes + [scalar])
            text = emit([doc], self.options)
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
        options = self.options
        kwargs = {name: getattr(options, name) for name in EmitOptions.__slots__}
        kwargs["default_flow_style"] = flow
        return str(dump(data, **kwargs))

    def render_child(self, key: Any, value: Any, block: bool, in_flow: bool = False) -> list[str]:
        """The lines of a new entry (`key`) or item (`key` is `ITEM`) at
        column 0: in block style, or on one line in flow style (between
        brackets when `in_flow`, else as a block entry or `-` item)."""
        text = self.dump([value] if key is ITEM else {key: value}, not block)
        if text.endswith("\n"):
            text = text[:-1]
        if block:
            return text.split("\n")
        inner = text[1:-1]
        return [inner if in_flow or key is not ITEM else "- " + inner]

    # ---- the edits: each gives the candidate texts, best first -------------------------

    def set_child(self, c: int, pos: int, value: Any) -> list[str]:
        value, flow_only = unwrap(value)
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
                return [
                    self.splice(at, at, ": " + self.render(value, "flow", h)) for h in (hint, None)
                ]
            return [
                self.splice(
                    self.props_start(v), self.end(v), prefix + self.render(value, "flow", h)
                )
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
                self.splice(
                    at,
                    at,
                    before
                    + " " * base
                    + ":"
                    + self.shift(self.render(value, context, None, flow), base)
                    + after,
                )
                for flow in ((True,) if flow_only else (False, True))
            ]
        mark_end = self.value_mark_end(c, pos)
        return [
            self.replace_value(
                v, anchor, self.shift(self.render(value, context, h, flow), base), mark_end, base
            )
            for h, flow in (
                ((None, True),) if flow_only else ((hint, False), (None, False), (None, True))
            )
        ]

    def replace_value(self, v: int, anchor: str | None, new: str, mark_end: int, base: int) -> str:
        """The text with node `v` (written after `mark_end`, its `:` or `-`,
        of an entry at column `base`) replaced by `new`, which begins with a
        blank (a value on the mark's line) or a line break (a block
        collection below it)."""
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
        if mark_end <= props < end and "#" in self.text[mark_end:props]:
            # Comments stand between the mark and the value: the value keeps its line.
            return self.replace_below(props, end, anchor, new, base)
        if new.startswith(" "):
            if (
                not below
                and self.line_of(props) == mark_line
                and props != end
                and props >= mark_end
            ):
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

    def replace_below(self, props: int, end: int, anchor: str | None, new: str, base: int) -> str:
        """The text with a value written on a line below its `:` or `-` (from
        `props` to `end`) replaced by `new` there, so that the comments on the
        mark's line and on the lines between stay where they are."""
        line = self.starts[self.line_of(props)]
        prefix = f"&{anchor} " if anchor else ""
        if not new.startswith(" "):  # a block collection, its lines in place of the old ones
            lines = new[len(self.nl) :]
            if anchor:
                lines = " " * (props - line) + "&" + anchor + self.nl + lines
            return self.splice(line, end, lines)
        if props - line > base:
            return self.splice(props, end, prefix + new[1:])
        # A sequence at its key's column: a scalar goes one step further in.
        return self.splice(line, end, " " * (base + self.options.map_indent) + prefix + new[1:])

    def replace_root(self, value: Any) -> list[str]:
        value, flow_only = unwrap(value)
        root = self.loaded.doc.root
        if root is None:
            # A document without content, the stream's last: its root is
            # written at the end of the text.
            doc = self.loaded.doc
            if self.doc != len(self.s._docs) - 1 or doc.explicit_end or doc.stream_tail:
                raise EditError(
                    "only the last document of a stream can take a root where it has none"
                )
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
                self.splice(
                    at, at, before + self.shift(self.render(value, "root", None, f), 0) + after
                )
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
            self.splice(
                self.props_start(root),
                end,
                prefix + self.shift(self.render(value, "root", h, f), 0) + tail,
            )
            for h, f in (
                ((None, True),) if flow_only else ((hint, False), (None, False), (None, True))
            )
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
        value, flow_only = unwrap(value)
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
        for block in (False,) if flow_only else (True, False):
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
                if (
                    t.text
                    and not t.own_line
                    and start <= at < stop
                    and self.text.startswith(t.text, at)
                ):
                    return int(at)
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


ITEM = object()  # render_child's key for a sequence item
