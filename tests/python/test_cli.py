"""The ``brackle`` command line, run as ``python -m brackle`` on copies of
the files in examples/."""

from __future__ import annotations

import json
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
from pathlib import Path

import pytest

import brackle
from brackle.paths import PathError, find_key, parse_path

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
K8S = "kubernetes-deployment.yaml"
IMAGE = ".spec.template.spec.containers[0].image"


def run(*args: str, stdin: bytes | None = None, cwd: Path | None = None):
    return subprocess.run(
        [sys.executable, "-m", "brackle", *map(str, args)],
        input=stdin,
        capture_output=True,
        cwd=cwd,
    )


@pytest.fixture
def examples(tmp_path: Path) -> Path:
    for f in EXAMPLES.iterdir():
        shutil.copy(f, tmp_path / f.name)
    return tmp_path


def write(folder: Path, name: str, data: str | bytes) -> Path:
    path = folder / name
    path.write_bytes(data.encode() if isinstance(data, str) else data)
    return path


# ---- check -------------------------------------------------------------------


def test_check_prints_nothing_for_files_that_load(examples):
    result = run("check", *sorted(examples.iterdir()))
    assert (result.returncode, result.stdout, result.stderr) == (0, b"", b"")


@pytest.mark.parametrize(
    "text, place, message, source_line, caret",
    [
        ("a: 1\nb: 'x\n", "2:4", "found unexpected end of stream", "b: 'x", "   ^"),
        ("a: 1\n  b: 2\n", "2:4", "mapping values are not allowed", "  b: 2", "   ^"),
        ("x: 1\ny: 2\nx: 3\n", "3:1", "found duplicate key 'x'", "x: 3", "^"),
    ],
)
def test_check_reports_the_error_at_its_line_and_column_from_one(
    tmp_path, text, place, message, source_line, caret
):
    path = write(tmp_path, "bad.yaml", text)
    result = run("check", path)
    lines = result.stderr.decode().splitlines()
    assert result.returncode == 1
    assert lines[0].startswith(f"{path}:{place}: ") and message in lines[0]
    assert lines[1:3] == [f"    {source_line}", f"    {caret}"]


def test_check_names_both_places_of_a_duplicate_key(tmp_path):
    path = write(tmp_path, "dup.yaml", "x: 1\ny: 2\nx: 3\n")
    err = run("check", path).stderr.decode()
    assert f"{path}:1:1: note: the key 'x' first occurs" in err


@pytest.mark.parametrize(
    "name, data, head",
    [
        ("missing.yaml", None, "brackle: {path}: No such file or directory"),
        (
            "latin1.yaml",
            b"name: caf\xe9\n",
            "{path}:1:10: the text is not valid UTF-8: byte 9 (0xe9)",
        ),
    ],
)
def test_unreadable_files_fail_with_their_name(tmp_path, name, data, head):
    path = tmp_path / name
    if data is not None:
        path.write_bytes(data)
    result = run("check", path)
    assert result.returncode == 1
    assert result.stderr.decode().startswith(head.format(path=path))


def test_check_reports_files_in_the_order_given(examples):
    files = sorted(examples.glob("*.y*ml"))
    (examples / "bad").mkdir()
    bad = [write(examples / "bad", f"bad{i}.yaml", f"k{i}: [\n") for i in range(len(files))]
    files = [p for pair in zip(bad[::-1], files) for p in pair]
    err = run("check", *files).stderr.decode()
    reported = re.findall(r"^(\S+bad\d\.yaml):\d+:\d+:", err, re.M)
    assert reported == [str(p) for p in bad[::-1]]


def test_check_reads_standard_input():
    result = run("check", "-", stdin=b"a: [1\n")
    assert result.returncode == 1 and result.stderr.startswith(b"-:2:1: ")


# ---- get ---------------------------------------------------------------------


@pytest.mark.parametrize(
    "args, expected",
    [
        ([IMAGE], "registry.example.com/shop/storefront:2.8.1\n"),
        ([".spec.replicas", "--doc", "0"], "3\n"),
        ([".spec.template.spec.securityContext.runAsNonRoot", "--doc", "0"], "true\n"),
        ([".metadata.annotations", "--doc", "0"], "deployment.kubernetes.io/revision: '14'\n"),
        (
            [".metadata.annotations", "--doc", "0", "--json"],
            '{\n  "deployment.kubernetes.io/revision": "14"\n}\n',
        ),
        ([".spec.replicas", "--json", "--doc", "0"], "3\n"),
        ([".kind"], "Deployment\n---\nService\n---\nConfigMap\n"),
        ([".kind", "--doc", "-1"], "ConfigMap\n"),
        ([".spec.template.spec.containers[0].args[-1]"], "--log-format=json\n"),
        (['.spec.selector["app.kubernetes.io/name"]', "--doc", "1"], "storefront\n"),
    ],
)
def test_get_prints_the_value_at_the_path(examples, args, expected):
    result = run("get", examples / K8S, *args)
    assert (result.returncode, result.stdout.decode(), result.stderr) == (0, expected, b"")


