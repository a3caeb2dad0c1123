"""The long run's engines (scripts/harden): PySpark mapInArrow in local mode
and Ray Data map_batches over pyarrow batches, each giving exactly the per-call
results. They need Java (Spark) and large downloads, so they run only where
VELTRANE_LONG_RUN is set, and skip where their package is missing."""

from __future__ import annotations

import os
import sys
from collections.abc import Iterator
from typing import Any

import pytest
import veltrane_py_bindings as per_call
from vrn_testing.engines import need
from vrn_testing.samples import SAMPLES

from veltrane_vrn import columns

if not os.environ.get("VELTRANE_LONG_RUN"):
    pytest.skip("the long run's engines (set VELTRANE_LONG_RUN, as scripts/harden does)", allow_module_level=True)

pa = need("pyarrow")

NAMES = ([s for s in SAMPLES if s is not None] + [None]) * 50
EXPECTED = [None if n is None else per_call.vrn_error_kind(n) for n in NAMES]


def test_spark_map_in_arrow_in_local_mode() -> None:
    pyspark_sql = need("pyspark.sql")

    # Defined here, not at module level: Spark's workers cannot import this
    # test file, so the function must travel by value, as a local one does.
    def with_kinds(batches: Iterator[Any]) -> Iterator[Any]:
        """mapInArrow's function: pyarrow batches in, batches with the tokens out."""
        import pyarrow as worker_pa

        from veltrane_vrn import columns as worker_columns

        for batch in batches:
            kinds = worker_pa.array(worker_columns.vrn_error_kind(batch.column("name")))
            yield worker_pa.record_batch([batch.column("id"), kinds], names=["id", "kind"])

    os.environ.setdefault("PYSPARK_PYTHON", sys.executable)
    spark = (pyspark_sql.SparkSession.builder.master("local[2]").appName("veltrane-columns")
             .config("spark.ui.enabled", "false").getOrCreate())
    try:
        frame = spark.createDataFrame(list(enumerate(NAMES)), "id long, name string").repartition(4)
        rows = frame.mapInArrow(with_kinds, "id long, kind string").collect()
    finally:
        spark.stop()
    assert sorted(rows) == sorted(zip(range(len(NAMES)), EXPECTED))
    assert [kind for _, kind in sorted(rows)] == EXPECTED


def test_ray_data_map_batches_over_pyarrow() -> None:
    ray = need("ray")
    ray.init(num_cpus=2, include_dashboard=False, ignore_reinit_error=True, log_to_driver=False)
    try:
        table = pa.table({"id": list(range(len(NAMES))), "name": NAMES})
        dataset = ray.data.from_arrow(table).repartition(4)
        result = dataset.map_batches(
            lambda batch: batch.append_column("kind", pa.array(columns.vrn_error_kind(batch["name"]))),
            batch_format="pyarrow",
        ).take_all()
    finally:
        ray.shutdown()
    got = {row["id"]: row["kind"] for row in result}
    assert [got[i] for i in range(len(NAMES))] == EXPECTED


# Runs the README's Spark and Ray lines in the current directory and prints
# each engine's (name, kind) pairs as JSON. A process of its own, started in
# the directory that holds names.parquet: Spark's JVM resolves the line's
# relative path against the directory it was started in, and the tests above
# have started one already.
README_LINES_SCRIPT = """
import json, os, sys
import pyarrow as pa
import ray
from pyspark.sql import SparkSession
from veltrane_vrn import columns
from veltrane_vrn import spark as vrn_spark

lines = json.loads(sys.argv[1])
os.environ.setdefault("PYSPARK_PYTHON", sys.executable)
spark = (SparkSession.builder.master("local[2]").appName("veltrane-readme")
         .config("spark.ui.enabled", "false").getOrCreate())
try:
    scope = {"spark": spark, "pa": pa, "columns": columns, "vrn_spark": vrn_spark}
    exec(lines["Spark"], scope)
    spark_pairs = sorted((row["name"], row["kind"]) for row in scope["out"].collect())
finally:
    spark.stop()
ray.init(num_cpus=2, include_dashboard=False, ignore_reinit_error=True, log_to_driver=False)
try:
    scope = {"ray": ray, "pa": pa, "columns": columns}
    exec(lines["Ray"], scope)
    ray_pairs = sorted((row["name"], row["kind"]) for row in scope["out"].take_all())
finally:
    ray.shutdown()
print(json.dumps({"Spark": spark_pairs, "Ray": ray_pairs}))
"""


def test_the_readme_spark_and_ray_lines_run(tmp_path: Any) -> None:
    """The README's Spark and Ray lines, pasted as they are."""
    import json
    import re
    import subprocess

    from vrn_testing import ROOT

    need("pyspark.sql")
    need("ray")
    pq = need("pyarrow.parquet")
    readme = (ROOT / "README.md").read_text(encoding="utf-8")
    lines = {engine: line for line, engine in re.findall(r"^(.*?)\s+# (\w+)$", readme, flags=re.M)
             if engine in ("Spark", "Ray")}
    assert set(lines) == {"Spark", "Ray"}
    names = [n for n in NAMES if n is not None]
    pq.write_table(pa.table({"name": names}), tmp_path / "names.parquet")
    expected = sorted([name, per_call.vrn_error_kind(name)] for name in names)

    done = subprocess.run([sys.executable, "-c", README_LINES_SCRIPT, json.dumps(lines)], cwd=tmp_path,
                          capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stderr[-4000:]
    pairs = json.loads(done.stdout.strip().splitlines()[-1])
    assert pairs["Spark"] == expected
    assert pairs["Ray"] == expected
