"""Bytes become text one way everywhere: ``load``, ``edit`` and the command
line detect UTF-8, UTF-16 and UTF-32 alike, write a file back in the
encoding it came in, and refuse text that holds a NUL instead of losing
what follows it."""

from __future__ import annotations

import subprocess
import sys
from pathlib import Path

import pytest

import brackle

TEXT = "name: web  # the service\nreplicas: 3\n"
DATA = {"name": "web", "replicas": 3}

ENCODINGS = [
    pytest.param(b"", "utf-8", id="utf-8"),
    pytest.param(b"\xef\xbb\xbf", "utf-8", id="utf-8 with mark"),
    pytest.param(b"", "utf-16-le", id="utf-16le"),
    pytest.param(b"", "utf-16-be", id="utf-16be"),
    pytest.param(b"\xff\xfe", "utf-16-le", id="utf-16le with mark"),
    pytest.param(b"\xfe\xff", "utf-16-be", id="utf-16be with mark"),
    pytest.param(b"", "utf-32-le", id="utf-32le"),
    pytest.param(b"", "utf-32-be", id="utf-32be"),
    pytest.param(b"\xff\xfe\x00\x00", "utf-32-le", id="utf-32le with mark"),
    pytest.param(b"\x00\x00\xfe\xff", "utf-32-be", id="utf-32be with mark"),
]


def encoded(mark: bytes, codec: str, text: str = TEXT) -> bytes:
    return mark + text.encode(codec)


def brackle_cli(*args: object) -> subprocess.CompletedProcess:
    return subprocess.run([sys.executable, "-m", "brackle", *map(str, args)], capture_output=True)


@pytest.mark.parametrize("mark, codec", ENCODINGS)
def test_load_reads_every_encoding(mark, codec):
    assert brackle.load(encoded(mark, codec)) == DATA


@pytest.mark.parametrize("mark, codec", ENCODINGS)
def test_edit_writes_back_in_the_encoding_it_read(tmp_path, mark, codec):
    path = tmp_path / "f.yaml"
    path.write_bytes(encoded(mark, codec))
    stream = brackle.edit(path)
    stream[0]["replicas"] = 4
    stream.write()
    assert path.read_bytes() == encoded(mark, codec, TEXT.replace("3", "4"))


@pytest.mark.parametrize("mark, codec", ENCODINGS)
def test_the_command_line_reads_and_rewrites_every_encoding(tmp_path, mark, codec):
    path = tmp_path / "f.yaml"
    path.write_bytes(encoded(mark, codec))
    assert brackle_cli("check", path).returncode == 0
    assert brackle_cli("get", path, ".name").stdout == b"web\n"
    assert brackle_cli("set", path, ".replicas", "4", "-i").returncode == 0
    assert path.read_bytes() == encoded(mark, codec, TEXT.replace("3", "4"))
    assert brackle_cli("fmt", path, "--indent", "4", "-i").returncode == 0
    assert path.read_bytes() == encoded(mark, codec, "name: web # the service\nreplicas: 4\n")


@pytest.mark.parametrize(
    "data, place, problem",
    [
        (b"a: caf\xe9\n", (0, 6), "not valid UTF-8: byte 6 (0xe9)"),
        (b"a: 1\nb: \xff\xfe\n", (1, 3), "not valid UTF-8: byte 8 (0xff)"),
        (b"a\x00:\x00 \x00\x00\xd8\n\x00", (0, 3), "not valid UTF-16LE"),  # a lone surrogate
    ],
)
def test_bytes_that_do_not_decode_raise_a_reader_error_at_their_place(data, place, problem):
    with pytest.raises(brackle.ReaderError) as caught:
        brackle.load(data, name="f.yaml")
    mark = caught.value.problem_mark
    assert (mark.name, mark.line, mark.column) == ("f.yaml", *place)
    assert problem in caught.value.problem


NUL_TEXT = b"a: 1\n\x00b: 2\nc: 3\n"


def test_edit_refuses_text_with_a_nul_at_its_place():
    with pytest.raises(brackle.ReaderError) as caught:
        brackle.edit(NUL_TEXT)
    assert (caught.value.problem_mark.line, caught.value.problem_mark.column) == (1, 0)


@pytest.mark.parametrize(
    "args",
    [
        ["check"],
        ["get", ".c"],
        ["roundtrip"],
        ["fmt", "--indent", "4", "-i"],
        ["fmt", "--check"],
        ["set", ".a", "2", "-i"],
        ["delete", ".a", "-i"],
    ],
    ids=lambda a: " ".join(a),
)
def test_every_command_refuses_a_file_with_a_nul_and_leaves_it(tmp_path: Path, args):
    path = tmp_path / "f.yaml"
    path.write_bytes(NUL_TEXT)
    result = brackle_cli(args[0], path, *args[1:])
    assert result.returncode == 1
    assert result.stderr.decode().startswith(f"{path}:2:1: found a NUL character")
    assert result.stdout == b""
    assert path.read_bytes() == NUL_TEXT
