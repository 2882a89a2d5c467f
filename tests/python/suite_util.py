"""Helpers of the suite tests: the YAML test suite on disk, its known
differences, and the events that a list of records stands for."""

from __future__ import annotations

import os
from dataclasses import dataclass
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
KNOWN_DIFFERENCES = ROOT / "tests" / "suite_known_differences.txt"


def suite_dir() -> Path:
    env = os.environ.get("BRACKLE_YAML_TEST_SUITE")
    return Path(env) if env else ROOT.parent / "shared" / "yaml-test-suite"


def suite_missing_reason() -> str | None:
    """Why the suite tests are skipped, or ``None`` when the suite is there."""
    if suite_dir().is_dir():
        return None
    return f"YAML test suite not found at {suite_dir()} (set BRACKLE_YAML_TEST_SUITE)"


@dataclass(frozen=True)
class SuiteCase:
    id: str  # "229Q", or "SM9W/01" for a numbered variant
    dir: Path
    must_fail: bool

    @property
    def text(self) -> str:
        # Bytes on disk, decoded without newline translation.
        return (self.dir / "in.yaml").read_bytes().decode("utf-8")


def suite_cases() -> list[SuiteCase]:
    root = suite_dir()
    if not root.is_dir():
        return []
    return sorted(
        (
            SuiteCase(
                p.parent.relative_to(root).as_posix(), p.parent, (p.parent / "error").exists()
            )
            for p in root.rglob("in.yaml")
        ),
        key=lambda c: c.id,
    )


def known_differences(check: str) -> set[str]:
    """The ids listed for ``check``: lines ``ID CHECK reason``, ``#`` comments;
    commas and tabs separate too."""
    listed = set()
    for line in KNOWN_DIFFERENCES.read_text(encoding="utf-8").splitlines():
        fields = line.replace(",", " ").replace("\t", " ").split()
        if len(fields) >= 2 and not fields[0].startswith("#") and fields[1] == check:
            listed.add(fields[0])
    return listed


def expect_listed(check: str, considered: set[str], differences: dict[str, str]) -> None:
    """Fails on a difference that is not listed for ``check``, and on a listed
    id that no longer differs or that this check does not cover."""
    listed = known_differences(check)
    problems = [
        f"{id} ({check}): {detail}"
        for id, detail in sorted(differences.items())
        if id not in listed
    ]
    for id in sorted(listed):
        if id not in considered:
            problems.append(
                f"{id} is listed with check {check} but is no suite test this check covers"
            )
        elif id not in differences:
            problems.append(f"{id} is listed with check {check} but no longer differs")
    assert not problems, "\n".join(problems)


def require_suite() -> list[SuiteCase]:
    reason = suite_missing_reason()
    if reason:
        pytest.skip(reason)
    return suite_cases()


# --- events rebuilt from records ---------------------------------------------

_STYLE_CHAR = {0: ":", 1: "'", 2: '"', 3: "|", 4: ">"}
_ESCAPES = str.maketrans({"\\": "\\\\", "\n": "\\n", "\t": "\\t", "\b": "\\b", "\r": "\\r"})


def _props(node) -> str:
    out = ""
    if node.anchor is not None:
        out += f" &{node.anchor}"
    if node.tag is not None:
        out += f" <{node.tag[2]}>"
    return out


def events_of(docs) -> list[str]:
    """The event lines, in the YAML test suite's format, of ``docs``.

    A document without a root stands for no events: the loader adds such a
    document for a stream without content or for directive lines at its end.
    """
    lines = ["+STR"]
    for doc in docs:
        if doc.root is None:
            continue
        lines.append("+DOC ---" if doc.explicit_start else "+DOC")
        # Walked with an explicit stack, so deep trees need no recursion.
        stack: list[tuple[int, bool]] = [(doc.root, False)]
        while stack:
            index, closing = stack.pop()
            node = doc.nodes[index]
            if node.kind == 3:
                lines.append(f"=ALI *{node.anchor}")
            elif node.kind == 0:
                value = (node.value or "").translate(_ESCAPES)
                lines.append(f"=VAL{_props(node)} {_STYLE_CHAR[node.style]}{value}")
            else:
                name = "SEQ" if node.kind == 1 else "MAP"
                if closing:
                    lines.append(f"-{name}")
                    continue
                flow = (" []" if node.kind == 1 else " {}") if node.style == 6 else ""
                lines.append(f"+{name}{flow}{_props(node)}")
                stack.append((index, True))
                stack.extend((child, False) for child in reversed(node.children))
        lines.append("-DOC ..." if doc.explicit_end else "-DOC")
    lines.append("-STR")
    return lines
