"""The edit API: what each change writes, and only there."""

from __future__ import annotations

import os
import stat

import pytest

import brackle
from brackle import EditError, Tagged
from brackle._data import same_data
from suite_util import require_suite

ARGS = "args:\n- --port=8080\n- --verbose\nx: 1\n"


def edited(text: str, change) -> str:
    stream = brackle.edit(text)
    change(stream[0])
    return str(stream)


def assign(path, value):
    def change(doc):
        for step in path[:-1]:
            doc = doc[step]
        doc[path[-1]] = value

    return change


@pytest.mark.parametrize(
    ("text", "path", "value", "expected"),
    [
        # A new scalar keeps the old one's style where that style can hold it.
        ("k: plain\n", ["k"], "new", "k: new\n"),
        ("k: 'single'\n", ["k"], "new", "k: 'new'\n"),
        ('k: "double"   # why\n', ["k"], "new", 'k: "new"   # why\n'),
        ("k: |\n  a\n  b\nn: 1\n", ["k"], "x\ny\n", "k: |\n  x\n  y\nn: 1\n"),
        ("k: >-\n  folded\n", ["k"], "other", "k: >-\n  other\n"),
        ("- a\n- b\n", [1], "c", "- a\n- c\n"),
        (ARGS, ["args", 1], "--debug", "args:\n- --port=8080\n- --debug\nx: 1\n"),
        # Where the old style is plain, the new text is what `dump` writes: a
        # string other readers would misread is quoted, and one of several
        # lines is a literal block.
        ("x: no\n", ["x"], "yes", "x: 'yes'\n"),
        ("x: 1\n", ["x"], "0600", "x: '0600'\n"),
        ("run: make\nx: 1\n", ["run"], "make\nmake test\n", "run: |\n  make\n  make test\nx: 1\n"),
        ("- make\n", [0], "a\nb", "- |-\n  a\n  b\n"),
        # A value below its key keeps its line where comments stand between.
        ("a: # eol\n  value\nb: 1\n", ["a"], "new", "a: # eol\n  new\nb: 1\n"),
        ("a:\n  # note\n  value\nb: 1\n", ["a"], "new", "a:\n  # note\n  new\nb: 1\n"),
        ("- # eol\n  value\n", [0], "new", "- # eol\n  new\n"),
        ("a: # eol\n  # n\n  b: 1\nc: 2\n", ["a"], {"x": 1}, "a: # eol\n  # n\n  x: 1\nc: 2\n"),
        ("a: # eol\n  b: 1\n", ["a"], "x", "a: # eol\n  x\n"),
        ("args: # flags\n- -v\n", ["args"], "none", "args: # flags\n  none\n"),
        ("{a: [x, 'y']}\n", ["a", 1], "z", "{a: [x, 'z']}\n"),
        # ... and is quoted or unquoted as the new value's type needs.
        ("k: '3'\n", ["k"], 4, "k: 4\n"),
        ("k: plain\n", ["k"], "true", "k: 'true'\n"),
        ("k: 1\n", ["k"], None, "k: null\n"),
        # Properties: an anchor stays (aliases see the new value), a tag
        # goes unless the new value brings one.
        ("k: &a 1\nj: *a\n", ["k"], 2, "k: &a 2\nj: *a\n"),
        ("k: !!str 1\n", ["k"], 2, "k: 2\n"),
        ("k: !Ref a\n", ["k"], Tagged("!Ref", "b"), "k: !Ref b\n"),
        # A collection replaced by a scalar, and the other way round.
        ("k:\n  a: 1\nn: 2\n", ["k"], 5, "k: 5\nn: 2\n"),
        ("k: 1   # c\nn: 2\n", ["k"], {"a": [1]}, "k:   # c\n  a:\n  - 1\nn: 2\n"),
        ("k:\n  - a\nn: 2\n", ["k"], ["b", "c"], "k:\n  - b\n  - c\nn: 2\n"),
        ("k:\n  - a\nn: 2\n", ["k"], brackle.Flow(["b", "c"]), "k: [b, c]\nn: 2\n"),
        ("k: 1\n", ["m"], brackle.Flow({"x": 1}), "k: 1\nm: {x: 1}\n"),
        # Empty values, and new keys written where the mapping ends.
        ("k:\nn: 2\n", ["k"], "v", "k: v\nn: 2\n"),
        ("a: 1\nb: 2", ["c"], 3, "a: 1\nb: 2\nc: 3"),
        ("k: {}\n", ["k", "a"], 1, "k:\n  a: 1\n"),
        ("k: [a]  # c\n", ["k", 0], "b", "k: [b]  # c\n"),
        ("? a\n? b\n", ["a"], [1], "? a\n:\n- 1\n? b\n"),
        ("{ a, b: c }\n", ["a"], "v", "{ a: v, b: c }\n"),
        ("{foo: !!str , bar: 1}\n", ["foo"], "v", "{foo: v , bar: 1}\n"),
        ("k: >-  # note\n  old\nn: 1\n", ["k"], "new", "k: >-  # note\n  new\nn: 1\n"),
    ],
)
def test_assignment_rewrites_only_the_value(text, path, value, expected):
    assert edited(text, assign(path, value)) == expected


