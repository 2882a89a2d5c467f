"""The ``brackle`` command: check, query, edit and lay out YAML files.

``brackle check FILE...`` reports the first error of every file that does
not load; ``get`` prints the value at a path; ``set`` and ``delete`` edit the
value at a path in each document that has it (``set`` adds a missing path to
a file's only document, or to the one ``--doc`` names) and keep the rest of
the text as it was; ``fmt`` lays files out afresh from the emit options,
keeping their comments; ``roundtrip`` lists the files that do not come back
byte for byte. Exit status: 0 when all is well, 1 when a file fails, 2 for a
usage error, 130 when interrupted. Files are processed on all cores, and
their output is printed in the order of the arguments.

Every failure is reported without a traceback: ``FILE:LINE:COL: message``
with the source line and a caret where the failure has a place in the text,
``brackle: FILE: message`` where it has none.

``--in-place`` writes through :mod:`brackle._files`: the file is locked
from the read to the write, replaced in one step with its mode, owner and
group, through a symbolic link, and refused when that cannot be done safely.
"""

from __future__ import annotations

import argparse
import base64
import difflib
import os
import signal
import sys
from collections.abc import Callable, Iterator, MutableSequence, Sequence
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from typing import Any

from brackle._brackle import emit, parse
from brackle._files import locked, remove_temporaries
from brackle._json import BUDGET_PER_NODE, MIN_NODE_BUDGET, JSONError, to_json
from brackle._source import decode, detect_encoding, refuse_nul
from brackle._version import __version__
from brackle.constructor import Tagged, iter_load, load, load_all
from brackle.editing import Stream, edit
from brackle.error import EditError, InternalError, Mark, MarkedYAMLError, YAMLError
from brackle.formatter import FormatError, format
from brackle.options import EmitOptions
from brackle.paths import (
    PathError,
    Step,
    format_path,
    is_collection,
    locate,
    parse_path,
    resolve,
    scalar_text,
)
from brackle.representer import dump

__all__ = ["main"]

STDIN = "-"


class Failure(Exception):
    """A file that cannot be worked on; ``str()`` is the whole report."""

    @classmethod
    def of(cls, name: str, message: str) -> Failure:
        """A failure without a place in the text: ``brackle: FILE: message``."""
        return cls(f"brackle: {name}: {message}")


class UsageError(Exception):
    """A command line that cannot be carried out: exit status 2."""


class Stopped(BaseException):
    """A signal that ends the command (SIGTERM, SIGHUP)."""

    def __init__(self, signum: int) -> None:
        super().__init__(signum)
        self.signum = signum


@dataclass
class Outcome:
    """What one file's work prints, and whether it failed."""

    out: str = ""
    err: str = ""
    failed: bool = False
    extra: dict[str, Any] = field(default_factory=dict)


# ---- reading files and reporting errors -------------------------------------


def _text(name: str, data: bytes) -> tuple[str, str]:
    """The text of file ``name``'s bytes and its codec, decoded as YAML text
    is (UTF-8, UTF-16 or UTF-32). A leading byte-order mark stays in the
    text: ``parse`` takes it off and writes it back. A NUL fails the file,
    since whatever follows a NUL would be lost."""
    text, codec = decode(data, name)
    refuse_nul(text, name)
    return text, codec


def read_bytes(name: str) -> bytes:
    """The bytes of file ``name`` (``-`` is standard input)."""
    if name == STDIN:
        return sys.stdin.buffer.read()
    with open(name, "rb") as f:
        return f.read()


def read_file(name: str) -> str:
    """The text of file ``name`` (``-`` is standard input)."""
    return _text(name, read_bytes(name))[0]


def read_documents(name: str, allow_duplicate_keys: bool) -> Iterator[Any]:
    """The data of the documents of file ``name``, one at a time. UTF-8
    goes to the core undecoded, so that a file of any size takes the memory
    of its bytes and one document."""
    data = read_bytes(name)
    if detect_encoding(data) != "utf-8" or b"\0" in data:
        return iter_load(_text(name, data)[0], name=name, allow_duplicate_keys=allow_duplicate_keys)
    return iter_load(data, name=name, allow_duplicate_keys=allow_duplicate_keys)