@pytest.mark.parametrize(
    "text, path, expected",
    [
        ("ports:\n  80: http\n  443: https\n", ".ports.80", "http"),
        ("flags:\n  true: on\n", ".flags.true", "on"),
        ("a:\n  '80': text key\n  80: int key\n", ".a.80", "text key"),
        ("x: ~\n", ".x", "null"),
        ('"key with spaces": 1\n', '."key with spaces"', "1"),
    ],
)
def test_get_finds_keys_by_their_text(tmp_path, text, path, expected):
    result = run("get", write(tmp_path, "f.yaml", text), path)
    assert result.stdout.decode() == expected + "\n"


@pytest.mark.parametrize(
    "path, why",
    [
        (".spec.nothing", ".spec has no key 'nothing'"),
        (".spec.template.spec.containers[5]", "has no index 5"),
        (".kind.deeper", ".kind is a scalar"),
    ],
)
def test_get_of_a_missing_path_fails_with_the_reason(examples, path, why):
    result = run("get", examples / K8S, path, "--doc", "0")
    assert result.returncode == 1 and result.stdout == b""
    assert why in result.stderr.decode()


@pytest.mark.parametrize(
    "path, expected",
    [
        (".", []),
        (".a.b", ["a", "b"]),
        (".a[0][-1].b", ["a", 0, -1, "b"]),
        ('.["a.b"]', ["a.b"]),
        ('."a b".c', ["a b", "c"]),
        (".'it''s'", ["it's"]),
        ('."say \\"hi\\""', ['say "hi"']),
        ("[2]", [2]),
    ],
)
def test_paths_parse_into_steps(path, expected):
    assert parse_path(path) == expected


@pytest.mark.parametrize("path", ["", "a.b", ".a.", ".a[", ".a[x]", '.a."b', '.["a"x]', ".a..b"])
def test_malformed_paths_are_usage_errors(examples, path):
    with pytest.raises(PathError):
        parse_path(path)
    result = run("get", examples / K8S, path)
    assert result.returncode == 2 and b"bad path" in result.stderr


def test_a_string_key_wins_over_a_number_key_with_the_same_text():
    assert find_key({80: "int", "80": "str"}, "80") == (True, "80")
    assert find_key({80: "int", 8.0: "float"}, "8.0") == (True, 8.0)


# ---- set and delete ----------------------------------------------------------


def changed_lines(before: str, after: str) -> list[tuple[str, str]]:
    old, new = before.splitlines(), after.splitlines()
    assert len(old) == len(new)
    return [(a, b) for a, b in zip(old, new) if a != b]


@pytest.mark.parametrize(
    "args, old, new",
    [
        (
            ["set", IMAGE, "nginx:1.25"],
            "          image: registry.example.com/shop/storefront:2.8.1",
            "          image: nginx:1.25",
        ),
        (["set", ".spec.replicas", "5", "--doc", "0"], "  replicas: 3", "  replicas: 5"),
        (
            ["set", ".data.CACHE_TTL_SECONDS", "'600'"],
            '  CACHE_TTL_SECONDS: "300"',
            "  CACHE_TTL_SECONDS: '600'",
        ),
        (
            ["set", ".spec.template.spec.containers[0].args", "[--port=9090]"],
            '          args: ["--port=8080", "--log-format=json"]',
            "          args: [--port=9090]",
        ),
    ],
)
def test_set_changes_exactly_the_edited_line(examples, args, old, new):
    path = examples / K8S
    before = path.read_text()
    printed = run(args[0], path, *args[1:])
    assert printed.returncode == 0, printed.stderr
    assert changed_lines(before, printed.stdout.decode()) == [(old, new)]
    assert path.read_text() == before
    path.chmod(0o640)
    in_place = run(args[0], path, *args[1:], "--in-place")
    assert (in_place.returncode, in_place.stdout) == (0, b"")
    assert path.read_text() == printed.stdout.decode()
    assert stat.S_IMODE(path.stat().st_mode) == 0o640


def test_set_reads_the_value_as_yaml(examples):
    path = examples / K8S
    for value, data in [("1.25", 1.25), ("'1.25'", "1.25"), ("[a, b]", ["a", "b"])]:
        run("set", path, ".spec.replicas", value, "--doc", "0", "--in-place")
        assert brackle.load_all(path.read_text())[0]["spec"]["replicas"] == data


