"""Every Python example of the README runs and shows what it says: blocks of
`>>>` lines as doctests, others as programs, each in a folder of its own
that holds the Kubernetes example as `deployment.yaml`."""

from __future__ import annotations

import doctest
import re
import shutil
from pathlib import Path

import pytest

import brackle

ROOT = Path(__file__).resolve().parents[2]
BLOCKS = re.findall(r"^```python\n(.*?)^```", (ROOT / "README.md").read_text(), re.M | re.S)


@pytest.fixture
def folder(tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> Path:
    shutil.copy(ROOT / "examples" / "kubernetes-deployment.yaml", tmp_path / "deployment.yaml")
    monkeypatch.chdir(tmp_path)
    return tmp_path


def test_the_readme_has_python_examples():
    assert len(BLOCKS) >= 4


@pytest.mark.parametrize("block", BLOCKS, ids=[f"block {i + 1}" for i in range(len(BLOCKS))])
def test_a_readme_example_runs(block: str, folder: Path):
    if block.lstrip().startswith(">>>"):
        test = doctest.DocTestParser().get_doctest(block, {"brackle": brackle}, "README", None, 0)
        runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
        runner.run(test)
        assert runner.failures == 0 and runner.tries > 0
    else:
        exec(compile(block, "README.md", "exec"), {"__name__": "readme"})
