"""PyYAML's safe API on brackle: ``import brackle.compat as yaml`` is the
one line a program that calls ``yaml.safe_load`` and ``yaml.safe_dump``
changes.

The data is PyYAML's: scalars follow the YAML 1.1 rules (``on`` and ``yes``
are ``True``, ``0777`` is octal), a repeated key keeps its last value, and a
tag with no constructor is an error. Dumps take PyYAML's keywords and
defaults (keys sorted, block style).

>>> import brackle.compat as yaml
>>> yaml.safe_load("on: [push]\\nmode: 0644\\n")
{True: ['push'], 'mode': 420}
>>> print(yaml.safe_dump({"b": 1, "a": [1, "x"]}), end="")
a:
- 1
- x
b: 1

Constructors and representers are added as in PyYAML, on the loader and
dumper classes or through the module's functions. A constructor is called
with the loader and a node whose value is already built (a str, list or
dict), which ``construct_scalar``, ``construct_sequence`` and
``construct_mapping`` return:

>>> def ref(loader, node):
...     return {"Ref": loader.construct_scalar(node)}
>>> yaml.add_constructor("!Ref", ref, Loader=yaml.SafeLoader)
>>> yaml.safe_load("bucket: !Ref Bucket")
{'bucket': {'Ref': 'Bucket'}}
"""

from __future__ import annotations

import os
from collections.abc import Callable, Iterable, Iterator
from typing import IO, Any, ClassVar

from brackle._brackle import parse
from brackle._source import read_source
from brackle._version import __version__
from brackle.constructor import ConstructorError, Tagged, _documents
from brackle.error import (
    EmitterError,
    Mark,
    MarkedYAMLError,
    ReaderError,
    RepresenterError,
    ScannerError,
    YAMLError,
)
from brackle.representer import dump_all as _dump_all

__all__ = [
    "safe_load",
    "safe_load_all",
    "safe_dump",
    "safe_dump_all",
    "load",
    "load_all",
    "dump",
    "dump_all",
    "add_constructor",
    "add_representer",
    "add_multi_representer",
    "SafeLoader",
    "CSafeLoader",
    "SafeDumper",
    "CSafeDumper",
    "ScalarNode",
    "SequenceNode",
    "MappingNode",
    "YAMLError",
    "MarkedYAMLError",
    "ReaderError",
    "ScannerError",
    "ParserError",
    "ComposerError",
    "ConstructorError",
    "RepresenterError",
    "EmitterError",
    "Mark",
    "__version__",
    "__with_libyaml__",
]

# Programs pick the C classes when PyYAML says it has them; here they are
# the same classes.
__with_libyaml__ = True

Source = str | bytes | IO[Any] | os.PathLike[str]

_CORE = "tag:yaml.org,2002:"


class ParserError(MarkedYAMLError):
    """PyYAML's name for an error in the structure of the text; brackle's
    scanner and parser raise :class:`ScannerError` for both."""


class ComposerError(MarkedYAMLError):
    """``safe_load`` found more than one document."""


# ---- nodes and loaders -----------------------------------------------------------


class Node:
    """What a constructor receives: the node's ``tag`` and its ``value``,
    already built (a str for a scalar, a list for a sequence, a dict for a
    mapping), as ``construct_scalar`` and its kin return it."""

    __slots__ = ("tag", "value")

    def __init__(self, tag: str, value: Any) -> None:
        self.tag = tag
        self.value = value

    def __repr__(self) -> str:
        return f"{type(self).__name__}(tag={self.tag!r}, value={self.value!r})"


class ScalarNode(Node):
    __slots__ = ()


class SequenceNode(Node):
    __slots__ = ()


class MappingNode(Node):
    __slots__ = ()


def _node(tag: str, value: Any) -> Node:
    if isinstance(value, list):
        return SequenceNode(tag, value)
    if isinstance(value, dict):
        return MappingNode(tag, value)
    return ScalarNode(tag, value)


Constructor = Callable[[Any, Node], Any]


def _omap(items: Any) -> list[tuple[Any, Any]]:
    """An ``!!omap`` as PyYAML gives it: a list of (key, value) pairs."""
    if not isinstance(items, list) or not all(isinstance(i, dict) and len(i) == 1 for i in items):
        raise ConstructorError(
            "while constructing an ordered map", None, "expected mappings of one pair", None
        )
    return [next(iter(i.items())) for i in items]


