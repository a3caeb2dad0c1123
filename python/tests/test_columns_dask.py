"""Dask: a Parquet dataset read with dask.dataframe and checked partition by
partition (map_partitions) on a distributed.LocalCluster of two worker
processes, giving exactly the per-call results. One cluster for the module."""

from __future__ import annotations

import sys
from pathlib import Path
from typing import Any

import pytest
import veltrane_py_bindings as per_call
from vrn_testing.engines import need
from vrn_testing.samples import SAMPLES

from veltrane_vrn import columns

dd = need("dask.dataframe")
distributed = need("distributed")
pa = need("pyarrow")
pq = need("pyarrow.parquet")
pd = need("pandas")
cloudpickle = need("cloudpickle")

# The workers import veltrane_vrn themselves; this module's functions travel by value.
cloudpickle.register_pickle_by_value(sys.modules[__name__])

NAMES = [s for s in SAMPLES if s is not None] + [None]
FILES = 4


def error_kinds(partition: Any) -> Any:
    """One partition's column in, one out, the kernel run in the worker."""
    kinds = pd.Series.from_arrow(columns.vrn_error_kind(partition["name"]))
    kinds.index = partition.index
    return kinds


def resource_ids(partition: Any) -> Any:
    ids = pd.Series.from_arrow(columns.vrn_resource_id(partition["name"], errors="null"))
    ids.index = partition.index
    return ids


@pytest.fixture(scope="module")
def client() -> Any:
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None, silence_logs=40) as cluster:
        with distributed.Client(cluster) as dask_client:
            yield dask_client


@pytest.fixture(scope="module")
def dataset(tmp_path_factory: pytest.TempPathFactory) -> tuple[Path, list[str | None]]:
    folder = tmp_path_factory.mktemp("names")
    rows: list[str | None] = []
    for part in range(FILES):  # several files, so both workers get partitions
        names = NAMES[part:] + NAMES[:part]
        pq.write_table(pa.table({"name": pa.array(names * 25, pa.string())}), folder / f"part-{part}.parquet")
        rows += names * 25
    return folder, rows


def test_map_partitions_on_two_worker_processes_gives_the_per_call_results(client: Any, dataset: Any) -> None:
    folder, rows = dataset
    frame = dd.read_parquet(str(folder))
    assert frame.npartitions >= 2
    kinds = frame.map_partitions(error_kinds, meta=("kind", "str")).compute()
    assert [None if pd.isna(k) else k for k in kinds] == [None if r is None else per_call.vrn_error_kind(r) for r in rows]
    ids = frame.map_partitions(resource_ids, meta=("id", "str")).compute()
    want = [None if r is None or per_call.vrn_error_kind(r) else per_call.vrn_resource_id(r) for r in rows]
    assert [None if pd.isna(i) else i for i in ids] == want
    # The work ran in both worker processes, not in this one.
    workers = client.run(lambda: __import__("os").getpid())
    assert len(set(workers.values())) == 2
    done = client.run(lambda: "veltrane_vrn._native" in sys.modules)
    assert all(done.values())


def test_an_invalid_name_fails_the_task_with_its_token_and_row(client: Any, dataset: Any) -> None:
    folder, rows = dataset
    frame = dd.read_parquet(str(folder))
    with pytest.raises(ValueError) as raised:
        frame.map_partitions(lambda p: pd.Series.from_arrow(columns.vrn_service(p["name"])),
                             meta=("service", "str")).compute()
    # Whichever partition (file) failed first, the error is its first invalid
    # row's: the per-call token, and a note with the row's index in the file.
    assert frame.npartitions == FILES
    partition_rows = len(rows) // FILES
    first_failures = set()
    for start in range(0, len(rows), partition_rows):
        partition = rows[start:start + partition_rows]
        row = next(i for i, name in enumerate(partition) if name is not None and per_call.vrn_error_kind(name))
        first_failures.add((per_call.vrn_error_kind(partition[row]), f"while processing row {row}"))
    notes = getattr(raised.value, "__notes__", [])
    assert (raised.value.args[0], notes[-1] if notes else None) in first_failures
