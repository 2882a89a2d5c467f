"""Writing the files that the edit API and the command line change.

A file is replaced, never rewritten in place: the new bytes go to a file of
their own in the same folder, which then takes the old one's name in one
step, so that a reader sees the old file or the new one and a failed write
leaves the old one as it was. What the replacement could lose, it keeps or
refuses:

- a symbolic link is followed, and the file it points to is replaced;
- the new file gets the old one's mode, owner, group and extended
  attributes; when the owner cannot be kept the file is refused;
- a file with several hard links is refused, since a new file would split
  them, and so is a read-only file or anything but a regular file;
- the new bytes are written into an unnamed file (``O_TMPFILE``), which
  the system removes by itself if the process dies, and get a name only
  for the instant before the rename. Where the file system cannot make
  unnamed files, a named temporary file is used and removed on any error,
  and :func:`remove_temporaries` removes those still open when a signal
  ends the process.

A read-modify-write holds an advisory lock (``flock``) on the file from the
read to the rename (:func:`locked`), so two brackle processes editing one
file take turns and neither loses the other's change.
"""

from __future__ import annotations

import errno
import fcntl
import os
import secrets
import stat
import threading
from collections.abc import Iterator
from contextlib import contextmanager

__all__ = [
    "FileWriteError",
    "FileChangedError",
    "LockedFile",
    "locked",
    "write_file",
    "remove_temporaries",
]


class FileWriteError(OSError):
    """A file that brackle will not replace, because the replacement would
    lose something the message names; the file is left untouched."""

    def __init__(self, path: str, why: str) -> None:
        message = f"{why}; left untouched"
        super().__init__(message)
        self.filename = path
        self.strerror = message

    def __str__(self) -> str:
        return f"{self.filename}: {self.strerror}"


class FileChangedError(FileWriteError):
    """The file changed on disk after it was read: writing would overwrite
    that change."""


# Named temporary files being written, removed by remove_temporaries().
# Reentrant: a signal handler may run it while its own thread holds the lock.
_temporaries: set[str] = set()
_temporaries_lock = threading.RLock()


def remove_temporaries() -> None:
    """Removes the named temporary files of writes still under way: for a
    handler of a signal that ends the process."""
    with _temporaries_lock:
        names = list(_temporaries)
        _temporaries.clear()
    for name in names:
        try:
            os.unlink(name)
        except OSError:
            pass


class LockedFile:
    """An existing file, opened and locked for a read-modify-write: ``data``
    is what it held when the lock was taken, ``path`` the file itself
    (symbolic links followed)."""

    def __init__(self, path: str, fd: int, status: os.stat_result, data: bytes) -> None:
        self.path = path
        self.data = data
        self._fd = fd
        self._status = status

    def replace(self, data: bytes) -> None:
        """Replaces the file with ``data``. Refuses when something changed the
        file since it was read (a writer that takes no lock)."""
        try:
            now = os.stat(self.path)
        except FileNotFoundError:
            raise FileChangedError(
                self.path, "the file was removed while it was being changed"
            ) from None
        if _identity(now) != _identity(self._status):
            raise FileChangedError(self.path, "the file changed on disk while it was being changed")
        _check_replaceable(self.path, self._status)
        _replace(self.path, data, self._status)


def _identity(s: os.stat_result) -> tuple[int, ...]:
    return (s.st_dev, s.st_ino, s.st_size, s.st_mtime_ns, s.st_ctime_ns)


@contextmanager
def locked(path: str | os.PathLike[str]) -> Iterator[LockedFile]:
    """Opens the file at ``path`` (links followed) with an exclusive
    advisory lock and reads it; the lock holds until the block ends, past a
    :meth:`LockedFile.replace`. Raises ``FileNotFoundError`` when there is no
    file, :class:`FileWriteError` when it cannot be replaced safely."""
    target = os.path.realpath(path)
    while True:
        # O_NONBLOCK: a FIFO must not hang the open; it is refused below.
        fd = os.open(target, os.O_RDONLY | os.O_CLOEXEC | os.O_NONBLOCK)
        try:
            status = os.fstat(fd)
            if not stat.S_ISREG(status.st_mode):
                raise FileWriteError(target, "not a regular file")
            fcntl.flock(fd, fcntl.LOCK_EX)
            try:
                current = os.stat(target)
            except FileNotFoundError:
                current = None
            # Whoever held the lock may have replaced the file meanwhile:
            # then the lock is on the old file, and the new one is opened.
            if current is not None and (current.st_dev, current.st_ino) == (
                status.st_dev,
                status.st_ino,
            ):
                status = os.fstat(fd)
                data = _read_all(fd)
                break
        except BaseException:
            os.close(fd)
            raise
        os.close(fd)
    try:
        yield LockedFile(target, fd, status, data)
    finally:
        os.close(fd)


def write_file(path: str | os.PathLike[str], data: bytes) -> None:
    """Writes ``data`` to the file at ``path``: a new file, or the
    replacement of an existing one (under the lock of :func:`locked`)."""
    try:
        with locked(path) as f:
            f.replace(data)
    except FileNotFoundError:
        target = os.path.realpath(path)
        if os.path.lexists(target):
            raise
        _replace(target, data, None)


def _read_all(fd: int) -> bytes:
    chunks = []
    while chunk := os.read(fd, 1 << 20):
        chunks.append(chunk)
    return b"".join(chunks)


def _check_replaceable(path: str, status: os.stat_result) -> None:
    """Refuses a file that a new file in its place would not stand for."""
    if status.st_nlink > 1:
        raise FileWriteError(
            path,
            f"the file has {status.st_nlink} hard links, which a new file would split "
            "(the other names would keep the old text)",
        )
    if not status.st_mode & 0o222 or not os.access(path, os.W_OK):
        raise FileWriteError(path, "the file is read-only")