@pytest.mark.parametrize(
    ("text", "change", "expected"),
    [
        # New entries and items stand at their siblings' indentation, before
        # the comments of the entry they precede.
        ("a: 1\n# about b\nb: 2\n", lambda d: d.insert(1, "x", 9), "a: 1\nx: 9\n# about b\nb: 2\n"),
        ("a: 1\n?\n  - k\n: v\n", lambda d: d.insert(1, "x", 9), "a: 1\nx: 9\n?\n  - k\n: v\n"),
        ("- a: 1\n  b: 2\n", lambda d: d[0].insert(0, "x", 9), "- x: 9\n  a: 1\n  b: 2\n"),
        (
            "k:\n    - a  # c\n\n    - b\nn: 1\n",
            lambda d: d["k"].append("c"),
            "k:\n    - a  # c\n\n    - b\n    - c\nn: 1\n",
        ),
        (
            "top:\n    a: 1\n",
            lambda d: d["top"].update(b={"c": 1}),
            "top:\n    a: 1\n    b:\n        c: 1\n",
        ),
        # A list at its key's indentation, its items flags that begin with `-`.
        (ARGS, lambda d: d["args"].append("--debug"), ARGS.replace("x:", "- --debug\nx:")),
        (ARGS, lambda d: d["args"].insert(0, "-v"), "args:\n- -v\n" + ARGS[6:]),
        (ARGS, lambda d: d["args"].pop(1), "args:\n- --port=8080\nx: 1\n"),
        (ARGS, lambda d: d["args"].pop(0), "args:\n- --verbose\nx: 1\n"),
        ("k: [a]\n", lambda d: d["k"].append("b"), "k: [a, b]\n"),
        # Flow marks a collection written in flow style, at any depth.
        ("a: []\n", lambda d: d["a"].append(brackle.Flow([1])), "a:\n- [1]\n"),
        ("a: 1\n", lambda d: d.update(b={"c": brackle.Flow([1, 2])}), "a: 1\nb:\n  c: [1, 2]\n"),
        ("a: 1\n", lambda d: d.update(b=brackle.Flow({"c": [1]})), "a: 1\nb: {c: [1]}\n"),
        (
            "k: [\n  a,\n  b,\n  ]\n",
            lambda d: d["k"].insert(1, "x"),
            "k: [\n  a,\n  x,\n  b,\n  ]\n",
        ),
        ("k: {a: 1}\n", lambda d: d["k"].insert(0, "z", 0), "k: {z: 0, a: 1}\n"),
        # A deleted entry takes its own lines and the comments just above.
        ("a: 1\n\n# about b\nb: 2  # two\nc: 3\n", lambda d: d.pop("b"), "a: 1\n\nc: 3\n"),
        (
            "a:\n  x: |\n    text\n\n  y: 1\nb: 2\n",
            lambda d: d["a"].pop("x"),
            "a:\n\n  y: 1\nb: 2\n",
        ),
        ("- name: x\n  hosts: y\n", lambda d: d[0].pop("name"), "- hosts: y\n"),
        ("k:\n  only: 1\nn: 2\n", lambda d: d["k"].pop("only"), "k: {}\nn: 2\n"),
        ("[a, b, c]\n", lambda d: d.pop(1), "[a, c]\n"),
        ("a: 1\nb: 2", lambda d: d.pop("b"), "a: 1"),
        ("- a\n- b\n- c\n", lambda d: d.__delitem__(slice(0, 2)), "- c\n"),
    ],
)
def test_insertion_and_deletion_touch_only_their_own_lines(text, change, expected):
    assert edited(text, change) == expected


