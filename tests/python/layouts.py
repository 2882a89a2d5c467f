"""The layouts that come back changed with the same data: each is listed
in the README's Limits with its reason, and the round-trip properties
recognise it here, to compare the data of such texts instead of their
bytes. The fuzz target's twin (tests/cpp/listed_layouts.hpp) and this one
are both held to the cases of tests/listed_layouts.txt."""

from __future__ import annotations

import re

__all__ = ["LISTED_LAYOUTS", "listed_layout", "unstyled"]

# Layouts that come back changed with the same data, each listed in the
# README's Limits with its reason.
_BREAK = r"(?:\r\n|\r|\n)"
_PROPERTY = r"(?:&[^\s,\[\]{}]+|![^\s,\[\]{}]*)"
# A line that ends in bare indicators (`-`, `? -`) or in a property
# (`k: &a`, `- !t`, `[ &a`), a comment perhaps after it.
_OPEN_ENDED = re.compile(
    rf"(?:[ \t]*(?:[-?:](?:[ \t]+|$))+|.*(?:^|[\s:\-?,\[{{]){_PROPERTY}[ \t]*)(?:#.*)?"
)
_QUIET = re.compile(r"[ \t]*(?:#.*)?")  # a blank or comment line


def _open_ended_line_beside_a_quiet_one(text: str) -> bool:
    """Whether a line that ends in bare indicators or a property has a
    comment, or a blank or comment line (or one ending in a comment) next to
    it. The model keeps no line for such an indicator (only for its node's
    first text), nor for a property whose content follows lines later, so
    the blank lines and comments around them may move."""
    lines = re.split(_BREAK, text.removeprefix("\ufeff"))
    for i, line in enumerate(lines):
        if _QUIET.fullmatch(line) or not _OPEN_ENDED.fullmatch(line):
            continue
        if "#" in line:
            return True
        before = lines[i - 1] if i > 0 else None
        after = lines[i + 1] if i + 1 < len(lines) else None
        if before is not None and (_QUIET.fullmatch(before) or "#" in before):
            return True
        if after is not None and _QUIET.fullmatch(after) and i + 2 < len(lines):
            return True
    return False


LISTED_LAYOUTS = [
    (
        "a line ending in a bare indicator or a property, beside blank or comment lines",
        _open_ended_line_beside_a_quiet_one,
    ),
    # A property with no content in a flow collection (`!!str,`, `&a :`) may
    # move to its item's indentation; so may what follows it.
    (
        "a property without content in a flow collection",
        re.compile(rf"{_PROPERTY}[ \t]*[,:\]}}]").search,
    ),
    # An explicit key with nothing after its `?` (after a `-`), whose `:`
    # begins the next line, is written on the `:`'s line.
    ("a - ? with its : on the next line", re.compile(rf"- +\?[ \t]*{_BREAK}[ \t]*:").search),
    # A tag keeps its text decoded: an escape it does not need is not kept.
    ("a tag with a % escape", re.compile(r"!\S*%[0-9A-Fa-f]{2}").search),
    # Nor a line for a `...` after a flow collection.
    (
        "blank or comment lines between a flow collection and ...",
        re.compile(
            rf"[\]}}][ \t]*(?:#[^\r\n]*)?{_BREAK}(?:[ \t]*(?:#[^\r\n]*)?{_BREAK})+\.\.\."
        ).search,
    ),
    # Blank lines between a comment in a flow collection and the `,`, `:`,
    # `]` or `}` that begins a later line go after that indicator.
    (
        "blank lines between a comment in a flow collection and , : ] or }",
        re.compile(rf"#[^\r\n]*{_BREAK}(?:[ \t]*{_BREAK})+[ \t]*[,:\]}}]").search,
    ),
    # A block sequence below a bare `?` at the `?`'s column is indented.
    (
        "a sequence at the column of a bare ? above it",
        re.compile(rf"(?:^|{_BREAK})([ \t]*)\?[ \t]*{_BREAK}\1-").search,
    ),
]


def unstyled(events: list[str]) -> list[str]:
    """Events with the style of each scalar left out: text laid out anew may
    quote a scalar that the source left plain."""
    return [re.sub(r"^(=VAL(?: &\S+)?(?: <[^>]*>)?) [:'\"|>]", r"\1 ", e) for e in events]


def listed_layout(text: str) -> str | None:
    return next((name for name, found in LISTED_LAYOUTS if found(text)), None)
