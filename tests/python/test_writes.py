"""Every write of a user's file (``--in-place`` and ``Stream.write()``)
keeps what the file was: its links, mode, owner and group, and any change
made by someone else meanwhile; it refuses what it cannot do safely and
leaves the file untouched, and leaves no temporary file behind whatever
signal arrives."""

from __future__ import annotations

import os
import signal
import stat
import subprocess
import sys
import textwrap
import threading
from pathlib import Path

import pytest

import brackle

ROOT = os.geteuid() == 0


def cli_set(path: Path) -> None:
    result = subprocess.run(
        [sys.executable, "-m", "brackle", "set", str(path), ".a", "2", "-i"], capture_output=True
    )
    if result.returncode != 0:
        raise RuntimeError(result.stderr.decode())
    assert b"Traceback" not in result.stderr


def stream_write(path: Path) -> None:
    stream = brackle.edit(path)
    stream[0]["a"] = 2
    stream.write()


WRITERS = [pytest.param(cli_set, id="set -i"), pytest.param(stream_write, id="Stream.write")]


def folder_entries(folder: Path) -> list[str]:
    return sorted(p.name for p in folder.iterdir())


@pytest.mark.parametrize("writer", WRITERS)
def test_a_symlink_stays_and_its_target_is_replaced(tmp_path, writer):
    (tmp_path / "real").mkdir()
    target = tmp_path / "real" / "f.yaml"
    target.write_text("a: 1\n")
    link = tmp_path / "link.yaml"
    link.symlink_to(target)
    writer(link)
    assert link.is_symlink() and os.readlink(link) == str(target)
    assert target.read_text() == "a: 2\n"
    assert folder_entries(tmp_path / "real") == ["f.yaml"]


@pytest.mark.parametrize("writer", WRITERS)
def test_mode_owner_and_group_are_kept(tmp_path, writer):
    path = tmp_path / "f.yaml"
    path.write_text("a: 1\n")
    if ROOT:
        os.chown(path, 65534, 65534)  # nobody, nogroup
    os.chmod(path, 0o2640)
    before = path.stat()
    writer(path)
    after = path.stat()
    assert path.read_text() == "a: 2\n"
    assert stat.S_IMODE(after.st_mode) == 0o2640
    assert (after.st_uid, after.st_gid) == (before.st_uid, before.st_gid)
    assert after.st_ino != before.st_ino  # replaced, not rewritten in place


@pytest.mark.parametrize("writer", WRITERS)
@pytest.mark.parametrize(
    "make, why",
    [
        (lambda p: os.link(p, p.with_name("other.yaml")), "has 2 hard links"),
        (lambda p: os.chmod(p, 0o444), "read-only"),
    ],
    ids=["hard link", "read-only"],
)
def test_files_that_cannot_be_replaced_safely_are_refused_untouched(tmp_path, writer, make, why):
    path = tmp_path / "f.yaml"
    path.write_text("a: 1\n")
    make(path)
    with pytest.raises((brackle.FileWriteError, RuntimeError), match=why):
        writer(path)
    assert path.read_text() == "a: 1\n"
    assert not any(".brackle-" in name for name in folder_entries(tmp_path))


@pytest.mark.parametrize(
    "make",
    [lambda p: os.link(p, p.with_name("other.yaml")), lambda p: os.chmod(p, 0o444)],
    ids=["hard link", "read-only"],
)
def test_fmt_in_place_of_a_file_it_would_not_change_needs_no_write(tmp_path, make):
    path = tmp_path / "f.yaml"
    path.write_text("a: 1\n")
    make(path)
    result = subprocess.run(
        [sys.executable, "-m", "brackle", "fmt", str(path), "-i"], capture_output=True
    )
    assert result.returncode == 0, result.stderr.decode()
    assert path.read_text() == "a: 1\n"


@pytest.mark.skipif(ROOT, reason="the superuser may write any folder")
@pytest.mark.parametrize("writer", WRITERS)
def test_a_file_in_a_folder_the_user_cannot_write_is_refused(tmp_path, writer):
    path = tmp_path / "f.yaml"
    path.write_text("a: 1\n")
    os.chmod(tmp_path, 0o555)
    try:
        with pytest.raises((brackle.FileWriteError, RuntimeError), match="no new file can be made"):
            writer(path)
    finally:
        os.chmod(tmp_path, 0o755)
    assert path.read_text() == "a: 1\n"


