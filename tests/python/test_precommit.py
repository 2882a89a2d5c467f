"""The hooks of ``.pre-commit-hooks.yaml``, run by pre-commit itself on a
temporary repository that uses this one at its current commit: ``brackle-fmt``
rewrites a messy file and fails the run, as formatters do; the second run
passes; ``brackle-check`` fails on a file that does not load."""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

from suite_util import ROOT

PRE_COMMIT = Path(sys.executable).with_name("pre-commit")


def git(*args: str, cwd: Path) -> str:
    return subprocess.run(
        ["git", *args], cwd=cwd, check=True, capture_output=True, text=True
    ).stdout.strip()


@pytest.mark.skipif(not (ROOT / ".git").exists(), reason="needs the project's git repository")
@pytest.mark.skipif(shutil.which("git") is None, reason="needs git")
def test_the_hooks_format_and_check_files_in_a_pre_commit_run(tmp_path: Path):
    assert PRE_COMMIT.exists(), "make venv installs pre-commit"
    repo = tmp_path / "repo"
    repo.mkdir()
    git("init", "-q", cwd=repo)
    (repo / "messy.yaml").write_text("a:   1\nb: [x,y]   # note\n")
    (repo / ".pre-commit-config.yaml").write_text(
        "repos:\n"
        f"- repo: {ROOT}\n"
        f"  rev: {git('rev-parse', 'HEAD', cwd=ROOT)}\n"
        "  hooks:\n"
        "  - id: brackle-fmt\n"
        "  - id: brackle-check\n"
    )
    git("add", "-A", cwd=repo)
    env = {**os.environ, "PRE_COMMIT_HOME": str(tmp_path / "cache")}

    def run() -> subprocess.CompletedProcess[str]:
        return subprocess.run(
            [PRE_COMMIT, "run", "--all-files"], cwd=repo, env=env, capture_output=True, text=True
        )

    first = run()
    assert first.returncode == 1, first.stdout + first.stderr
    assert "files were modified by this hook" in first.stdout
    assert (repo / "messy.yaml").read_text() == "a: 1\nb: [x, y] # note\n"
    second = run()
    assert second.returncode == 0, second.stdout + second.stderr

    (repo / "broken.yaml").write_text("a: [1\n")
    git("add", "-A", cwd=repo)
    third = run()
    assert third.returncode == 1
    assert "broken.yaml:2:1:" in third.stdout
