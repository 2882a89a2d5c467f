"""The Python-side benchmarks, every baseline measured in the same run.

- ``parse`` to records against PyYAML's ``load_all`` with its C safe loader
  (``CSafeLoader``, which builds application tags as what they tag);
- ``load_all`` to plain data against the same;
- ``dump_all`` of the data PyYAML's C safe loader builds from the same streams
  against PyYAML's ``dump_all`` with its C dumper (``CSafeDumper``; keys
  unsorted and non-ASCII text unescaped, as brackle writes them);
- ``emit(parse(text))`` against ruamel.yaml's round trip (load and dump);
- the core's round trip (``_roundtrip_in_rust``) against rapidyaml's parse
  and emit, on the documents rapidyaml reads (it keeps no comments and does
  not give the text back, so it does less work than a round trip);
- two threads running ``_roundtrip_in_rust``, ``parse`` and ``load_all``
  against one, which shows how much of each runs without the interpreter
  lock (the core's work does; building Python objects cannot);
- editing: opening a stream with ``brackle.edit`` and one change in it,
  against ``brackle.load_all`` of the same text, with the peak memory of a
  change in a large mapping against that of loading it (each in a fresh
  process);
- memory: the growth of a fresh process's peak (VmHWM) across a round trip
  and across ``load_all`` (against PyYAML's), on the generated stream, on
  many empty documents and on deeply nested sequences.

Usage: python bench/python_bench.py GEN [--reps N]
GEN is the brackle-gen binary that makes the generated streams.
"""

from __future__ import annotations

import argparse
import io
import os
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

import brackle
import brackle.compat as compat
from brackle import _brackle

ROOT = Path(__file__).resolve().parent.parent


def best_of(reps: int, run) -> float:
    """The best time of `reps` runs of `run()`, in seconds."""
    best = float("inf")
    for _ in range(reps):
        start = time.perf_counter()
        run()
        best = min(best, time.perf_counter() - start)
    return best


def generated(gen: str, mb: float) -> str:
    out = subprocess.run([gen, str(mb)], check=True, capture_output=True).stdout
    return out.decode("utf-8")


def safe_loader():
    """PyYAML's C safe loader, taking the application tags of the generated
    streams (`!custom`) as the plain collection or string they tag."""
    import yaml

    class SafeLoader(yaml.CSafeLoader):
        pass

    def untagged(loader, _suffix, node):
        if isinstance(node, yaml.MappingNode):
            return loader.construct_mapping(node)
        if isinstance(node, yaml.SequenceNode):
            return loader.construct_sequence(node)
        return loader.construct_scalar(node)

    SafeLoader.add_multi_constructor("!", untagged)
    SafeLoader.add_multi_constructor("tag:", untagged)
    return SafeLoader


def documents(text: str) -> list[str]:
    """`text` cut into its documents, which put back together give `text`.

    A document begins at a `---` line once the one before holds more than
    comments and directives, and ends with its `...` line; what follows a
    `...` (comments, directives) goes with the next document."""
    docs: list[str] = []
    lines: list[str] = []
    started = False
    for line in text.splitlines(keepends=True):
        bare = line.rstrip("\r\n")
        marker = bare == "---" or bare.startswith(("--- ", "---\t"))
        if marker and started:
            docs.append("".join(lines))
            lines, started = [], False
        lines.append(line)
        if bare == "..." or bare.startswith(("... ", "...\t")):
            docs.append("".join(lines))
            lines, started = [], False
        elif marker or not (
            bare.strip() == "" or bare.lstrip().startswith("#") or bare.startswith("%")
        ):
            started = True
    if lines:
        docs.append("".join(lines))
    return docs


def ryml_reads(ryml, data: bytes) -> tuple[bool, str]:
    """Whether rapidyaml parses `data`, and the error it writes if not.

    rapidyaml writes its parse errors straight to file descriptor 2; they
    are caught in a temporary file so that they neither clutter the tables
    nor get lost."""
    with tempfile.TemporaryFile() as err:
        sys.stderr.flush()
        saved = os.dup(2)
        os.dup2(err.fileno(), 2)
        try:
            ryml.parse_in_arena(data)
            ok = True
        except Exception:  # rapidyaml's exception classes differ between releases
            ok = False
        finally:
            os.dup2(saved, 2)
            os.close(saved)
        err.seek(0)
        lines = err.read().decode("utf-8", "replace").splitlines()
    error = next((line.split("ERROR:", 1)[1].strip() for line in lines if "ERROR:" in line), "")
    return ok, error or "(no message)"


