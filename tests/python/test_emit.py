"""emit: reading records and options, the errors of a record that cannot be a
document, and the errors of the emitter itself."""

from __future__ import annotations

from types import SimpleNamespace

import pytest

import brackle
from brackle._brackle import _roundtrip_in_rust
from brackle._record import Doc, Node, Trivia
from brackle.error import EmitterError
from brackle.options import EmitOptions
from suite_util import events_of

OPTS = EmitOptions()


def sc(value: str, **fields) -> Node:
    """A plain scalar written from its value (no raw text)."""
    return Node(0, 0, value=value, **fields)


def seq(*children: int, **fields) -> Node:
    return Node(1, 5, children=list(children), **fields)


def mapping(*children: int, **fields) -> Node:
    return Node(2, 5, children=list(children), **fields)


def doc(*nodes: Node, root: int | None = 0, **fields) -> Doc:
    fields.setdefault("final_line_break", True)
    return Doc(root=root, nodes=list(nodes), **fields)


def emit_one(d) -> str:
    return brackle.emit([d], OPTS)


# --- documents built by hand ---------------------------------------------------------


def test_empty_docs_emit_the_empty_string():
    assert brackle.emit([], OPTS) == ""
    assert brackle.emit(iter(()), OPTS) == ""


def test_hand_built_mapping_and_sequence_are_laid_out_from_their_values():
    assert emit_one(doc(mapping(1, 2), sc("a"), sc("b"))) == "a: b\n"
    assert emit_one(doc(seq(1, 2), sc("x"), sc("y"))) == "- x\n- y\n"


def _unset(node: Node, field: str, trivia: bool = False) -> Node:
    """`node` with `field` deleted from it, or from a comment put before it."""
    if trivia:
        node.before = [Trivia("# c", True, 0, 0)]
        delattr(node.before[0], field)
    else:
        delattr(node, field)
    return node


def test_records_of_a_subclass_are_read_through_its_attributes():
    class Shouting(Node):
        __slots__ = ()

        @property
        def value(self):
            return "LOUD"

        @value.setter
        def value(self, given):
            Node.value.__set__(self, given)  # the slot keeps what was given

    assert emit_one(doc(mapping(1, 2), sc("a"), Shouting(0, 0, value="quiet"))) == "a: LOUD\n"


def test_any_iterable_of_any_objects_with_the_attributes_is_read():
    def as_namespace(record):
        return SimpleNamespace(**{name: getattr(record, name) for name in record.__slots__})

    d = doc(mapping(1, 2), sc("a"), sc("b"))
    duck = as_namespace(d)
    duck.nodes = (as_namespace(n) for n in d.nodes)
    opts = SimpleNamespace(**{name: getattr(OPTS, name) for name in OPTS.__slots__})
    assert brackle.emit((x for x in [duck]), opts) == "a: b\n"


@pytest.mark.parametrize(
    ("style", "preserve_quotes", "expected"),
    [
        (Node.LITERAL, False, "k: v\n"),  # a block style cannot stand on an implicit key
        (Node.FOLDED, True, "k: v\n"),
        (Node.BLOCK, False, "k: v\n"),  # a collection style on a scalar is no preference
        (Node.SINGLE_QUOTED, False, "k: v\n"),
        (Node.SINGLE_QUOTED, True, "'k': v\n"),
        (Node.DOUBLE_QUOTED, True, '"k": v\n'),
    ],
)
def test_a_key_written_from_its_value_gets_a_style_that_can_stand_there(
    style, preserve_quotes, expected
):
    d = doc(mapping(1, 2), Node(0, style, value="k"), sc("v"))
    assert brackle.emit([d], EmitOptions(preserve_quotes=preserve_quotes)) == expected


