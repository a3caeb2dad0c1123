"""The column functions on the engines data teams run: polars (map_batches),
DuckDB (a query result in, the result queried back), pandas 3 (Arrow-backed
strings), each giving exactly the per-call results. Each test skips when its
engine is not installed (some have no wheel for every platform)."""

from __future__ import annotations

from typing import Any

import pytest
import veltrane_py_bindings as per_call
from vrn_testing.engines import need
from vrn_testing.samples import SAMPLES

from veltrane_vrn import columns

NAMES = [s for s in SAMPLES if s is not None] * 3 + [None]


def expected_kinds(names: list[str | None]) -> list[str | None]:
    return [None if n is None else per_call.vrn_error_kind(n) for n in names]


def expected_services(names: list[str | None]) -> list[str | None]:
    return [None if n is None or per_call.vrn_error_kind(n) else per_call.vrn_service(n) for n in names]


def test_polars_map_batches() -> None:
    pl = need("polars")
    frame = pl.DataFrame({"name": NAMES})
    out = frame.with_columns(
        kind=pl.col("name").map_batches(lambda s: pl.Series(columns.vrn_error_kind(s)), return_dtype=pl.String),
        service=pl.col("name").map_batches(
            lambda s: pl.Series(columns.vrn_service(s, errors="null")), return_dtype=pl.String),
    )
    assert out["kind"].to_list() == expected_kinds(NAMES)
    assert out["service"].to_list() == expected_services(NAMES)
    fields = pl.Series(columns.vrn_fields(frame["name"], errors="null"))
    assert fields.struct.field("service").to_list() == expected_services(NAMES)
    # A lazy frame over several chunks, and a categorical (dictionary) column.
    lazy = pl.concat([frame, frame], rechunk=False).lazy().select(
        pl.col("name").cast(pl.Categorical).map_batches(lambda s: pl.Series(columns.vrn_error_kind(s)),
                                                        return_dtype=pl.String))
    assert lazy.collect()["name"].to_list() == expected_kinds(NAMES) * 2


def test_duckdb_results_in_and_out() -> None:
    duckdb = need("duckdb")
    pa = need("pyarrow")
    connection = duckdb.connect()
    names = pa.table({"name": NAMES})  # noqa: F841 - found by DuckDB's replacement scan
    kinds = columns.vrn_error_kind(connection.sql("select name from names"))
    assert kinds.to_pylist() == expected_kinds(NAMES)
    # The result is an Arrow stream that DuckDB queries in turn.
    assert [row[0] for row in connection.execute("select * from kinds").fetchall()] == expected_kinds(NAMES)
    fields = columns.vrn_fields(connection.sql("select name from names"), errors="null")  # noqa: F841
    got = connection.execute("select service from fields").fetchall()  # the struct's fields as columns
    assert [row[0] for row in got] == expected_services(NAMES)


def test_pandas_arrow_backed_strings() -> None:
    pd = need("pandas")
    need("pyarrow")
    if int(pd.__version__.split(".")[0]) < 3:
        pytest.skip("pandas 3 exchanges Series through the Arrow PyCapsule interface")
    series = pd.Series(NAMES, dtype="str")
    kinds = pd.Series.from_arrow(columns.vrn_error_kind(series))
    assert [None if pd.isna(k) else k for k in kinds] == expected_kinds(NAMES)
    # Fields with null rows are a struct column; without, they make a frame.
    fields = pd.Series.from_arrow(columns.vrn_fields(series, errors="null"))
    assert [None if row is None or pd.isna(row) else row["service"] for row in fields] == expected_services(NAMES)
    valid = [n for n in NAMES if n is not None and per_call.vrn_error_kind(n) == ""]
    frame = pd.DataFrame.from_arrow(columns.vrn_fields(pd.Series(valid, dtype="str")))
    assert list(frame.columns) == ["service", "region", "org", "resource_type", "resource_id"]
    assert list(frame["service"]) == expected_services(valid)
    # A categorical column goes out dictionary-encoded.
    categorical: Any = series.astype("category")
    assert columns.vrn_error_kind(categorical).to_pylist() == expected_kinds(NAMES)


def test_the_readme_one_liners_run(tmp_path: Any, monkeypatch: pytest.MonkeyPatch) -> None:
    """The README's line per engine, for the engines CI has, pasted as they are."""
    import re

    from vrn_testing import ROOT

    engines = {"pyarrow": "pyarrow", "polars": "polars", "DuckDB": "duckdb", "pandas": "pandas", "Dask": "dask.dataframe"}
    modules = {name: need(module) for name, module in engines.items()}
    readme = (ROOT / "README.md").read_text(encoding="utf-8")
    lines = {engine: line for line, engine in re.findall(r"^(.*?)\s+# (\w+)$", readme, flags=re.M) if engine in engines}
    assert set(lines) == set(engines)
    pq = need("pyarrow.parquet")
    monkeypatch.chdir(tmp_path)
    pq.write_table(modules["pyarrow"].table({"name": NAMES}), "names.parquet")
    scope = {"pa": modules["pyarrow"], "pq": pq, "pl": modules["polars"], "duckdb": modules["DuckDB"],
             "pd": modules["pandas"], "dd": modules["Dask"], "columns": columns}
    # What the README has each engine's line need first: the package's module for that engine.
    import veltrane_vrn.dask
    import veltrane_vrn.duckdb
    import veltrane_vrn.pandas
    import veltrane_vrn.polars  # noqa: F401

    veltrane_vrn.duckdb.register()
    expected = expected_kinds(NAMES)
    for engine, line in lines.items():
        exec(line, scope)  # noqa: S102 - the documented line itself
        if engine == "polars":
            got = scope["out"]["kind"].to_list()
        elif engine == "pandas":
            got = [None if scope["pd"].isna(k) else k for k in scope["df"]["kind"]]
        elif engine == "DuckDB":
            got = scope["kinds"].to_pylist()
        else:
            kinds = scope["kinds"]
            got = kinds.to_pylist() if engine == "pyarrow" else [None if scope["pd"].isna(k) else k for k in kinds]
        assert got == expected, engine