def test_delete_removes_the_entry_and_keeps_the_rest(examples):
    path = examples / K8S
    before = brackle.load_all(path.read_text())
    result = run("delete", path, ".spec.revisionHistoryLimit", "--doc", "0", "--in-place")
    assert result.returncode == 0, result.stderr
    after = brackle.load_all(path.read_text())
    del before[0]["spec"]["revisionHistoryLimit"]
    assert after == before
    assert "revisionHistoryLimit" not in path.read_text()


@pytest.mark.parametrize(
    "args, message",
    [
        (
            ["set", ".spec.nothing", "1"],
            ".spec.nothing is in none of the 3 documents; "
            "give --doc N to say which one to add it to",
        ),
        (
            ["set", ".spec.template.spec.containers[3].image", "x", "--doc", "0"],
            "cannot set .spec.template.spec.containers[3] in document 0: "
            ".spec.template.spec.containers has no index 3",
        ),
        (
            ["set", ".kind.x", "1", "--doc", "0"],
            "cannot set .kind.x in document 0: .kind is a scalar, not a collection",
        ),
        (
            ["delete", ".spec.nothing"],
            ".spec.nothing not found (document 0: .spec has no key 'nothing'; "
            "document 1: .spec has no key 'nothing'; document 2: . has no key 'spec')",
        ),
        (
            ["delete", ".spec.replicas", "--doc", "1"],
            ".spec.replicas not found (document 1: .spec has no key 'replicas')",
        ),
        (["delete", ".metadata.labels", "--doc", "5"], "no document 5 (the file has 3)"),
    ],
    ids=lambda a: " ".join(a) if isinstance(a, list) else "",
)
def test_an_edit_of_a_missing_path_fails_and_leaves_the_file(examples, args, message):
    path = examples / K8S
    before = path.read_bytes()
    result = run(args[0], path, *args[1:], "--in-place")
    assert (result.returncode, result.stderr.decode()) == (1, f"brackle: {path}: {message}\n")
    assert path.read_bytes() == before


@pytest.mark.parametrize(
    "args, changes",
    [
        # The Service has a .spec too, but no replicas: it is left alone.
        (["set", ".spec.replicas", "4"], [("  replicas: 3", "  replicas: 4")]),
        (["set", ".spec.type", "NodePort"], [("  type: ClusterIP", "  type: NodePort")]),
        (["set", ".metadata.namespace", "web"], [("  namespace: shop", "  namespace: web")] * 3),
    ],
    ids=["replicas, in the Deployment", "type, in the Service", "namespace, in all three"],
)
def test_set_without_doc_changes_each_document_that_has_the_whole_path(examples, args, changes):
    path = examples / K8S
    result = run(args[0], path, *args[1:])
    assert result.returncode == 0, result.stderr
    assert changed_lines(path.read_text(), result.stdout.decode()) == changes


@pytest.mark.parametrize(
    "path, losing",
    [(".metadata.namespace", [0, 1, 2]), (".spec.selector", [0, 1]), (".data.LOG_LEVEL", [2])],
)
def test_delete_without_doc_deletes_from_each_document_that_has_the_path(examples, path, losing):
    file = examples / K8S
    expected = brackle.load_all(file.read_text())
    steps = parse_path(path)
    for i in losing:
        parent = expected[i]
        for step in steps[:-1]:
            parent = parent[step]
        del parent[steps[-1]]
    result = run("delete", file, path)
    assert result.returncode == 0, result.stderr
    assert brackle.load_all(result.stdout.decode()) == expected


@pytest.mark.parametrize("doc", ["1", "-2"])
def test_set_with_doc_adds_the_missing_path_to_that_document_only(examples, doc):
    path = examples / K8S
    expected = brackle.load_all(path.read_text())
    expected[1]["spec"]["sessionAffinityConfig"] = {"clientIP": {"timeoutSeconds": 30}}
    result = run(
        "set", path, ".spec.sessionAffinityConfig.clientIP.timeoutSeconds", "30", "--doc", doc
    )
    assert result.returncode == 0, result.stderr
    out = result.stdout.decode()
    assert brackle.load_all(out) == expected
    assert "  sessionAffinityConfig:\n    clientIP:\n      timeoutSeconds: 30\n" in out


@pytest.mark.parametrize(
    "text, path, out",
    [
        (
            "jobs:\n    build:\n        runs-on: x\n",
            ".jobs.build.env.FOO",
            "jobs:\n    build:\n        runs-on: x\n        env:\n            FOO: bar\n",
        ),
        ("a: {x: 1}\n", ".a.y.z", "a: {x: 1, y: {z: bar}}\n"),
        ("l:\n- a\n", ".l[1].name", "l:\n- a\n- name: bar\n"),
        ("", ".a.b", "a:\n  b: bar\n"),
        ("---\n", ".a.b", "---\na:\n  b: bar\n"),
        ("# settings\n", ".a", "# settings\na: bar\n"),
        ("~\n", ".a", "a: bar\n"),
        ("{}\n", ".a.b", "a:\n  b: bar\n"),
    ],
    ids=[
        "nested keys",
        "flow",
        "appended item",
        "empty",
        "empty document",
        "comment",
        "null",
        "{}",
    ],
)
def test_set_adds_the_missing_mappings_of_the_path_in_the_files_layout(tmp_path, text, path, out):
    result = run("set", write(tmp_path, "f.yaml", text), path, "bar")
    assert (result.returncode, result.stdout.decode()) == (0, out), result.stderr


