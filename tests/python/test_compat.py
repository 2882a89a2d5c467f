"""``brackle.compat`` against PyYAML, run as a black box: the same data from
the same text, a YAMLError where PyYAML raises one, and dumps that PyYAML
reads back as the data dumped. Where the two differ, the difference is
listed here with its reason."""

from __future__ import annotations

import datetime
import io
import math
from pathlib import Path
from typing import Any

import pytest
import yaml
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import brackle.compat as compat
from brackle._data import same_data
from suite_util import ROOT, suite_cases, suite_missing_reason

# Suite inputs on which PyYAML gives other data than the YAML test suite
# says, and brackle gives the suite's.
LISTED = {
    "652Z": "PyYAML reads '?foo' in a flow mapping as an explicit key",
    "HM87/01": "PyYAML reads '?x' in a flow sequence as an explicit key",
    "JEF9/02": "PyYAML drops the kept line break of a '|+' scalar that ends the stream",
    "L24T/01": "PyYAML drops the kept line break of a '|+' scalar that ends the stream",
    "S4JQ": "PyYAML resolves a plain scalar tagged '!' by the schema; '!' makes it a string",
    "UKK6/02": "PyYAML gives null for a scalar tagged '!'; it is the empty string",
    "Y2GN": "PyYAML ends an anchor name at ':'; a colon can stand in one",
}

# Valid YAML that PyYAML refuses, by the class and text of its error.
PYYAML_REFUSES = [
    (("ScannerError", "ParserError"), "", "PyYAML's parser rejects this valid YAML"),
    (
        ("ConstructorError",),
        "found unhashable key",
        "a collection as a key: brackle gives a hashable FrozenDict or tuple",
    ),
    (
        ("ComposerError",),
        "found duplicate anchor",
        "an anchor defined again: YAML lets it name the later node",
    ),
]


def pyyaml_refuses_valid_yaml(error: Exception) -> bool:
    return any(
        type(error).__name__ in names and text in str(error) for names, text, _ in PYYAML_REFUSES
    )


def both(text: str) -> tuple[Any, Any]:
    """Each side's documents, or the exception it raised."""
    sides: list[Any] = []
    for load_all in (yaml.safe_load_all, compat.safe_load_all):
        try:
            sides.append(list(load_all(text)))
        except Exception as e:  # either side's error is its result
            sides.append(e)
    return sides[0], sides[1]


@pytest.mark.skipif(suite_missing_reason() is not None, reason=str(suite_missing_reason()))
def test_suite_inputs_load_to_pyyamls_data_except_listed_differences():
    equal, raised, listed, refused, failing = [], [], [], [], []
    for case in suite_cases():
        if case.must_fail:
            continue
        theirs, ours = both(case.text)
        if isinstance(theirs, Exception) and isinstance(ours, compat.YAMLError):
            raised.append(case.id)
        elif isinstance(ours, Exception):
            failing.append((case.id, f"brackle raised {ours!r}"))
        elif isinstance(theirs, Exception):
            (refused if pyyaml_refuses_valid_yaml(theirs) else failing).append(
                (case.id, f"PyYAML raised {theirs!r}")
            )
        elif same_data(theirs, ours):
            (failing if case.id in LISTED else equal).append(case.id)
        elif case.id in LISTED:
            listed.append(case.id)
        else:
            failing.append((case.id, f"PyYAML {theirs!r}, brackle {ours!r}"))
    print(
        f"\nequal {len(equal)}, both raise {len(raised)}, listed {len(listed)}, "
        f"refused by PyYAML {len(refused)}"
    )
    assert failing == []
    assert sorted(listed) == sorted(LISTED)


@pytest.mark.skipif(suite_missing_reason() is not None, reason=str(suite_missing_reason()))
def test_suite_inputs_that_are_not_yaml_raise_yaml_error():
    for case in suite_cases():
        if case.must_fail:
            with pytest.raises(compat.YAMLError):
                list(compat.safe_load_all(case.text))


@pytest.mark.parametrize(
    "text",
    [
        "!foo x",
        "!!python/tuple [1, 2]",
        "!!python/object:os.system x",
        "!!int x",
        "!!float [1]",
        "!!omap [a, b]",
        "a: *missing",
        "a: [1\n",
        "{a: 1} x",
    ],
)
def test_where_pyyaml_raises_compat_raises_yaml_error(text):
    theirs, ours = both(text)
    assert isinstance(theirs, Exception)
    assert isinstance(ours, compat.YAMLError)


@pytest.mark.parametrize("path", sorted((ROOT / "examples").glob("*.y*ml")), ids=lambda p: p.name)
def test_examples_load_to_pyyamls_data(path: Path):
    theirs, ours = both(path.read_text())
    if isinstance(theirs, Exception):  # tags that neither side has a constructor for
        assert isinstance(ours, compat.ConstructorError)
    else:
        assert same_data(theirs, ours)


def test_errors_read_as_pyyamls():
    with pytest.raises(compat.MarkedYAMLError) as caught:
        compat.safe_load("a: 1\nb: [2\n")
    theirs = pytest.raises(yaml.MarkedYAMLError, yaml.safe_load, "a: 1\nb: [2\n").value
    mark, their_mark = caught.value.problem_mark, theirs.problem_mark
    assert (mark.line, mark.column) == (their_mark.line, their_mark.column)
    assert isinstance(caught.value.problem, str) and caught.value.problem


