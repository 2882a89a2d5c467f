"""``iter_load`` reads a stream one document at a time: each document's data
comes when the iteration reaches it, errors come after the documents before
them, and a stream of any length takes the memory of its text and one
document."""

from __future__ import annotations

import os
import subprocess
import sys

import pytest

import brackle
from brackle import ReaderError, ScannerError
from test_hostile import run_limited


@pytest.mark.parametrize(
    "source, expected",
    [
        ("", []),
        ("# only a comment\n\n", []),
        ("---\n", [None]),
        ("--- 1\n--- [a]\n...\n", [1, ["a"]]),
        (b"--- 1\n--- [a]\n", [1, ["a"]]),
        (b"\xef\xbb\xbfa: \xc3\xa9\n", [{"a": "é"}]),
        ("a: é\n".encode("utf-16"), [{"a": "é"}]),
        ("%YAML 1.1\n--- [yes, 0777]\n--- [yes]\n", [[True, 511], ["yes"]]),
    ],
)
def test_iter_load_gives_what_load_all_gives(source, expected):
    assert list(brackle.iter_load(source)) == expected
    assert brackle.load_all(source) == expected


def test_repeated_short_texts_of_a_stream_are_one_str():
    # Keys repeat from entry to entry and document to document: each short
    # one is made once per stream, so the data holds it once.
    short, long = "name", "a key longer than any text worth sharing across a stream"
    text = f"{short}: x\n{long}: y\n---\n- {short}: z\n  {long}: w\n"
    first, second = brackle.load_all(text)
    assert list(first) == [short, long] and list(second[0]) == [short, long]
    assert list(first)[0] is list(second[0])[0]
    assert first["name"] == "x" and second[0][long] == "w"


def test_documents_before_an_error_come_before_it():
    documents = brackle.iter_load("--- 1\n--- 2\n--- [\n")
    assert next(documents) == 1
    assert next(documents) == 2
    with pytest.raises(ScannerError) as caught:
        next(documents)
    assert caught.value.problem_mark.line == 3
    # the iteration is over after the error
    assert list(documents) == []


def test_a_construct_error_names_its_place_in_bytes_input():
    documents = brackle.iter_load(b"--- a\n--- {x: 1, x: 2}\n", name="f.yaml")
    assert next(documents) == "a"
    with pytest.raises(brackle.DuplicateKeyError) as caught:
        next(documents)
    assert (caught.value.problem_mark.name, caught.value.problem_mark.line) == ("f.yaml", 1)


@pytest.mark.parametrize(
    "data, position",
    [
        (b"a: \xff\n", 3),
        (b"a: \xc0\x80\n", 3),  # an overlong form
        (b"a: \xed\xa0\x80\n", 3),  # a surrogate
        (b"a: \xf4\x90\x80\x80\n", 3),  # past U+10FFFF
        (b"abcdefghij: \xe2\x82\n", 12),  # cut short at the end
    ],
)
def test_bytes_that_are_not_utf8_raise_reader_error_at_the_first_bad_byte(data, position):
    with pytest.raises(ReaderError) as caught:
        brackle.iter_load(data)
    assert caught.value.position == position


def test_a_path_is_read_as_bytes(tmp_path):
    path = tmp_path / "s.yaml"
    path.write_bytes(b"--- {a: 1}\n--- [b]\n")
    assert list(brackle.iter_load(path)) == [{"a": 1}, ["b"]]
    path.write_bytes(b"--- [\n")
    with pytest.raises(ScannerError) as caught:
        list(brackle.iter_load(path))
    assert caught.value.problem_mark.name == str(path)


def test_check_reads_each_document_once(tmp_path):
    path = tmp_path / "s.yaml"
    path.write_bytes(b"--- 1\n" * 1000 + b"--- [\n")
    run = subprocess.run(
        [sys.executable, "-m", "brackle", "check", str(path)], capture_output=True, text=True
    )
    assert run.returncode == 1
    assert f"{path}:1002:1:" in run.stderr
    assert "Traceback" not in run.stderr


MB = 1 << 20
SIZE = 200 * MB


def test_a_200_mb_stream_grows_memory_by_at_most_twice_its_size(tmp_path):
    path = tmp_path / "big.yaml"
    document = b"---\nname: item\nport: 8080\ntags: [a, b]\nnote: 'it is a note'\n"
    with open(path, "wb") as f:
        f.write(document * (SIZE // len(document)))
    size = os.path.getsize(path)
    code = f"""
    import pathlib
    count = sum(1 for _ in brackle.iter_load(pathlib.Path({str(path)!r})))
    assert count == {size // len(document)}, count
    """
    # The address-space cap stops a regression before it swamps the machine.
    status, err, _, grown = run_limited(code, 120, 4 * size // MB + 512)
    assert status == 0, err
    assert 0 < grown <= 2 * size, f"grew {grown / MB:.0f} MB for {size / MB:.0f} MB of text"