def rewrite(name: str, change: Callable[[str], str]) -> None:
    """Replaces file ``name`` with ``change(text)`` when that differs, in
    the file's own encoding, holding the file's lock from the read to the
    write."""
    with locked(name) as f:
        text, codec = _text(name, f.data)
        out = change(text)
        if out != text:
            f.replace(out.encode(codec))


def _place(name: str, mark: Mark, message: str) -> str:
    """``FILE:LINE:COL: message`` (from 1), the source line and a caret."""
    head = f"{name}:{mark.line + 1}:{mark.column + 1}: {message}"
    snippet = mark.get_snippet(indent=4)
    if snippet is None:
        return head
    # A NUL would not show on a terminal: its symbol takes its one column.
    return f"{head}\n{snippet.replace(chr(0), chr(0x2400))}"


def describe_error(name: str, error: MarkedYAMLError) -> str:
    """The report of a YAML error in file ``name``, the way a compiler shows
    one: the problem's place, then the context's place as a note."""
    problem = error.problem or str(error)
    if error.problem_mark is None:
        lines = [f"brackle: {name}: {problem}"]
    else:
        lines = [_place(name, error.problem_mark, problem)]
    if error.context is not None:
        if error.context_mark is not None and error.context_mark != error.problem_mark:
            lines.append(_place(name, error.context_mark, f"note: {error.context}"))
        else:
            lines.append(f"{name}: note: {error.context}")
    if error.note:
        lines.append(f"{name}: note: {error.note}")
    return "\n".join(lines)


def describe_failure(name: str, error: BaseException) -> str:
    """The one-line report of any exception that ended the work on file
    ``name``: never a traceback."""
    if isinstance(error, Failure):
        return str(error)
    if isinstance(error, MarkedYAMLError):
        return describe_error(name, error)
    if isinstance(error, OSError):
        where = error.filename if isinstance(error.filename, str) else name
        return f"brackle: {where}: {error.strerror or error}"
    if isinstance(error, RecursionError):
        return f"brackle: {name}: the data is nested too deeply for this command"
    if isinstance(error, MemoryError):
        return f"brackle: {name}: out of memory"
    if isinstance(error, YAMLError):
        return f"brackle: {name}: {error}"
    detail = f"{type(error).__name__}: {error}"
    return f"brackle: {name}: internal error, please report it: {detail}"


def run_files(names: Sequence[str], work: Callable[[str], Outcome]) -> list[Outcome]:
    """``work`` on every file, on as many threads as there are cores; the
    outcomes come back in the order of ``names``. Any exception but an
    interruption becomes a failed outcome with its report (a YAML error
    shown at its place in the file)."""

    def guarded(name: str) -> Outcome:
        try:
            return work(name)
        except (Exception, InternalError) as e:
            return Outcome(err=describe_failure(name, e), failed=True)

    if len(names) <= 1:
        return [guarded(n) for n in names]
    pool = ThreadPoolExecutor(max_workers=os.cpu_count() or 1)
    try:
        return list(pool.map(guarded, names))
    finally:
        # On an interruption, files not yet started are not started.
        pool.shutdown(cancel_futures=True)


def print_outcomes(outcomes: Sequence[Outcome]) -> int:
    for o in outcomes:
        if o.out:
            sys.stdout.write(o.out)
        if o.err:
            sys.stdout.flush()
            print(o.err, file=sys.stderr)
    sys.stdout.flush()
    return 1 if any(o.failed for o in outcomes) else 0


# ---- check and roundtrip -----------------------------------------------------


def cmd_check(args: argparse.Namespace) -> int:
    def work(name: str) -> Outcome:
        count = sum(1 for _ in read_documents(name, args.allow_duplicate_keys))
        return Outcome(extra={"documents": count})

    outcomes = run_files(args.files, work)
    status = print_outcomes(outcomes)
    if args.verbose:
        bad = sum(o.failed for o in outcomes)
        for name, o in zip(args.files, outcomes):
            if not o.failed:
                count = o.extra["documents"]
                print(f"{name}: ok, {count} document{'' if count == 1 else 's'}", file=sys.stderr)
        print(f"{len(outcomes) - bad} of {len(outcomes)} files load", file=sys.stderr)
    return status


