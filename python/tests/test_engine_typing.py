"""The engines' example that mypy --strict checks (typing/every_engine.py)
also runs, with the results its types promise."""

from __future__ import annotations

import sys

from vrn_testing import ROOT
from vrn_testing.engines import need
from vrn_testing.samples import CANONICAL_ID


def test_typed_engine_example_runs() -> None:
    for engine in ("duckdb", "polars", "pandas", "pyarrow", "pydantic"):
        need(engine)
    sys.path.insert(0, str(ROOT / "python" / "tests" / "typing"))
    try:
        from every_engine import use_every_engine
    finally:
        sys.path.remove(str(ROOT / "python" / "tests" / "typing"))
    canonical = f"vrn:vlt:iam:us-east-1::project/{CANONICAL_ID}"
    assert use_every_engine() == {
        "duckdb": [23, [("iam", "wrong-field-count")]],
        "polars": [["name", "built"], [("", f"vrn:vlt:iam:::project/{CANONICAL_ID}"),
                                       (None, f"vrn:vlt:iam:::project/{CANONICAL_ID}")], ["us-east-1", None]],
        "pandas": {"a": "iam"},
        "pydantic": ["iam", {"resource": canonical, "parent": None}],
    }
