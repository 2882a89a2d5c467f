"""The examples in the package's docstrings run and show what they say."""

from __future__ import annotations

import doctest
import importlib

import pytest


@pytest.mark.parametrize(
    "module",
    [
        "brackle",
        "brackle._record",
        "brackle.error",
        "brackle.options",
        "brackle.constructor",
        "brackle.representer",
        "brackle.editing",
        "brackle.paths",
        "brackle.formatter",
        "brackle.compat",
        "brackle._source",
        "brackle._json",
        "brackle._data",
    ],
)
def test_docstring_examples_run(module):
    result = doctest.testmod(
        importlib.import_module(module), optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE
    )
    assert result.attempted > 0
    assert result.failed == 0
