"""The caller's own tags and types: ``load(..., tags=)`` makes the data of
tagged nodes, ``dump(..., represent=)`` writes objects of the caller's types."""

from __future__ import annotations

import dataclasses
import datetime
import enum
from decimal import Decimal
from typing import Any

import pytest

import brackle
from brackle import RepresenterError, Tagged

# ---- tags ----------------------------------------------------------------------

CLOUDFORMATION = {
    "!Ref": lambda name: {"Ref": name},
    "!Sub": lambda text: {"Fn::Sub": text},
    "!GetAtt": lambda path: {"Fn::GetAtt": path.split(".") if isinstance(path, str) else path},
}


@pytest.mark.parametrize(
    "text, expected",
    [
        ("!Ref Bucket", {"Ref": "Bucket"}),
        ("!Sub 'arn:${AWS::Region}'", {"Fn::Sub": "arn:${AWS::Region}"}),
        ("!GetAtt Role.Arn", {"Fn::GetAtt": ["Role", "Arn"]}),
        ("!GetAtt [Role, Arn]", {"Fn::GetAtt": ["Role", "Arn"]}),
        # the value is built as for Tagged: a plain scalar stays text
        ("!Ref 12", {"Ref": "12"}),
        ("[!Ref a, !Other b]", [{"Ref": "a"}, Tagged("!Other", "b")]),
        ("{k: !Sub {x: !Ref y}}", {"k": {"Fn::Sub": {"x": {"Ref": "y"}}}}),
    ],
)
def test_tag_functions_make_the_data_of_their_nodes(text, expected):
    assert brackle.load(text, tags=CLOUDFORMATION) == expected


def test_an_alias_of_a_tagged_node_gives_the_functions_result():
    made: list[Any] = []

    def point(items: list[int]) -> tuple[int, ...]:
        made.append(items)
        return tuple(items)

    data = brackle.load("a: &p !point [1, 2]\nb: *p\n", tags={"!point": point})
    assert data == {"a": (1, 2), "b": (1, 2)}
    assert data["a"] is data["b"] and len(made) == 1


def test_tag_functions_see_standard_tags_by_their_full_name():
    tags = {"tag:yaml.org,2002:str": str.upper}
    assert brackle.load("[!!str abc, abc]", tags=tags) == ["ABC", "abc"]


def test_a_tag_function_may_make_a_mapping_key():
    assert brackle.load("? !pair [a, b]\n: 1\n", tags={"!pair": tuple}) == {("a", "b"): 1}


def test_an_error_in_a_tag_function_reaches_the_caller():
    def refuse(value: Any) -> Any:
        raise LookupError(f"no {value}")

    with pytest.raises(LookupError, match="no x"):
        brackle.load("!Ref x", tags={"!Ref": refuse})


def test_tags_may_be_any_mapping_and_iter_load_takes_them():
    from types import MappingProxyType

    tags = MappingProxyType({"!Ref": lambda n: ("ref", n)})
    assert list(brackle.iter_load("--- !Ref a\n--- !Ref b\n", tags=tags)) == [
        ("ref", "a"),
        ("ref", "b"),
    ]


# ---- represent -------------------------------------------------------------------


@dataclasses.dataclass
class Point:
    x: int
    y: int


class Color(enum.Enum):
    RED = "red"


class Level(enum.IntEnum):
    HIGH = 3


@pytest.mark.parametrize(
    "data, represent, expected",
    [
        (Point(1, 2), {Point: dataclasses.asdict}, "x: 1\ny: 2\n"),
        ([Color.RED], {enum.Enum: lambda m: m.value}, "- red\n"),
        # an IntEnum is an int: the built-in rule for ints takes it
        ([Level.HIGH], {enum.Enum: lambda m: m.name}, "- 3\n"),
        # the exact type wins over the built-in rules
        ([Level.HIGH], {Level: lambda m: m.name}, "- HIGH\n"),
        (Decimal("1.50"), {Decimal: lambda d: Tagged("!decimal", str(d))}, "!decimal '1.50'\n"),
        (
            {"when": datetime.timedelta(minutes=90)},
            {datetime.timedelta: lambda d: f"{d.total_seconds():g}s"},
            "when: 5400s\n",
        ),
    ],
)
def test_represent_functions_write_the_callers_types(data, represent, expected):
    assert brackle.dump(data, represent=represent) == expected


def test_one_object_represented_twice_becomes_an_anchor_and_an_alias():
    p = Point(1, 2)
    text = brackle.dump({"a": p, "b": p}, represent={Point: dataclasses.asdict})
    assert text == "a: &id001\n  x: 1\n  y: 2\nb: *id001\n"
    loaded = brackle.load(text)
    assert loaded["a"] is loaded["b"]


@pytest.mark.parametrize(
    "data, represent, message",
    [
        (object(), None, "cannot represent an object of type 'object'"),
        (Point(1, 2), None, "cannot represent an object of type 'Point'"),
        ({"p": Point(1, 2)}, {Color: str}, "cannot represent an object of type 'Point'"),
        # a function whose result needs representing again, without end
        (Point(1, 2), {Point: lambda p: Point(p.y, p.x)}, "needed representing 100 times"),
    ],
)
def test_objects_of_unknown_types_raise_representer_error(data, represent, message):
    with pytest.raises(RepresenterError, match=message) as caught:
        brackle.dump(data, represent=represent)
    assert isinstance(caught.value, (brackle.YAMLError, TypeError))
