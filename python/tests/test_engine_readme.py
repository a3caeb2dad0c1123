"""The README's engine examples in "Columns and clusters" run and print what
they show: each ```python block written as a session is a doctest, run where
its engines are installed. (The one-liners are run by test_columns_engines.py,
the Spark example by test_engine_spark.py.)"""

from __future__ import annotations

import doctest
import re

import pytest
from vrn_testing import ROOT
from vrn_testing.engines import need

README = (ROOT / "README.md").read_text(encoding="utf-8")


def section(title: str) -> str:
    start = README.index(title)
    end = README.find("\n## ", start + len(title))
    return README[start : end if end != -1 else None]


SESSIONS = [block for block in re.findall(r"^```python\n(.*?)^```$", section("## Columns and clusters"),
                                          flags=re.M | re.S) if block.startswith(">>> ")]


def imported_engines(block: str) -> list[str]:
    """The engines a session imports (not the package's own modules)."""
    modules = re.findall(r"^>>> (?:import|from) ([\w.]+)", block, flags=re.M)
    return [module for module in modules if not module.startswith("veltrane_vrn")]


def test_there_is_a_session_for_each_engine() -> None:
    assert sorted(engine for block in SESSIONS for engine in imported_engines(block)) == \
        ["duckdb", "pandas", "polars", "pydantic"]


@pytest.mark.parametrize("block", SESSIONS, ids=[imported_engines(block)[0] for block in SESSIONS])
def test_session(block: str) -> None:
    for module in imported_engines(block):
        need(module)
    test = doctest.DocTestParser().get_doctest(block, {}, "README.md", "README.md", 0)
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    runner.run(test)
    results = runner.summarize(verbose=False)
    assert results.attempted >= 5
    assert results.failed == 0


@pytest.mark.parametrize(("module", "engine"), [("duckdb", "duckdb"), ("polars", "polars"), ("pandas", "pandas"),
                                                ("pydantic", "pydantic"), ("dask", "dask.dataframe")])
def test_module_docstring_examples(module: str, engine: str) -> None:
    """Each engine module's own example, in its docstring."""
    import importlib

    need(engine)
    need("pyarrow")
    results = doctest.testmod(importlib.import_module(f"veltrane_vrn.{module}"), optionflags=doctest.ELLIPSIS)
    assert results.attempted >= 2
    assert results.failed == 0
