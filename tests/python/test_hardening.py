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
TOO_DEEP = "brackle-core: document nested more than 1000 levels deep to emit"
# Rounds of the memory test: each makes 31 calls into the module, 10 of them
# failing, and every eighth round 9 more (3 failing).
WARM_UP_ROUNDS = 1_000
MEASURED_ROUNDS = 8_000


@pytest.mark.parametrize(
    "text",
    [
        "- " * 1_000_000 + "x\n",  # a million nested block sequences on one line
        "? " * 100_000 + "x\n",  # a key nested a hundred thousand levels deep
        "[" * 255 + "]" * 255 + "\n---\n" + "- " * 1001 + "x\n",
    ],
    ids=["block-1M", "key-100k", "flow-255-then-block-1001"],
)
def test_deep_sources_end_in_a_clear_emitter_error(text):
    with pytest.raises(brackle.EmitterError, match=TOO_DEEP):
        _roundtrip_in_rust(text, OPTS)


def test_deep_records_read_and_refuse_to_emit_without_recursing():
    depth = 100_000
    nodes = [Node(Node.SEQUENCE, Node.BLOCK, children=[i + 1]) for i in range(depth)]
    nodes.append(Node(Node.SCALAR, Node.PLAIN, value="x"))
    doc = Doc(root=0, nodes=nodes, final_line_break=True)
    with pytest.raises(brackle.EmitterError, match=TOO_DEEP):
        brackle.emit([doc], OPTS)


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
        len(d.leading) + len(d.trailing)
        + sum(len(n.before) + len(n.inner) + len(n.after) + (n.eol is not None) for n in d.nodes)
        for d in expected
    )
    bad_source = "a: ["
    with pytest.raises(brackle.ScannerError) as caught:
        brackle.parse(bad_source, name="bad.yaml")
    bad_error = (caught.value.problem, caught.value.problem_mark)
    deep_text = "- " * 1001 + "x"
    deep_records = brackle.parse(deep_text)
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
        fails(lambda: brackle.emit(expected, EmitOptions(line_break="\t")), ValueError, "line_break")

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
        fails(lambda: _roundtrip_in_rust(bad_source, OPTS), Refused, "^ScannerError$", make_error_raises)
        fails(
            lambda: brackle.parse(bad_source),
            TypeError,
            "^exceptions must derive from BaseException$",
            lambda m: m.setitem(brackle.error._ERROR_CLASSES, "scanner", lambda *args: "no exception"),
        )

        # The emitter's error, as it is and with EmitterError raising when it
        # is made; a tree too deep to emit costs a thousand nodes, so these
        # run every eighth round.
        if n % 8 == 0:
            fails(lambda: _roundtrip_in_rust(deep_text, OPTS), brackle.EmitterError, TOO_DEEP)
            raising = refuse(brackle.EmitterError)
            fails(lambda: brackle.emit(deep_records, OPTS), Refused, "^EmitterError$", raising)
            fails(lambda: _roundtrip_in_rust(deep_text, OPTS), Refused, "^EmitterError$", raising)

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
