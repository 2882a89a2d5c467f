"""Hostile data and records end in a result or a clear exception, in bounded
time and memory: each case is the smallest input that once crashed the
process or blew up, run in a process of its own under resource limits, so
that a crash or a blow-up fails the test instead of ending the run."""

from __future__ import annotations

import datetime
import os
import resource
import subprocess
import sys
import tempfile
import textwrap

import pytest

import brackle

# Alias bombs: each level a list of ten aliases of the one before.
# A key of 10^9 scalars in nine levels of aliases: anything that walks it
# once per path instead of once per part never ends.
KEY_BOMB = (
    "a: &a [x, x, x, x, x, x, x, x, x, x]\n"
    + "".join(f"b{i}: &b{i} [{', '.join([f'*b{i - 1}' if i else '*a'] * 10)}]\n" for i in range(8))
    + "? *b7\n: x\n"
)


def run_limited(code: str, seconds: int, megabytes: int) -> tuple[int, str, float, int]:
    """Runs ``code`` in a fresh interpreter with at most ``seconds`` of CPU
    and ``megabytes`` of address space: its exit status, its standard error,
    the CPU seconds it used and the growth of its peak memory in bytes over
    the interpreter with brackle imported."""
    program = (
        textwrap.dedent(
            """
        import resource, sys
        import brackle

        def peak():
            for line in open("/proc/self/status"):
                if line.startswith("VmHWM"):
                    return int(line.split()[1]) * 1024

        base = peak()
        """
        )
        + textwrap.dedent(code)
        + "\nprint(peak() - base, file=sys.stderr)\n"
    )

    def limit() -> None:
        resource.setrlimit(resource.RLIMIT_CPU, (seconds, seconds))
        resource.setrlimit(resource.RLIMIT_AS, (megabytes << 20, megabytes << 20))

    with tempfile.TemporaryFile() as err:
        child = subprocess.Popen([sys.executable, "-c", program], stderr=err, preexec_fn=limit)
        _, status, usage = os.wait4(child.pid, 0)
        err.seek(0)
        text = err.read().decode()
    lines = text.strip().splitlines()
    grown = int(lines[-1]) if lines and lines[-1].isdigit() else -1
    return os.waitstatus_to_exitcode(status), text, usage.ru_utime + usage.ru_stime, grown


# ---- crashes ---------------------------------------------------------------------

CRASHES = [
    (
        "a Tagged that holds itself",
        "t = brackle.Tagged('!x', None); t.value = t; brackle.dump(t)",
        "a Tagged's value cannot be a Tagged: a node has one tag",
    ),
    (
        "30,000 nested Tagged",
        "import functools\n"
        "brackle.dump(functools.reduce(lambda a, _: brackle.Tagged('!x', a), range(30000), 0))",
        "a Tagged's value cannot be a Tagged",
    ),
    (
        "a Tagged in a Tagged loses no tag",
        "brackle.dump(brackle.Tagged('!y', brackle.Tagged('!x', [1])))",
        "(the tags '!y' and '!x')",
    ),
]


@pytest.mark.parametrize("code, message", [c[1:] for c in CRASHES], ids=[c[0] for c in CRASHES])
def test_data_that_once_crashed_dump_raises_value_error(code, message):
    body = textwrap.indent(code, "    ")
    guarded = f"try:\n{body}\nexcept ValueError as e:\n    print(e, file=sys.stderr)\n"
    status, err, _, _ = run_limited(guarded, 10, 1024)
    assert status == 0, err
    assert message in err


# ---- blow-ups ----------------------------------------------------------------------

SHARED_DAG = """
from brackle import Doc, Node
nodes = [Node(Node.SEQUENCE, Node.BLOCK, children=[i + 1, i + 1]) for i in range(24)]
nodes.append(Node(Node.SCALAR, Node.PLAIN, value="x"))
try:
    brackle.emit([Doc(root=0, nodes=nodes, final_line_break=True)], brackle.EmitOptions())
except ValueError as e:
    assert "node 24 has two parents, nodes 23 and 23" in str(e), e
else:
    raise AssertionError("a node with two parents was written")
"""