def cmd_roundtrip(args: argparse.Namespace) -> int:
    options = EmitOptions()

    def work(name: str) -> Outcome:
        text = read_file(name)
        same = emit(parse(text, name=name), options) == text
        return Outcome(out="" if same else f"{name}\n", failed=not same)

    return print_outcomes(run_files(args.files, work))


# ---- fmt ---------------------------------------------------------------------


def cmd_fmt(args: argparse.Namespace) -> int:
    if args.in_place and STDIN in args.files:
        raise UsageError("fmt --in-place cannot rewrite standard input")

    # Each file keeps its own first line break unless one is asked for.
    asked = {"lf": "\n", "crlf": "\r\n"}.get(args.line_break or "")
    line_break = {"line_break": asked} if asked else {}

    def laid_out(name: str, text: str) -> str:
        try:
            return format(
                text,
                name=name,
                allow_duplicate_keys=args.allow_duplicate_keys,
                map_indent=args.indent,
                seq_indent=args.seq_indent,
                seq_offset=args.seq_offset,
                width=args.width,
                default_flow_style=args.flow,
                **line_break,
            )
        except FormatError as e:
            raise Failure.of(name, e.reason) from None

    def work(name: str) -> Outcome:
        if args.in_place:
            rewrite(name, lambda text: laid_out(name, text))
            return Outcome()
        text = read_file(name)
        out = laid_out(name, text)
        if args.check:
            changed = out != text
            return Outcome(out=f"{name}\n" if changed else "", failed=changed)
        if args.diff:
            lines = difflib.unified_diff(
                text.splitlines(keepends=True),
                out.splitlines(keepends=True),
                fromfile=name,
                tofile=f"{name} (formatted)",
            )
            return Outcome(out="".join(lines))
        header = f"==> {name} <==\n" if len(args.files) > 1 else ""
        return Outcome(out=header + out)

    return print_outcomes(run_files(args.files, work))


# ---- get, set, delete --------------------------------------------------------


def _steps(path: str) -> list[Step]:
    try:
        return parse_path(path)
    except PathError as e:
        raise UsageError(str(e)) from None


def show(value: Any, as_json: bool, steps: Sequence[Step]) -> str:
    """How ``get`` prints a value: strict JSON with ``as_json``, else a
    scalar's plain text or a collection as YAML; always with a final line
    break."""
    if as_json:
        return to_json(value, steps) + "\n"
    if isinstance(value, (bytes, bytearray)):
        return base64.b64encode(value).decode("ascii") + "\n"
    if is_collection(value) or isinstance(value, Tagged):
        return dump(value)
    return scalar_text(value) + "\n"


def _documents(name: str, total: int, doc: int | None) -> range:
    if doc is None:
        return range(total)
    if not -total <= doc < total:
        raise Failure.of(name, f"no document {doc} (the file has {total})")
    return range(doc % total, doc % total + 1)


def _not_found(name: str, path: str, misses: Sequence[str]) -> Failure:
    """The failure of a path that no document holds, with each one's reason."""
    detail = "; ".join(misses) or "the file is empty"
    return Failure.of(name, f"{path} not found ({detail})")


def cmd_get(args: argparse.Namespace) -> int:
    steps = _steps(args.path)

    def work(name: str) -> Outcome:
        documents = load_all(
            read_file(name), name=name, allow_duplicate_keys=args.allow_duplicate_keys
        )
        shown: list[str] = []
        misses: list[str] = []
        for i in _documents(name, len(documents), args.doc):
            value, why = resolve(documents[i], steps)
            if why is not None:
                misses.append(f"document {i}: {why}")
                continue
            try:
                shown.append(show(value, args.json, steps))
            except JSONError as e:
                raise Failure.of(name, f"cannot be written as JSON: {e}") from None
        if not shown:
            raise _not_found(name, args.path, misses)
        return Outcome(out="---\n".join(shown))

    return print_outcomes(run_files([args.file], work))


# `set` adds the missing keys of a path as mappings; an index names an item
# of a sequence that is there (or the one just past its end), since a new
# sequence would need its earlier items too.
_NO_NEW_SEQUENCES = "set adds missing keys as mappings, not sequences"


