"""The optional engines (pyarrow, polars, DuckDB, pandas, Dask, ...) that
some tests need."""

from __future__ import annotations

import importlib
import os
from typing import Any


def need(module: str) -> Any:
    """The engine `module`, imported. Where it is not installed the test is
    skipped, unless VELTRANE_REQUIRE_ENGINES is set (scripts/test sets it where
    every engine has a wheel): then a missing engine fails the run instead of
    passing it untested."""
    if os.environ.get("VELTRANE_REQUIRE_ENGINES"):
        return importlib.import_module(module)
    import pytest  # only here: the soak check imports this module without pytest

    return pytest.importorskip(module)
