"""The exceptions that brackle raises, and the source positions they show.

Every error about YAML text derives from :class:`YAMLError`. An error found
in a source points into it with a :class:`Mark`, and its message shows the
line with a caret under the place:

>>> import brackle
>>> try:
...     brackle.parse("a: 1\\nb: [x\\n", name="config.yaml")
... except brackle.ScannerError as e:
...     print(e.problem_mark.name)
config.yaml

A broken invariant inside the engine raises :class:`InternalError`, which
derives from ``BaseException`` so that ordinary ``except Exception``
handlers do not swallow it.
"""

from __future__ import annotations

__all__ = [
    "YAMLError",
    "MarkedYAMLError",
    "ReaderError",
    "ScannerError",
    "EmitterError",
    "RepresenterError",
    "InternalError",
    "EditError",
    "Mark",
    "make_error",
]

# A longer source line is cut around the mark in a message.
_SNIPPET_WIDTH = 75
_LINE_BREAKS = "\r\n"


class Mark:
    """A place in a source text.

    ``line`` and ``column`` count from 0, ``column`` and ``index`` in
    characters; ``str()`` shows them from 1, with the source line and a caret
    under the column.

    >>> print(Mark("<unicode string>", 8, 1, 3, "a: 1\\nb: [x"))
      in "<unicode string>", line 2, column 4:
        b: [x
           ^
    """

    __slots__ = ("name", "index", "line", "column", "buffer")

    def __init__(self, name: str, index: int, line: int, column: int, buffer: str | None) -> None:
        self.name = name
        self.index = index
        self.line = line
        self.column = column
        self.buffer = buffer

    @classmethod
    def at(cls, name: str, text: str, index: int) -> Mark:
        """The mark of character ``index`` of ``text``, lines counted as YAML
        counts them (LF, CR LF and a lone CR each end one).

        >>> Mark.at("f.yaml", "a: 1\\r\\nb: x", 9)
        Mark(name='f.yaml', index=9, line=1, column=3)
        """
        head = text[:index]
        line = head.count("\n") + head.count("\r") - head.count("\r\n")
        start = max(head.rfind("\n"), head.rfind("\r")) + 1
        return cls(name, index, line, index - start, text)

    @classmethod
    def at_line(cls, name: str, text: str, line: int, column: int) -> Mark:
        """The mark of ``column`` on 0-based ``line`` of ``text``, as the
        core counts them: lines end at LF, and a leading byte-order mark is
        not in the text.

        >>> Mark.at_line("f.yaml", "\\ufeffa: 1\\nb: x", 1, 3).index
        8
        """
        if text.startswith("\ufeff"):
            text = text[1:]
        index = 0
        for _ in range(line):
            found = text.find("\n", index)
            if found < 0:
                break
            index = found + 1
        return cls(name, index + column, line, column, text)

    def get_snippet(self, indent: int = 4) -> str | None:
        """The source line of the mark and a caret under it, or ``None``."""
        if self.buffer is None:
            return None
        text = self.buffer
        index = min(self.index, len(text))
        start = index
        while start > 0 and text[start - 1] not in _LINE_BREAKS:
            start -= 1
        end = index
        while end < len(text) and text[end] not in _LINE_BREAKS:
            end += 1
        line = text[start:end]
        caret = index - start
        head = tail = ""
        if len(line) > _SNIPPET_WIDTH:
            half = _SNIPPET_WIDTH // 2
            lo = max(0, caret - half)
            hi = min(len(line), lo + _SNIPPET_WIDTH)
            lo = max(0, hi - _SNIPPET_WIDTH)
            if lo > 0:
                head = "... "
            if hi < len(line):
                tail = " ..."
            line = line[lo:hi]
            caret -= lo
        pad = " " * indent
        return f"{pad}{head}{line}{tail}\n{pad}{' ' * (len(head) + caret)}^"

    def __str__(self) -> str:
        where = f'  in "{self.name}", line {self.line + 1}, column {self.column + 1}'
        snippet = self.get_snippet()
        return where if snippet is None else f"{where}:\n{snippet}"

    def __repr__(self) -> str:
        return (
            f"Mark(name={self.name!r}, index={self.index}, line={self.line}, column={self.column})"
        )

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Mark):
            return NotImplemented
        return (self.name, self.index, self.line, self.column) == (
            other.name,
            other.index,
            other.line,
            other.column,
        )

    __hash__ = None  # type: ignore[assignment]


