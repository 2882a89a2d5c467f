"""Laying YAML out afresh: ``format``.

Every node is written anew from the options, with its comments and its
quoting; nothing of the source layout is kept but the blank lines between
entries (a run of more than two is cut to two). The result loads to the
same data, with the same comments in the same order, or
:class:`FormatError` says why it cannot be written so; and formatting it
again gives it back.

>>> import brackle
>>> print(brackle.format("a:   {b: 1,  c: [x,y]}   # note\\nd:\\n    - 1\\n"), end="")
a: {b: 1, c: [x, y]} # note
d:
- 1
"""

from __future__ import annotations

from typing import Any

from brackle._brackle import _comments, _relayout
from brackle._data import same_data
from brackle.constructor import load_all
from brackle.error import YAMLError
from brackle.options import EmitOptions

__all__ = ["format", "FormatError"]


class FormatError(YAMLError):
    """The text cannot be laid out anew without changing its data or its
    comments; nothing was written. ``reason`` says which."""

    def __init__(self, name: str, reason: str) -> None:
        super().__init__(f"{name}: {reason}")
        self.reason = reason


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
    text's first line break unless ``line_break`` names another.

    Raises the load error of a text that is not YAML, and
    :class:`FormatError` when the new layout would not load to the same
    data with the same comments in the same order.
    """
    options.setdefault("preserve_quotes", True)
    options.setdefault("line_break", _line_break_of(text))
    emit_options = EmitOptions(**options)
    before = load_all(text, name=name, allow_duplicate_keys=allow_duplicate_keys)
    out = _relayout(text, emit_options, name=name)
    try:
        after = load_all(out, allow_duplicate_keys=True)
    except YAMLError as e:
        why = getattr(e, "problem", None) or str(e).partition("\n")[0]
        raise FormatError(
            name, f"cannot be laid out anew: the new text would not load ({why}); left as it is"
        ) from None
    if not same_data(after, before):
        raise FormatError(name, "cannot be laid out anew without changing its data; left as it is")
    if _comments(out) != _comments(text):
        raise FormatError(name, "cannot be laid out anew without moving a comment; left as it is")
    return out