@pytest.mark.parametrize(
    "nodes, message",
    [
        ([seq(1, 1), sc("a")], "node 1 has two parents, nodes 0 and 0"),
        ([seq(1, 2), seq(3), seq(3), sc("a")], "node 3 has two parents, nodes 1 and 2"),
    ],
)
def test_a_node_shared_by_two_parents_is_refused(nodes, message):
    with pytest.raises(ValueError, match=f"^{message}: a node stands in one place only"):
        emit_one(doc(*nodes))


@pytest.mark.parametrize(
    ("nodes", "through"),
    [
        ([seq(0)], "0"),  # its own child
        ([seq(1), seq(0)], "[01]"),  # its own grandchild
        ([mapping(1, 2), sc("k"), seq(3), seq(2)], "[23]"),
    ],
)
def test_a_document_whose_nodes_form_a_cycle_is_refused(nodes, through):
    with pytest.raises(ValueError, match=f"^a Doc's nodes form a cycle through node {through}$"):
        emit_one(doc(*nodes))


def test_scalar_children_are_not_read_as_indices():
    assert emit_one(doc(sc("a", children=[99, 1000]))) == "a\n"


def test_explicit_flag_is_read_from_even_positions_only():
    assert emit_one(doc(mapping(1, 2, explicit=[0]), sc("a"), sc("b"))).startswith("? a")
    assert emit_one(doc(mapping(1, 2, explicit=[1, 7]), sc("a"), sc("b"))) == "a: b\n"


def test_merge_and_colon_lists_need_not_match_the_entries():
    text = "a: b\nc: d\ne: f\n"
    [d] = brackle.parse(text)
    top = d.nodes[d.root]
    top.merge = [1, 3, 99]  # odd positions and positions past the keys are ignored
    top.colon = [None, (1, 1)]  # missing items read as no position
    assert emit_one(d) == text
    top.colon = [(0, 1), (1, 1), (2, 1), (5, 5), None]  # surplus items are ignored
    assert emit_one(d) == text


def test_blank_trivia_does_not_read_its_text():
    node = sc("a", before=[Trivia(5, "not a bool", "not an int", 2)])
    assert emit_one(doc(seq(1), node)) == emit_one(doc(seq(1), sc("a", before=[Trivia.blank(2)])))


def test_none_comment_text_reads_as_empty():
    emit_one(doc(sc("a", before=[Trivia(None, True, 0, 0)])))


@pytest.mark.parametrize("children", [(1, 2), [1, 2]])
def test_children_may_be_any_sequence_of_ints(children):
    assert emit_one(doc(Node(1, 5, children=children), sc("x"), sc("y"))) == "- x\n- y\n"


def test_document_markers_from_the_options_and_from_the_document():
    d = doc(sc("a"), explicit_start=True)
    assert emit_one(d).startswith("---")  # the option off leaves the document's own marker
    assert brackle.emit([doc(sc("a"))], EmitOptions(explicit_start=True)).startswith("---")
    assert brackle.emit([doc(sc("a"))], EmitOptions(explicit_end=True)).rstrip("\n").endswith("...")


def _comment() -> Trivia:
    return Trivia("# c", True, 0, 0)


def _eol() -> Trivia:
    return Trivia("# c", False, 0, 0)


def _without_markers(events: list[str]) -> list[str]:
    return [e.removesuffix(" ---").removesuffix(" ...") for e in events]