def test_write_refuses_to_overwrite_a_change_made_since_the_read(tmp_path):
    path = tmp_path / "f.yaml"
    path.write_text("a: 1\nb: 1\n")
    stream = brackle.edit(path)
    stream[0]["a"] = 2
    path.write_text("a: 1\nb: 5\n")  # someone else's edit
    with pytest.raises(brackle.FileChangedError, match="changed on disk"):
        stream.write()
    assert path.read_text() == "a: 1\nb: 5\n"
    path.write_text("a: 1\nb: 1\n")
    stream.write()  # the file is as it was read again
    stream[0]["b"] = 3
    stream.write()  # and the stream's own write is not a change by someone else
    assert path.read_text() == "a: 2\nb: 3\n"


def test_one_stream_used_from_eight_threads_loses_no_edit():
    stream = brackle.edit("start: 0\n")
    root = stream[0]

    def work(thread: int) -> None:
        for i in range(12):
            root[f"t{thread}_{i}"] = i

    threads = [threading.Thread(target=work, args=(t,)) for t in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    data = brackle.load(str(stream))
    assert len(data) == 1 + 8 * 12
    assert all(data[f"t{t}_{i}"] == i for t in range(8) for i in range(12))


def test_two_processes_editing_one_file_lose_no_edit(tmp_path):
    path = tmp_path / "f.yaml"
    path.write_text("start: 0\n")
    script = textwrap.dedent(
        """
        import sys
        from brackle.cli import main
        path, prefix = sys.argv[1:]
        for i in range(50):
            assert main(["set", path, f".{prefix}{i}", str(i), "-i"]) == 0
        """
    )
    workers = [
        subprocess.Popen([sys.executable, "-c", script, str(path), prefix]) for prefix in "ab"
    ]
    assert [w.wait(timeout=120) for w in workers] == [0, 0]
    data = brackle.load(path)
    assert [k for k in data if k != "start"] and all(
        data[f"{p}{i}"] == i for p in "ab" for i in range(50)
    )
    assert folder_entries(tmp_path) == ["f.yaml"]


# A write that a signal interrupts between its first bytes and the rest;
# the temporary file is unnamed, or named where `named` asks.
INTERRUPTED_WRITE = textwrap.dedent(
    """
    import os, signal, sys
    from brackle import _files
    from brackle.cli import main
    path, signum, named = sys.argv[1], int(sys.argv[2]), sys.argv[3] == "named"
    if named:
        del os.O_TMPFILE
    write_all = _files._write_all
    def interrupted(fd, data):
        write_all(fd, data[:3])
        os.kill(os.getpid(), signum)
        write_all(fd, data[3:])
    _files._write_all = interrupted
    sys.exit(main(["set", path, ".a", "2", "-i"]))
    """
)


@pytest.mark.parametrize("named", ["unnamed", "named"])
@pytest.mark.parametrize(
    "signum, status",
    [
        (signal.SIGINT, 130),
        (signal.SIGTERM, 128 + signal.SIGTERM),
        (signal.SIGHUP, 128 + signal.SIGHUP),
        (signal.SIGKILL, -signal.SIGKILL),
    ],
    ids=["SIGINT", "SIGTERM", "SIGHUP", "SIGKILL"],
)
def test_a_signal_during_a_write_leaves_the_file_and_no_temporary(tmp_path, signum, status, named):
    if signum == signal.SIGKILL and named == "named":
        pytest.skip("nothing can remove a named file when the process is killed")
    path = tmp_path / "f.yaml"
    path.write_text("a: 1\n")
    result = subprocess.run(
        [sys.executable, "-c", INTERRUPTED_WRITE, str(path), str(int(signum)), named],
        capture_output=True,
    )
    assert result.returncode == status
    assert b"Traceback" not in result.stderr
    assert path.read_text() == "a: 1\n"
    assert folder_entries(tmp_path) == ["f.yaml"]