def _holding(stream: Stream, docs: range, steps: list[Step]) -> tuple[list[int], list[str]]:
    """Which of the documents ``docs`` hold the whole path, and why each of
    the others does not."""
    holding: list[int] = []
    misses: list[str] = []
    for i in docs:
        why = resolve(stream[i], steps)[1]
        if why is None:
            holding.append(i)
        else:
            misses.append(f"document {i}: {why}")
    return holding, misses


def _targets(
    stream: Stream, name: str, path: str, steps: list[Step], doc: int | None, delete: bool
) -> list[int]:
    """The documents to change. ``set`` changes document ``doc``, or the
    file's only document, adding the path there when it is missing; in a
    file of several it changes each document that holds the whole path, and
    fails when none does. ``delete`` changes each of the chosen documents
    (all, or ``doc``) that holds the path, and fails when none does."""
    docs = _documents(name, len(stream), doc)
    if not delete and (doc is not None or len(stream) == 1):
        return list(docs)
    holding, misses = _holding(stream, docs, steps)
    if holding:
        return holding
    if delete:
        raise _not_found(name, path, misses)
    raise Failure.of(
        name,
        f"{path} is in none of the {len(stream)} documents; "
        "give --doc N to say which one to add it to",
    )


def _depth(root: Any, steps: list[Step]) -> int:
    """How many of the leading ``steps`` lead somewhere under ``root``."""
    return next(k for k in range(len(steps), -1, -1) if resolve(root, steps[:k])[1] is None)


def _first_index(steps: list[Step], start: int) -> int | None:
    """The number of the first index among ``steps`` from ``start`` on."""
    return next((j for j in range(start, len(steps)) if isinstance(steps[j], int)), None)


def _nested(keys: list[Step], value: Any) -> Any:
    """``value`` in a new mapping for each of ``keys``, the first outermost."""
    for key in reversed(keys):
        value = {key: value}
    return value


def _set_in(stream: Stream, doc: int, steps: list[Step], value: Any) -> tuple[int, str] | None:
    """Sets the value at ``steps`` in document ``doc``. What the path lacks
    is added in one edit: the first missing key (or the item just past the
    end of a sequence) gets the rest of the path as nested mappings around
    the value, so that the text takes them in its own indentation. Returns
    the number of the step that cannot be taken and why, when one cannot."""
    root = stream[doc]
    if root is None or not steps:  # the root, or a document with nothing in it
        index = _first_index(steps, 0)
        if index is not None:
            return index, f"the document is empty; {_NO_NEW_SEQUENCES}"
        stream[doc] = _nested(steps, value)
        return None
    k = min(_depth(root, steps), len(steps) - 1)
    parent = resolve(root, steps[:k])[0]
    key, why = locate(parent, steps[k], steps[:k])
    if why is None:
        parent[key] = value
        return None
    appends = isinstance(parent, MutableSequence) and key == len(parent)
    if key is None or (isinstance(parent, MutableSequence) and not appends):
        return k, why  # a scalar in the way, a key into a sequence, an index past its end
    index = _first_index(steps, k + 1 if appends else k)
    if index is not None:
        return index, f"{why}; {_NO_NEW_SEQUENCES}"
    new = _nested(steps[k + 1 :], value)
    if appends:
        parent.append(new)
    else:
        parent[key] = new
    return None


def _delete_in(stream: Stream, doc: int, steps: list[Step]) -> None:
    """Deletes the entry or item at ``steps``, which document ``doc`` holds."""
    parent = resolve(stream[doc], steps[:-1])[0]
    del parent[locate(parent, steps[-1], steps[:-1])[0]]