def test_set_adds_missing_mappings_in_a_real_workflow(examples):
    path = examples / "github-actions-ci.yml"
    result = run("set", path, ".jobs.lint.env.FOO", "bar")
    assert result.returncode == 0, result.stderr
    lines = path.read_text().splitlines(keepends=True)
    lines[34:34] = ["    env:\n", "      FOO: bar\n"]  # after the lint job's steps
    assert result.stdout.decode() == "".join(lines)


# How set explains an index it would have to make a new sequence for.
NO_NEW_SEQUENCES = "set adds missing keys as mappings, not sequences"


@pytest.mark.parametrize(
    "text, path, why",
    [
        ("a: 1\n", ".a.b.c", "cannot set .a.b: .a is a scalar, not a collection"),
        ("l: [1, 2]\n", ".l[3]", "cannot set .l[3]: .l has no index 3"),
        ("l: [1, 2]\n", ".l[-3]", "cannot set .l[-3]: .l has no index -3"),
        ("l: [1, 2]\n", ".l.x", "cannot set .l.x: .l is a sequence: 'x' is not an index"),
        ("m: {}\n", ".m[0]", f"cannot set .m[0]: .m has no key '0'; {NO_NEW_SEQUENCES}"),
        ("m: {}\n", ".m.x[0].y", f"cannot set .m.x[0]: .m has no key 'x'; {NO_NEW_SEQUENCES}"),
        ("l: [1, 2]\n", ".l[2][0]", f"cannot set .l[2][0]: .l has no index 2; {NO_NEW_SEQUENCES}"),
        ("", ".a[0]", f"cannot set .a[0]: the document is empty; {NO_NEW_SEQUENCES}"),
    ],
    ids=lambda a: a if a.startswith(".") else "",
)
def test_set_refuses_a_path_it_cannot_make_and_names_the_step(tmp_path, text, path, why):
    file = write(tmp_path, "f.yaml", text)
    result = run("set", file, path, "x", "--in-place")
    assert (result.returncode, result.stderr.decode()) == (1, f"brackle: {file}: {why}\n")
    assert file.read_text() == text


@pytest.mark.parametrize(
    "value, written",
    [
        # What a reader of the file sees is what the user typed: numbers keep
        # their form (Ansible file modes stay octal), quotes stay quotes.
        ("0600", "0600"),
        ("0o600", "0o600"),
        ("3.10", "3.10"),
        ("0x1F", "0x1F"),
        ("1e3", "1e3"),
        ("'yes'", "'yes'"),
        ('"tab\\tin"', '"tab\\tin"'),
        ("~", "~"),
        ("x #y", "x #y"),
        ("[a, 0x1F]", "[a, 0x1F]"),
        ("", ""),
    ],
)
@pytest.mark.parametrize(
    "text, path, line",
    [
        ("a: 1\n", ".a", "a: {}"),
        ("a: 1\n", ".b", "b: {}"),
        ("l:\n- x\n", ".l[0]", "- {}"),
        ("l:\n- x\n", ".l[1]", "- {}"),
        ("m: {}\n", ".n.o", "  o: {}"),
    ],
)
def test_set_writes_value_as_typed(tmp_path, value, written, text, path, line):
    result = run("set", write(tmp_path, "f.yaml", text), path, value)
    assert result.returncode == 0, result.stderr
    out = result.stdout.decode()
    assert line.format(written).rstrip() in out.splitlines()
    expected = brackle.load(value)
    got = brackle.load(out)
    for step in brackle.paths.parse_path(path):
        got = got[step]
    assert got == expected


@pytest.mark.parametrize("flag", ["-s", "--string"])
@pytest.mark.parametrize(
    "text, value, out",
    [
        ("a: 1\n", "0600", "a: '0600'\n"),
        ("a: 1\n", "1.25", "a: '1.25'\n"),
        ("a: 1\n", "[x, y]", "a: '[x, y]'\n"),
        ("a: 1\n", "null", "a: 'null'\n"),
        ("b: 1\n", "yes", "b: 1\na: 'yes'\n"),
        ("a: 1\n", "yes", "a: 'yes'\n"),
    ],
)
def test_set_string_writes_value_as_a_string(tmp_path, flag, text, value, out):
    result = run("set", write(tmp_path, "f.yaml", text), ".a", flag, value)
    assert (result.returncode, result.stdout.decode()) == (0, out), result.stderr
    assert brackle.load(out)["a"] == value


