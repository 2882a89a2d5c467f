"""The record classes, and the records that parse builds for representative
documents."""

from __future__ import annotations

import gc
import types

import pytest

import brackle
from brackle._record import Doc, Node, Trivia

DOC_FIELDS = (
    "version tag_directives explicit_start explicit_end root nodes leading trailing bom "
    "final_line_break tags_before_version directives_raw stream_tail line_space line_break "
    "other_line_breaks"
).split()
NODE_FIELDS = (
    "kind style anchor tag value raw line col children merge explicit before eol inner after "
    "tag_first flow_seps anchor_at tag_at header_at colon"
).split()
TRIVIA_FIELDS = "text own_line col blank_lines".split()


def scalar(value: str, line: int, col: int, **fields) -> Node:
    """A plain scalar as the loader records it: raw text equal to the value."""
    return Node(0, 0, value=value, raw=fields.pop("raw", value), line=line, col=col, **fields)


# --- the classes ----------------------------------------------------------------


@pytest.mark.parametrize(
    ("cls", "fields"), [(Doc, DOC_FIELDS), (Node, NODE_FIELDS), (Trivia, TRIVIA_FIELDS)]
)
def test_positional_arguments_land_in_attributes_of_their_names(cls, fields):
    values = [object() for _ in fields]
    record = cls(*values)
    assert [getattr(record, name) for name in fields] == values
    with pytest.raises(TypeError):
        cls(*values, object())


@pytest.mark.parametrize(
    ("cls", "fields"), [(Doc, DOC_FIELDS), (Node, NODE_FIELDS), (Trivia, TRIVIA_FIELDS)]
)
def test_records_are_mutable_equal_by_value_and_show_every_field(cls, fields):
    a, b = cls(), cls()
    assert a == b
    setattr(a, fields[0], "changed")
    assert a != b
    assert all(f"{name}=" in repr(a) for name in fields)
    assert repr(a).startswith(f"{cls.__name__}(")


def test_records_of_different_classes_are_never_equal():
    assert Doc() != Node()
    assert Node() != Trivia()


def test_default_lists_are_fresh_for_every_record():
    a, b = Node(), Node()
    a.children.append(1)
    a.before.append(Trivia.blank(1))
    assert b.children == [] and b.before == []
    d1, d2 = Doc(), Doc()
    d1.nodes.append(a)
    d1.line_space[0] = "x\t"
    assert d2.nodes == [] and d2.line_space == {}


def test_parsed_records_equal_records_the_classes_build_and_own_their_lists():
    # parse fills the slots of Node and Trivia records without calling the
    # classes: what it builds must be what a call would build.
    doc = brackle.parse("# top\na: &x [1, 2] # c\n\nb: !t {k: *x}\n")[0]
    nodes = doc.nodes
    for node in nodes:
        assert type(node) is Node and gc.is_tracked(node)
        assert node == Node(*[getattr(node, name) for name in NODE_FIELDS])
        for trivia in [*node.before, *node.inner, *node.after]:
            assert trivia == Trivia(*[getattr(trivia, name) for name in TRIVIA_FIELDS])
    assert any(node.before or node.eol for node in nodes)
    # Every list is its record's own: changing one changes no other record.
    lists = [getattr(n, name) for n in nodes for name in NODE_FIELDS]
    lists = [x for x in lists if isinstance(x, list)]
    assert len({id(x) for x in lists}) == len(lists) == 8 * len(nodes)


def test_keyword_calls_build_a_document_by_hand():
    doc = Doc(
        root=0, nodes=[Node(kind=2, style=5, children=[1, 2]), Node(value="a"), Node(value="b")]
    )
    assert doc.nodes[0].kind == Node.MAPPING and doc.nodes[0].style == Node.BLOCK
    assert doc.nodes[1].raw is None and doc.nodes[1].eol is None


def test_blank_trivia_reads_as_blank_lines():
    assert Trivia.blank(3) == Trivia(None, True, 0, 3)
    assert Trivia.blank(3).is_blank and not Trivia("# c", True, 0, 0).is_blank