def _edit(args: argparse.Namespace, value: Any, delete: bool) -> int:
    if args.in_place and args.file == STDIN:
        raise UsageError("--in-place cannot rewrite standard input")
    steps = _steps(args.path)
    if delete and not steps:
        raise UsageError("the root of a document cannot be deleted")
    name = args.file

    def change(stream: Stream, doc: int) -> None:
        if delete:
            _delete_in(stream, doc, steps)
            return
        refused = _set_in(stream, doc, steps, value)
        if refused is not None:
            step, why = refused
            where = f" in document {doc}" if len(stream) > 1 else ""
            raise Failure.of(name, f"cannot set {format_path(steps[: step + 1])}{where}: {why}")

    def edited(text: str) -> str:
        # A file that does not load is refused with the error: never written.
        stream = edit(
            text, name=name, allow_duplicate_keys=args.allow_duplicate_keys, strict=args.strict
        )
        for doc in _targets(stream, name, args.path, steps, args.doc, delete):
            try:
                change(stream, doc)
            except EditError as e:
                why = " ".join(str(piece) for piece in e.args if piece is not None)
                raise Failure.of(name, f"cannot change {args.path}: {why}") from None
        return str(stream)

    def work(name: str) -> Outcome:
        if args.in_place:
            rewrite(name, edited)
            return Outcome()
        return Outcome(out=edited(read_file(name)))

    return print_outcomes(run_files([name], work))


def _yaml_value(text: str) -> Any:
    """VALUE read as YAML, to be written as typed: its document record, whose
    scalars keep their own text (``0600``, ``3.10``, ``'yes'``) and whose
    collections keep their style."""
    try:
        load(text, name="VALUE")
    except MarkedYAMLError as e:
        raise UsageError(f"VALUE is not YAML:\n{describe_error('VALUE', e)}") from None
    return parse(text)[0]


def cmd_set(args: argparse.Namespace) -> int:
    value = args.value if args.string else _yaml_value(args.value)
    return _edit(args, value, delete=False)


def cmd_delete(args: argparse.Namespace) -> int:
    return _edit(args, None, delete=True)


# ---- the command line --------------------------------------------------------


def _number(low: int, high: int) -> Callable[[str], int]:
    """An argument type: a whole number from ``low`` to ``high``."""

    def number(text: str) -> int:
        try:
            n = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"expected a number, got {text!r}") from None
        if not low <= n <= high:
            raise argparse.ArgumentTypeError(f"expected a number from {low} to {high}, got {text}")
        return n

    return number


# Bounds of the layout options: far beyond any real layout, and small enough
# that every option is a sane number for the emitter.
MAX_INDENT = 100
MAX_WIDTH = 1_000_000