def ryml_streams(ryml, texts: list[str]) -> tuple[list[str], int, int, dict[str, int]]:
    """The documents of `texts` that rapidyaml reads, as few streams as it
    reads whole.

    A stream it rejects is halved until each half is read or is one
    document, which is left out. Returns the streams, the documents kept,
    the documents in all, and for each error a rejected document got, how
    many got it."""
    streams: list[str] = []
    rejected: dict[str, int] = {}
    kept = 0

    def split(docs: list[str]) -> None:
        nonlocal kept
        ok, error = ryml_reads(ryml, "".join(docs).encode("utf-8"))
        if ok:
            streams.append("".join(docs))
            kept += len(docs)
        elif len(docs) == 1:
            rejected[error] = rejected.get(error, 0) + 1
        else:
            split(docs[: len(docs) // 2])
            split(docs[len(docs) // 2 :])

    total = 0
    for text in texts:
        docs = documents(text)
        total += len(docs)
        split(docs)
    return streams, kept, total, rejected


def examples() -> list[str]:
    return [
        p.read_text(encoding="utf-8")
        for p in sorted((ROOT / "examples").iterdir())
        if p.suffix in (".yaml", ".yml")
    ]


NAME_WIDTH = 42


def row(name: str, size: int, ours: float, theirs: float, target: str) -> None:
    mb = size / 1e6
    print(
        f"{name:<{NAME_WIDTH}} {mb:8.3f} {mb / ours:12.2f} {mb / theirs:12.2f} "
        f"{theirs / ours:8.2f}   {target}"
    )


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("gen")
    parser.add_argument("--reps", type=int, default=3)
    args = parser.parse_args()

    import yaml
    from ruamel.yaml import YAML

    try:
        import ryml
    except ImportError:
        ryml = None

    if not getattr(yaml, "__with_libyaml__", False):
        print("PyYAML has no C loader here: the parse baseline would be unfair", file=sys.stderr)
        return 1
    Loader = safe_loader()
    opts = brackle.EmitOptions()
    # Each input is one or more files, run one by one and timed as a whole.
    inputs = {
        "generated 1 MB": [generated(args.gen, 1)],
        "generated 10 MB": [generated(args.gen, 10)],
        "examples": examples(),
    }
    for name, texts in inputs.items():
        if any(brackle.emit(brackle.parse(t), opts) != t for t in texts):
            print(f"{name}: emit(parse(text)) differs from the input", file=sys.stderr)
            return 1

    def size(texts: list[str]) -> int:
        return sum(len(t.encode("utf-8")) for t in texts)

    rapidyaml = f"rapidyaml {ryml.__version__}" if ryml else "rapidyaml (not installed)"
    print(
        f"== Python: brackle vs PyYAML {yaml.__version__} (CSafeLoader), ruamel.yaml "
        f"(round trip) and {rapidyaml} (parse + emit), best of {args.reps}"
    )
    print(
        f"{'run':<{NAME_WIDTH}} {'size MB':>8} {'brackle MB/s':>12} {'base MB/s':>12} "
        f"{'ratio':>8}   target"
    )
    for name, texts in inputs.items():
        ours = best_of(args.reps, lambda: [brackle.parse(t) for t in texts])
        theirs = best_of(args.reps, lambda: [list(yaml.load_all(t, Loader=Loader)) for t in texts])
        row(f"parse, {name}", size(texts), ours, theirs, ">= 3x CSafeLoader load_all")
        ours = best_of(args.reps, lambda: [brackle.load_all(t) for t in texts])
        row(f"load_all, {name}", size(texts), ours, theirs, ">= 4x PyYAML load_all")

    for name in ("generated 1 MB", "generated 10 MB"):
        data = [list(yaml.load_all(t, Loader=Loader)) for t in inputs[name]]
        dumped = [brackle.dump_all(d) for d in data]
        if [list(yaml.load_all(t, Loader=Loader)) for t in dumped] != data:
            print(f"{name}: dump_all does not read back as its data", file=sys.stderr)
            return 1
        ours = best_of(args.reps, lambda: [brackle.dump_all(d) for d in data])
        theirs = best_of(
            args.reps,
            lambda: [
                yaml.dump_all(d, Dumper=yaml.CSafeDumper, sort_keys=False, allow_unicode=True)
                for d in data
            ],
        )
        row(f"dump_all, {name}", size(dumped), ours, theirs, ">= 4x PyYAML dump_all")

    # brackle.compat against PyYAML's C safe classes, both with PyYAML's
    # defaults, on the generated data as PyYAML's safe dumper writes it
    # (untagged, so that the safe loaders take it).
    for name in ("generated 1 MB", "generated 10 MB"):
        data = [list(yaml.load_all(t, Loader=Loader)) for t in inputs[name]]
        texts = [yaml.dump_all(d, Dumper=yaml.CSafeDumper) for d in data]
        if [list(compat.safe_load_all(t)) for t in texts] != data:
            print(f"{name}: compat.safe_load_all differs from PyYAML", file=sys.stderr)
            return 1
        ours = best_of(args.reps, lambda: [list(compat.safe_load_all(t)) for t in texts])
        theirs = best_of(
            args.reps, lambda: [list(yaml.load_all(t, Loader=yaml.CSafeLoader)) for t in texts]
        )
        row(f"compat.safe_load_all, {name}", size(texts), ours, theirs, ">= 4x CSafeLoader")
        ours = best_of(args.reps, lambda: [compat.safe_dump_all(d) for d in data])
        theirs = best_of(
            args.reps, lambda: [yaml.dump_all(d, Dumper=yaml.CSafeDumper) for d in data]
        )
        row(f"compat.safe_dump_all, {name}", size(texts), ours, theirs, ">= 4x CSafeDumper")

    rt = YAML(typ="rt")

    def ruamel_round_trip(text: str) -> None:
        out = io.StringIO()
        rt.dump_all(list(rt.load_all(text)), out)

    for name in ("generated 1 MB", "examples"):
        texts = inputs[name]
        ours = best_of(args.reps, lambda: [brackle.emit(brackle.parse(t), opts) for t in texts])
        theirs = best_of(1, lambda: [ruamel_round_trip(t) for t in texts])
        row(f"emit(parse()), {name}", size(texts), ours, theirs, ">= 50x ruamel round trip")
        # The formatter lays every node out anew and checks data and comments;
        # its cost is shown against a plain load of the same text.
        ours = best_of(
            args.reps, lambda: [brackle.format(t, allow_duplicate_keys=True) for t in texts]
        )
        theirs = best_of(args.reps, lambda: [brackle.load_all(t) for t in texts])
        row(f"format, {name}", size(texts), ours, theirs, "report (base: brackle.load_all)")

    if ryml is None:
        print("rapidyaml is not installed: round trip vs rapidyaml skipped")
    else:
        # rapidyaml does not read every generated stream whole; each input is
        # cut into its documents and timed on those it reads, joined into as
        # few streams as it reads. Both sides take the same streams, rapidyaml
        # as UTF-8 bytes made once outside the timing.
        notes = []
        for name, texts in inputs.items():
            streams, kept, total, rejected = ryml_streams(ryml, texts)
            if any(_brackle._roundtrip_in_rust(t, opts) != t for t in streams):
                print(f"{name}: the round trip differs from the input", file=sys.stderr)
                return 1
            data = [t.encode("utf-8") for t in streams]
            ours = best_of(
                args.reps, lambda: [_brackle._roundtrip_in_rust(t, opts) for t in streams]
            )
            theirs = best_of(
                args.reps, lambda: [ryml.emit_yaml(ryml.parse_in_arena(b)) for b in data]
            )
            row(
                f"round trip vs rapidyaml, {name}", size(streams), ours, theirs, ">= 1.2x rapidyaml"
            )
            whys = "; ".join(f"{n} x {error}" for error, n in rejected.items())
            notes.append(
                f"  {name}: {kept} of {total} documents, as {len(streams)} streams"
                + (f" (left out: {whys})" if whys else "")
            )
        print("rapidyaml input (the documents it reads, as streams it reads whole):")
        for note in notes:
            print(note)

    text = inputs["generated 10 MB"][0]
    mb = size([text]) / 1e6

    def threads(n: int, work) -> float:
        def run() -> None:
            pool = [threading.Thread(target=work) for _ in range(n)]
            for t in pool:
                t.start()
            for t in pool:
                t.join()

        return best_of(args.reps, run) / n  # seconds per call

    for name, work in [
        ("_roundtrip_in_rust", lambda: _brackle._roundtrip_in_rust(text, opts)),
        ("parse", lambda: brackle.parse(text)),
        ("load_all", lambda: brackle.load_all(text)),
    ]:
        one = threads(1, work)
        two = threads(2, work)
        print(
            f"{name + ', 2 threads vs 1':<{NAME_WIDTH}} {mb:8.3f} "
            f"{mb / two:12.2f} {mb / one:12.2f} {one / two:8.2f}   "
            f">= 1.7x one thread ('base' is one thread)"
        )
    print("ratio = brackle MB/s / baseline MB/s; ruamel is timed once per input (it is slow).")
    editing(args.reps, inputs["generated 10 MB"][0])
    memory(inputs["generated 10 MB"][0])
    return 0


# The text of a mapping of `n` keys, and what one set in it does.
MAPPING = "text = ''.join(f'key{i}: value {i}\\n' for i in range(%d))\n"
PEAK = """
import brackle
def peak():
    for line in open('/proc/self/status'):
        if line.startswith('VmHWM'):
            return int(line.split()[1])
%s
before = peak()
%s
print(peak() - before)
"""


def peak_kb(setup: str, work: str) -> int:
    """The growth of a fresh process's high-water mark across `work`, in kB."""
    out = subprocess.run(
        [sys.executable, "-c", PEAK % (setup, work)], check=True, capture_output=True, text=True
    )
    return int(out.stdout)


def edit_row(name: str, size: int, ours: float, base: float, target: str) -> None:
    mb = size / 1e6
    print(f"{name:<{NAME_WIDTH}} {mb:8.3f} {ours:10.4f} {base:10.4f} {ours / base:8.3f}   {target}")


def editing(reps: int, stream_text: str) -> None:
    """Opening a stream and one change in it, against load_all of its text."""
    print(f"== Editing: brackle.edit against brackle.load_all of the same text, best of {reps}")
    print(
        f"{'run':<{NAME_WIDTH}} {'size MB':>8} {'edit s':>10} {'load s':>10} {'x load':>8}   target"
    )

    def one_change(text: str, change) -> float:
        def run() -> float:
            stream = brackle.edit(text)
            start = time.perf_counter()
            change(stream)
            return time.perf_counter() - start

        return min(run() for _ in range(reps))

    def middle_scalar(stream) -> None:
        doc = stream[len(stream) // 2]
        key = next(
            k for k in doc if not isinstance(doc[k], (brackle.YAMLMapping, brackle.YAMLSequence))
        )
        doc[key] = "changed"

    size = len(stream_text.encode("utf-8"))
    load = best_of(reps, lambda: brackle.load_all(stream_text))
    edit_row(
        "open, generated 10 MB",
        size,
        best_of(reps, lambda: brackle.edit(stream_text)),
        load,
        "<= 1.5x",
    )
    edit_row(
        "one scalar set, generated 10 MB",
        size,
        one_change(stream_text, middle_scalar),
        load,
        "<= 0.05x",
    )

    n = 10**6
    mapping = "".join(f"key{i}: value {i}\n" for i in range(n))
    load = best_of(1, lambda: brackle.load_all(mapping))
    change = one_change(mapping, lambda s: s[0].__setitem__(f"key{n // 2}", "changed"))
    edit_row("one set, mapping of 10^6 keys", len(mapping), change, load, "<= 1.5x")
    setup = MAPPING % n
    ours = peak_kb(setup, f"s = brackle.edit(text); s[0]['key{n // 2}'] = 'changed'")
    base = peak_kb(setup, "data = brackle.load_all(text)")
    print(
        f"{'peak memory, open + set vs load_all':<{NAME_WIDTH}} {len(mapping) / 1e6:8.3f} "
        f"{ours / 1024:8.0f}MB {base / 1024:8.0f}MB {ours / base:8.3f}   <= 2x"
    )

    empty = "---\n" * 500_000
    load = best_of(1, lambda: brackle.load_all(empty))
    change = one_change(empty, lambda s: s.__setitem__(250_000, {"a": 1}))
    edit_row("one edit, 500,000 empty documents", len(empty), change, load, "<= 0.1 s")
    print("edit s: one open, or one change after opening; x load = edit s / load s.")


# The baseline class of the memory rows, made in the fresh process as in this one.
SAFE_SETUP = (
    f"import sys, yaml\nsys.path.insert(0, {str(ROOT / 'bench')!r})\n"
    "from python_bench import safe_loader\nLoader = safe_loader()\n"
)
# The text of the generated stream read from a file: the bytes are decoded and
# let go before the first reading. VmHWM keeps only the highest mark, so what
# the setup held at its peak (the bytes and the text together) hides any growth
# of the call below it; freeing the bytes first leaves the text alone in memory
# and keeps that hidden part as small as this measure allows.
STREAM = "raw = open(%r, 'rb').read()\ntext = raw.decode('utf-8')\ndel raw\n"
NESTED = "text = '- ' * 100_000 + 'x\\n'\n"
EMPTY = "text = '---\\n' * 500_000\n"
MEMORY_WIDTH = 46


def growth_kb(setup: str, work: str) -> int | None:
    """peak_kb, or None (the child's error shown) if the fresh process fails."""
    out = subprocess.run(
        [sys.executable, "-c", PEAK % (setup, work)], capture_output=True, text=True
    )
    if out.returncode != 0:
        print(f"  (exit {out.returncode}: {out.stderr.strip()[-300:]})", file=sys.stderr)
        return None
    return int(out.stdout)


def memory_row(name: str, size: int, ours: int | None, base: float | None, target: str) -> None:
    """One row: `ours` in kB of growth, `base` in bytes (a baseline's growth
    or the input's size); MB are 10^6 bytes throughout."""
    mb = size / 1e6
    if ours is None or base is None:
        print(f"{name:<{MEMORY_WIDTH}} {mb:8.3f} {'failed':>10} {'':>10} {'':>8}   {target}")
        return
    ours_bytes = ours * 1024
    print(
        f"{name:<{MEMORY_WIDTH}} {mb:8.3f} {ours_bytes / 1e6:10.1f} {base / 1e6:10.1f} "
        f"{ours_bytes / base:8.2f}   {target}"
    )


def memory(stream_text: str) -> None:
    """The growth of a fresh process's peak across one call, against a
    baseline's or the input's size."""
    print(
        "== Memory: growth of a fresh process's peak (VmHWM) across one call, "
        "against PyYAML's (CSafeLoader) or the input's size"
    )
    print(
        f"{'run':<{MEMORY_WIDTH}} {'size MB':>8} {'brackle MB':>10} {'base MB':>10} "
        f"{'ratio':>8}   target"
    )
    roundtrip = "out = brackle._brackle._roundtrip_in_rust(text, brackle.EmitOptions())"
    ours_load = "data = brackle.load_all(text)"
    pyyaml_load = "data = list(yaml.load_all(text, Loader=Loader))"

    def kb_bytes(kb: int | None) -> float | None:
        return None if kb is None else kb * 1024.0

    size = len(stream_text.encode("utf-8"))
    with tempfile.TemporaryDirectory() as tmp:
        path = Path(tmp) / "generated.yaml"
        path.write_bytes(stream_text.encode("utf-8"))
        setup = SAFE_SETUP + STREAM % str(path)
        memory_row(
            "round-trip peak memory, generated 10 MB",
            size,
            growth_kb(setup, roundtrip),
            size,
            "<= 6x input",
        )
        memory_row(
            "load_all peak memory, generated 10 MB",
            size,
            growth_kb(setup, ours_load),
            kb_bytes(growth_kb(setup, pyyaml_load)),
            "<= 1x PyYAML",
        )
    setup = SAFE_SETUP + EMPTY
    memory_row(
        "load_all peak memory, 500,000 empty documents",
        len("---\n") * 500_000,
        growth_kb(setup, ours_load),
        kb_bytes(growth_kb(setup, pyyaml_load)),
        "<= 2x PyYAML",
    )
    size = len("- ") * 100_000 + len("x\n")
    memory_row(
        "10^5 nested sequences, peak memory, load_all",
        size,
        growth_kb(NESTED, ours_load),
        size,
        "<= 50x input",
    )
    memory_row(
        "10^5 nested sequences, peak memory, round trip",
        size,
        growth_kb(NESTED, roundtrip),
        size,
        "<= 50x input",
    )
    print(
        "brackle MB: growth of VmHWM across the call (output kept alive); base MB: PyYAML's "
        "growth, or the input's size for 'x input' rows; ratio = brackle MB / base MB."
    )


if __name__ == "__main__":
    sys.exit(main())