# --- what parse builds ------------------------------------------------------------


def test_mapping_records_merge_keys_colons_aliases_and_anchors():
    text = "base: &b {x: 1}\n<<: *b\nk: v\n<<: *b\n"
    [doc] = brackle.parse(text)
    assert doc == Doc(
        root=0,
        final_line_break=True,
        line_break="\n",
        nodes=[
            Node(
                2,
                5,
                children=[1, 2, 5, 6, 7, 8, 9, 10],
                merge=[2, 6],
                colon=[(0, 4), (1, 2), (2, 1), (3, 2)],
            ),
            scalar("base", 0, 0),
            Node(
                2,
                6,
                anchor="b",
                line=0,
                col=9,
                children=[3, 4],
                flow_seps=["", ": ", ""],
                anchor_at=(0, 6),
                colon=[(0, 11)],
            ),
            scalar("x", 0, 10),
            scalar("1", 0, 13),
            scalar("<<", 1, 0),
            Node(3, 5, anchor="b", line=1, col=4),
            scalar("k", 2, 0),
            scalar("v", 2, 3),
            scalar("<<", 3, 0),
            Node(3, 5, anchor="b", line=3, col=4),
        ],
    )
    assert brackle.emit([doc], brackle.EmitOptions()) == text


@pytest.mark.parametrize(
    ("text", "merge"),
    [
        ("<<: {a: 1}\nb: 2\n", [0]),
        ('"<<": {a: 1}\n', []),  # a quoted key is no merge key
        ("!!str <<: x\n", []),  # nor is a tagged one
    ],
)
def test_merge_lists_the_positions_of_plain_untagged_merge_keys(text, merge):
    [doc] = brackle.parse(text)
    assert doc.nodes[doc.root].merge == merge


def test_alias_record_names_its_anchor_and_has_no_children():
    [doc] = brackle.parse("- &x a\n- *x\n")
    assert doc.nodes[1] == scalar("a", 0, 5, anchor="x", anchor_at=(0, 2))
    assert doc.nodes[2] == Node(3, 5, anchor="x", line=1, col=2)


def test_blank_lines_become_blank_trivia_before_the_next_key():
    [doc] = brackle.parse("a: 1\n\n\nb: 2\n")
    assert doc.nodes[3] == scalar("b", 3, 0, before=[Trivia(None, True, 0, 2)])
    assert doc.nodes[0].colon == [(0, 1), (3, 1)]


def test_end_of_line_comment_goes_to_the_value():
    [doc] = brackle.parse("a: 1  # note\nb: [x, y]\n")
    assert doc.nodes[2].eol == Trivia("# note", False, 6, 0)
    assert doc.nodes[4] == Node(1, 6, line=1, col=3, children=[5, 6], flow_seps=["", ", ", ""])


def test_colon_list_holds_none_for_entries_written_without_a_colon():
    [doc] = brackle.parse("{a, b: 1, c}\n")
    mapping = doc.nodes[doc.root]
    assert mapping.colon == [None, (0, 5), None]
    assert doc.nodes[2] == Node(0, 0, value="", raw=None, line=0, col=2)


def test_explicit_keys_are_listed_by_their_position_in_children():
    [doc] = brackle.parse("? a\n: b\nc : d\n")
    mapping = doc.nodes[doc.root]
    assert mapping.explicit == [0]
    assert mapping.colon == [(1, 0), (2, 2)]


def test_an_explicit_key_after_a_tagged_empty_value_is_listed():
    # The tag is the value's text: the `?` after it is not the value's.
    [doc] = brackle.parse("{? a: !t, ? c: d}\n")
    assert doc.nodes[doc.root].explicit == [0, 2]


@pytest.mark.parametrize("text", ["", "# only a comment\n"])
def test_a_document_without_content_has_no_root(text):
    [doc] = brackle.parse(text)
    assert doc.root is None and doc.nodes == []
    assert doc.version is None and doc.tag_directives == [] and doc.directives_raw is None