# Trees without positions whose layout once changed their data or made them
# unreadable: each is written so that it reads back as built.
@pytest.mark.parametrize(
    ("nodes", "options", "expected"),
    [
        # The first key of a mapping item lines up with the later ones.
        (
            [
                mapping(1, 2),
                sc("k"),
                seq(3),
                mapping(4, 5, 6, 7),
                sc("a"),
                sc(""),
                sc("b"),
                sc("x"),
            ],
            {"seq_indent": 4},
            "k:\n-   a:\n    b: x\n",
        ),
        (
            [seq(1), mapping(2, 3, 4, 5), sc("a"), sc(""), sc("b"), sc("x")],
            {"seq_indent": 3, "explicit_start": True},
            "---\n-  a:\n   b: x\n",
        ),
        # Items indented less than the dash line allows move right to line up.
        (
            [seq(1, 2), sc("a"), seq(3, 4), sc("b"), sc("c")],
            {"seq_indent": 2, "seq_offset": 1},
            "- a\n- - b\n  - c\n",
        ),
        (
            [mapping(1, 2), sc("k"), mapping(3, 4), sc("a"), seq(5), sc("x")],
            {"map_indent": 0},
            "k:\n a:\n - x\n",
        ),
        # Keys that cannot be implicit take the `?` form.
        ([mapping(1, 3), seq(2), sc("x"), sc("a")], {}, "? - x\n: a\n"),
        ([mapping(1, 4), mapping(2, 3), sc("x"), sc("y"), sc("a")], {}, "? x: y\n: a\n"),
        ([mapping(1, 2), sc("a", eol=_eol()), sc("b")], {}, "? a # c\n: b\n"),
        (
            [mapping(1, 3), Node(1, 6, children=[2]), sc("x", eol=_eol()), sc("a")],
            {},
            "? [x] # c\n: a\n",
        ),
        (
            [
                mapping(1, 5),
                Node(1, 6, children=[2, 3, 4]),
                sc("aaaa"),
                sc("bbbb"),
                sc("cccc"),
                sc("v"),
            ],
            {"width": 10},
            "? [\n  aaaa,\n  bbbb,\n  cccc]\n: v\n",
        ),
        ([mapping(1, 2), sc("k" * 1030), sc("v")], {}, "? " + "k" * 1030 + "\n: v\n"),
        # A value after a comment stands right of its key.
        (
            [mapping(1, 2), sc("k"), Node(1, 6, children=[3], before=[_comment()]), sc("a")],
            {},
            "k:\n# c\n  [a]\n",
        ),
        (
            [mapping(1, 2), sc("k"), Node(0, 3, value="0", before=[_comment()])],
            {},
            "k:\n# c\n  |-\n  0\n",
        ),
        # Lines of a broken flow collection stand right of the enclosing block.
        (
            [seq(1), seq(2), Node(1, 6, children=[3, 4]), sc("aaaa"), sc("bbbb", eol=_eol())],
            {"width": 8},
            "- - [\n    aaaa,\n    bbbb] # c\n",
        ),
        (
            [seq(1), mapping(2, 3), sc("k"), Node(1, 6, children=[4, 5]), sc("aaaa"), sc("bbbb")],
            {"width": 10},
            "- k: [\n    aaaa,\n    bbbb]\n",
        ),
        (
            [seq(1), Node(2, 6, children=[2, 3]), sc("a"), sc("", before=[_comment()])],
            {},
            "- {\n  a:\n# c\n }\n",
        ),
        # After blank lines, a closing bracket stands right of the block too.
        (
            [seq(1), Node(1, 6, children=[2], after=[Trivia.blank(1)]), sc("a")],
            {},
            "- [\n  a\n\n ]\n",
        ),
        # Blank lines after a scalar that keeps its final breaks would be its content.
        (
            [seq(1, 2), Node(0, 3, value="a\n\n"), sc("b", before=[Trivia.blank(1)])],
            {},
            "- |+\n  a\n\n- b\n",
        ),
        # An empty root keeps its document by the marker.
        ([sc("")], {}, "---\n"),
        # Tags whose shorthand would not read back are written verbatim.
        (
            [seq(1, tag=("!!", "", "tag:yaml.org,2002:")), sc("x")],
            {},
            "!<tag:yaml.org,2002:>\n- x\n",
        ),
        ([sc("a", tag=("!x!", "a", "tag:x,1:a"))], {}, "!<tag:x,1:a> a\n"),
    ],
)
def test_trees_without_positions_read_back_as_built(nodes, options, expected):
    record = doc(*nodes)
    text = brackle.emit([record], EmitOptions(**options))
    assert text == expected
    assert _without_markers(events_of(brackle.parse(text))) == _without_markers(events_of([record]))


