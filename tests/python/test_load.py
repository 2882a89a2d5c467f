"""brackle.load and load_all: schemas, tags, aliases, merges, keys,
duplicate keys, input decoding."""

from __future__ import annotations

import datetime
import io
import math

import pytest

import brackle
from brackle.constructor import ConstructorError, FrozenDict, Tagged

UTC_MINUS_5 = datetime.timezone(datetime.timedelta(hours=-5))

# Plain scalars the same in both schemas.
COMMON = [
    ("~", None),
    ("null", None),
    ("NULL", None),
    ("", None),
    ("true", True),
    ("False", False),
    ("0", 0),
    ("-17", -17),
    ("+3", 3),
    ("0x1F", 31),
    ("12345678901234567890123", 12345678901234567890123),
    ("1.5", 1.5),
    ("-.5", -0.5),
    (".inf", math.inf),
    ("-.Inf", -math.inf),
    ("+.INF", math.inf),
    ("1.0e+3", 1000.0),
    ("abc", "abc"),
    ("nully", "nully"),
    ("0x", "0x"),
    ("1.2.3", "1.2.3"),
    ("-a", "-a"),
    (".", "."),
    ("+-1", "+-1"),
    ("~a", "~a"),
]
CORE = COMMON + [
    ("0o17", 15),
    ("017", 17),
    ("1_", "1_"),
    ("1e3", 1000.0),
    ("yes", "yes"),
    ("off", "off"),
    ("1_000", "1_000"),
    ("1:30", "1:30"),
    ("0b101", "0b101"),
    ("-0o17", "-0o17"),
    ("2001-12-14", "2001-12-14"),
    ("2001-12-14t21:59:43.10-05:00", "2001-12-14t21:59:43.10-05:00"),
]
V11 = COMMON + [
    ("yes", True),
    ("No", False),
    ("ON", True),
    ("off", False),
    ("y", "y"),
    ("0o17", "0o17"),
    ("017", 15),
    ("0777", 511),
    ("1_000", 1000),
    ("1_", 1),
    ("0b1010", 10),
    ("-0x_1F", -31),
    ("190:20:30", 685230),
    ("-1:30", -90),
    ("1" * 30 + ":01", int("1" * 30) * 60 + 1),
    ("190:20:30.15", 685230.15),
    ("1:60", "1:60"),
    ("1_000.5", 1000.5),
    ("1e3", "1e3"),
    ("2001-12-14", datetime.date(2001, 12, 14)),
    (
        "2001-12-14t21:59:43.10-05:00",
        datetime.datetime(2001, 12, 14, 21, 59, 43, 100000, UTC_MINUS_5),
    ),
    ("2001-12-14 21:59:43.10 -5", datetime.datetime(2001, 12, 14, 21, 59, 43, 100000, UTC_MINUS_5)),
    (
        "2001-12-15T02:59:43.1Z",
        datetime.datetime(2001, 12, 15, 2, 59, 43, 100000, datetime.UTC),
    ),
    ("2001-12-14 21:59:43", datetime.datetime(2001, 12, 14, 21, 59, 43)),
    ("2001-1-14", "2001-1-14"),
    ("2001-02-30", "2001-02-30"),
    ("2001-12-14 25:00:00", "2001-12-14 25:00:00"),
]


@pytest.mark.parametrize(("text", "expected"), CORE)
def test_core_schema_resolves_plain_scalars(text, expected):
    assert_same(brackle.load(f"- {text}\n")[0], expected)


@pytest.mark.parametrize(("text", "expected"), V11)
def test_yaml_11_rules_resolve_plain_scalars_by_directive_and_by_argument(text, expected):
    assert_same(brackle.load(f"%YAML 1.1\n---\n- {text}\n")[0], expected)
    assert_same(brackle.load(f"- {text}\n", version=(1, 1))[0], expected)


def assert_same(got, expected):
    assert type(got) is type(expected) and got == expected, (got, expected)


def test_nan_and_quoted_scalars():
    got = brackle.load("[.NaN, .nan, '1', \"true\", !!str 1, ! 2]")
    assert math.isnan(got[0]) and math.isnan(got[1]) and got[2:] == ["1", "true", "1", "2"]


