"""Properties over generated input: the record path and the core agree,
YAML-like texts come back as they were written, and values and trees written
from records read back as they were."""

from __future__ import annotations

import os
import re

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import brackle
from brackle._brackle import _roundtrip_in_rust
from brackle._record import Doc, Node, Trivia
from brackle.error import ScannerError
from brackle.options import EmitOptions
from layouts import listed_layout, unstyled
from suite_util import events_of

OPTS = EmitOptions()

# BRACKLE_HYPOTHESIS_PROFILE=long runs many more examples.
settings.register_profile(
    "brackle", max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow]
)
settings.register_profile("long", parent=settings.get_profile("brackle"), max_examples=20000)
settings.load_profile(os.environ.get("BRACKLE_HYPOTHESIS_PROFILE", "brackle"))


def _at_least(n: int) -> int:
    """Examples for a property that needs at least ``n``; a profile that asks
    for more (``long``) gets more."""
    return max(n, settings.default.max_examples)


# Pieces of YAML-like lines: indentation, indicators, scalars of every
# style, properties, comments and odd whitespace, so that generated texts
# are often valid and often not.
_PIECES = st.sampled_from(
    [
        "",
        " ",
        "  ",
        "\t",
        "- ",
        "? ",
        ": ",
        "a",
        "b: ",
        "key: value",
        "'q'",
        '"d\\n"',
        "|",
        ">-",
        "[",
        "]",
        "{",
        "}",
        ", ",
        "&x ",
        "*x",
        "!t ",
        "!!str ",
        "# c",
        "---",
        "...",
        "%YAML 1.2",
        "<<: ",
        "\ufeff",
        "é",
        "\r",
    ]
)
_TEXTS = st.lists(st.lists(_PIECES, max_size=6).map("".join), max_size=8).map("\n".join)


def _outcome(call, text):
    try:
        return call(text)
    except ScannerError as e:
        return ("error", e.problem, e.problem_mark.index)


@given(_TEXTS)
def test_record_path_agrees_with_the_core(text):
    through_records = _outcome(lambda t: brackle.emit(brackle.parse(t), OPTS), text)
    inside_core = _outcome(lambda t: _roundtrip_in_rust(t, OPTS), text)
    assert through_records == inside_core


@given(_TEXTS)
def test_records_rebuilt_from_their_attributes_emit_the_same(text):
    try:
        docs = brackle.parse(text)
    except ScannerError:
        return
    copies = [Doc(*(getattr(d, f) for f in Doc.__slots__)) for d in docs]
    for copy in copies:
        copy.nodes = [Node(*(getattr(n, f) for f in Node.__slots__)) for n in copy.nodes]
    assert brackle.emit(copies, OPTS) == brackle.emit(docs, OPTS)


_VALUES = st.text(
    st.characters(blacklist_categories=("Cs",), blacklist_characters="\ufeff"), max_size=20
)


@given(
    st.lists(st.tuples(_VALUES, _VALUES, st.integers(0, 4)), min_size=1, max_size=5), st.booleans()
)
def test_values_written_from_records_read_back_unchanged(pairs, flow):
    # A mapping of distinct keys, each value in a preferred style that the
    # emitter may overrule when the style cannot carry it.
    pairs = list({k: (v, s) for k, v, s in pairs}.items())
    nodes = [Node(2, 6 if flow else 5)]
    for key, (value, style) in pairs:
        nodes[0].children += [len(nodes), len(nodes) + 1]
        nodes += [Node(0, 0, value=key), Node(0, style, value=value)]
    text = brackle.emit([Doc(root=0, nodes=nodes, final_line_break=True)], OPTS)
    [doc] = brackle.parse(text)
    top = doc.nodes[doc.root]
    read = [doc.nodes[i].value for i in top.children]
    assert read == [x for key, (value, _) in pairs for x in (key, value)], text


# --- generated YAML-like texts round trip or fail cleanly ---------------------------

