"""Turning a source into text: the one place where bytes are decoded.

``load``, ``edit`` and the command line all read through :func:`read_source`.
Bytes are decoded by YAML's encoding detection: a byte-order mark names
UTF-8, UTF-16 or UTF-32 and their byte order; without one, the pattern of
NUL bytes among the first four says which (``n\\0a\\0`` is UTF-16LE). A
mark stays in the text as U+FEFF, where ``parse`` takes it off and ``emit``
writes it back, so that encoding the text again gives the same bytes:

>>> decode("a: 1\\n".encode("utf-16-le"), "f.yaml")
('a: 1\\n', 'utf-16-le')
>>> decode(b"\\xef\\xbb\\xbfa: 1\\n", "f.yaml")
('\\ufeffa: 1\\n', 'utf-8')
"""

from __future__ import annotations

import os
from typing import IO, Any, NamedTuple

from brackle.error import Mark, ReaderError

__all__ = ["Source", "read_source", "decode", "detect_encoding", "refuse_nul"]

# Longest first: a UTF-32LE mark begins with the UTF-16LE one.
_BYTE_ORDER_MARKS = (
    (b"\x00\x00\xfe\xff", "utf-32-be"),
    (b"\xff\xfe\x00\x00", "utf-32-le"),
    (b"\xfe\xff", "utf-16-be"),
    (b"\xff\xfe", "utf-16-le"),
    (b"\xef\xbb\xbf", "utf-8"),
)

_LABELS = {
    "utf-8": "UTF-8",
    "utf-16-le": "UTF-16LE",
    "utf-16-be": "UTF-16BE",
    "utf-32-le": "UTF-32LE",
    "utf-32-be": "UTF-32BE",
}


class Source(NamedTuple):
    """A source read as text: the text, the name it goes by in errors, and
    the encoding its bytes were in (UTF-8 for text given as ``str``)."""

    text: str
    name: str | None
    encoding: str


def detect_encoding(data: bytes) -> str:
    """The codec of a YAML byte stream: its byte-order mark's, or, without
    one, the one its leading NUL bytes show; UTF-8 otherwise.

    >>> [detect_encoding(b) for b in (b"\\0\\0\\0a", b"a\\0\\0\\0", b"\\0a", b"a\\0", b"a: 1")]
    ['utf-32-be', 'utf-32-le', 'utf-16-be', 'utf-16-le', 'utf-8']
    """
    for mark, codec in _BYTE_ORDER_MARKS:
        if data.startswith(mark):
            return codec
    head = data[:4]
    if len(head) == 4 and head[:3] == b"\0\0\0":
        return "utf-32-be"
    if len(head) == 4 and head[1:] == b"\0\0\0":
        return "utf-32-le"
    if len(head) >= 2 and head[0] == 0:
        return "utf-16-be"
    if len(head) >= 2 and head[1] == 0:
        return "utf-16-le"
    return "utf-8"


def decode(data: bytes, name: str | None) -> tuple[str, str]:
    """``data`` as text, and its codec; bytes that do not decode raise
    :class:`ReaderError` at the first of them."""
    codec = detect_encoding(data)
    try:
        return data.decode(codec), codec
    except UnicodeDecodeError as e:
        readable = data[: e.start].decode(codec, errors="replace")
        shown = readable + data[e.start :].decode(codec, errors="replace")
        label = _LABELS[codec]
        problem = (
            f"the text is not valid {label}: byte {e.start} (0x{data[e.start]:02x}): {e.reason}"
        )
        mark = Mark.at(name or "<byte string>", shown, len(readable))
        raise ReaderError(
            problem, mark, encoding=label, position=e.start, reason=e.reason
        ) from None


def refuse_nul(text: str, name: str | None) -> None:
    """Raises :class:`ReaderError` at the first NUL character of ``text``.

    A NUL cannot stand in YAML text, and the scanner takes one for the end
    of the stream; whatever followed it would be lost by a command that
    writes the text back.
    """
    at = text.find("\0")
    if at >= 0:
        raise ReaderError(
            "found a NUL character (#x0000), which YAML text cannot hold",
            Mark.at(name or "<unicode string>", text, at),
            encoding="",
            position=at,
            reason="NUL character",
        )


def read_source(source: str | bytes | IO[Any] | os.PathLike[str], name: str | None) -> Source:
    """The text of ``source`` and its name.

    ``source`` is text, bytes (see :func:`decode`), a path or a readable
    file object; a path or file names the text by its own name unless
    ``name`` is given.
    """
    if isinstance(source, os.PathLike):
        path = os.fspath(source)
        with open(path, "rb") as f:
            source = f.read()
        name = path if name is None else name
    elif not isinstance(source, (str, bytes, bytearray, memoryview)):
        if not hasattr(source, "read"):
            raise TypeError(f"expected text, bytes, a path or a file, not {type(source).__name__}")
        if name is None:
            found = getattr(source, "name", None)
            name = found if isinstance(found, str) else None
        source = source.read()
        if not isinstance(source, (str, bytes, bytearray, memoryview)):
            raise TypeError(f"the file's read() gave {type(source).__name__}, not text or bytes")
    if isinstance(source, str):
        return Source(source, name, "utf-8")
    text, codec = decode(bytes(source), name)
    return Source(text, name, codec)
