"""Hostile input through the module: deep nesting ends in a result or a clear
exception, and many calls (failing ones included) leave the process's memory
flat."""

from __future__ import annotations

import gc
import os

import pytest

import brackle
from brackle import Doc, EmitOptions, Node
from brackle._brackle import _roundtrip_in_rust

OPTS = EmitOptions()
TOO_DEEP = "brackle-core: document nested more than 1000 levels deep to emit"


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


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc to read memory")
def test_many_calls_including_failing_ones_leave_memory_flat():
    text = "a: &x [1, {b: 'c'}]  # note\nd: *x\n"
    bad_records = [Doc(root=3, nodes=[])]

    def round_of_calls() -> None:
        docs = brackle.parse(text)
        assert brackle.emit(docs, OPTS) == text
        assert _roundtrip_in_rust(text, OPTS) == text
        for call in (
            lambda: brackle.parse("a: [", name="bad.yaml"),
            lambda: brackle.emit(bad_records, OPTS),
            lambda: brackle.emit(docs, EmitOptions(line_break="\t")),
            lambda: _roundtrip_in_rust("- " * 1001 + "x", OPTS),
        ):
            with pytest.raises((brackle.YAMLError, ValueError)):
                call()

    for _ in range(2_000):  # warm up caches and allocator pools
        round_of_calls()
    gc.collect()
    before = _rss_kib()
    for _ in range(20_000):
        round_of_calls()
    gc.collect()
    grown = _rss_kib() - before
    assert grown < 4 * 1024, f"memory grew by {grown} KiB over 20,000 rounds of calls"