_WORD = st.sampled_from(
    [
        "a",
        "b",
        "key",
        "x y",
        "1",
        "-1",
        "0x1F",
        "null",
        "~",
        "true",
        "é",
        "日本",
        "🙂",
        "a\u2028b",
        "\u2028",
        "\ufeff",
        "\x85",
        "\x00",
        "\x1b",
        "\x7f",
        "a:b",
        "a#b",
        "a,b",
        "-x",
        "?x",
        ":x",
        "http://x",
        "a\tb",
        "@",
        "`",
        "%",
    ]
)
_QUOTED = st.sampled_from(
    [
        "'q'",
        "''",
        "'it''s'",
        "'é #'",
        '""',
        '"d"',
        '"a\\nb"',
        '"\\u00e9\\t"',
        '"a\\"b"',
        '"\\x41"',
        "'a\u2028b'",
        '"a\tb"',
    ]
)
# Pieces that make a text ill-formed wherever they stand.
_BROKEN = st.sampled_from(
    ["'open", '"open', 'close"', "close'", '"\\q"', "[a,", "{a: [b}", "]", "a#x", "`", "@", "\t- "]
)
_PROPERTIES = st.sampled_from(
    ["&a ", "&é ", "!t ", "!!str ", "!<tag:x,1:y> ", "! ", "&a !t ", "!!int%47 ", "!e!x ", "*a "]
)
_FLOW = st.sampled_from(
    ["[]", "{}", "[a, b]", "{a: 1, b}", "[a: b]", "{? a}", "[[a], {b: c}]", "[ ]", "[\ta ,b\n ]"]
)
_INDICATOR = st.sampled_from(
    [
        "- ",
        "-",
        "? ",
        "?",
        ": ",
        ":",
        ", ",
        ",",
        "[",
        "]",
        "{",
        "}",
        "#",
        "&",
        "*",
        "!",
        "|",
        ">",
        "|-",
        ">+",
        "|2",
        "'",
        '"',
        "%",
        "@",
        "`",
        "---",
        "...",
        "--- ",
        "... ",
        " ",
        "\t",
    ]
)
_COMMENT = st.sampled_from(["", "", "", "", " # c", " #", " # é 🙂", "\t# t"])
# Values over several lines: "\n@" is a line break and the indentation of
# a line one level deeper than the value's own.
_MULTI_LINE = st.sampled_from(
    [
        "a\n@b",
        "a\n\n@b # c",
        "'a\n@b'",
        '"a\\\n@ b"',
        '"a\n\n@b"',
        "[a,\n@b]",
        "{a: 1,\n@b}",
        "[\n@a, # c\n@b\n@]",
        "&a\n@b",
        "!t\n@- b",
    ]
)
_VALUE = st.one_of(
    _WORD,
    _QUOTED,
    _FLOW,
    st.tuples(_PROPERTIES, st.one_of(_WORD, _QUOTED, _FLOW)).map("".join),
    _MULTI_LINE,
    st.sampled_from(["|", ">", "|-", ">+", "|2", "&a |", "!t >-"]),  # the lines below are its body
)
_KEY = st.sampled_from(["k", "a", "é", "'k'", '"k"', "&a k", "!t k", "? k", "[a]", "{}", "a b"])
_MARKER = st.sampled_from(
    ["---", "...", "--- a", "--- |", "--- &a", "%YAML 1.2", "%TAG !e! tag:e,1:", "# c", "", " "]
)
_FREE_PIECE = st.one_of(_INDICATOR, _WORD, _QUOTED, _PROPERTIES, _BROKEN)
# The line breaks of a text: one kind throughout (mostly LF), or a mix.
_BREAKS = st.sampled_from(["\n"] * 14 + ["\r\n"] * 3 + ["\r", "mixed", "mixed"])
_MIXED_BREAK = st.sampled_from(["\n", "\r\n", "\r"])