def test_reads_go_through_the_data_schema_and_merges():
    doc = brackle.edit("base: &b {x: 1, y: 2}\nuse:\n  <<: *b\n  y: 3\n0x10: hex\n")[0]
    assert doc["use"]["x"] == 1 and doc["use"]["y"] == 3
    assert sorted(doc["use"]) == ["x", "y"]
    assert doc[16] == "hex"
    assert doc == {"base": {"x": 1, "y": 2}, "use": {"x": 1, "y": 3}, 16: "hex"}


def test_setting_a_merged_key_adds_it_and_deleting_one_is_refused():
    stream = brackle.edit("base: &b {x: 1}\nuse:\n  <<: *b\n")
    stream[0]["use"]["x"] = 2
    assert str(stream) == "base: &b {x: 1}\nuse:\n  <<: *b\n  x: 2\n"
    with pytest.raises(EditError):
        del brackle.edit("base: &b {x: 1}\nuse:\n  <<: *b\n")[0]["use"]["x"]


@pytest.mark.parametrize(
    ("text", "change"),
    [
        ("base: &b {x: 1}\nuse: *b\n", lambda d: d.pop("base")),
        ("base: &b {x: 1}\nuse:\n  <<: *b\n  x: 2\n", lambda d: d["use"].pop("<<")),
        ("a: 1\rb: 2\r", lambda d: d.__setitem__("a", 3)),
    ],
)
def test_an_edit_that_cannot_be_written_leaves_the_text_unchanged(text, change):
    stream = brackle.edit(text)
    with pytest.raises((EditError, KeyError)):
        change(stream[0])
    assert str(stream) == text


def test_views_follow_their_path_after_edits():
    stream = brackle.edit("items:\n- a: 1\n")
    items = stream[0]["items"]
    first = items[0]
    items.insert(0, {"a": 0})
    assert first["a"] == 0 and items[1]["a"] == 1
    assert str(stream) == "items:\n- a: 0\n- a: 1\n"


def test_comments_are_read_and_written_on_entries_and_items():
    stream = brackle.edit("# about a\na: 1  # one\nb:\n  - x\n")
    doc = stream[0]
    assert doc.comments("a").before == ["about a"]
    assert doc.comments("a").eol == "one"
    assert doc.comments("b").eol is None
    doc.comments("a").eol = "uno"
    doc.comments("b").eol = "list"
    doc.comments("b").before = ["the list", ""]
    doc["b"].comments(0).eol = "first"
    doc.comments("a").before = None
    assert str(stream) == "a: 1  # uno\n# the list\n#\nb:  # list\n  - x  # first\n"
    doc.comments("a").eol = None
    assert str(stream).startswith("a: 1\n")
    with pytest.raises(ValueError):
        doc.comments("a").eol = "two\nlines"


def test_new_lines_follow_the_text_line_breaks_and_byte_order_mark():
    stream = brackle.edit(b"\xef\xbb\xbfa: 1\r\nb: 2\r\n")
    stream[0]["c"] = {"d": 1}
    assert str(stream) == "\ufeffa: 1\r\nb: 2\r\nc:\r\n  d: 1\r\n"