class SafeLoader:
    """PyYAML's safe loader: its class holds the constructors added to it
    (a subclass starts with its base's), and ``allow_duplicate_keys =
    False`` on a subclass makes a repeated key an error."""

    yaml_constructors: ClassVar[dict[str, Constructor]] = {}
    allow_duplicate_keys: ClassVar[bool] = True

    def __init_subclass__(cls, **kwargs: Any) -> None:
        super().__init_subclass__(**kwargs)
        cls.yaml_constructors = dict(cls.yaml_constructors)

    @classmethod
    def add_constructor(cls, tag: str, constructor: Constructor) -> None:
        """Makes ``constructor(loader, node)`` build the nodes tagged ``tag``
        (``!Ref``, or ``tag:yaml.org,2002:...`` for a ``!!`` tag)."""
        if "yaml_constructors" not in cls.__dict__:
            cls.yaml_constructors = dict(cls.yaml_constructors)
        cls.yaml_constructors[tag] = constructor

    def construct_scalar(self, node: Node) -> Any:
        return node.value

    def construct_sequence(self, node: Node, deep: bool = False) -> Any:
        return node.value

    def construct_mapping(self, node: Node, deep: bool = False) -> Any:
        return node.value

    def construct_object(self, node: Node, deep: bool = False) -> Any:
        return node.value

    @classmethod
    def _tags(cls) -> dict[str, Callable[[Any], Any]]:
        loader = cls()

        def calling(tag: str, constructor: Constructor) -> Callable[[Any], Any]:
            return lambda value: constructor(loader, _node(tag, value))

        tags: dict[str, Callable[[Any], Any]] = {_CORE + "omap": _omap}
        tags.update((tag, calling(tag, c)) for tag, c in cls.yaml_constructors.items())
        return tags


class CSafeLoader(SafeLoader):
    """The same loader under the name of PyYAML's C one."""


def _loader_class(loader: type[SafeLoader] | None, function: str) -> type[SafeLoader]:
    if loader is None:
        raise TypeError(f"{function}() missing 1 required positional argument: 'Loader'")
    if not (isinstance(loader, type) and issubclass(loader, SafeLoader)):
        raise TypeError(
            f"{function}() takes brackle.compat.SafeLoader or a subclass of it as Loader, "
            f"not {loader!r}: brackle builds plain data only"
        )
    return loader


def load_all(stream: Source, Loader: type[SafeLoader] | None = None) -> Iterator[Any]:
    """The data of each document of ``stream``, one at a time."""
    cls = _loader_class(Loader, "load_all")
    return _documents(stream, cls.allow_duplicate_keys, None, (1, 1), cls._tags(), True)


def load(stream: Source, Loader: type[SafeLoader] | None = None) -> Any:
    """The data of the one document of ``stream``, ``None`` when it has
    none; a second document raises :class:`ComposerError`."""
    cls = _loader_class(Loader, "load")
    text, name, _ = read_source(stream, None)
    documents = load_all(text, cls)
    first = next(documents, None)
    for _ in documents:
        raise _second_document(text, name or "<unicode string>")
    return first


def _second_document(text: str, name: str) -> ComposerError:
    """The error for a stream with a second document, marked where the
    first and the second begin."""
    marks = []
    for doc in parse(text)[:2]:
        if doc.root is None:  # a document with no node: marked at the stream's end
            marks.append(Mark.at(name, text, len(text)))
        else:
            node = doc.nodes[doc.root]
            marks.append(Mark.at_line(name, text, node.line, node.col))
    return ComposerError(
        "expected a single document in the stream",
        marks[0],
        "but found another document",
        marks[-1],
    )


def safe_load_all(stream: Source) -> Iterator[Any]:
    """The data of each document of ``stream``, one at a time, by the safe
    loader."""
    return load_all(stream, SafeLoader)


def safe_load(stream: Source) -> Any:
    """The data of the one document of ``stream``, by the safe loader."""
    return load(stream, SafeLoader)


def add_constructor(
    tag: str,
    constructor: Constructor,
    Loader: type[SafeLoader] | None = None,
) -> None:
    """Adds ``constructor`` for ``tag`` to ``Loader``, the safe loader by
    default."""
    (Loader or SafeLoader).add_constructor(tag, constructor)


# ---- dumpers ----------------------------------------------------------------------

Representer = Callable[[Any, Any], Any]