@pytest.mark.parametrize(
    ("text", "expected"),
    [
        ("!!str 1.5", "1.5"),
        ("!!int '0x10'", 16),
        ("!!float 3", 3.0),
        ("!!float '.5'", 0.5),
        ("!!bool 'true'", True),
        ("!!null ''", None),
        ("!!binary aGVs\n  bG8=", b"hello"),
        ("!!timestamp 2002-12-14", datetime.date(2002, 12, 14)),
        ("!!seq [a]", ["a"]),
        ("!!map {a: 1}", {"a": 1}),
        ("!!set {a, b}", {"a", "b"}),
        ("!!omap [a: 1, b: 2]", {"a": 1, "b": 2}),
        ("!!pairs [a: 1, a: 2]", [("a", 1), ("a", 2)]),
        ("!local x", Tagged("!local", "x")),
        ("!point [1, 2]", Tagged("!point", [1, 2])),
        (
            "%TAG !e! tag:example.com,2000:app/\n--- !e!foo {a: 1}",
            Tagged("tag:example.com,2000:app/foo", {"a": 1}),
        ),
        ("!!python/tuple [1]", Tagged("tag:yaml.org,2002:python/tuple", [1])),
    ],
)
def test_explicit_tags_give_their_types(text, expected):
    assert_same(brackle.load(text), expected)


@pytest.mark.parametrize(
    ("text", "problem"),
    [
        ("!!int x", "cannot read this scalar as !!int"),
        ("!!bool 1", "as !!bool"),
        ("!!binary '*'", "as !!binary"),
        ("!!timestamp now", "as !!timestamp"),
        ("!!timestamp 2001-02-30", "as !!timestamp"),
        ("!!seq {a: 1}", "a mapping cannot be !!seq"),
        ("!!str [a]", "a sequence cannot be !!str"),
        ("!!omap [a]", "one pair"),
        ("a: b\n<<: x\n", "merge key takes a mapping"),
        ("? &a [*a]\n: x\n", "recursive structure"),
        ("&a {*a : x}\n", "recursive structure"),
        ("&a {k: {*a : x}}\n", "recursive structure"),
    ],
)
def test_nodes_that_cannot_become_data_raise_constructor_errors(text, problem):
    with pytest.raises(ConstructorError, match=problem) as e:
        brackle.load(text)
    assert e.value.problem_mark is not None


def test_aliases_give_the_same_object_even_recursively():
    data = brackle.load("a: &x [1]\nb: *x\nc: &r {self: *r}\nd: &s [*s, *x]\n")
    assert data["a"] is data["b"] and data["c"]["self"] is data["c"]
    assert data["d"][0] is data["d"] and data["d"][1] is data["a"]
    redefined = brackle.load("[&a 1, *a, &a 2, *a]")
    assert redefined == [1, 1, 2, 2]


@pytest.mark.parametrize(
    ("text", "expected"),
    [
        ("b: &b {x: 1, y: 2}\nd: {<<: *b, y: 3}", {"x": 1, "y": 3}),
        ("b: &b {x: 1, y: 2}\nd: {y: 3, <<: *b}", {"x": 1, "y": 3}),
        ("a: &a {x: 1}\nb: &b {x: 2, z: 2}\nd: {<<: [*a, *b], w: 0}", {"x": 1, "z": 2, "w": 0}),
        ("a: &a {x: 1}\nb: &b {x: 2}\nd:\n  <<: *b\n  <<: *a\n", {"x": 2}),
        ("d: {<<: {x: 1}}", {"x": 1}),
    ],
)
def test_merge_keys_apply_with_explicit_keys_and_earlier_maps_winning(text, expected):
    assert brackle.load(text)["d"] == expected


def test_merge_keys_leave_the_sources_and_a_quoted_key_alone():
    data = brackle.load("b: &b {x: 1}\nd: {<<: *b}\ne: {'<<': 1}\n")
    assert data["b"] == {"x": 1} and data["e"] == {"<<": 1} and data["d"] is not data["b"]


def test_collection_keys_become_hashable_frozen_forms():
    data = brackle.load("? [a, [b]]\n: 1\n? {k: [v]}\n: 2\n? !!set {s}\n: 3\n")
    assert data[("a", ("b",))] == 1
    assert data[FrozenDict({"k": ("v",)})] == 2 and data[frozenset({"s"})] == 3
    key = next(k for k in data if isinstance(k, FrozenDict))
    assert key == {"k": ("v",)} and hash(key) == hash(FrozenDict({"k": ("v",)}))
    with pytest.raises(TypeError):
        key["new"] = 1  # type: ignore[index]


