"""Figures of the engines' ways in (a benchmark, not a test: nothing here fails
on a slow machine; run it when the machine is quiet and read the best round).

    python engines_throughput.py [--names N] [--repeat R] [--validations N]

On N generated names (default one million, one in five invalid), each in the
same run and on the same data:

1. each surface against a direct `columns.vrn_error_kind` call on the column
   it holds (the namespaces should add almost nothing): the polars namespace
   (eager, lazy and streaming), the pandas accessor, DuckDB's SQL function
   over an Arrow table in memory;
2. DuckDB SQL over a Parquet file (`select vrn_error_kind(name) ...`,
   aggregated so that nothing is materialised in Python) against DuckDB's own
   `count(*)` of the same file, with DuckDB reading the column alone
   (`sum(length(name))`) and an Arrow UDF that gives back its input (the
   floor of any Python function there) between them;
3. pydantic: validating a model with a `Vrn` field against one with a `str`
   field constrained by the equivalent pattern, per name (the valid names
   only, and all of them), in Python and from JSON.

Engines that are not installed are left out.
"""

from __future__ import annotations

import argparse
import importlib.util
import json
import sys
import tempfile
import time
from collections.abc import Callable
from pathlib import Path
from typing import Annotated, Any

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "support"))

import pyarrow as pa  # noqa: E402
import pyarrow.parquet as pq  # noqa: E402
import veltrane_py_bindings as per_call  # noqa: E402
from vrn_testing.names import generate  # noqa: E402

from veltrane_vrn import columns  # noqa: E402


def best(run: Callable[[], Any], repeat: int) -> float:
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return min(times)


def have(module: str) -> bool:
    return importlib.util.find_spec(module) is not None


def row(label: str, seconds: float, count: int, against: float | None = None) -> None:
    ratio = f"{seconds / against:6.2f}x" if against else ""
    print(f"  {label:<62} {seconds:8.3f} s {seconds / count * 1e9:8.0f} ns/name  {ratio}")


def surfaces(names: list[str], repeat: int) -> None:
    array = pa.array(names, pa.string())
    count = len(names)
    print(f"1. each surface against a direct columns.vrn_error_kind call ({count} names)")
    if have("polars"):
        import polars as pl

        import veltrane_vrn.polars  # noqa: F401

        series = pl.Series("name", array)
        frame = pl.DataFrame({"name": series})
        direct = best(lambda: pl.Series(columns.vrn_error_kind(series)), repeat)
        row("polars: pl.Series(columns.vrn_error_kind(series))", direct, count)
        row("polars: series.vrn.error_kind()", best(lambda: series.vrn.error_kind(), repeat), count, direct)
        row("polars: frame.select(pl.col('name').vrn.error_kind())",
            best(lambda: frame.select(pl.col("name").vrn.error_kind()), repeat), count, direct)
        lazy = frame.lazy().select(pl.col("name").vrn.error_kind())
        row("polars: the same, lazy, streaming engine",
            best(lambda: lazy.collect(engine="streaming"), repeat), count, direct)
    if have("pandas"):
        import pandas as pd

        import veltrane_vrn.pandas  # noqa: F401

        series = pd.Series(names, dtype="str")
        direct = best(lambda: pd.Series.from_arrow(columns.vrn_error_kind(series)).set_axis(series.index), repeat)
        row("pandas: pd.Series.from_arrow(columns.vrn_error_kind(s))", direct, count)
        row("pandas: s.vrn.error_kind()", best(lambda: series.vrn.error_kind(), repeat), count, direct)
    if have("duckdb"):
        import duckdb

        import veltrane_vrn.duckdb

        connection = duckdb.connect()
        veltrane_vrn.duckdb.register(connection)
        table = pa.table({"name": array})
        connection.register("names", table)
        direct = best(lambda: columns.vrn_error_kind(array), repeat)
        row("DuckDB: columns.vrn_error_kind(array), in Python", direct, count)
        row("DuckDB: select count(vrn_error_kind(name)) from an Arrow table",
            best(lambda: connection.sql("select count(vrn_error_kind(name)) from names").fetchall(), repeat),
            count, direct)


