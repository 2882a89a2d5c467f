# Type stubs of the extension module brackle._brackle.
from collections.abc import Callable, Iterable, Iterator
from typing import Any, Protocol

from brackle._record import Doc

__all__ = ["parse", "emit", "_roundtrip_in_rust"]

class _Options(Protocol):
    line_break: str
    map_indent: int
    seq_indent: int
    seq_offset: int
    width: int
    explicit_start: bool
    explicit_end: bool
    default_flow_style: bool
    preserve_quotes: bool

def parse(
    source: str, *, allow_duplicate_keys: bool = True, name: str = "<unicode string>"
) -> list[Doc]: ...
def emit(docs: Iterable[Doc], opts: _Options) -> str: ...
def _roundtrip_in_rust(source: str, opts: _Options) -> str: ...
def _relayout(source: str, opts: _Options, name: str | None = None) -> str: ...
def _comments(source: str) -> list[str]: ...
def _iter_load(
    source: str | bytes,
    name: str | None = None,
    allow_duplicate_keys: bool = False,
    version: tuple[int, int] | None = None,
    tags: dict[str, Callable[[Any], Any]] | None = None,
    unknown_tags_fail: bool = False,
) -> Iterator[Any]: ...
def _dump_all(
    documents: Iterable[object],
    opts: _Options,
    represent: dict[type, Callable[[Any], Any]] | None = None,
    sort_keys: bool = False,
) -> str: ...
def _edit_open(
    source: str, name: str | None = None, allow_duplicate_keys: bool = False
) -> tuple[list[object], list[int]]: ...

class EditDocument:
    def set_child(self, c: int, pos: int, value: object) -> list[str]: ...
    def insert_entry(self, c: int, pos: int, key: object, value: object) -> list[str]: ...
    def insert_item(self, c: int, pos: int, value: object) -> list[str]: ...
    def delete_child(self, c: int, pos: int) -> list[str]: ...
    def replace_root(self, value: object, last: bool) -> list[str]: ...
    def eol_comment(self, c: int, pos: int) -> str | None: ...
    def comments_before(self, c: int, pos: int) -> list[str]: ...
    def set_eol_comment(self, c: int, pos: int, text: str | None) -> list[str]: ...
    def set_comments_before(self, c: int, pos: int, texts: list[str]) -> list[str]: ...
    def child_lines(self, c: int, pos: int) -> tuple[int, int, int, int, bool]: ...
    def last_line(self, i: int) -> int: ...

def _edit_read(
    source: str, name: str | None = None, allow_duplicate_keys: bool = False
) -> tuple[EditDocument, Doc, object, list[object]] | None: ...
def _register(
    *,
    Node: type,
    Doc: type,
    Trivia: type,
    make_error: Callable[..., BaseException],
    EmitterError: type[BaseException],
    InternalError: type[BaseException],
    Tagged: type,
    FrozenDict: type,
    HashedTuple: type,
    construct_error: Callable[..., BaseException],
    timestamp: Callable[..., object],
    binary: Callable[[str], bytes],
    RepresenterError: type[BaseException],
    Flow: type,
    EditError: type[BaseException],
) -> None: ...
