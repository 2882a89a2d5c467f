"""How ``emit`` lays out what it writes anew.

An unchanged document comes back as it was written whatever the options;
they decide the layout of nodes that were changed or built from nothing,
and the markers and styles that apply to the whole stream.

>>> from brackle.options import EmitOptions
>>> EmitOptions(width=120, explicit_start=True)
EmitOptions(line_break='\\n', map_indent=2, seq_indent=2, seq_offset=0, width=120,
            explicit_start=True, explicit_end=False, default_flow_style=False,
            preserve_quotes=False)
"""

from __future__ import annotations

__all__ = ["EmitOptions"]


class EmitOptions:
    """The options of an ``emit`` call.

    - ``line_break``: ``"\\n"``, ``"\\r\\n"`` or ``"\\r"``, written at the end of
      every new line.
    - ``map_indent``, ``seq_indent``: indentation of a nested block mapping or
      sequence; ``seq_offset``: where the ``-`` of an item stands within it.
    - ``width``: the line width at which long scalars are folded.
    - ``explicit_start``, ``explicit_end``: write ``---`` and ``...`` on every
      document (false leaves each document's own markers).
    - ``default_flow_style``: write every collection in flow style (false
      keeps each collection's own style).
    - ``preserve_quotes``: keep the quoting of scalars whose value changed.
    """

    __slots__ = (
        "line_break",
        "map_indent",
        "seq_indent",
        "seq_offset",
        "width",
        "explicit_start",
        "explicit_end",
        "default_flow_style",
        "preserve_quotes",
    )

    def __init__(
        self,
        *,
        line_break: str = "\n",
        map_indent: int = 2,
        seq_indent: int = 2,
        seq_offset: int = 0,
        width: int = 80,
        explicit_start: bool = False,
        explicit_end: bool = False,
        default_flow_style: bool = False,
        preserve_quotes: bool = False,
    ) -> None:
        self.line_break = line_break
        self.map_indent = map_indent
        self.seq_indent = seq_indent
        self.seq_offset = seq_offset
        self.width = width
        self.explicit_start = explicit_start
        self.explicit_end = explicit_end
        self.default_flow_style = default_flow_style
        self.preserve_quotes = preserve_quotes

    def __repr__(self) -> str:
        fields = ", ".join(f"{name}={getattr(self, name)!r}" for name in self.__slots__)
        return f"EmitOptions({fields})"

    def __eq__(self, other: object) -> bool:
        if type(other) is not type(self):
            return NotImplemented
        return all(getattr(self, n) == getattr(other, n) for n in self.__slots__)

    __hash__ = None  # type: ignore[assignment]