@st.composite
def _yaml_like_texts(draw):
    """Lines shaped like YAML (block sequences and mappings, each level of one
    kind, a line at most one level deeper than the last), and now and then a
    marker, a directive or a line of anything."""
    out = []
    breaks = draw(_BREAKS)
    levels = []  # "seq" or "map" for each open level of indentation
    opened = True  # the last line ended after a dash or a key
    for _ in range(draw(st.integers(0, 8))):
        shape = draw(st.sampled_from(["shaped"] * 16 + ["marker", "free", "broken"]))
        if shape == "marker":
            line = draw(_MARKER)
            levels, opened = [], True
        elif shape == "broken":
            line = "  " * draw(st.integers(0, len(levels))) + draw(_BROKEN)
        elif shape == "free":
            indent = draw(st.sampled_from(["", " ", "  "]))
            line = indent + "".join(draw(st.lists(_FREE_PIECE, max_size=5)))
        else:
            deepest = len(levels) if opened else max(len(levels) - 1, 0)
            depth = draw(st.integers(0, deepest))
            del levels[depth + 1 :]
            if depth == len(levels):
                levels.append(draw(st.sampled_from(["seq", "map"])))
            if levels[depth] == "seq":
                opener = draw(st.sampled_from(["- ", "- ", "- k: ", "- - "]))
            else:
                opener = draw(_KEY) + draw(st.sampled_from([": ", ": ", " : "]))
            anchored = "&a" in "".join(out)
            if draw(st.booleans()):
                value = ""
                opener = opener.rstrip(" ") if draw(st.booleans()) else opener
            elif anchored and draw(st.integers(0, 5)) == 0:
                value = "*a"
            else:
                value = draw(_VALUE)
            line = "  " * depth + opener + value + draw(_COMMENT)
            opened = not value
            if value.endswith(("|", ">", ">+", "|-", "|2", ">-")):
                # A block scalar's body, indented as far as its header.
                line += "\n" + " " * (2 * depth + len(opener)) + draw(_WORD)
            elif opener.startswith("? ") and draw(st.booleans()):
                # An explicit key and its value on the next line.
                line += "\n" + "  " * depth + ": " + draw(_VALUE)
            line = line.replace("\n@", "\n" + "  " * (depth + 1))
            line = line.replace("\n", breaks if breaks != "mixed" else draw(_MIXED_BREAK))
        out.append(line + draw(st.sampled_from(["", "", "", "", " ", "\t"])))
    ends = [breaks if breaks != "mixed" else draw(_MIXED_BREAK) for _ in out]
    if ends and draw(st.booleans()):
        # How the text ends: without a final break, or with a blank line or a comment.
        ends[-1] = draw(st.sampled_from(["", " ", ends[-1] * 2, ends[-1] + "# c"]))
    return "".join(line + end for line, end in zip(out, ends))


_YAML_LIKE = _yaml_like_texts()


def _parse_outcome(call, text):
    """The result of ``call(text)``, or the type and message of the YAMLError it raised."""
    try:
        return call(text)
    except brackle.YAMLError as e:
        return (type(e), str(e))


def _data_of(docs):
    """The events of ``docs`` with every scalar's style left out."""
    return unstyled(events_of(docs))


@settings(deadline=None, max_examples=_at_least(2500))
@given(_YAML_LIKE)
def test_yaml_like_texts_round_trip_byte_for_byte_or_raise_a_yaml_error(text):
    # A NUL, which YAML does not allow, ends the text that is read and kept.
    source = text.split("\x00", 1)[0]
    opts = EmitOptions()
    inside_core = _parse_outcome(lambda t: _roundtrip_in_rust(t, opts), text)
    parsed = _parse_outcome(brackle.parse, text)
    if isinstance(parsed, tuple):
        assert inside_core == parsed  # the same error, whichever path reads the text
        return
    assert isinstance(inside_core, str), inside_core
    through_records = brackle.emit(parsed, opts)
    if listed_layout(source):
        expected = _data_of(parsed)
        assert _data_of(brackle.parse(inside_core)) == expected
        assert _data_of(brackle.parse(through_records)) == expected
        return
    assert inside_core == source
    assert through_records == source


# --- generated record trees emit text that reads back as the same events ------------

_SCALAR_PIECES = st.sampled_from(
    [
        "a",
        "b c",
        " ",
        "  ",
        "\t",
        "\n",
        "\n\n",
        "\r",
        "\r\n",
        "#",
        " #",
        "# ",
        "- ",
        "-",
        "? ",
        ":",
        ": ",
        ",",
        "[",
        "]",
        "{",
        "}",
        "&a",
        "*a",
        "!t",
        "|",
        ">",
        "'",
        '"',
        "\\",
        "%",
        "@",
        "`",
        "---",
        "...",
        "é",
        "日本",
        "🙂",
        "\u2028",
        "\u2029",
        "\x85",
        "\ufeff",
        "\x00",
        "\x01",
        "\x1b",
        "\x7f",
        "\x9f",
        "null",
        "~",
        "1",
        "-1.5",
        "0o7",
        ".inf",
        "true",
        "yes",
        "<<",
        "=",
        "2001-12-14",
        "1:20",
    ]
)
_SCALAR_VALUE = st.one_of(
    st.lists(_SCALAR_PIECES, max_size=4).map("".join),
    st.text(st.characters(blacklist_categories=("Cs",)), max_size=6),
)
# Mostly the scalar styles; the collection styles mean no preference for a scalar.
_SCALAR_STYLE = st.sampled_from([0, 0, 1, 2, 3, 4, 5, 6])
_COLLECTION_STYLE = st.sampled_from([Node.BLOCK, Node.BLOCK, Node.FLOW])
_TAG = st.sampled_from(
    [None, None, None, None]
    + [
        ("!", "t", "!t"),
        ("!", "é", "!é"),
        ("!", "a!b", "!a!b"),  # written with the ! escaped
        ("!", "a,b", "!a,b"),
        ("!!", "str", "tag:yaml.org,2002:str"),
        ("!!", "int", "tag:yaml.org,2002:int"),
        ("", "tag:x.org,2000:app/y", "tag:x.org,2000:app/y"),
        ("", "!", "!"),  # "!" alone: not resolved by its plain text
        ("!e!", "x", "tag:e,1:x"),  # a handle its document declares
        ("!!", "", "tag:yaml.org,2002:"),  # no suffix
    ]
)
# Names an anchor can have, and now and then one it cannot (empty, or with a
# blank or a flow indicator): those must be refused, not written.
_ANCHOR_NAME = st.sampled_from(["a", "b1", "é", "日本", "a:b", "x-y"] * 3 + ["", "a b", "a,b"])
_ANCHOR = st.one_of(st.none(), st.none(), _ANCHOR_NAME)
# Comments and blank lines around a node: they must never change what is read.
# The last three are texts that are no comments, which emit must refuse.
_TRIVIA = st.sampled_from(
    [None] * 6
    + ["eol", "before", "blank"] * 2
    + ["eol with data", "before without #", "eol with CR"]
)
_BAD_TRIVIA = {
    "eol with data": ("eol", "# x\nextra: injected"),
    "before without #": ("before", "not a comment"),
    "eol with CR": ("eol", "# x\rk: v"),
}