def test_strict_refuses_a_change_that_reaches_other_lines(tmp_path):
    text = "- name: web\n  hosts: all\n"
    path = write(tmp_path, "play.yml", text)
    refused = run("delete", path, ".[0].name", "--strict", "--in-place")
    assert refused.returncode == 1
    assert "strict: the change would rewrite lines outside" in refused.stderr.decode()
    assert path.read_text() == text
    kept = run("set", path, ".[0].hosts", "db", "--strict", "--in-place")
    assert kept.returncode == 0, kept.stderr
    assert path.read_text() == "- name: web\n  hosts: db\n"


def test_an_edit_the_text_cannot_take_fails_with_the_reason(tmp_path):
    text = "base: &b {x: 1}\nuse: *b\n"
    path = write(tmp_path, "shared.yaml", text)
    result = run("delete", path, ".base", "--in-place")
    assert result.returncode == 1
    assert (
        result.stderr.decode()
        == f"brackle: {path}: cannot change .base: the anchor &b is used by an alias elsewhere; "
        "change or remove the alias first\n"
    )
    assert path.read_text() == text


@pytest.mark.parametrize(
    "args, added",
    [
        (["set", ".metadata.team", "web", "--doc", "0"], "  team: web"),
        (
            ["set", ".spec.template.spec.containers[0].args[2]", "--doc", "0", "--", "--debug"],
            '          args: ["--port=8080", "--log-format=json", --debug]',
        ),
    ],
)
def test_set_adds_a_missing_key_or_appends_one_past_the_end(examples, args, added):
    result = run(args[0], examples / K8S, *args[1:])
    assert result.returncode == 0, result.stderr
    assert added in result.stdout.decode().splitlines()


@pytest.mark.parametrize(
    "args, out",
    [
        (["set", ".null", "5"], "a: 1\n~: 5\n"),
        (["delete", ".null"], "a: 1\n"),
    ],
)
def test_a_null_key_is_found_by_its_plain_text(tmp_path, args, out):
    path = write(tmp_path, "nulls.yaml", "a: 1\n~: x\n")
    result = run(args[0], path, *args[1:])
    assert result.returncode == 0, result.stderr
    assert result.stdout.decode() == out


@pytest.mark.parametrize(
    "args",
    [
        ["set", ".a", "2", "--in-place"],
        ["delete", ".a", "--in-place"],
        ["fmt", "--in-place"],
    ],
)
def test_a_file_that_does_not_load_is_never_written(tmp_path, args):
    text = "a: 1\nb: [x\n"
    path = write(tmp_path, "bad.yaml", text)
    result = run(args[0], path, *args[1:])
    assert result.returncode == 1
    assert f"{path}:" in result.stderr.decode()
    assert path.read_text() == text


# ---- fmt ---------------------------------------------------------------------

LAYOUTS = [
    [],
    ["--indent", "4", "--seq-indent", "4", "--seq-offset", "2"],
    ["--width", "40", "--indent", "3"],
    ["--flow"],
    ["--line-break", "crlf"],
]


@pytest.mark.parametrize("options", LAYOUTS, ids=" ".join)
@pytest.mark.parametrize("name", sorted(p.name for p in EXAMPLES.glob("*.y*ml")))
def test_fmt_keeps_data_and_comments_and_is_stable(examples, name, options):
    path = examples / name
    text = path.read_text()
    out = run("fmt", path, *options)
    assert out.returncode == 0, out.stderr
    formatted = out.stdout.decode()
    assert brackle.load_all(formatted) == brackle.load_all(text)
    for comment in re.findall(r"(?:^|\s)(#.*)", text):
        assert comment.rstrip() in formatted
    write(examples, "again.yaml", formatted)
    assert run("fmt", examples / "again.yaml", *options).stdout.decode() == formatted


def test_fmt_lays_out_from_the_options():
    text = "a:   {b: 1,  c: [x,y]}   # note\nd:\n     - 'q'\n     -   e:  1\n"
    result = run("fmt", "-", "--seq-indent", "4", "--seq-offset", "2", stdin=text.encode())
    assert result.stdout.decode() == "a: {b: 1, c: [x, y]} # note\nd:\n  - 'q'\n  - e: 1\n"


