"""The installed package's version, from its metadata."""

from __future__ import annotations

from importlib import metadata

__all__ = ["__version__"]

try:
    __version__ = metadata.version("brackle")
except metadata.PackageNotFoundError:  # imported from a source tree that was never installed
    __version__ = "0+unknown"
