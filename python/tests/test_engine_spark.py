"""veltrane_vrn.spark in local mode: the column functions as Arrow UDFs in
`select`, and registered, in Spark SQL, each giving exactly the per-call
results; a failing row fails the job with the token and the row. Spark needs
Java and the package installed (its Python workers import it), so this runs
in the long run only (scripts/harden sets VELTRANE_LONG_RUN)."""

from __future__ import annotations

import os
import re
import sys
from collections.abc import Iterator
from typing import Any

import pytest
import veltrane_py_bindings as per_call
from vrn_testing import ROOT
from vrn_testing.engines import need
from vrn_testing.samples import CANONICAL_ID, FIELDS, HEX, SAMPLES

if not os.environ.get("VELTRANE_LONG_RUN"):
    pytest.skip("Spark runs in the long run (set VELTRANE_LONG_RUN, as scripts/harden does)", allow_module_level=True)

pyspark_sql = need("pyspark.sql")
need("pyarrow")

from veltrane_vrn import spark as vrn_spark  # noqa: E402

NAMES = SAMPLES * 20
QUERIES = [f"vrn_{field}" for field in (*FIELDS, "canonicalize", "cedar_entity_type", "cedar_entity_id")]


def per_call_or_none(function: str, name: str | None) -> str | None:
    if name is None or per_call.vrn_error_kind(name):
        return None
    result: str = getattr(per_call, function)(name)
    return result


@pytest.fixture(scope="module")
def spark() -> Iterator[Any]:
    os.environ.setdefault("PYSPARK_PYTHON", sys.executable)
    session = (pyspark_sql.SparkSession.builder.master("local[2]").appName("veltrane-engines")
               .config("spark.ui.enabled", "false").config("spark.sql.execution.arrow.maxRecordsPerBatch", "64")
               .getOrCreate())
    vrn_spark.register(session)
    names = session.createDataFrame(list(enumerate(NAMES)), "id long, name string").repartition(3)
    names.createOrReplaceTempView("names")
    yield session
    session.stop()


def by_id(rows: list[Any]) -> list[Any]:
    return [tuple(row)[1:] for row in sorted(rows, key=lambda row: row[0])]


def test_column_functions_in_select(spark: Any) -> None:
    frame = spark.table("names")
    selected = [vrn_spark.vrn_error_kind("name")] + [getattr(vrn_spark, q)("name", errors="null") for q in QUERIES]
    rows = by_id(frame.select("id", *selected).collect())
    assert rows == [tuple([None if n is None else per_call.vrn_error_kind(n)] + [per_call_or_none(q, n) for q in QUERIES])
                    for n in NAMES]
    fields = by_id(frame.withColumn("fields", vrn_spark.vrn_fields(frame["name"], errors="null"))
                   .select("id", "fields.service", "fields.resource_id").collect())
    assert fields == [(per_call_or_none("vrn_service", n), per_call_or_none("vrn_resource_id", n)) for n in NAMES]


def test_registered_sql_functions_and_their_try_variants(spark: Any) -> None:
    queries = ", ".join(f"try_{q}(name)" for q in QUERIES)
    rows = by_id(spark.sql(f"select id, vrn_error_kind(name), {queries}, try_vrn_fields(name).org from names").collect())
    assert rows == [tuple([None if n is None else per_call.vrn_error_kind(n)] + [per_call_or_none(q, n) for q in QUERIES]
                          + [per_call_or_none("vrn_org", n)]) for n in NAMES]
    built = spark.sql(f"select vrn_build('iam', '', '', 'project', '{CANONICAL_ID.upper()}'), "
                      f"try_vrn_build('Iam', '', '', 'project', 'x'), mint_uuid7(1700000000000, '{HEX}'), "
                      f"try_mint_uuid7(-1, '{HEX}')").collect()
    assert tuple(built[0]) == (per_call.vrn_build("iam", "", "", "project", CANONICAL_ID), None,
                               per_call.mint_uuid7(1700000000000, HEX), None)


def test_a_failing_row_fails_the_job_with_its_token_and_row(spark: Any) -> None:
    errors = need("pyspark.errors")
    with pytest.raises(errors.PythonException) as raised:
        spark.sql("select vrn_service(name) from names where name = ''").collect()
    assert "vrn_service: empty in the row ''" in str(raised.value)
    frame = spark.createDataFrame([(1,), (2,)], "number long")
    with pytest.raises(errors.PythonException) as raised:
        frame.select(vrn_spark.vrn_region("number")).collect()
    assert "vrn_region: column 'number' must hold strings, found int64" in str(raised.value)


def test_the_readme_spark_example_runs(spark: Any, tmp_path: Any) -> None:
    """The README's Spark example, as it is, on a Parquet file of the names."""
    readme = (ROOT / "README.md").read_text(encoding="utf-8")
    [block] = re.findall(r"^```python\n(from veltrane_vrn import spark as vrn_spark\n.*?)^```$", readme,
                         flags=re.M | re.S)
    spark.table("names").select("name").write.parquet(str(tmp_path / "names.parquet"))
    # Spark's JVM reads a relative path against the folder it started in.
    block = block.replace('"names.parquet"', repr(str(tmp_path / "names.parquet")))
    scope: dict[str, Any] = {"spark": spark}
    exec(block, scope)  # noqa: S102 - the documented example itself
    assert sorted(map(tuple, scope["kinds"]), key=str) == sorted(
        ((n, None if n is None else per_call.vrn_error_kind(n)) for n in NAMES), key=str)
    assert sorted(map(tuple, scope["services"]), key=str) == sorted(
        ((n, per_call_or_none("vrn_service", n)) for n in NAMES), key=str)