@pytest.mark.parametrize(
    "text, options, expected",
    [
        ("a: |\n  x\n\nb: 1\n", [], "a: |\n  x\n\nb: 1\n"),  # the gap after a block scalar
        (
            "k:\n    # about x\n    x: 1\n# top\ny: 2\n",
            [],
            "k:\n  # about x\n  x: 1\n# top\ny: 2\n",
        ),
        ("- \n- b\n", ["--flow"], "[null, b]\n"),
        ("a: 1\r\nb:   2\r\n", [], "a: 1\r\nb: 2\r\n"),
        ("a: 1\r\nb:   2\r\n", ["--line-break", "lf"], "a: 1\nb: 2\n"),
        ("a: \"x\"\nb: 'y'\n", [], "a: \"x\"\nb: 'y'\n"),
    ],
)
def test_fmt_keeps_gaps_comment_indentation_nulls_line_breaks_and_quotes(text, options, expected):
    result = run("fmt", "-", *options, stdin=text.encode())
    assert result.stdout.decode() == expected


def test_fmt_check_lists_the_files_that_would_change(examples):
    messy = examples / K8S
    tidy = write(examples, "tidy.yaml", "a: 1\nb:\n- x\n")
    result = run("fmt", "--check", tidy, messy)
    assert (result.returncode, result.stdout.decode()) == (1, f"{messy}\n")
    assert run("fmt", "--check", tidy).returncode == 0


def test_fmt_in_place_rewrites_only_files_that_change(examples):
    messy = examples / K8S
    tidy = write(examples, "tidy.yaml", "a: 1\n")
    os.utime(tidy, (0, 0))
    result = run("fmt", "--in-place", tidy, messy)
    assert (result.returncode, result.stdout) == (0, b"")
    assert tidy.stat().st_mtime == 0
    assert run("fmt", "--check", messy).returncode == 0


def test_fmt_of_several_files_heads_each_with_its_name(examples):
    a, b = write(examples, "a.yaml", "a: 1\n"), write(examples, "b.yaml", "b: 2\n")
    assert run("fmt", a, b).stdout.decode() == f"==> {a} <==\na: 1\n==> {b} <==\nb: 2\n"


# ---- roundtrip ---------------------------------------------------------------


def test_roundtrip_lists_the_files_that_do_not_come_back(examples):
    write(examples, "cr.yaml", b"a: 1\rb: 2\r\nc: 3\n")  # each line's own break comes back
    escaped = write(examples, "escaped.yaml", b"!!int%47 1\n")  # the tag is kept decoded
    files = sorted(examples.glob("*.y*ml"))
    result = run("roundtrip", *files)
    assert (result.returncode, result.stdout.decode()) == (1, f"{escaped}\n")
    files.remove(escaped)
    assert run("roundtrip", *files).returncode == 0


# ---- usage -------------------------------------------------------------------


@pytest.mark.parametrize(
    "args",
    [
        [],
        ["frobnicate"],
        ["check"],
        ["get", "f.yaml"],
        ["fmt", "--check", "--in-place", "f.yaml"],
        ["fmt", "--indent", "-1", "f.yaml"],
        ["fmt", "--line-break", "cr", "f.yaml"],
        ["fmt", "--in-place", "-"],
        ["set", "-", ".a", "1", "--in-place"],
    ],
)
def test_usage_errors_exit_with_status_2(args):
    result = run(*args)
    assert result.returncode == 2 and b"usage:" in result.stderr


@pytest.mark.parametrize(
    "command", [[], ["check"], ["get"], ["set"], ["delete"], ["fmt"], ["roundtrip"]]
)
def test_every_command_has_help(command):
    result = run(*command, "--help")
    assert result.returncode == 0 and result.stdout.startswith(b"usage: brackle")


def test_version_comes_from_the_package_metadata():
    from importlib.metadata import version

    result = run("--version")
    assert result.stdout.decode() == f"brackle {version('brackle')}\n"
    assert brackle.__version__ == version("brackle")


# ---- failures are reports, never tracebacks ----------------------------------

DEEP_SEQUENCE = "- " * 100_001 + "x\n"  # one level more than a document may nest
TOO_DEEP = "{f}:1:200001: document nested more than 100000 levels deep"
DEEP_KEYS = "? " * 500 + "x\n"  # keys nested in keys
DEEP_FLOW = "[" * 300 + "\n"


def _limit_file_size() -> None:
    import resource

    resource.setrlimit(resource.RLIMIT_FSIZE, (1000, 1000))