def test_documents_of_a_stream_are_edited_apart():
    stream = brackle.edit("a: 1\n---\n- x\n...\n")
    stream[1].append("y")
    stream[0] = ["replaced"]
    assert str(stream) == "- replaced\n---\n- x\n- y\n...\n"
    assert stream.data() == [["replaced"], ["x", "y"]]


@pytest.mark.parametrize(
    ("text", "change", "expected"),
    [
        # Edits within the entry's own lines go through...
        ("a: 1  # c\nb: 2\n", lambda d: d.__setitem__("a", 5), "a: 5  # c\nb: 2\n"),
        ("# about a\na: 1\nb: 2\n", lambda d: d.pop("a"), "b: 2\n"),
        ("a: [1, 2]\n", lambda d: d["a"].append(3), "a: [1, 2, 3]\n"),
        ("a: 1\n", lambda d: d.__setitem__("b", {"c": 1}), "a: 1\nb:\n  c: 1\n"),
        ("a: []\n", lambda d: d["a"].append(1), "a:\n- 1\n"),
        ("- a: 1\n  b: 2\n", lambda d: d[0].__setitem__("a", 0), "- a: 0\n  b: 2\n"),
        # A line break added at the end of the text rewrites no line's text.
        ("a: 1\nb: 2", lambda d: d.__setitem__("c", 3), "a: 1\nb: 2\nc: 3"),
        # ... those that would rewrite another line are refused.
        ("- name: x\n  hosts: y\n", lambda d: d[0].pop("name"), None),
        ("k:\n  only: 1\nn: 2\n", lambda d: d["k"].pop("only"), None),
    ],
)
def test_strict_keeps_each_edit_to_its_entrys_own_lines(text, change, expected):
    stream = brackle.edit(text, strict=True)
    if expected is None:
        with pytest.raises(EditError, match="^strict: "):
            change(stream[0])
        assert str(stream) == text
    else:
        change(stream[0])
        assert str(stream) == expected


def test_diff_gives_the_changes_since_opening():
    stream = brackle.edit("a: 1\nb: 2\n", name="app.yaml")
    assert stream.diff() == ""
    stream[0]["a"] = 3
    stream[0]["c"] = 4
    assert stream.diff() == (
        "--- a/app.yaml\n+++ b/app.yaml\n@@ -1,2 +1,3 @@\n-a: 1\n+a: 3\n b: 2\n+c: 4\n"
    )


def test_a_with_block_writes_its_file_once_when_it_ends_without_an_exception(tmp_path):
    path = tmp_path / "app.yaml"
    path.write_text("a: 1\nb: 2\n")
    with brackle.edit(path) as stream:
        stream[0]["a"] = 10
        stream[0]["b"] = 20
        assert path.read_text() == "a: 1\nb: 2\n"
    assert path.read_text() == "a: 10\nb: 20\n"
    with brackle.edit(path) as stream:
        stream[0]["a"] = 1
        stream.write()
        inode = path.stat().st_ino
    # Written already, or nothing changed, or an exception: nothing written.
    assert path.stat().st_ino == inode
    with brackle.edit(path):
        pass
    with pytest.raises(KeyError), brackle.edit(path) as stream:
        stream[0]["a"] = 0
        stream[0]["missing"]["x"] = 1
    assert path.read_text() == "a: 1\nb: 20\n" and path.stat().st_ino == inode


def test_an_edit_reads_again_only_the_document_it_changes():
    stream = brackle.edit("a: 1\n---\nb: 2\n---\n- x\n...\nbare: 3\n")
    stream[1]["b"] = 20
    stream[3]["more"] = [1, 2]
    assert str(stream) == "a: 1\n---\nb: 20\n---\n- x\n...\nbare: 3\nmore:\n- 1\n- 2\n"
    assert [loaded is not None for loaded in stream._docs._read] == [False, True, False, True]
    assert stream.data() == [{"a": 1}, {"b": 20}, ["x"], {"bare": 3, "more": [1, 2]}]
    assert stream.data() == brackle.load_all(str(stream))