class YAMLError(Exception):
    """The base class of every error about YAML text."""


class MarkedYAMLError(YAMLError):
    """An error with a problem and, where known, the place of it and its context.

    >>> e = MarkedYAMLError(None, None, "found a character that cannot start any token",
    ...                     Mark("f.yaml", 3, 0, 3, "a: `b`"))
    >>> print(e)
    found a character that cannot start any token
      in "f.yaml", line 1, column 4:
        a: `b`
           ^
    """

    def __init__(
        self,
        context: str | None = None,
        context_mark: Mark | None = None,
        problem: str | None = None,
        problem_mark: Mark | None = None,
        note: str | None = None,
    ) -> None:
        super().__init__(context, context_mark, problem, problem_mark)
        self.context = context
        self.context_mark = context_mark
        self.problem = problem
        self.problem_mark = problem_mark
        self.note = note

    def __str__(self) -> str:
        lines: list[str] = []
        if self.context is not None:
            lines.append(self.context)
        if self.context_mark is not None and (
            self.problem is None
            or self.problem_mark is None
            or self.context_mark != self.problem_mark
        ):
            lines.append(str(self.context_mark))
        if self.problem is not None:
            lines.append(self.problem)
        if self.problem_mark is not None:
            lines.append(str(self.problem_mark))
        if self.note is not None:
            lines.append(self.note)
        return "\n".join(lines)


class ReaderError(MarkedYAMLError):
    """The source is not YAML text at all: bytes that do not decode in the
    encoding they declare, or a NUL character. ``encoding`` names the
    encoding that was tried, ``position`` is the offending byte's offset
    (or the NUL's character index) and ``reason`` says what is wrong."""

    def __init__(
        self, problem: str, problem_mark: Mark, *, encoding: str, position: int, reason: str
    ) -> None:
        super().__init__(None, None, problem, problem_mark)
        self.encoding = encoding
        self.position = position
        self.reason = reason


class ScannerError(MarkedYAMLError):
    """The source is not well-formed YAML: raised by ``parse`` for every
    error the scanner or the parser finds, with a mark at the place."""


class EmitterError(MarkedYAMLError):
    """A document cannot be written as YAML: raised by ``emit``."""


class RepresenterError(YAMLError, TypeError):
    """An object that ``dump`` cannot write: its type is neither one YAML
    holds nor one given in ``represent``. A ``TypeError`` too, as a wrong
    type of argument is."""


class InternalError(BaseException):
    """A broken invariant inside the engine; it means a bug in brackle.

    Derived from ``BaseException`` so that it reaches the top of the
    program instead of being handled as a YAML error.
    """


_ERROR_CLASSES: dict[str, type[MarkedYAMLError]] = {"scanner": ScannerError}


def make_error(
    kind: str, message: str, line: int, col: int, index: int, source: str, name: str
) -> MarkedYAMLError:
    """The exception for an error of ``kind`` found in ``source``.

    ``line`` and ``col`` count from 0 and ``index`` is a character index into
    ``source``; ``name`` names the stream in the message.

    >>> problem = "did not find expected node content"
    >>> e = make_error("scanner", problem, 1, 4, 9, "a: 1\\nb: ]]", "s.yaml")
    >>> type(e).__name__, e.problem_mark.line
    ('ScannerError', 1)
    """
    cls = _ERROR_CLASSES.get(kind, MarkedYAMLError)
    return cls(None, None, message, Mark(name, index, line, col, source))


class EditError(YAMLError):
    """An edit that cannot be written into the text; the text is unchanged."""
