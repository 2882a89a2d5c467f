"""Reading and writing the files the edit API and the command line work on."""

from __future__ import annotations

import os
import tempfile

__all__ = ["write_atomic"]


def write_atomic(path: str | os.PathLike[str], text: str) -> None:
    """Replaces the file at `path` with `text` (UTF-8) in one step.

    The text goes to a temporary file in the same folder, which then takes
    the file's name: a reader sees the old file or the new one, never a part
    of either, and a failed write leaves the old file as it was. The new file
    keeps the old one's permission bits.
    """
    path = os.fspath(path)
    folder = os.path.dirname(os.path.abspath(path))
    try:
        mode = os.stat(path).st_mode & 0o7777
    except FileNotFoundError:
        umask = os.umask(0)
        os.umask(umask)
        mode = 0o666 & ~umask
    fd, temporary = tempfile.mkstemp(dir=folder, prefix=".brackle-", suffix=".tmp")
    try:
        with os.fdopen(fd, "w", encoding="utf-8", newline="") as out:
            out.write(text)
            out.flush()
            os.fsync(out.fileno())
        os.chmod(temporary, mode)
        os.replace(temporary, path)
    except BaseException:
        try:
            os.unlink(temporary)
        except FileNotFoundError:
            pass
        raise