def test_each_document_of_a_suite_stream_loads_on_its_own_as_itself():
    checked = 0
    for case in require_suite():
        if case.must_fail or "\r" in case.text.replace("\r\n", "") or "\0" in case.text:
            continue
        try:
            stream = brackle.edit(case.text)
        except brackle.YAMLError:
            continue
        for i in range(len(stream)):
            loaded = stream._read(stream._document_text(i))
            assert loaded is not None, f"{case.id}: document {i} is not one document on its own"
            assert same_data(loaded.data, stream._data[i]), case.id
            checked += 1
    assert checked > 300


@pytest.mark.parametrize(
    ("text", "expected"),
    [
        ("", "k: v\n"),
        ("# settings\n", "# settings\nk: v\n"),
        ("a: 1\n---", "a: 1\n---\nk: v\n"),
        # A comment on the marker's line stays there.
        ("--- # c\n...\n", "--- # c\nk: v\n...\n"),
    ],
)
def test_a_document_without_content_takes_a_root(text, expected):
    stream = brackle.edit(text)
    stream[-1] = {"k": "v"}
    assert str(stream) == expected


def test_write_replaces_the_file_it_was_read_from_keeping_its_mode(tmp_path):
    path = tmp_path / "app.yaml"
    path.write_text("image: app:1.0  # pinned\n")
    os.chmod(path, 0o640)
    stream = brackle.edit(path)
    stream[0]["image"] = "app:1.1"
    stream.write()
    assert path.read_text() == "image: app:1.1  # pinned\n"
    assert stat.S_IMODE(os.stat(path).st_mode) == 0o640
    assert [p.name for p in tmp_path.iterdir()] == ["app.yaml"]
    with pytest.raises(ValueError):
        brackle.edit("a: 1\n").write()


def test_bad_input_raises_the_package_errors():
    with pytest.raises(brackle.MarkedYAMLError):
        brackle.edit("a: [1\n")
    with pytest.raises(brackle.DuplicateKeyError):
        brackle.edit("a: 1\na: 2\n")
    with pytest.raises(TypeError):
        brackle.edit(42)


def test_a_run_of_edits_changes_only_the_edited_lines_of_a_manifest():
    path = os.path.join(
        os.path.dirname(__file__), "..", "..", "examples", "kubernetes-deployment.yaml"
    )
    text = open(path, encoding="utf-8").read()
    stream = brackle.edit(text)
    spec = stream[0]["spec"]["template"]["spec"]
    web = spec["containers"][0]
    web["image"] = "registry.example.com/shop/storefront:2.9.0"
    web["env"].append({"name": "LOG_LEVEL", "value": "info"})
    web["imagePullPolicy"] = "Always"
    del spec["serviceAccountName"]
    spec.comments("containers").before = ["pinned by the release job"]
    stream[0]["spec"]["replicas"] = 4
    removed = [line for line in text.splitlines() if line not in str(stream).splitlines()]
    added = [line for line in str(stream).splitlines() if line not in text.splitlines()]
    assert removed == [
        "  replicas: 3",
        "      serviceAccountName: storefront",
        "          image: registry.example.com/shop/storefront:2.8.1",
        "          imagePullPolicy: IfNotPresent",
    ]
    assert added == [
        "  replicas: 4",
        "      # pinned by the release job",
        "          image: registry.example.com/shop/storefront:2.9.0",
        "          imagePullPolicy: Always",
        "            - name: LOG_LEVEL",
        "              value: info",
    ]
    assert len(str(stream).splitlines()) == len(text.splitlines()) + 2


def test_data_is_a_fresh_copy_that_keeps_sharing_at_any_depth():
    deep = "d:\n" + "".join("  " * i + "a:\n" for i in range(1, 3000)) + "  " * 3000 + "x\n"
    stream = brackle.edit("base: &b [1]\nuse: *b\nself: &s [*s]\n" + deep)
    data = stream.data()[0]
    assert data["base"] is data["use"] and data["self"][0] is data["self"]
    data["base"].append(2)
    assert stream[0]["use"] == [1]
    inner = data["d"]
    for _ in range(2998):
        inner = inner["a"]
    assert inner == {"a": "x"}
