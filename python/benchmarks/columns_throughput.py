"""Figures of the column functions (a benchmark, not a test: nothing here fails
on a slow machine; run it when the machine is quiet and read the best round).

    python columns_throughput.py [--names N] [--repeat R] [--dask-rows N] [--no-dask]

1. vrn_error_kind over one pyarrow array of N names (default one million, one
   in five invalid) on one thread, in ns per name, against
   `list(map(vrn_error_kind, names))` over the same names as `str` in the same
   run (the per-call floor of a Python loop);
2. the same column split in two halves on two threads, against one thread;
3. Dask: a Parquet dataset checked with map_partitions on a LocalCluster of
   1 and 2 worker processes, against a plain loop of per-call calls over the
   same rows in this process.
"""

from __future__ import annotations

import argparse
import itertools
import sys
import tempfile
import threading
import time
from collections.abc import Callable
from pathlib import Path
from typing import Any

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "support"))

import pyarrow as pa  # noqa: E402
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


def two_threads(halves: list[Any]) -> None:
    threads = [threading.Thread(target=columns.vrn_error_kind, args=(half,)) for half in halves]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()


def dask_figures(rows: int, repeat: int) -> list[tuple[str, float]]:
    import dask.dataframe as dd
    import distributed
    import pandas as pd
    import pyarrow.parquet as pq

    def kinds(partition: Any) -> Any:
        out = pd.Series.from_arrow(columns.vrn_error_kind(partition["name"]))
        out.index = partition.index
        return out

    def invalid(partition: Any, run: int) -> Any:
        # The tokens of the partition, counted where they are made: only the
        # count travels back, so the figure is the work, not the transfer.
        # `run` makes every round a new graph: the cluster may still hold the
        # results of the last round's tasks, and would hand them back.
        return pd.Series([int((kinds(partition) != "").sum())])

    figures = []
    with tempfile.TemporaryDirectory() as folder:
        names = list(generate(rows))
        per_file = rows // 8
        for part in range(8):
            pq.write_table(pa.table({"name": names[part * per_file:(part + 1) * per_file]}), f"{folder}/{part}.parquet")
        figures.append(("plain loop, per-call, this process", best(lambda: [per_call.vrn_error_kind(n) for n in names], repeat)))
        for workers in (1, 2):
            with distributed.LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                          dashboard_address=None, silence_logs=40) as cluster, \
                    distributed.Client(cluster):
                frame = dd.read_parquet(folder)
                runs = itertools.count()

                def count_invalid() -> Any:
                    return frame.map_partitions(invalid, next(runs), meta=(None, "int64")).sum().compute()

                count_invalid()  # warm the workers
                figures.append((f"Dask map_partitions, {workers} worker process{'es' if workers > 1 else ''}",
                                best(count_invalid, repeat)))
    return figures


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--names", type=int, default=1_000_000)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--dask-rows", type=int, default=2_000_000)
    parser.add_argument("--no-dask", action="store_true")
    options = parser.parse_args()

    texts = list(generate(options.names))
    array = pa.array(texts, pa.string())
    half = len(array) // 2
    halves = [array.slice(0, half), array.slice(half)]
    assert columns.vrn_error_kind(array).to_pylist() == list(map(per_call.vrn_error_kind, texts))

    one = best(lambda: columns.vrn_error_kind(array), options.repeat)
    loop = best(lambda: list(map(per_call.vrn_error_kind, texts)), options.repeat)
    two = best(lambda: two_threads(halves), options.repeat)
    canonical = best(lambda: columns.vrn_canonicalize(array, errors="null"), options.repeat)
    n = len(array)
    print(f"Python {sys.version.split()[0]}, pyarrow {pa.__version__}, {n} names, best of {options.repeat}")
    print(f"{'':52} {'s':>8} {'ns/name':>8}")
    print(f"{'columns.vrn_error_kind(array), one thread':52} {one:8.3f} {one / n * 1e9:8.1f}")
    print(f"{'list(map(vrn_error_kind, names))':52} {loop:8.3f} {loop / n * 1e9:8.1f}   column {loop / one:.2f}x faster")
    print(f"{'columns.vrn_error_kind, two threads over two halves':52} {two:8.3f} {two / n * 1e9:8.1f}   {one / two:.2f}x one thread")
    print(f"{'columns.vrn_canonicalize(array, errors=null)':52} {canonical:8.3f} {canonical / n * 1e9:8.1f}")
    if not options.no_dask:
        figures = dask_figures(options.dask_rows, max(2, options.repeat // 2))
        loop_time = figures[0][1]
        print(f"\nDask over a Parquet dataset of {options.dask_rows} names in 8 files")
        for label, seconds in figures:
            print(f"{label:52} {seconds:8.3f} {seconds / options.dask_rows * 1e9:8.1f}   {loop_time / seconds:.2f}x the loop")
    return 0


if __name__ == "__main__":
    sys.exit(main())