_SCALAR_LEAF = st.tuples(st.just("scalar"), _SCALAR_STYLE, _SCALAR_VALUE, _TAG, _ANCHOR, _TRIVIA)
# An alias names an anchor given before it, or (when dangling) any name.
_ALIAS_LEAF = st.tuples(
    st.just("alias"), _ANCHOR_NAME, _TRIVIA, st.sampled_from([False] * 5 + [True])
)
_TREE = st.recursive(
    st.one_of(_SCALAR_LEAF, _SCALAR_LEAF, _SCALAR_LEAF, _ALIAS_LEAF),
    lambda kids: st.one_of(
        st.tuples(
            st.just("seq"), _COLLECTION_STYLE, st.lists(kids, max_size=4), _TAG, _ANCHOR, _TRIVIA
        ),
        st.tuples(
            st.just("map"),
            _COLLECTION_STYLE,
            st.lists(st.tuples(kids, kids), max_size=3),
            _TAG,
            _ANCHOR,
            _TRIVIA,
        ),
    ),
    max_leaves=10,
)
_OPTIONS = st.builds(
    EmitOptions,
    line_break=st.sampled_from(["\n", "\r\n", "\r"]),
    map_indent=st.sampled_from([2, 1, 3, 4, 0]),
    seq_indent=st.sampled_from([2, 3, 4, 1]),
    seq_offset=st.sampled_from([0, 1, 2]),
    width=st.sampled_from([80, 1, 10, 20, 1000]),
    explicit_start=st.booleans(),
    explicit_end=st.booleans(),
    default_flow_style=st.booleans(),
    preserve_quotes=st.booleans(),
)
_DOCS = st.lists(
    st.tuples(
        st.one_of(st.none(), _TREE, _TREE, _TREE),
        st.booleans(),
        st.booleans(),
        st.sampled_from([False] * 7 + [True]),  # a node given two parents
    ),
    min_size=1,
    max_size=3,
)


def _doc_of(tree, explicit_start: bool, explicit_end: bool, share: bool) -> Doc:
    """A Doc record of a generated tree, its nodes in document order. An alias
    names an anchor given earlier in its document, or becomes a plain scalar
    unless it is meant to dangle. With `share`, the first collection of two
    children or more lists its first child twice."""
    nodes: list[Node] = []
    anchors: set[str] = set()

    def trivia(node: Node, where) -> Node:
        where, text = _BAD_TRIVIA.get(where, (where, "# c"))
        if where == "eol":
            node.eol = Trivia(text, False, 0, 0)
        elif where == "before":
            node.before = [Trivia(text, True, 0, 0)]
        elif where == "blank":
            node.before = [Trivia.blank(1)]
        return node

    def add(shape) -> int:
        index = len(nodes)
        nodes.append(None)
        if shape[0] == "alias":
            _, name, where, dangling = shape
            aliased = name in anchors or (dangling and name)
            node = Node(Node.ALIAS, Node.BLOCK, anchor=name) if aliased else Node(value=name)
            nodes[index] = trivia(node, where)
            return index
        kind, style, content, tag, anchor, where = shape
        if anchor is not None:
            anchors.add(anchor)
        if kind == "scalar":
            node = Node(Node.SCALAR, style, anchor=anchor, tag=tag, value=content)
        else:
            node = Node(
                Node.SEQUENCE if kind == "seq" else Node.MAPPING, style, anchor=anchor, tag=tag
            )
            items = content if kind == "seq" else [child for pair in content for child in pair]
            node.children = [add(item) for item in items]
        nodes[index] = trivia(node, where)
        return index

    root = None if tree is None else add(tree)
    if share:
        for node in nodes:
            if len(node.children) >= 2:
                node.children[1] = node.children[0]
                break
    declared = [("!e!", "tag:e,1:")] if any(n.tag and n.tag[0] == "!e!" for n in nodes) else []
    return Doc(
        root=root,
        nodes=nodes,
        explicit_start=explicit_start,
        explicit_end=explicit_end,
        final_line_break=True,
        tag_directives=declared,
    )