def duckdb_parquet(names: list[str], repeat: int) -> None:
    if not have("duckdb"):
        return
    import duckdb

    import veltrane_vrn.duckdb

    count = len(names)
    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder) / "names.parquet"
        pq.write_table(pa.table({"name": pa.array(names, pa.string())}), path)
        connection = duckdb.connect()
        veltrane_vrn.duckdb.register(connection)
        print(f"2. DuckDB SQL over a Parquet file of {count} names")
        scan = best(lambda: connection.sql(f"select count(*) from '{path}'").fetchall(), repeat)
        read = best(lambda: connection.sql(f"select sum(length(name)) from '{path}'").fetchall(), repeat)
        # DuckDB's own floor for a Python Arrow function: one that gives back its input.
        connection.create_function("same", lambda s: s, [duckdb.sqltypes.VARCHAR], duckdb.sqltypes.VARCHAR,
                                   type="arrow", null_handling="special")
        floor = best(lambda: connection.sql(f"select count(same(name)) from '{path}'").fetchall(), repeat)
        row("select count(*)", scan, count)
        row("select sum(length(name)) (the column read by DuckDB alone)", read, count, scan)
        row("select count(same(name)), an Arrow UDF giving back its input", floor, count, scan)
        row("select vrn_error_kind(name), count(*) ... group by 1",
            best(lambda: connection.sql(f"select vrn_error_kind(name) as k, count(*) from '{path}' group by k")
                 .fetchall(), repeat), count, scan)
        row("select count(try_vrn_canonicalize(name))",
            best(lambda: connection.sql(f"select count(try_vrn_canonicalize(name)) from '{path}'").fetchall(),
                 repeat), count, scan)


def pydantic_models(names: list[str], repeat: int, validations: int) -> None:
    if not have("pydantic"):
        return
    from pydantic import BaseModel, StringConstraints, ValidationError

    from veltrane_vrn import Vrn
    from veltrane_vrn.pydantic import MAX_LENGTH, PATTERN

    class WithVrn(BaseModel):
        resource: Vrn

    class WithPattern(BaseModel):
        resource: Annotated[str, StringConstraints(pattern=PATTERN, max_length=MAX_LENGTH)]

    sample = names[:validations]
    valid = [n for n in sample if per_call.vrn_error_kind(n) == ""]
    documents = [json.dumps({"resource": n}) for n in sample]

    def validate_all(model: type[BaseModel], inputs: list[str], from_json: bool) -> None:
        for item in inputs:
            try:
                model.model_validate_json(item) if from_json else model.model_validate({"resource": item})
            except ValidationError:
                pass

    print(f"3. pydantic model validation, per name ({len(valid)} valid of {len(sample)})")
    for label, inputs, from_json in [("valid names, Python", valid, False), ("all names, Python", sample, False),
                                     ("all names, JSON", documents, True)]:
        pattern = best(lambda: validate_all(WithPattern, inputs, from_json), repeat)
        vrn = best(lambda: validate_all(WithVrn, inputs, from_json), repeat)
        row(f"{label}: str field with the pattern", pattern, len(inputs))
        row(f"{label}: Vrn field", vrn, len(inputs), pattern)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--names", type=int, default=1_000_000)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--validations", type=int, default=100_000)
    options = parser.parse_args()
    names = list(generate(options.names))
    print(f"Python {sys.version.split()[0]}, best of {options.repeat} rounds; the last column is the ratio "
          "to the line it is compared with")
    surfaces(names, options.repeat)
    duckdb_parquet(names, options.repeat)
    pydantic_models(names, options.repeat, options.validations)


if __name__ == "__main__":
    main()