def test_a_comment_only_source_keeps_the_comment_in_trailing():
    [doc] = brackle.parse("# only\n")
    assert doc == Doc(
        trailing=[Trivia("# only", True, 0, 0)], final_line_break=True, line_break="\n"
    )


def test_directives_tags_and_property_order_are_recorded():
    text = "%YAML 1.2\n%TAG !e! tag:x,1:\n--- !e!y &n v\n...\n"
    [doc] = brackle.parse(text)
    assert doc.version == (1, 2)
    assert doc.tag_directives == [("!e!", "tag:x,1:")]
    assert doc.tags_before_version == 0
    assert doc.directives_raw == ("%YAML 1.2\n%TAG !e! tag:x,1:", 0)
    assert doc.explicit_start and doc.explicit_end
    assert doc.nodes == [
        Node(
            0,
            0,
            anchor="n",
            tag=("!e!", "y", "tag:x,1:y"),
            value="v",
            raw="v",
            line=2,
            col=12,
            tag_first=True,
            anchor_at=(2, 9),
            tag_at=(2, 4),
        )
    ]
    assert brackle.emit([doc], brackle.EmitOptions()) == text


def test_block_scalar_keeps_header_position_and_raw_text():
    [doc] = brackle.parse("key: |\n  x\n")
    node = doc.nodes[2]
    assert (node.style, node.value, node.raw, node.header_at) == (3, "x\n", "|\n  x", (0, 5))


def test_line_space_is_on_the_first_document_only():
    docs = brackle.parse("a: 1 \n---\nb: \t2\n")
    assert [d.line_space for d in docs] == [{0: "a: 1 ", 2: "b: \t2"}, {}]


@pytest.mark.parametrize(
    "text, line_break, others",
    [
        ("a\n---\nb\n", "\n", {}),
        ("a\r\n---\r\nb\r\n", "\r\n", {}),
        ("a\r---\nb\n", "\r", {1: "\n", 2: "\n"}),
        ("a\n---\r\nb\r", "\n", {1: "\r\n", 2: "\r"}),
        ("a", None, {}),
    ],
)
def test_the_line_breaks_are_on_every_document_and_the_odd_ones_on_the_first(
    text, line_break, others
):
    docs = brackle.parse(text)
    assert [d.line_break for d in docs] == [line_break] * len(docs)
    assert [d.other_line_breaks for d in docs] == [others] + [{}] * (len(docs) - 1)
    assert brackle.emit(docs, brackle.EmitOptions()) == text


def test_a_lone_cr_is_a_line_break_for_every_position():
    # Positions once counted lines two ways here: the anchor moved from the
    # key to the mapping.
    [doc] = brackle.parse("-\r  &a k: a\r")
    assert doc.nodes[2].anchor == "a" and doc.nodes[2].anchor_at == (1, 2)
    assert brackle.emit([doc], brackle.EmitOptions()) == "-\r  &a k: a\r"


def test_a_doc_record_without_the_line_break_fields_emits_lf():
    # Records of other classes, written before the fields existed, lack them.
    [doc] = brackle.parse("a: 1\r\n")
    fields = {
        n: getattr(doc, n) for n in DOC_FIELDS if n not in ("line_break", "other_line_breaks")
    }
    assert brackle.emit([types.SimpleNamespace(**fields)], brackle.EmitOptions()) == "a: 1\n"


@pytest.mark.parametrize("text", ["a: b\n", "a: b", "a: b  ", "- x\n- y\n"])
def test_final_line_break_and_stream_tail(text):
    docs = brackle.parse(text)
    last = docs[-1]
    assert last.final_line_break == text.endswith("\n")
    assert last.stream_tail == ("  " if text.endswith("  ") else "")


def test_record_lists_are_new_lists_and_pairs_are_tuples():
    [doc] = brackle.parse("m: &a !t {k: v}\n")
    node = doc.nodes[2]
    assert type(node.children) is list and type(node.colon) is list
    assert type(node.anchor_at) is tuple and type(node.tag) is tuple
    assert type(doc.line_space) is dict