def test_an_empty_root_between_documents_keeps_its_document():
    docs = [doc(sc("a"), explicit_end=True), doc(sc("")), doc(sc("b"))]
    text = brackle.emit(docs, OPTS)
    assert text == "a\n...\n---\n--- b\n"
    assert len(brackle.parse(text)) == 3


@pytest.mark.parametrize(
    ("line_break", "expected"), [("\n", "a: b\n"), ("\r\n", "a: b\r\n"), ("\r", "a: b\r")]
)
def test_line_break_option_is_written_at_the_end_of_new_lines(line_break, expected):
    d = doc(mapping(1, 2), sc("a"), sc("b"))
    assert brackle.emit([d], EmitOptions(line_break=line_break)) == expected


# --- record errors ---------------------------------------------------------------------

LINE_BREAK_ERROR = "EmitOptions.line_break must be one of '\\n', '\\r\\n', '\\r', not {}"
ANCHOR_CHARS = (
    "an anchor or alias name cannot hold a space, tab, line break, NUL, U+FEFF or any of , [ ] { }"
)


@pytest.mark.parametrize(
    ("record", "message"),
    [
        (doc(sc("a"), sc("b"), root=2), "Doc.root is node 2, but the Doc has 2 nodes"),
        (doc(root=0), "Doc.root is node 0, but the Doc has 0 nodes"),
        (doc(seq(1, 5), sc("a")), "a child of node 0 is node 5, but the Doc has 2 nodes"),
        (
            doc(seq(1), mapping(2, 3), sc("k")),
            "a child of node 1 is node 3, but the Doc has 3 nodes",
        ),
        (
            doc(mapping(1), sc("a")),
            "a mapping Node needs an even number of children (k, v, k, v, ...)",
        ),
        (doc(Node(3, 5)), "an alias Node needs the referenced name in `anchor`"),
        (doc(seq(1), Node(3, 5, anchor="")), "an alias Node needs the referenced name in `anchor`"),
        (doc(sc("a", anchor="")), "a Node's `anchor` cannot be empty"),
        (doc(sc("a", anchor="a b")), ANCHOR_CHARS),
        (doc(seq(1), Node(3, 5, anchor="a,b")), ANCHOR_CHARS),
        (doc(sc("a", anchor="a\tb")), ANCHOR_CHARS),
        (doc(sc("a", anchor="a\nb")), ANCHOR_CHARS),
        (doc(sc("a", anchor="a}")), ANCHOR_CHARS),
        (doc(sc("a", anchor="\ufeff")), ANCHOR_CHARS),
        (doc(sc("a", anchor="a\x00")), ANCHOR_CHARS),
        (doc(Node(4, 0)), "unknown Node.kind 4"),
        (doc(Node(255, 0)), "unknown Node.kind 255"),
        (doc(Node(0, 7, value="a")), "unknown Node.style 7"),
        (doc(Node(0, 255, value="a")), "unknown Node.style 255"),
    ],
)
def test_a_record_that_cannot_be_a_document_raises_value_error(record, message):
    with pytest.raises(ValueError) as info:
        emit_one(record)
    assert str(info.value) == message


COMMENT = "must be a comment: it begins with # and holds no line break"