_FILES_HELP = "YAML files; - reads standard input"
_IN_PLACE_HELP = (
    "write the file back, not to stdout: locked against other brackle edits, replaced in one "
    "step with its mode, owner and group, through symbolic links; refused for files with hard "
    "links and read-only files"
)
_PATH_HELP = 'where, as yq writes it: . is the root, then .key, ."a key", .["a.b"], [0], [-1]'
_DOC_HELP = "only document N (from 0; negative counts from the end)"
_VALUE_HELP = (
    "the new value, read as YAML unless -s is given and written as typed: 0600 stays 0600,"
    " \"'1.25'\" is a string, '[a, b]' a flow list; a value that begins with - goes after --"
)


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="brackle",
        description="Check, query, edit and lay out YAML files; comments and layout are kept.",
        epilog=(
            "Exit status: 0 when all is well, 1 when a file fails, 2 for a usage error, "
            "130 when interrupted."
        ),
    )
    parser.add_argument("--version", action="version", version=f"brackle {__version__}")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    def command(
        name: str,
        run: Callable[[argparse.Namespace], int],
        about: str,
        *,
        files: bool = False,
        path: bool = False,
    ) -> argparse.ArgumentParser:
        sub = commands.add_parser(name, help=about, description=about)
        sub.set_defaults(run=run, parser=sub)
        if files:
            sub.add_argument("files", nargs="+", metavar="FILE", help=_FILES_HELP)
        if path:
            sub.add_argument("file", metavar="FILE", help="a YAML file; - reads standard input")
            sub.add_argument("path", metavar="PATH", help=_PATH_HELP)
        return sub

    def flag(
        sub: argparse.ArgumentParser | argparse._MutuallyExclusiveGroup, *names: str, about: str
    ) -> None:
        sub.add_argument(*names, action="store_true", help=about)

    check = command(
        "check",
        cmd_check,
        "Load every file; print the first error of each as FILE:LINE:COL.",
        files=True,
    )
    flag(check, "-v", "--verbose", about="also report the files that load, and a summary")

    get = command(
        "get",
        cmd_get,
        "Print the value at PATH: a scalar as its text, a collection as YAML.",
        path=True,
    )
    flag(
        get,
        "--json",
        about=(
            "print the value as strict JSON: keys that are not strings as their YAML text; "
            f"infinities, NaN, self-references and alias expansion past {MIN_NODE_BUDGET:,} values "
            f"(or {BUDGET_PER_NODE} times the file's own) are refused"
        ),
    )
    get.add_argument("--doc", type=int, metavar="N", help=_DOC_HELP)

    set_ = command(
        "set",
        cmd_set,
        "Set the value at PATH in each document that has it; the rest of the text stays as "
        "written. When no document has PATH, it is added, with the mappings it lacks, to the "
        "file's only document; a file of several documents needs --doc N. An index names an "
        "item that is there, or the one just past the end, which is appended.",
        path=True,
    )
    set_.add_argument("value", metavar="VALUE", help=_VALUE_HELP)
    flag(set_, "-s", "--string", about="write VALUE as a string (0600, yes), quoted where needed")
    set_.add_argument(
        "--doc",
        type=int,
        metavar="N",
        help="set PATH in document N only (from 0; negative counts from the end), adding it "
        "there when it is missing",
    )
    delete = command(
        "delete",
        cmd_delete,
        "Delete the entry or item at PATH from each document that has it; the rest stays as "
        "written. Fails when no document has PATH.",
        path=True,
    )
    delete.add_argument(
        "--doc",
        type=int,
        metavar="N",
        help="delete from document N only (from 0; negative counts from the end)",
    )
    for editing in (set_, delete):
        flag(editing, "-i", "--in-place", about=_IN_PLACE_HELP)
        flag(
            editing,
            "--strict",
            about="refuse a change that would rewrite any line outside the edited entry's own "
            "lines (its comment lines above included); the file is left as it is",
        )

    fmt = command(
        "fmt",
        cmd_fmt,
        "Lay files out afresh from the options, keeping comments and quoting.",
        files=True,
    )
    mode = fmt.add_mutually_exclusive_group()
    flag(mode, "--check", about="list the files that would change; exit 1 if any")
    flag(mode, "--diff", about="print what would change as a unified diff")
    flag(mode, "-i", "--in-place", about="rewrite the files that change; " + _IN_PLACE_HELP)
    defaults = EmitOptions()
    for name, default, most, about in [
        ("--indent", defaults.map_indent, MAX_INDENT, "indentation of a nested mapping"),
        ("--seq-indent", defaults.seq_indent, MAX_INDENT, "indentation of a nested sequence"),
        (
            "--seq-offset",
            defaults.seq_offset,
            MAX_INDENT,
            "where a sequence's - stands in its indentation",
        ),
        ("--width", defaults.width, MAX_WIDTH, "fold long scalars at this width"),
    ]:
        fmt.add_argument(
            name,
            type=_number(0, most),
            default=default,
            metavar="N",
            help=f"{about}, 0 to {most} (default {default})",
        )
    flag(fmt, "--flow", about="write every collection in flow style")
    fmt.add_argument(
        "--line-break", choices=("lf", "crlf"), help="line break to write (default: the file's own)"
    )

    for sub in (check, get, set_, delete, fmt):
        flag(
            sub,
            "--allow-duplicate-keys",
            about=(
                "accept a key given twice in a mapping: its last value counts, "
                "and the text keeps both"
            ),
        )

    command(
        "roundtrip",
        cmd_roundtrip,
        "List the files that do not come back byte for byte from parse and emit.",
        files=True,
    )
    return parser


def _stop(signum: int, frame: Any) -> None:
    remove_temporaries()
    raise Stopped(signum)


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line ``argv`` (default: the process's arguments) and
    returns the exit status."""
    parser = build_parser()
    args = parser.parse_args(argv)
    for signum in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, _stop)
    try:
        status: int = args.run(args)
        return status
    except UsageError as e:
        args.parser.error(str(e))  # exits with status 2
    except KeyboardInterrupt:
        remove_temporaries()
        print("brackle: interrupted", file=sys.stderr)
        return 130
    except Stopped as e:
        return 128 + e.signum
    except BrokenPipeError:
        # The reader went away (`brackle get ... | head`): nothing to report.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    except (Exception, InternalError) as e:
        print(describe_failure("standard output", e), file=sys.stderr)
        return 1
    return 0