# (what, files to make, arguments, exit status, how stderr begins); `{f}`
# stands for the file, `{d}` for the temporary folder.
BAD_INPUTS = [
    ("deep sequence, get", {"f": DEEP_SEQUENCE}, ["get", "{f}", "."], 1, TOO_DEEP),
    ("deep sequence, roundtrip", {"f": DEEP_SEQUENCE}, ["roundtrip", "{f}"], 1, TOO_DEEP),
    ("deep sequence, fmt", {"f": DEEP_SEQUENCE}, ["fmt", "{f}"], 1, TOO_DEEP),
    ("deep sequence, set", {"f": DEEP_SEQUENCE}, ["set", "{f}", "[0]", "1", "-i"], 1, TOO_DEEP),
    ("deep keys, set", {"f": DEEP_KEYS}, ["set", "{f}", ".a", "1"], 1, "brackle: {f}: "),
    ("deep flow, check", {"f": DEEP_FLOW}, ["check", "{f}"], 1, "{f}:1:256: "),
    (
        "missing file",
        {},
        ["check", "{d}/missing.yaml"],
        1,
        "brackle: {d}/missing.yaml: No such file or directory",
    ),
    (
        "missing file, set -i",
        {},
        ["set", "{d}/missing.yaml", ".a", "1", "-i"],
        1,
        "brackle: {d}/missing.yaml: No such file or directory",
    ),
    ("a folder", {}, ["get", "{d}", ".a"], 1, "brackle: {d}: Is a directory"),
    ("a folder, fmt -i", {}, ["fmt", "-i", "{d}"], 1, "brackle: {d}: not a regular file"),
    ("bad path", {"f": "a: 1\n"}, ["get", "{f}", ".a["], 2, "usage:"),
    ("bad value", {"f": "a: 1\n"}, ["set", "{f}", ".a", "[x"], 2, "usage:"),
    ("huge width", {"f": "a: 1\n"}, ["fmt", "--width", "99999999999999999999", "{f}"], 2, "usage:"),
    ("width not a number", {"f": "a: 1\n"}, ["fmt", "--width", "wide", "{f}"], 2, "usage:"),
    (
        "no such document",
        {"f": "a: 1\n"},
        ["get", "{f}", ".a", "--doc", "3"],
        1,
        "brackle: {f}: no document 3",
    ),
    (
        "path through a scalar",
        {"f": "a: 1\n"},
        ["set", "{f}", ".a.b", "1"],
        1,
        "brackle: {f}: cannot set .a.b: .a is a scalar, not a collection",
    ),
]


@pytest.mark.parametrize(
    "files, args, status, head", [case[1:] for case in BAD_INPUTS], ids=[c[0] for c in BAD_INPUTS]
)
def test_every_failure_is_a_report_without_a_traceback(tmp_path, files, args, status, head):
    names = {"d": str(tmp_path)}
    for key, text in files.items():
        names[key] = str(write(tmp_path, f"{key}.yaml", text))
    before = {p: p.read_bytes() for p in tmp_path.iterdir()}
    result = run(*(a.format(**names) for a in args))
    err = result.stderr.decode()
    assert "Traceback" not in err + result.stdout.decode()
    assert result.returncode == status
    assert err.startswith(head.format(**names))
    assert {p: p.read_bytes() for p in tmp_path.iterdir()} == before


def test_a_full_disk_or_a_file_size_limit_is_a_report(tmp_path):
    path = write(tmp_path, "big.yaml", "".join(f"k{i}:    v{i}\n" for i in range(500)))
    text = path.read_text()
    limited = subprocess.run(
        [sys.executable, "-m", "brackle", "fmt", "-i", str(path)],
        capture_output=True,
        preexec_fn=_limit_file_size,
    )
    assert (limited.returncode, limited.stderr.decode()) == (
        1,
        f"brackle: {path}: File too large\n",
    )
    assert path.read_text() == text and os.listdir(tmp_path) == ["big.yaml"]
    with open("/dev/full", "wb") as full:
        result = subprocess.run(
            [sys.executable, "-m", "brackle", "get", str(path), "."],
            stdout=full,
            stderr=subprocess.PIPE,
        )
    assert (result.returncode, result.stderr.decode()) == (
        1,
        "brackle: standard output: No space left on device\n",
    )


# ---- get --json: strict JSON or a refusal --------------------------------------


def _no_constants(name: str) -> None:
    raise ValueError(f"not JSON: {name}")


@pytest.mark.parametrize(
    "text, path, expected",
    [
        ("a: [1, 2.5, null, true]\n", ".a", [1, 2.5, None, True]),
        (
            "{1: x, false: y, null: z, 2.5: w}\n",
            ".",
            {"1": "x", "false": "y", "null": "z", "2.5": "w"},
        ),
        ("? [a, b]\n: 1\n? {k: v}\n: 2\n", ".", {"[a, b]": 1, "{k: v}": 2}),
        ("a: !!binary aGk=\nt: 2001-12-14\n", ".", {"a": "aGk=", "t": "2001-12-14"}),
        ("x: !local {a: 1}\n", ".x", {"a": 1}),
        ("a: &x [1]\nb: *x\n", ".", {"a": [1], "b": [1]}),
        ("- " * 1000 + "x\n", "." + "[0]" * 999, ["x"]),
    ],
    ids=[
        "scalars",
        "scalar keys",
        "collection keys",
        "binary and dates",
        "tags",
        "aliases",
        "deep",
    ],
)
def test_get_json_writes_strict_json(tmp_path, text, path, expected):
    result = run("get", write(tmp_path, "f.yaml", text), path, "--json")
    assert result.returncode == 0, result.stderr
    assert json.loads(result.stdout, parse_constant=_no_constants) == expected