@pytest.mark.parametrize(
    ("record", "message"),
    [
        (doc(sc("b", eol=Trivia("# x\nextra: injected", False, 2))), f"Node 0 eol: text {COMMENT}"),
        (
            doc(sc("b", before=[Trivia("not a comment", True, 0)])),
            f"Node 0 before[0]: text {COMMENT}",
        ),
        (
            doc(sc("b"), leading=[Trivia("# a", True, 0), Trivia("#\rb: 1", True, 0)]),
            f"Doc leading[1]: text {COMMENT}",
        ),
        (
            doc(seq(1), Node(3, 5, anchor="nope")),
            "node 1 is an alias of *nope, but no anchor &nope is written before it",
        ),
        (
            doc(seq(1, 2), Node(3, 5, anchor="a"), sc("x", anchor="a")),
            "node 1 is an alias of *a, but no anchor &a is written before it",
        ),
        (
            doc(sc("b"), tag_directives=[("!e!", "tag:x\nextra: injected")]),
            "Doc: tag_directives must pair a handle (!, !! or !word!) with a prefix that holds no "
            "blank or line break",
        ),
        (
            doc(sc("b"), tag_directives=[("! e!", "tag:x")]),
            "Doc: tag_directives must pair a handle (!, !! or !word!) with a prefix that holds no "
            "blank or line break",
        ),
        (
            doc(sc("b", tag=("!x y!", "t", "tag:t"))),
            "Node 0: tag has a handle that is not !, !! or !word!",
        ),
        (
            doc(sc("b"), final_line_break=False, stream_tail="\nextra: injected"),
            "Doc: stream_tail may hold only blanks, line breaks and comments",
        ),
        (
            doc(sc("b"), final_line_break=False, stream_tail="# glued to b"),
            "Doc: stream_tail may hold only blanks, line breaks and comments",
        ),
        (
            doc(sc("b"), directives_raw=("%YAML 1.2\nextra: injected", 0)),
            "Doc: directives_raw may hold only directive lines, ... markers, comments and "
            "blank lines",
        ),
        (
            doc(Node(1, 6, children=[1], flow_seps=["", "x]\n- ["]), sc("a")),
            "Node 0: flow_seps may hold only blanks, line breaks, , : ? and # marks",
        ),
    ],
    ids=[
        "eol with a break",
        "before without #",
        "leading with a CR",
        "undefined alias",
        "alias before its anchor",
        "tag prefix with a break",
        "tag handle with a blank",
        "node tag handle",
        "tail with data",
        "tail glued to a scalar",
        "directives with data",
        "flow separator with data",
    ],
)
def test_a_record_whose_text_would_read_back_as_other_data_is_refused(record, message):
    with pytest.raises(ValueError) as info:
        emit_one(record)
    assert str(info.value) == message


def test_an_alias_may_name_an_anchor_of_an_earlier_document():
    first = doc(sc("x", anchor="a"))
    second = doc(seq(1), Node(3, 5, anchor="a"), explicit_start=True)
    assert brackle.emit([first, second], OPTS) == "&a x\n---\n- *a\n"


@pytest.mark.parametrize(
    ("line_break", "shown"),
    [("\t", '"\\t"'), ("\n\n", '"\\n\\n"'), ("x", '"x"'), ("", '""'), ("\r\r", '"\\r\\r"')],
)
def test_an_unknown_line_break_raises_value_error_with_the_escaped_text(line_break, shown):
    with pytest.raises(ValueError) as info:
        brackle.emit([], EmitOptions(line_break=line_break))
    assert str(info.value) == LINE_BREAK_ERROR.format(shown)


def _node(**fields) -> Node:
    return Node(**{"kind": 0, "style": 0, "value": "a", **fields})


