"""Hostile input through the module: deep nesting ends in a result or a clear
exception, and many calls (failing ones included, down to the package's own
classes raising) leave the process's memory flat and the next call unharmed."""

from __future__ import annotations

import gc
import os
import sys

import pytest

import brackle
import brackle.error
from brackle import Doc, EmitOptions, Node, Trivia
from brackle._brackle import _roundtrip_in_rust

OPTS = EmitOptions()
TOO_DEEP_TO_LOAD = "document nested more than 100000 levels deep"
TOO_DEEP_TO_EMIT = "brackle-core: document nested more than 100000 levels deep to emit"
NO_TAG_FORM = "a tag with neither a suffix nor a full name cannot be written"
# Rounds of the memory test: each makes 31 calls into the module, 10 of them
# failing, and every eighth round 9 more (3 failing).
WARM_UP_ROUNDS = 1_000
MEASURED_ROUNDS = 8_000


@pytest.mark.parametrize(
    "text, deepest",
    [
        ("- " * 100_000 + "x\n", True),  # a hundred thousand block sequences on one line
        ("? " * 100_000 + "x\n", True),  # a key nested as deep
        ("[" * 255 + "]" * 255 + "\n---\n" + "- " * 99_999 + "x\n", True),
        ("- " * 100_001 + "x\n", False),  # one level more
        ("- " * 1_000_000 + "x\n", False),  # refused long before its end
    ],
    ids=["block-100k", "key-100k", "flow-255-then-block", "block-100k-and-one", "block-1M"],
)
def test_documents_nest_up_to_the_limit_and_no_further(text, deepest):
    if deepest:
        assert _roundtrip_in_rust(text, OPTS) == text
        return
    with pytest.raises(brackle.ScannerError, match=TOO_DEEP_TO_LOAD) as caught:
        _roundtrip_in_rust(text, OPTS)
    assert (caught.value.problem_mark.line, caught.value.problem_mark.column) == (0, 200_000)


def test_records_deeper_than_the_limit_are_read_and_refused_without_recursing():
    depth = 100_001
    nodes = [Node(Node.SEQUENCE, Node.BLOCK, children=[i + 1]) for i in range(depth)]
    nodes.append(Node(Node.SCALAR, Node.PLAIN, value="x"))
    doc = Doc(root=0, nodes=nodes, final_line_break=True)
    with pytest.raises(brackle.EmitterError, match=TOO_DEEP_TO_EMIT):
        brackle.emit([doc], OPTS)
    nodes[0] = Node(Node.SCALAR, Node.PLAIN, value="x")  # one level less
    assert (
        brackle.emit([Doc(root=1, nodes=nodes, final_line_break=True)], OPTS).count("-")
        == depth - 1
    )


def test_flow_nesting_up_to_the_limit_round_trips_and_one_more_fails():
    deepest = "[" * 255 + "]" * 255 + "\n"
    assert _roundtrip_in_rust(deepest, OPTS) == deepest
    assert brackle.emit(brackle.parse(deepest), OPTS) == deepest
    with pytest.raises(brackle.ScannerError, match="recursion limit exceeded"):
        brackle.parse("[" * 256 + "]" * 256)