@pytest.mark.parametrize(
    ("text", "key", "first", "again"),
    [
        ("a: 1\nb: 2\na: 3\n", "a", (0, 0), (2, 0)),
        ("x:\n  - {k: 1, j: 2, k: 3}\n", "k", (1, 5), (1, 17)),
        ("1: a\n0x1: b\n", 1, (0, 0), (1, 0)),
        ("? [a]\n: 1\n? [a]\n: 2\n", ("a",), (0, 2), (2, 2)),
        ("!!set {a, b, a}", "a", (0, 7), (0, 13)),
    ],
)
def test_duplicate_keys_raise_with_both_positions(text, key, first, again):
    with pytest.raises(brackle.DuplicateKeyError) as e:
        brackle.load(text, name="f.yaml")
    err = e.value
    assert isinstance(err, brackle.YAMLError) and err.key == key
    assert (err.first_mark.line, err.first_mark.column) == first
    assert (err.problem_mark.line, err.problem_mark.column) == again
    assert err.problem_mark.name == "f.yaml" and "^" in str(err) and repr(key) in str(err)


def test_allowed_duplicate_keys_keep_the_last_value_and_unequal_keys_are_no_duplicates():
    assert brackle.load("a: 1\na: 2\n", allow_duplicate_keys=True) == {"a": 2}
    assert brackle.load("1: int\n'1': str\n") == {1: "int", "1": "str"}


@pytest.mark.parametrize(
    "data",
    [
        "k: é\n".encode("utf-16"),
        "k: é\n".encode("utf-16-be").join([b"\xfe\xff", b""]),
        "k: é\n".encode("utf-32"),
        "\ufeffk: é\n".encode("utf-8"),
        "k: é\n".encode(),
        bytearray("k: é\n".encode()),
    ],
)
def test_bytes_are_decoded_by_their_byte_order_mark(data):
    assert brackle.load(data) == {"k": "é"}


def test_streams_documents_and_names(tmp_path):
    path = tmp_path / "on-disk.yaml"
    path.write_bytes("a: [1]\n--- b\n".encode("utf-16"))
    with path.open("rb") as stream:
        assert brackle.load_all(stream) == [{"a": [1]}, "b"]
    path.write_text("a: 1\na: 1\n", encoding="utf-8")
    with (
        path.open(encoding="utf-8") as stream,
        pytest.raises(brackle.DuplicateKeyError, match="on-disk.yaml"),
    ):
        brackle.load(stream)
    assert brackle.load("") is None and brackle.load_all("") == []
    assert brackle.load_all("--- 1\n--- \n...\n--- [a]\n") == [1, None, ["a"]]
    assert brackle.load("--- 1\n--- 2\n") == 1
    stream = io.StringIO("a: 1\na: 2\n")
    stream.name = "conf.yaml"
    with pytest.raises(brackle.DuplicateKeyError, match="conf.yaml"):
        brackle.load(stream)
    with pytest.raises(brackle.ScannerError, match="given.yaml"):
        brackle.load(io.BytesIO(b"a: [\n"), name="given.yaml")


def test_version_argument_overrides_the_directive():
    assert brackle.load("%YAML 1.1\n--- yes", version=(1, 2)) == "yes"
    assert brackle.load_all("%YAML 1.1\n--- yes\n...\n--- yes\n") == [True, "yes"]
    with pytest.raises(ValueError):
        brackle.load("a", version=(2, 0))


def test_deep_nesting_loads_or_raises_a_clear_error():
    depth = 200
    data = brackle.load("[" * depth + "]" * depth)
    for _ in range(depth - 1):
        data = data[0]
    assert data == []
    key = brackle.load("? " + "[" * depth + "]" * depth + "\n: v\n")
    assert list(key.values()) == ["v"]
    with pytest.raises(brackle.YAMLError):
        brackle.load("[" * 1_000_000 + "]" * 1_000_000)


def test_load_all_is_not_exported_by_the_extension_module():
    assert "_load_all" not in brackle._brackle.__all__
    assert {"load", "load_all", "Tagged", "DuplicateKeyError"} <= set(brackle.__all__)