@pytest.mark.parametrize(
    ("record", "error", "message"),
    [
        (doc(_node(kind=256)), OverflowError, "Node 0: kind must be an int from 0 to 255"),
        (doc(_node(kind=-1)), OverflowError, "Node 0: kind must be an int from 0 to 255"),
        (doc(_node(line=2**32)), OverflowError, "Node 0: line must be an int from 0 to 4294967295"),
        (doc(_node(col=-1)), OverflowError, "Node 0: col must be an int from 0 to 4294967295"),
        (doc(_node(kind="0")), TypeError, "Node 0: kind must be an int from 0 to 255, not 'str'"),
        (doc(_node(tag_first=1)), TypeError, "Node 0: tag_first must be a bool, not 'int'"),
        (doc(_node(value=5)), TypeError, "Node 0: value must be None or a str, not 'int'"),
        (
            doc(_node(tag=["!", "x", "!x"])),
            TypeError,
            "Node 0: tag must be None or a tuple of 3 items, not 'list'",
        ),
        (
            doc(_node(tag=("!", "x"))),
            ValueError,
            "Node 0: tag must be None or a tuple of 3 items, not a tuple of 2",
        ),
        (
            doc(_node(anchor_at=(1, 2, 3))),
            ValueError,
            "Node 0: anchor_at must be None or a tuple of 2 items, not a tuple of 3",
        ),
        (doc(_node(flow_seps="ab")), TypeError, "Can't extract `str` to `Vec`"),
        (doc(_node(before=5)), TypeError, "Node 0: before must be iterable, not 'int'"),
        (
            doc(_node(eol="# c")),
            AttributeError,
            "Node 0 eol: 'str' object has no attribute 'blank_lines'",
        ),
        (doc(_node(children={1, 2})), TypeError, "Node 0: children must be a Sequence, not 'set'"),
        (doc(sc("a"), sc("b"), 5), AttributeError, "Node 2: 'int' object has no attribute 'kind'"),
        (
            doc(sc("a"), explicit_start=1),
            TypeError,
            "Doc: explicit_start must be a bool, not 'int'",
        ),
        (
            doc(sc("a"), root="0"),
            TypeError,
            "Doc: root must be an int from 0 to 4294967295, not 'str'",
        ),
        (
            doc(sc("a"), version=[1, 2]),
            TypeError,
            "Doc: version must be None or a tuple of 2 items, not 'list'",
        ),
        (doc(sc("a"), tag_directives="!!"), TypeError, "Can't extract `str` to `Vec`"),
        (
            doc(sc("a"), line_space={-1: "x"}),
            OverflowError,
            "Doc: line_space must be an int from 0 to 4294967295",
        ),
        (
            doc(sc("a"), line_space=[(0, "x")]),
            TypeError,
            "Doc: line_space must be a dict, not 'list'",
        ),
        (
            doc(sc("a"), stream_tail=None),
            TypeError,
            "Doc: stream_tail must be a str, not 'NoneType'",
        ),
        (
            SimpleNamespace(nodes=[]),
            AttributeError,
            "Doc: 'types.SimpleNamespace' object has no attribute 'root'",
        ),
        (
            doc(SimpleNamespace(kind=0)),
            AttributeError,
            "Node 0: 'types.SimpleNamespace' object has no attribute 'anchor'",
        ),
        (
            doc(_unset(sc("a"), "raw")),
            AttributeError,
            "Node 0: 'Node' object has no attribute 'raw'",
        ),
        (
            doc(sc("a"), _unset(sc("b"), "blank_lines", trivia=True)),
            AttributeError,
            "Node 1 before[0]: 'Trivia' object has no attribute 'blank_lines'",
        ),
        # An error that cannot be remade from a message stays as it was.
        (
            doc(_node(value="\ud800")),
            UnicodeEncodeError,
            "'utf-8' codec can't encode character '\\ud800' in position 0: surrogates not allowed",
        ),
    ],
)
def test_a_wrongly_typed_or_missing_attribute_names_the_record_and_field(record, error, message):
    with pytest.raises(error) as info:
        emit_one(record)
    assert str(info.value) == message


def test_a_string_given_for_a_list_of_ints_is_refused_by_name():
    with pytest.raises(TypeError, match=r"^Can't extract `str` to `Vec`$"):
        emit_one(doc(Node(1, 5, children="01"), sc("a"), sc("b")))


def test_a_set_given_for_a_list_names_sequence_as_the_expected_type():
    with pytest.raises(TypeError, match="Sequence"):
        emit_one(doc(Node(1, 5, children={0}), sc("a")))


