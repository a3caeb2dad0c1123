"""Throughput of `vrn check` against the same loop in pure Python.

Writes a file of generated names (valid and invalid mixed, see names.py), then
times `vrn check FILE` and python/benchmarks/pure_check.py on it (the same command
with the pure-Python reference checker of reference_vrn.py in place of the
module), each run as its own process with its output sent to a file, and
checks that both wrote exactly the same report. Reports the best of --repeat
runs as names per second, by wall-clock time and by the processor time of the
process (steadier on a shared machine).

Both commands share the reading, the splitting into `str` lines and the
report, which cost about as much per name as the module's check itself; so it
also times the two checkers alone, mapped over names already in memory.

    scripts/bench-throughput           # installs into .venv, then runs this
    python python/benchmarks/throughput.py --count 1000000 --repeat 3
"""

from __future__ import annotations

import argparse
import itertools
import os
import platform
import shutil
import subprocess
import sys
import time
from collections.abc import Callable
from pathlib import Path

import names
import reference_vrn
import veltrane_py_bindings

HERE = Path(__file__).resolve().parent


def best_times(command: list[str], output: Path, repeat: int) -> tuple[float, float]:
    """The shortest wall time and the shortest processor time (user and
    system) of `repeat` runs; the exit status must be 0 or 1."""
    walls, cpus = [], []
    for _ in range(repeat):
        with open(output, "wb") as out:
            start = time.perf_counter()
            child = subprocess.Popen(command, stdout=out)
            _, status, usage = os.wait4(child.pid, 0)
            walls.append(time.perf_counter() - start)
            child.returncode = os.waitstatus_to_exitcode(status)
        cpus.append(usage.ru_utime + usage.ru_stime)
        if child.returncode not in (0, 1):
            sys.exit(f"{' '.join(command)} failed with exit status {child.returncode}")
    return min(walls), min(cpus)


def best_call_time(check: Callable[[str], str], sample: list[str], repeat: int) -> float:
    """Processor seconds per name of `check` mapped over `sample`, best of `repeat`."""
    best = float("inf")
    for _ in range(repeat):
        start = time.process_time()
        for _ in map(check, sample):
            pass
        best = min(best, time.process_time() - start)
    return best / len(sample)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--count", type=int, default=1_000_000, help="names in the file (default: 1000000)")
    parser.add_argument(
        "--invalid-share", type=float, default=0.2, help="share of invalid names in the file (default: 0.2)"
    )
    parser.add_argument("--repeat", type=int, default=3, help="runs of each, the best counts (default: 3)")
    parser.add_argument(
        "--dir", type=Path, default=HERE.parents[1] / "build" / "bench-throughput", help="work folder"
    )
    parser.add_argument("--vrn", default=shutil.which("vrn") or "vrn", help="the vrn command to time")
    args = parser.parse_args()

    args.dir.mkdir(parents=True, exist_ok=True)
    sample = args.dir / f"names-{args.count}-{args.invalid_share:g}.txt"
    if not sample.exists():
        print(f"writing {args.count:,} names to {sample}", file=sys.stderr)
        partial = sample.with_suffix(".partial")
        names.write(str(partial), args.count, invalid_share=args.invalid_share)
        partial.replace(sample)

    module_out = args.dir / "vrn-check.out"
    pure_out = args.dir / "pure-check.out"
    module_wall, module_cpu = best_times([args.vrn, "check", "-f", str(sample)], module_out, args.repeat)
    pure_wall, pure_cpu = best_times([sys.executable, str(HERE / "pure_check.py"), str(sample)], pure_out, args.repeat)
    if module_out.read_bytes() != pure_out.read_bytes():
        sys.exit(f"the reports differ: compare {module_out} and {pure_out}")
    summary = module_out.read_text(encoding="utf-8").splitlines()[-1]

    with open(sample, encoding="utf-8", newline="\n") as lines:
        in_memory = [line[:-1] for line in itertools.islice(lines, 200_000)]
    module_call = best_call_time(veltrane_py_bindings.vrn_error_kind, in_memory, args.repeat)
    pure_call = best_call_time(reference_vrn.error_kind, in_memory, args.repeat)

    n = args.count
    print(f"{n:,} names, {sample.stat().st_size / 1e6:.0f} MB ({summary}); best of {args.repeat} runs")
    print(f"Python {platform.python_version()}, {platform.machine()}, {os.cpu_count()} cores")
    print(f"{'':<32} {'wall s':>8} {'names/s':>12} {'cpu s':>8} {'names/s':>12}")
    for label, wall, cpu in [
        ("vrn check FILE (module)", module_wall, module_cpu),
        ("same loop, pure Python", pure_wall, pure_cpu),
    ]:
        print(f"{label:<32} {wall:8.3f} {n / wall:12,.0f} {cpu:8.3f} {n / cpu:12,.0f}")
    print(f"{'ratio':<32} {pure_wall / module_wall:7.1f}x {'':>12} {pure_cpu / module_cpu:7.1f}x")
    print(f"checker alone, {len(in_memory):,} names in memory (cpu per name):")
    print(f"{'  vrn_error_kind (module)':<32} {module_call * 1e9:6.0f} ns {1 / module_call:12,.0f} names/s")
    print(f"{'  error_kind (pure Python)':<32} {pure_call * 1e9:6.0f} ns {1 / pure_call:12,.0f} names/s")
    print(f"{'  ratio':<32} {pure_call / module_call:7.1f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main())