def _unstyled_events(docs) -> list[str]:
    """The events of ``docs`` with every scalar plain, every collection block
    and no document markers: what must survive whatever layout was chosen."""
    return events_of(
        Doc(
            root=d.root,
            nodes=[
                Node(
                    n.kind,
                    Node.PLAIN if n.kind == Node.SCALAR else Node.BLOCK,
                    n.anchor,
                    n.tag,
                    n.value,
                    children=n.children,
                )
                for n in d.nodes
            ],
        )
        for d in docs
    )


def _document_order(doc):
    """Each node of ``doc`` from its root in document order, with whether it
    stands inside a flow collection."""
    stack = [(doc.root, False)]
    while stack:
        index, in_flow = stack.pop()
        node = doc.nodes[index]
        yield node, in_flow
        if node.kind in (Node.SEQUENCE, Node.MAPPING):
            inner = in_flow or node.style == Node.FLOW
            stack.extend((child, inner) for child in reversed(node.children))


# Plain texts that the core schema reads as null, a boolean, an integer or a
# float rather than as a string.
_NOT_A_STRING = re.compile(
    r"|~|null|Null|NULL|true|True|TRUE|false|False|FALSE"
    r"|[-+]?[0-9]+|0o[0-7]+|0x[0-9a-fA-F]+"
    r"|[-+]?(\.[0-9]+|[0-9]+(\.[0-9]*)?)([eE][-+]?[0-9]+)?"
    r"|[-+]?\.(inf|Inf|INF)|\.(nan|NaN|NAN)"
)
_QUOTED_OR_BLOCK = (Node.SINGLE_QUOTED, Node.DOUBLE_QUOTED, Node.LITERAL, Node.FOLDED)


@settings(deadline=None, max_examples=_at_least(1500))
@given(_DOCS, _OPTIONS)
def test_generated_records_emit_text_that_reads_back_as_the_same_events(trees, opts):
    docs = [_doc_of(*t) for t in trees]
    try:
        text = brackle.emit(docs, opts)
    except (ValueError, brackle.EmitterError):
        return
    read = brackle.parse(text)
    shown = f"emitted as {text!r}"
    assert _unstyled_events(read) == _unstyled_events(docs), shown

    written = [d for d in docs if d.root is not None]
    for doc, back in zip(written, [d for d in read if d.root is not None]):
        assert back.explicit_start or not (doc.explicit_start or opts.explicit_start), shown
        assert back.explicit_end or not (doc.explicit_end or opts.explicit_end), shown
        for (node, in_flow), (got, _) in zip(_document_order(doc), _document_order(back)):
            if node.kind == Node.SCALAR:
                # A block style only where it was asked for; double quotes kept
                # when quotes are preserved; and a string written without
                # quotes only where it still reads as a string.
                assert got.style in {
                    node.style,
                    Node.PLAIN,
                    Node.SINGLE_QUOTED,
                    Node.DOUBLE_QUOTED,
                }, shown
                if opts.preserve_quotes and node.style == Node.DOUBLE_QUOTED:
                    assert got.style == Node.DOUBLE_QUOTED, shown
                if node.style in _QUOTED_OR_BLOCK and node.tag is None and got.style == Node.PLAIN:
                    assert not _NOT_A_STRING.fullmatch(node.value), shown
            elif node.kind != Node.ALIAS:
                # A collection keeps its style unless flow is forced on it, or
                # it is empty (a block collection needs an item).
                flow = (
                    node.style == Node.FLOW
                    or in_flow
                    or opts.default_flow_style
                    or not node.children
                )
                assert got.style == (Node.FLOW if flow else Node.BLOCK), shown