@pytest.mark.parametrize(
    ("name", "value", "error"),
    [
        ("line_break", 10, TypeError),
        ("map_indent", -1, OverflowError),
        ("seq_indent", "2", TypeError),
        ("seq_offset", 2**64, OverflowError),
        ("width", None, TypeError),
        ("explicit_start", 1, TypeError),
        ("explicit_end", None, TypeError),
        ("default_flow_style", "yes", TypeError),
        ("preserve_quotes", 0, TypeError),
    ],
)
def test_wrongly_typed_options_raise_even_without_documents(name, value, error):
    opts = EmitOptions()
    setattr(opts, name, value)
    with pytest.raises(error, match=f"^EmitOptions: {name} must be "):
        brackle.emit([], opts)
    with pytest.raises(error, match=f"^EmitOptions: {name} must be "):
        _roundtrip_in_rust("a\n", opts)


def test_options_without_an_attribute_raise_attribute_error():
    with pytest.raises(AttributeError):
        brackle.emit([], SimpleNamespace(line_break="\n"))


# --- the order of reads ------------------------------------------------------------------


def test_documents_are_read_before_options():
    bad_opts = EmitOptions(line_break="x")
    with pytest.raises(ValueError, match="^unknown Node.kind 9$"):
        brackle.emit([doc(Node(9, 0))], bad_opts)


def test_the_first_bad_document_is_reported():
    with pytest.raises(ValueError, match="^unknown Node.kind 8$"):
        brackle.emit([doc(sc("a")), doc(Node(8, 0)), doc(Node(9, 0))], OPTS)


def test_width_is_read_before_line_break_is_checked():
    with pytest.raises(OverflowError):
        brackle.emit([], EmitOptions(line_break="x", width=-1))
    with pytest.raises(TypeError):
        brackle.emit([], EmitOptions(line_break="x", width="80"))


def test_roundtrip_in_rust_reads_options_before_parsing():
    with pytest.raises(ValueError, match="^EmitOptions.line_break"):
        _roundtrip_in_rust("a: [\n", EmitOptions(line_break="x"))


@pytest.mark.parametrize(
    ("record", "message"),
    [
        # a node is read whole before the root is checked
        (doc(Node(7, 0), root=5), "unknown Node.kind 7"),
        # the kind is built before the style is read
        (doc(Node(9, 9)), "unknown Node.kind 9"),
        (
            doc(Node(2, 9, children=[0])),
            "a mapping Node needs an even number of children (k, v, k, v, ...)",
        ),
        (doc(Node(3, 9)), "an alias Node needs the referenced name in `anchor`"),
        # the root is checked before the children
        (doc(seq(7), root=4), "Doc.root is node 4, but the Doc has 1 nodes"),
        # the children before the other fields of the document
        (doc(seq(3), explicit_start=None), "a child of node 0 is node 3, but the Doc has 1 nodes"),
        (doc(seq(3), leading=5), "a child of node 0 is node 3, but the Doc has 1 nodes"),
    ],
)
def test_record_errors_come_in_reading_order(record, message):
    with pytest.raises(ValueError) as info:
        emit_one(record)
    assert str(info.value) == message


def test_the_kind_is_read_before_other_node_fields():
    with pytest.raises(ValueError, match="^unknown Node.kind 5$"):
        emit_one(doc(Node(5, 0, value=7, line=-1)))


# --- emitter errors ---------------------------------------------------------------------

NO_TAG_FORM = "a tag with neither a suffix nor a full name cannot be written"


def test_a_tree_the_emitter_cannot_write_raises_emitter_error():
    with pytest.raises(EmitterError) as info:
        emit_one(doc(sc("x", tag=("!", "", ""))))
    assert info.value.problem == NO_TAG_FORM
    assert str(info.value) == NO_TAG_FORM
    assert isinstance(info.value, brackle.YAMLError)


@pytest.mark.parametrize("text", ["[&c x: d]\n", "[&c\ufeffx: d]\n", "- &a [x]\n"])
def test_a_property_is_set_off_from_its_content_when_the_layout_moved_it(text):
    # Without stored separators the pair gets braces, one column further on:
    # the key no longer follows its anchor in the source's place.
    docs = brackle.parse(text)
    for node in docs[0].nodes:
        node.flow_seps = []
    assert events_of(brackle.parse(brackle.emit(docs, OPTS))) == events_of(docs)
