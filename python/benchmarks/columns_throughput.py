"""Figures of the column functions (a benchmark, not a test: nothing here fails
on a slow machine; run it when the machine is quiet and read the best round).

    python columns_throughput.py [--names N] [--repeat R] [--dask-rows N] [--no-dask]
    python columns_throughput.py --rows [--builds DIR...] [--names N] [--repeat R] [--rounds K]
    python columns_throughput.py --write-names DIR [--names N]

1. vrn_error_kind over one pyarrow array of N names (default one million, one
   in five invalid) on one thread, in ns per name, against
   `list(map(vrn_error_kind, names))` over the same names as `str` in the same
   run (the per-call floor of a Python loop);
2. the same column split in two halves on two threads, against one thread;
3. Dask: a Parquet dataset checked with map_partitions on a LocalCluster of
   1 and 2 worker processes, against a plain loop of per-call calls over the
   same rows in this process.

With --rows, the row loops instead: on the project's names (generate()) and
on names of another shape (generate_wide(): upper-case UUIDs, long services,
multi-byte invalid text), in ns per name, vrn_error_kind against the map of
the per-call function, vrn_canonicalize(errors="null") against the per-call
loop that turns ValueError into None, and vrn_fields and the Cedar columns.
--builds DIR... runs those figures for several build folders (each one's
`bindings` put first on the path) in child processes taking turns, round after
round, and keeps each one's best: before and after in the same run. The
kernel work alone over the same names is row_loop_bench's (C++), over the
files --write-names writes.
"""

from __future__ import annotations

import argparse
import itertools
import json
import os
import subprocess
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
from vrn_testing.names import generate, generate_wide  # noqa: E402

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


SETS = {"project": generate, "wide": generate_wide}


def canonical_or_none(text: str) -> str | None:
    try:
        return per_call.vrn_canonicalize(text)
    except ValueError:
        return None


def row_figures(count: int, repeat: int) -> dict[str, float]:
    """ns per name of each row figure, best of `repeat`, for both sets: by the
    wall clock, and by the processor time of the process ("(cpu)", steadier on
    a shared machine, and what row_loop_bench reports)."""
    figures = {}
    for label, make in SETS.items():
        texts = list(make(count))
        array = pa.array(texts, pa.string())
        assert columns.vrn_error_kind(array).to_pylist() == list(map(per_call.vrn_error_kind, texts))
        assert columns.vrn_canonicalize(array, errors="null").to_pylist() == list(map(canonical_or_none, texts))
        runs: dict[str, Callable[[], Any]] = {
            "vrn_error_kind column": lambda: columns.vrn_error_kind(array),
            "list(map(vrn_error_kind, names))": lambda: list(map(per_call.vrn_error_kind, texts)),
            "vrn_canonicalize column, errors=null": lambda: columns.vrn_canonicalize(array, errors="null"),
            "per-call vrn_canonicalize loop, None on error": lambda: list(map(canonical_or_none, texts)),
            "vrn_fields column, errors=null": lambda: columns.vrn_fields(array, errors="null"),
            "vrn_cedar_entity_type column, errors=null": lambda: columns.vrn_cedar_entity_type(array, errors="null"),
            "vrn_cedar_entity_id column, errors=null": lambda: columns.vrn_cedar_entity_id(array, errors="null"),
        }
        for name, run in runs.items():
            walls, cpus = [], []
            for _ in range(repeat):
                wall, cpu = time.perf_counter(), time.process_time()
                run()
                cpus.append(time.process_time() - cpu)
                walls.append(time.perf_counter() - wall)
            figures[f"{label}: {name}"] = min(walls) / len(texts) * 1e9
            figures[f"{label}: {name} (cpu)"] = min(cpus) / len(texts) * 1e9
    return figures


def compare_builds(builds: list[str], count: int, repeat: int, rounds: int) -> None:
    best_of: dict[str, dict[str, float]] = {build: {} for build in builds}
    for _ in range(rounds):
        for build in builds:
            env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(Path(build) / "bindings"), os.environ.get("PYTHONPATH", "")]))
            out = subprocess.run([sys.executable, __file__, "--rows", "--json", "--names", str(count), "--repeat", str(repeat)],
                                 env=env, check=True, capture_output=True, text=True).stdout
            for name, value in json.loads(out).items():
                best_of[build][name] = min(value, best_of[build].get(name, value))
    print(f"{count} names a set, best of {rounds} rounds x {repeat} runs, builds taking turns; ns per name")
    names = list(best_of[builds[0]])
    width = max(map(len, names))
    print(f"{'':{width}} " + " ".join(f"{Path(b).name:>14}" for b in builds))
    for name in names:
        print(f"{name:{width}} " + " ".join(f"{best_of[b][name]:14.1f}" for b in builds))
    for build in builds:
        f = best_of[build]
        for label in SETS:
            for clock in ("", " (cpu)"):
                kind = f[f"{label}: list(map(vrn_error_kind, names)){clock}"] / f[f"{label}: vrn_error_kind column{clock}"]
                canon = (f[f"{label}: per-call vrn_canonicalize loop, None on error{clock}"]
                         / f[f"{label}: vrn_canonicalize column, errors=null{clock}"])
                print(f"{Path(build).name}, {label}{clock}: vrn_error_kind column {kind:.2f}x the map; "
                      f"vrn_canonicalize column {canon:.2f}x the per-call loop")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--names", type=int, default=1_000_000)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--dask-rows", type=int, default=2_000_000)
    parser.add_argument("--no-dask", action="store_true")
    parser.add_argument("--rows", action="store_true", help="the row-loop figures (see above)")
    parser.add_argument("--json", action="store_true", help="with --rows: print them as JSON")
    parser.add_argument("--builds", nargs="+", help="with --rows: build folders to compare in one run")
    parser.add_argument("--rounds", type=int, default=3, help="with --builds: rounds of turns")
    parser.add_argument("--write-names", metavar="DIR", help="write both sets of names, one a line, for row_loop_bench")
    options = parser.parse_args()
    if options.write_names:
        for label, make in SETS.items():
            with open(Path(options.write_names) / f"{label}.txt", "w", encoding="utf-8", newline="\n") as out:
                out.writelines(name + "\n" for name in make(options.names))
        return 0
    if options.rows and options.builds:
        compare_builds(options.builds, options.names, options.repeat, options.rounds)
        return 0
    if options.rows:
        figures = row_figures(options.names, options.repeat)
        if options.json:
            print(json.dumps(figures))
        else:
            for name, value in figures.items():
                print(f"{name:60} {value:8.1f} ns/name")
        return 0

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