def _rss_kib() -> int:
    with open(f"/proc/{os.getpid()}/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


class Refused(Exception):
    """What the stand-ins below raise; nothing in brackle raises it."""


def _refusing_init(cls, after: int):
    """An ``__init__`` for ``cls`` that lets ``after`` instances be made and
    raises ``Refused`` on the next one."""
    init = cls.__init__
    made = 0

    def refusing_init(self, *args, **kwargs):
        nonlocal made
        if made == after:
            raise Refused(cls.__name__)
        made += 1
        init(self, *args, **kwargs)

    return refusing_init


class _Unreadable:
    """A node record whose every attribute raises ``Refused``."""

    def __getattr__(self, name):
        raise Refused(name)


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc to read memory")
def test_many_calls_including_failing_ones_leave_memory_flat(monkeypatch):
    # Two documents, with comments and a blank line, so that a record class
    # failing part-way leaves built records, lists and documents behind.
    text = "# head\na: &x [1, {b: 'c'}]  # note\n\nd: *x\n--- !t\n- [e]\n"
    expected = brackle.parse(text)
    node_count = sum(len(d.nodes) for d in expected)
    trivia_count = sum(
        len(d.leading)
        + len(d.trailing)
        + sum(len(n.before) + len(n.inner) + len(n.after) + (n.eol is not None) for n in d.nodes)
        for d in expected
    )
    bad_source = "a: ["
    with pytest.raises(brackle.ScannerError) as caught:
        brackle.parse(bad_source, name="bad.yaml")
    bad_error = (caught.value.problem, caught.value.problem_mark)
    untaggable = [
        Doc(root=0, nodes=[Node(0, 0, value="x", tag=("!", "", ""))], final_line_break=True)
    ]
    bad_records = [Doc(root=3, nodes=[])]
    unreadable = [Doc(root=0, nodes=[Node(Node.SEQUENCE, Node.BLOCK, children=[1]), _Unreadable()])]

    def normal_calls() -> None:
        docs = brackle.parse(text)
        assert docs == expected
        assert brackle.emit(docs, OPTS) == text
        assert gc.isenabled()  # parse and emit pause the collector only while they run

    def fails(call, exception, match, patch=None) -> None:
        # The module keeps the classes and make_error it looked up first, so
        # the stand-ins change what those objects do (their __init__, or what
        # make_error builds) rather than the package's attributes.
        with monkeypatch.context() as m:
            if patch is not None:
                patch(m)
            with pytest.raises(exception, match=match) as caught:
                call()
        assert caught.type is exception
        normal_calls()

    def refuse(cls, after=0):
        return lambda m: m.setattr(cls, "__init__", _refusing_init(cls, after))

    def round_of_calls(n: int) -> None:
        normal_calls()
        assert _roundtrip_in_rust(text, OPTS) == text

        with pytest.raises(brackle.ScannerError) as caught:
            brackle.parse(bad_source, name="bad.yaml")
        assert (caught.value.problem, caught.value.problem_mark) == bad_error
        fails(lambda: brackle.emit(bad_records, OPTS), ValueError, "^Doc.root is node 3")
        fails(
            lambda: brackle.emit(expected, EmitOptions(line_break="\t")), ValueError, "line_break"
        )

        # A record class raising at each place in turn: the exception comes
        # through unchanged, and the records built so far are dropped.
        fails(lambda: brackle.parse(text), Refused, "^Node$", refuse(Node, n % node_count))
        fails(lambda: brackle.parse(text), Refused, "^Trivia$", refuse(Trivia, n % trivia_count))
        fails(lambda: brackle.parse(text), Refused, "^Doc$", refuse(Doc, n % len(expected)))
        fails(lambda: brackle.emit(unreadable, OPTS), Refused, "^kind$")

        # make_error raising (the ScannerError it makes raises), or returning
        # what is no exception.
        make_error_raises = refuse(brackle.ScannerError)
        fails(lambda: brackle.parse(bad_source), Refused, "^ScannerError$", make_error_raises)
        fails(
            lambda: _roundtrip_in_rust(bad_source, OPTS),
            Refused,
            "^ScannerError$",
            make_error_raises,
        )
        fails(
            lambda: brackle.parse(bad_source),
            TypeError,
            "^exceptions must derive from BaseException$",
            lambda m: m.setitem(
                brackle.error._ERROR_CLASSES, "scanner", lambda *args: "no exception"
            ),
        )

        # The emitter's error, as it is and with EmitterError raising when it
        # is made.
        fails(lambda: brackle.emit(untaggable, OPTS), brackle.EmitterError, NO_TAG_FORM)
        raising = refuse(brackle.EmitterError)
        fails(lambda: brackle.emit(untaggable, OPTS), Refused, "^EmitterError$", raising)

    for n in range(WARM_UP_ROUNDS):  # warm up caches and allocator pools
        round_of_calls(n)
    gc.collect()
    before = _rss_kib()
    blocks_before = sys.getallocatedblocks()
    for n in range(WARM_UP_ROUNDS, WARM_UP_ROUNDS + MEASURED_ROUNDS):
        round_of_calls(n)
    gc.collect()
    # A Python object left behind once a round shows in the interpreter's
    # count of allocated blocks; the core's own memory shows in the RSS.
    blocks = sys.getallocatedblocks() - blocks_before
    assert blocks < MEASURED_ROUNDS // 3, f"{blocks} more objects after {MEASURED_ROUNDS:,} rounds"
    grown = _rss_kib() - before
    assert grown < 4 * 1024, f"memory grew by {grown} KiB over {MEASURED_ROUNDS:,} rounds of calls"