def test_safe_load_takes_one_document_and_the_last_of_repeated_keys():
    assert compat.safe_load("") is None
    assert compat.safe_load("a: 1\na: 2\n") == yaml.safe_load("a: 1\na: 2\n") == {"a": 2}
    with pytest.raises(compat.ComposerError) as caught:
        compat.safe_load("--- 1\n--- 2\n")
    assert caught.value.problem_mark.line == 1  # as PyYAML marks it

    class Strict(compat.SafeLoader):
        allow_duplicate_keys = False

    with pytest.raises(compat.ConstructorError, match="duplicate key"):
        compat.load("a: 1\na: 2\n", Loader=Strict)


def test_load_wants_a_safe_loader():
    with pytest.raises(TypeError, match="Loader"):
        compat.load("a: 1")  # type: ignore[call-arg]
    with pytest.raises(TypeError, match="plain data only"):
        compat.load("a: 1", Loader=yaml.Loader)  # type: ignore[arg-type]
    assert compat.load("a: 1", Loader=compat.CSafeLoader) == {"a": 1}


def test_constructors_and_representers_work_as_in_pyyaml():
    class Loader(compat.SafeLoader):
        pass

    class Dumper(compat.SafeDumper):
        pass

    class Money:
        def __init__(self, cents: int) -> None:
            self.cents = cents

    def construct_money(loader: Any, node: Any) -> Money:
        assert isinstance(node, compat.ScalarNode)
        return Money(int(loader.construct_scalar(node)))

    def construct_point(loader: Any, node: Any) -> tuple[int, ...]:
        assert isinstance(node, compat.SequenceNode)
        return tuple(loader.construct_sequence(node))

    def represent_money(dumper: Any, money: Money) -> Any:
        return dumper.represent_scalar("!money", str(money.cents))

    compat.add_constructor("!money", construct_money, Loader=Loader)
    Loader.add_constructor("!point", construct_point)
    compat.add_representer(Money, represent_money, Dumper=Dumper)

    data = compat.load("price: !money 250\nat: !point [1, 2]\n", Loader=Loader)
    assert data["price"].cents == 250 and data["at"] == (1, 2)
    text = compat.dump({"price": Money(3)}, Dumper=Dumper)
    assert text == "price: !money '3'\n"
    # the constructors stay on the subclass
    with pytest.raises(compat.ConstructorError, match="!money"):
        compat.safe_load("!money 1")
    with pytest.raises(compat.RepresenterError, match="Money"):
        compat.safe_dump(Money(1))


@pytest.mark.parametrize(
    "keywords",
    [
        {},
        {"indent": 4, "width": 40},
        {"default_flow_style": True},
        {"default_flow_style": None, "explicit_start": True, "explicit_end": True},
        {"sort_keys": False, "allow_unicode": True},
        {"line_break": "\r\n"},
    ],
)
def test_dump_keywords_give_text_pyyaml_reads_back(keywords):
    data = {"b": [1, {"x": "y"}], "a": "héllo wörld " * 8, "c": None}
    text = compat.safe_dump(data, **keywords)
    assert yaml.safe_load(text) == data
    if keywords.get("sort_keys", True):
        assert text.index("a:") < text.index("b:") < text.index("c:")


def test_dump_writes_to_streams_and_encodes():
    out = io.StringIO()
    assert compat.safe_dump_all([1, 2], out) is None
    assert list(yaml.safe_load_all(out.getvalue())) == [1, 2]
    assert compat.safe_dump("é", encoding="utf-8") == "é\n".encode()


# ---- generated data ------------------------------------------------------------------

ZONES = [
    None,
    datetime.UTC,
    datetime.timezone(datetime.timedelta(hours=5, minutes=30)),
    datetime.timezone(datetime.timedelta(hours=-8)),
]
scalars = (
    st.none()
    | st.booleans()
    | st.integers(min_value=-(2**70), max_value=2**70)
    | st.floats(allow_nan=True, allow_infinity=True)
    | st.text(max_size=30)
    | st.binary(max_size=40)
    | st.dates()
    | st.datetimes(timezones=st.sampled_from(ZONES))
)
keys = st.none() | st.booleans() | st.integers() | st.text(max_size=10)
data = st.recursive(
    scalars,
    lambda inner: st.lists(inner, max_size=5) | st.dictionaries(keys, inner, max_size=5),
    max_leaves=20,
)


def pyyaml_same(a: Any, b: Any) -> bool:
    """Equality that takes NaN as equal to itself."""
    if isinstance(a, float) and isinstance(b, float) and math.isnan(a):
        return math.isnan(b)
    if isinstance(a, list) and isinstance(b, list):
        return len(a) == len(b) and all(pyyaml_same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict) and isinstance(b, dict):
        return a.keys() == b.keys() and all(pyyaml_same(a[k], b[k]) for k in a)
    return type(a) is type(b) and a == b


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(data, min_size=1, max_size=3))
def test_pyyaml_reads_compats_dumps_back_as_the_data(documents):
    text = compat.safe_dump_all(documents)
    assert pyyaml_same(list(yaml.safe_load_all(text)), documents), text


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(data, min_size=1, max_size=3))
def test_compat_reads_pyyamls_dumps_as_pyyaml_does(documents):
    text = yaml.safe_dump_all(documents)
    assert pyyaml_same(list(compat.safe_load_all(text)), list(yaml.safe_load_all(text))), text


def test_timestamps_load_as_pyyamls():
    text = "- 2001-12-14\n- 2001-12-14t21:59:43.10-05:00\n- 2001-12-15 2:59:43.10\n"
    assert compat.safe_load(text) == yaml.safe_load(text)
    assert isinstance(compat.safe_load(text)[0], datetime.date)