class SafeDumper:
    """PyYAML's safe dumper: its class holds the representers added to it.
    A representer is called with the dumper and the object, and returns
    what ``represent_scalar``, ``represent_sequence`` or
    ``represent_mapping`` make, or plain data."""

    yaml_representers: ClassVar[dict[type, Representer]] = {}

    def __init_subclass__(cls, **kwargs: Any) -> None:
        super().__init_subclass__(**kwargs)
        cls.yaml_representers = dict(cls.yaml_representers)

    @classmethod
    def add_representer(cls, data_type: type, representer: Representer) -> None:
        """Makes ``representer(dumper, obj)`` write objects of ``data_type``
        (and of its subclasses that no built-in rule takes)."""
        if "yaml_representers" not in cls.__dict__:
            cls.yaml_representers = dict(cls.yaml_representers)
        cls.yaml_representers[data_type] = representer

    add_multi_representer = add_representer

    def represent_scalar(self, tag: str, value: str, style: str | None = None) -> Any:
        return value if tag == _CORE + "str" else Tagged(tag, value)

    def represent_sequence(self, tag: str, sequence: Iterable[Any], flow_style: Any = None) -> Any:
        items = list(sequence)
        return items if tag == _CORE + "seq" else Tagged(tag, items)

    def represent_mapping(self, tag: str, mapping: Any, flow_style: Any = None) -> Any:
        pairs = dict(mapping.items() if hasattr(mapping, "items") else mapping)
        return pairs if tag == _CORE + "map" else Tagged(tag, pairs)

    def represent_data(self, data: Any) -> Any:
        return data

    represent_str = represent_int = represent_float = represent_bool = represent_data
    represent_list = represent_dict = represent_none = represent_data

    @classmethod
    def _represent(cls) -> dict[type, Callable[[Any], Any]] | None:
        if not cls.yaml_representers:
            return None
        dumper = cls()

        def calling(representer: Representer) -> Callable[[Any], Any]:
            return lambda obj: representer(dumper, obj)

        return {t: calling(r) for t, r in cls.yaml_representers.items()}


class CSafeDumper(SafeDumper):
    """The same dumper under the name of PyYAML's C one."""


def dump_all(
    documents: Iterable[Any],
    stream: IO[Any] | None = None,
    Dumper: type[SafeDumper] = SafeDumper,
    *,
    default_style: str | None = None,
    default_flow_style: bool | None = False,
    canonical: bool | None = None,
    indent: int | None = None,
    width: int | None = None,
    allow_unicode: bool | None = None,
    line_break: str | None = None,
    encoding: str | None = None,
    explicit_start: bool | None = None,
    explicit_end: bool | None = None,
    version: tuple[int, int] | None = None,
    tags: dict[str, str] | None = None,
    sort_keys: bool = True,
) -> Any:
    """Writes each item of ``documents`` as a YAML document, with PyYAML's
    keywords and defaults. Returns the text (bytes with ``encoding``), or
    writes it to ``stream`` and returns ``None``.

    ``default_flow_style=None`` writes block style. Non-ASCII characters
    are written as they are, whatever ``allow_unicode`` says; the data reads
    back the same. ``default_style``, ``canonical``, ``version`` and
    ``tags`` have no equivalent and raise ``ValueError`` when set.
    """
    if not (isinstance(Dumper, type) and issubclass(Dumper, SafeDumper)):
        raise TypeError(
            f"dump_all() takes brackle.compat.SafeDumper or a subclass of it as Dumper, "
            f"not {Dumper!r}: brackle writes plain data only"
        )
    for keyword, value in (
        ("default_style", default_style),
        ("canonical", canonical),
        ("version", version),
        ("tags", tags),
    ):
        if value:
            raise ValueError(f"brackle.compat does not support {keyword}={value!r}")
    options: dict[str, Any] = {
        "default_flow_style": bool(default_flow_style),
        "explicit_start": bool(explicit_start),
        "explicit_end": bool(explicit_end),
    }
    if indent is not None and 2 <= indent <= 9:
        options["map_indent"] = indent
    if width is not None:
        # PyYAML takes a width under twice the indent as its default.
        options["width"] = width if width > 2 * (indent or 2) else 80
    if line_break is not None:
        options["line_break"] = line_break
    text = _dump_all(documents, represent=Dumper._represent(), sort_keys=sort_keys, **options)
    out: Any = text if encoding is None else text.encode(encoding)
    if stream is None:
        return out
    stream.write(out)
    return None


def dump(
    data: Any,
    stream: IO[Any] | None = None,
    Dumper: type[SafeDumper] = SafeDumper,
    **kwds: Any,
) -> Any:
    """Writes ``data`` as one YAML document; see :func:`dump_all`."""
    return dump_all([data], stream, Dumper, **kwds)


def safe_dump_all(documents: Iterable[Any], stream: IO[Any] | None = None, **kwds: Any) -> Any:
    """Writes each item of ``documents`` as a YAML document by the safe
    dumper; see :func:`dump_all`."""
    return dump_all(documents, stream, SafeDumper, **kwds)


def safe_dump(data: Any, stream: IO[Any] | None = None, **kwds: Any) -> Any:
    """Writes ``data`` as one YAML document by the safe dumper."""
    return dump_all([data], stream, SafeDumper, **kwds)


def add_representer(
    data_type: type,
    representer: Representer,
    Dumper: type[SafeDumper] | None = None,
) -> None:
    """Adds ``representer`` for ``data_type`` to ``Dumper``, the safe dumper
    by default."""
    (Dumper or SafeDumper).add_representer(data_type, representer)


add_multi_representer = add_representer