def _replace(path: str, data: bytes, status: os.stat_result | None) -> None:
    """Writes ``data`` to a new file in ``path``'s folder, gives it what the
    old file had (``status``), and renames it over ``path``."""
    folder, base = os.path.split(path)
    dir_fd = os.open(folder, os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
    try:
        try:
            temporary = _written(dir_fd, folder, base, data, status, unnamed=True)
        except _NoUnnamedFiles:
            temporary = _written(dir_fd, folder, base, data, status, unnamed=False)
        try:
            os.replace(temporary, base, src_dir_fd=dir_fd, dst_dir_fd=dir_fd)
        except BaseException:
            _forget(os.path.join(folder, temporary), unlink=True)
            raise
        _forget(os.path.join(folder, temporary), unlink=False)
        os.fsync(dir_fd)
    finally:
        os.close(dir_fd)


class _NoUnnamedFiles(Exception):
    """The file system cannot make unnamed files, or name them afterwards."""


def _written(
    dir_fd: int, folder: str, base: str, data: bytes, status: os.stat_result | None, unnamed: bool
) -> str:
    """A new file in the folder holding ``data``, with the old file's
    attributes, synced to disk: its temporary name, which
    :func:`remove_temporaries` knows until the rename."""
    name = None
    # A new file takes the usual mode less the umask; a replacement stays
    # private until it has the old file's mode.
    mode = 0o666 if status is None else 0o600
    try:
        if unnamed:
            fd = _unnamed_file(dir_fd, mode)
        else:
            fd, name = _named_temporary(dir_fd, folder, base, mode)
    except PermissionError as e:
        raise FileWriteError(
            os.path.join(folder, base), f"no new file can be made in its folder ({e.strerror})"
        ) from None
    try:
        _write_all(fd, data)
        if status is not None:
            _keep_attributes(os.path.join(folder, base), fd, status)
        os.fsync(fd)
        if name is None:
            name = _link_unnamed(fd, dir_fd, folder, base)
        return name
    except BaseException:
        if name is not None:
            _forget(os.path.join(folder, name), unlink=True)
        raise
    finally:
        os.close(fd)


def _keep_attributes(path: str, fd: int, status: os.stat_result) -> None:
    mine = os.fstat(fd)
    if (mine.st_uid, mine.st_gid) != (status.st_uid, status.st_gid):
        try:
            os.fchown(fd, status.st_uid, status.st_gid)
        except PermissionError:
            raise FileWriteError(
                path,
                f"the file belongs to user {status.st_uid} and group {status.st_gid}, "
                "which a new file written by this user cannot keep",
            ) from None
    # After the owner: a change of owner clears the set-user and group bits.
    os.fchmod(fd, stat.S_IMODE(status.st_mode))
    _copy_extended_attributes(path, fd)


def _copy_extended_attributes(path: str, fd: int) -> None:
    try:
        names = os.listxattr(path)
    except OSError as e:
        if e.errno in (errno.ENOTSUP, errno.ENOSYS):
            return
        raise
    for name in names:
        try:
            os.setxattr(fd, name, os.getxattr(path, name))
        except OSError as e:
            raise FileWriteError(
                path, f"its extended attribute {name} cannot be given to a new file ({e.strerror})"
            ) from None


def _unnamed_file(dir_fd: int, mode: int) -> int:
    # Without /proc an unnamed file could not be given a name afterwards.
    if not hasattr(os, "O_TMPFILE") or not os.path.isdir("/proc/self/fd"):
        raise _NoUnnamedFiles
    try:
        return os.open(".", os.O_WRONLY | os.O_CLOEXEC | os.O_TMPFILE, mode, dir_fd=dir_fd)
    except OSError as e:
        if e.errno in (errno.EOPNOTSUPP, errno.EISDIR, errno.EINVAL):
            raise _NoUnnamedFiles from None
        raise


def _named_temporary(dir_fd: int, folder: str, base: str, mode: int) -> tuple[int, str]:
    while True:
        name = _temporary_name(base)
        try:
            fd = os.open(
                name, os.O_WRONLY | os.O_CLOEXEC | os.O_CREAT | os.O_EXCL, mode, dir_fd=dir_fd
            )
        except FileExistsError:
            continue
        _remember(os.path.join(folder, name))
        return fd, name


def _link_unnamed(fd: int, dir_fd: int, folder: str, base: str) -> str:
    """Gives the unnamed file ``fd`` a temporary name in the folder. A
    source directory makes ``os.link`` call ``linkat`` with
    ``AT_SYMLINK_FOLLOW``, which links the file that ``/proc/self/fd/N``
    stands for rather than that link itself."""
    while True:
        name = _temporary_name(base)
        try:
            os.link(f"/proc/self/fd/{fd}", name, src_dir_fd=dir_fd, dst_dir_fd=dir_fd)
        except FileExistsError:
            continue
        except OSError as e:
            if e.errno in (errno.ENOENT, errno.EXDEV, errno.EPERM, errno.EOPNOTSUPP):
                raise _NoUnnamedFiles from None  # no /proc, or a file system that will not
            raise
        _remember(os.path.join(folder, name))
        return name


def _temporary_name(base: str) -> str:
    return f".{base}.brackle-{secrets.token_hex(6)}.tmp"


def _remember(name: str) -> None:
    with _temporaries_lock:
        _temporaries.add(name)


def _forget(name: str, unlink: bool) -> None:
    with _temporaries_lock:
        _temporaries.discard(name)
    if unlink:
        try:
            os.unlink(name)
        except FileNotFoundError:
            pass


def _write_all(fd: int, data: bytes) -> None:
    view = memoryview(data)
    while view:
        view = view[os.write(fd, view) :]
