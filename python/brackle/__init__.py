"""brackle: a lossless YAML engine.

``parse`` reads a YAML stream into ``Doc`` records that keep everything that
was written (comments, blank lines, quoting, anchors, tags, markers);
``emit`` writes them back. An unchanged document comes back byte for byte:

>>> import brackle
>>> text = "name: brackle  # the engine\\nitems: [a, 'b']\\n"
>>> docs = brackle.parse(text)
>>> brackle.emit(docs, brackle.EmitOptions()) == text
True
>>> doc = docs[0]
>>> doc.nodes[doc.nodes[doc.root].children[1]].value
'brackle'
"""

from brackle import _brackle
from brackle._brackle import emit, parse
from brackle._files import FileChangedError, FileWriteError
from brackle._record import Doc, Node, Trivia
from brackle._version import __version__
from brackle.constructor import (
    DuplicateKeyError,
    FrozenDict,
    HashedTuple,
    Tagged,
    _binary,
    _construct_error,
    _timestamp,
    iter_load,
    load,
    load_all,
)
from brackle.editing import Comments, Stream, YAMLMapping, YAMLSequence, edit
from brackle.error import (
    EditError,
    EmitterError,
    InternalError,
    Mark,
    MarkedYAMLError,
    ReaderError,
    RepresenterError,
    ScannerError,
    YAMLError,
    make_error,
)
from brackle.formatter import FormatError, format
from brackle.options import EmitOptions
from brackle.representer import Flow, dump, dump_all

# The extension module calls these by name; it never imports the package.
_brackle._register(
    Node=Node,
    Doc=Doc,
    Trivia=Trivia,
    make_error=make_error,
    EmitterError=EmitterError,
    InternalError=InternalError,
    Tagged=Tagged,
    FrozenDict=FrozenDict,
    HashedTuple=HashedTuple,
    construct_error=_construct_error,
    timestamp=_timestamp,
    binary=_binary,
    RepresenterError=RepresenterError,
    Flow=Flow,
    EditError=EditError,
)

__all__ = [
    "__version__",
    "parse",
    "emit",
    "dump",
    "dump_all",
    "EmitOptions",
    "Doc",
    "Node",
    "Trivia",
    "YAMLError",
    "MarkedYAMLError",
    "ReaderError",
    "ScannerError",
    "EmitterError",
    "RepresenterError",
    "InternalError",
    "Mark",
    "load",
    "load_all",
    "iter_load",
    "Tagged",
    "DuplicateKeyError",
    "edit",
    "Stream",
    "YAMLMapping",
    "YAMLSequence",
    "Comments",
    "Flow",
    "EditError",
    "format",
    "FormatError",
    "FileWriteError",
    "FileChangedError",
]
