"""The built package: the sdist holds what a build needs and nothing from
build trees, the wheel holds the typed package and its extension under a
manylinux tag, and it installs into a fresh virtual environment where the
command and the library work outside the source tree. ``make dist`` builds
both into ``dist/`` and runs this with ``BRACKLE_DIST=dist``."""

from __future__ import annotations

import os
import subprocess
import sys
import tarfile
import zipfile
from pathlib import Path

import pytest

DIST = os.environ.get("BRACKLE_DIST")
pytestmark = pytest.mark.skipif(not DIST, reason="make dist builds the package and runs this")


def built(pattern: str) -> Path:
    found = sorted(Path(DIST or ".").glob(pattern))
    assert len(found) == 1, f"expected one {pattern} in {DIST}, found {found}"
    return found[0]


def test_the_sdist_holds_the_sources_and_no_build_output():
    with tarfile.open(built("brackle-*.tar.gz")) as sdist:
        names = {name.split("/", 1)[1] for name in sdist.getnames() if "/" in name}
    for needed in [
        "pyproject.toml",
        "CMakeLists.txt",
        "LICENSE",
        "README.md",
        "include/brackle/document.hpp",
        "core/src/loader.cpp",
        "scanner/src/parser.cpp",
        "extension/module.cpp",
        "python/brackle/__init__.py",
        "python/brackle/py.typed",
    ]:
        assert needed in names, needed
    unwanted = [
        n
        for n in names
        if n.split("/")[0].startswith("build")
        or n.split("/")[0] in {".venv", "dist", ".ci", ".git", ".hypothesis", ".mypy_cache"}
        or "__pycache__" in n
        or n.endswith((".so", ".o", ".pyc"))
    ]
    assert unwanted == []


def test_the_wheel_is_manylinux_and_typed():
    wheel = built("brackle-*.whl")
    assert "manylinux" in wheel.name
    with zipfile.ZipFile(wheel) as archive:
        names = archive.namelist()
        metadata = next(archive.read(n).decode() for n in names if n.endswith("/METADATA"))
    assert any(n.startswith("brackle/_brackle") and n.endswith(".so") for n in names)
    assert {"brackle/py.typed", "brackle/_brackle.pyi", "brackle/compat.py"} <= set(names)
    for line in [
        "Classifier: License :: OSI Approved :: MIT License",
        "Classifier: Typing :: Typed",
        "Requires-Python: >=3.11",
    ]:
        assert line in metadata.splitlines()


def test_the_wheel_installs_and_works_outside_the_source_tree(tmp_path):
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", str(venv)], check=True)
    wheel = built("brackle-*.whl").resolve()
    subprocess.run(
        [venv / "bin" / "python", "-m", "pip", "install", "--quiet", "--no-index", str(wheel)],
        check=True,
    )
    version = subprocess.run(
        [venv / "bin" / "brackle", "--version"],
        cwd=tmp_path,
        check=True,
        capture_output=True,
        text=True,
    )
    assert version.stdout.startswith("brackle ")
    program = (
        "import brackle, sys\n"
        "assert brackle.__file__.startswith(sys.prefix), brackle.__file__\n"
        "data = {'name': 'web', 'ports': [80, 443], 'on': 'yes'}\n"
        "assert brackle.load(brackle.dump(data)) == data\n"
        "text = 'a: 1  # kept\\n'\n"
        "assert brackle.emit(brackle.parse(text), brackle.EmitOptions()) == text\n"
        "print('ok')\n"
    )
    run = subprocess.run(
        [venv / "bin" / "python", "-c", program], cwd=tmp_path, capture_output=True, text=True
    )
    assert run.stdout == "ok\n", run.stderr