BLOW_UPS = [
    # (what, code, CPU seconds, peak growth in MB)
    ("emit of 24 nodes each shared by two parents", SHARED_DAG, 1.0, 20),
    ("load of a key built from aliases", f"brackle.load({KEY_BOMB!r})", 1.0, 20),
    ("edit of a key built from aliases", f"brackle.edit({KEY_BOMB!r})", 1.0, 20),
    (
        "fmt of a key built from aliases",
        f"from brackle.cli import main\n"
        f"import tempfile\n"
        f"with tempfile.NamedTemporaryFile('w', suffix='.yaml', delete=False) as f:\n"
        f"    f.write({KEY_BOMB!r})\n"
        f"assert main(['fmt', '--check', f.name]) in (0, 1)\n",
        1.0,
        20,
    ),
    (
        "a million nested sequences are refused",
        "try:\n"
        "    brackle.load('- ' * 1_000_000 + 'x')\n"
        "except brackle.ScannerError as e:\n"
        "    assert 'nested more than 100000 levels' in str(e)\n",
        1.0,
        100,
    ),
    (
        "thirty thousand nested lists dump in flow style",
        "data = x = []\n"
        "for _ in range(30_000):\n"
        "    x.append([]); x = x[0]\n"
        "text = brackle.dump(data, default_flow_style=True)\n"
        "assert len(text) < 200_000, len(text)\n",
        3.0,
        100,
    ),
    (
        "a hundred thousand nested sequences load and emit",
        "text = '- ' * 100_000 + 'x\\n'\n"
        "assert brackle._brackle._roundtrip_in_rust(text, brackle.EmitOptions()) == text\n",
        1.0,
        80,
    ),
    (
        "half a million empty documents round-trip one at a time",
        "text = '---\\n' * 500_000\n"
        "assert brackle._brackle._roundtrip_in_rust(text, brackle.EmitOptions()) == text\n",
        2.0,
        30,
    ),
]


@pytest.mark.parametrize(
    "code, seconds, megabytes", [c[1:] for c in BLOW_UPS], ids=[c[0] for c in BLOW_UPS]
)
def test_inputs_that_once_blew_up_take_bounded_time_and_memory(code, seconds, megabytes):
    status, err, used, grown = run_limited(code, 10, 2048)
    assert status == 0, err
    assert used < seconds, f"{used:.2f} s of CPU"
    assert 0 <= grown < megabytes << 20, f"{grown / 2**20:.1f} MB"


# ---- data that reads back as other data ---------------------------------------------


@pytest.mark.parametrize(
    "value",
    [
        datetime.datetime(
            2001, 12, 14, 21, 59, 43, tzinfo=datetime.timezone(datetime.timedelta(seconds=30))
        ),
        datetime.datetime(2001, 1, 1, tzinfo=datetime.timezone(datetime.timedelta(microseconds=5))),
        datetime.datetime(
            2001, 1, 1, tzinfo=datetime.timezone(datetime.timedelta(hours=-5, minutes=-30))
        ),
        datetime.datetime(2001, 1, 1, 12, 0, 0, 1),
        datetime.date(1, 1, 1),
    ],
    ids=["offset with seconds", "offset with microseconds", "offset in minutes", "naive", "year 1"],
)
def test_every_datetime_dumps_as_a_timestamp_that_loads_back_equal(value):
    assert brackle.load(brackle.dump(value)) == value


def test_a_key_built_from_aliases_is_one_shared_object_with_its_hash_kept():
    key = list(brackle.load(KEY_BOMB))[-1]
    assert isinstance(key, tuple) and key[0] is key[1] and key[0][0] is key[1][1]
    assert hash(key) == hash(tuple(key))