@pytest.mark.parametrize(
    "text, path, message",
    [
        ("a: [1, .inf]\n", ".", ".a[1]: .inf has no JSON number"),
        ("a: {b: .nan}\n", ".a", ".a.b: .nan has no JSON number"),
        (
            "{1: x, '1': y}\n",
            ".",
            ".: the keys 1 and '1' would both be written as the JSON key '1'",
        ),
        ("a: &a [*a]\n", ".", ".a[0]: the value contains itself, which JSON cannot hold"),
    ],
    ids=["infinity", "nan", "colliding keys", "self-reference"],
)
def test_get_json_refuses_what_json_cannot_hold(tmp_path, text, path, message):
    f = write(tmp_path, "f.yaml", text)
    result = run("get", f, path, "--json")
    assert (result.returncode, result.stdout) == (1, b"")
    assert result.stderr.decode() == f"brackle: {f}: cannot be written as JSON: {message}\n"


def alias_bomb(levels: int) -> str:
    """Each level a list of nine aliases of the one before: 9**levels values."""
    lines = ['a0: &a0 ["lol", "lol", "lol", "lol", "lol", "lol", "lol", "lol", "lol"]']
    for i in range(1, levels):
        lines.append(f"a{i}: &a{i} [{', '.join([f'*a{i - 1}'] * 9)}]")
    return "\n".join(lines) + "\n"


def _limit_memory_and_time() -> None:
    import resource

    resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
    resource.setrlimit(resource.RLIMIT_CPU, (10, 10))


def run_measured(command: list[str]) -> tuple[int, bytes, float, int]:
    """Runs ``command`` under a memory and CPU cap: its exit status, its
    standard error, the CPU seconds it used and its peak memory in bytes."""
    with tempfile.TemporaryFile() as err:
        child = subprocess.Popen(
            command, stdout=subprocess.DEVNULL, stderr=err, preexec_fn=_limit_memory_and_time
        )
        _, status, usage = os.wait4(child.pid, 0)
        child.returncode = os.waitstatus_to_exitcode(status)
        err.seek(0)
        return child.returncode, err.read(), usage.ru_utime + usage.ru_stime, usage.ru_maxrss << 10


@pytest.mark.parametrize(
    "args, status",
    [
        (["check"], 0),
        (["get", ".", "--json"], 1),
        (["get", ".a8"], 0),
        (["set", ".a0[0]", "x", "-i"], 0),
        (["delete", ".a8", "-i"], 0),
        (["fmt"], 0),
        (["fmt", "--flow", "-i"], 0),
        (["roundtrip"], 0),
    ],
    ids=lambda a: " ".join(a) if isinstance(a, list) else str(a),
)
def test_an_alias_bomb_takes_under_a_second_and_200_mb_in_every_command(tmp_path, args, status):
    path = write(tmp_path, "bomb.yaml", alias_bomb(9))
    command = [sys.executable, "-m", "brackle", args[0], str(path), *args[1:]]
    returncode, err, seconds, peak = run_measured(command)
    assert returncode == status, err
    assert status == 0 or b"limit of alias expansion" in err
    assert seconds < 1.0 and peak < 200 << 20


# ---- duplicate keys --------------------------------------------------------------


@pytest.mark.parametrize(
    "args, out, text_after",
    [
        (["check"], "", None),
        (["get", ".a"], "2\n", None),
        (["set", ".a", "5", "-i"], "", "a: 1\nb: 0\na: 5\n"),
        (["delete", ".a", "-i"], "", "b: 0\n"),
        (["fmt", "--indent", "4"], "a: 1\nb: 0\na: 2\n", None),
    ],
    ids=lambda a: " ".join(a) if isinstance(a, list) else "",
)
def test_allow_duplicate_keys_reads_the_last_value_and_keeps_the_text(
    tmp_path, args, out, text_after
):
    text = "a: 1\nb: 0\na: 2\n"
    path = write(tmp_path, "dup.yaml", text)
    refused = run(args[0], path, *args[1:])
    assert refused.returncode == 1 and "found duplicate key 'a'" in refused.stderr.decode()
    result = run(args[0], path, *args[1:], "--allow-duplicate-keys")
    assert (result.returncode, result.stdout.decode()) == (0, out)
    assert path.read_text() == (text if text_after is None else text_after)
