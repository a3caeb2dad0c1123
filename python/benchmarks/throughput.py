"""Throughput of `vrn check` against the plain Python loop, and its memory on
long inputs.

Writes generated names (valid and invalid mixed, see vrn_testing/names.py) and times, in
the same run, `vrn check` and python/benchmarks/plain_check.py (read the
lines, check each with one regular expression, print the invalid ones) on:

    text, one name in five invalid       one million names (97 MB)
    text, one name in fifty invalid      one million names (86 MB)
    Parquet, one name in five invalid    the same names as a string column

Each command runs as its own process with its output sent to a file, best of
--repeat runs, by wall-clock time and by the processor time of the process
(steadier on a shared machine). Both must report the same lines as invalid.
`vrn check` of an empty file is timed too: the start-up of the interpreter
and the command, which the "net" figures take off. The children run without
PYTHONUNBUFFERED (which would make the plain loop write line by line).

With --long it also runs the inputs that show flat memory: ten million names
(970 MB) and a single line of 1 GB, giving the time and the peak resident
memory (VmHWM) of each; and ten million names again with the command held to
one core (its affinity), which shows what the second core gives.

--before VRN times another `vrn` (say, an install of an earlier tree) in the
same run, each case right beside this one's.

    scripts/bench-throughput                   # installs into .venv, then runs this
    python python/benchmarks/throughput.py --repeat 5 --long
    python python/benchmarks/throughput.py --vrn .venv/bin/vrn --before ../before/.venv/bin/vrn
"""

from __future__ import annotations

import argparse
import os
import platform
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
# The names are generated as the tests generate theirs.
sys.path.insert(0, str(HERE.parents[1] / "python" / "tests" / "support"))

from vrn_testing import names  # noqa: E402

CHILD_ENV = {key: value for key, value in os.environ.items() if key not in ("PYTHONUNBUFFERED", "PYTHONDONTWRITEBYTECODE")}
PEAK_SCRIPT = """
import sys
from veltrane_vrn import cli
status = cli.main(sys.argv[1:])
peak = [line for line in open("/proc/self/status") if line.startswith("VmHWM:")]
print(peak[0].split()[1], file=sys.stderr)
sys.exit(status)
"""


def one_core() -> set[int]:
    """The first processor this process may run on."""
    return {min(os.sched_getaffinity(0))}


def timed(command: list[str], output: Path, repeat: int, cores: set[int] | None = None) -> tuple[float, float]:
    """The shortest wall time and the shortest processor time (user and
    system) of `repeat` runs, on `cores` if given; the exit status must be 0 or 1."""
    walls, cpus = [], []
    pin = (lambda: os.sched_setaffinity(0, cores)) if cores else None
    for _ in range(repeat):
        with open(output, "wb") as out:
            start = time.perf_counter()
            child = subprocess.Popen(command, stdout=out, env=CHILD_ENV, preexec_fn=pin)
            _, status, usage = os.wait4(child.pid, 0)
            walls.append(time.perf_counter() - start)
        cpus.append(usage.ru_utime + usage.ru_stime)
        if os.waitstatus_to_exitcode(status) not in (0, 1):
            sys.exit(f"{' '.join(command)} failed with exit status {os.waitstatus_to_exitcode(status)}")
    return min(walls), min(cpus)


def reported_lines(output: Path) -> list[int]:
    """The line numbers of the names a report calls invalid."""
    pattern = re.compile(rb"^[^\n]*?:(\d+): ", re.M)
    return [int(number) for number in pattern.findall(output.read_bytes())]


def sample(directory: Path, count: int, invalid_share: float) -> Path:
    path = directory / f"names-{count}-{invalid_share:g}.txt"
    if not path.exists():
        print(f"writing {count:,} names to {path}", file=sys.stderr)
        partial = path.with_suffix(".partial")
        names.write(str(partial), count, invalid_share=invalid_share)
        partial.replace(path)
    return path


def parquet_sample(text: Path) -> Path:
    path = text.with_suffix(".parquet")
    if not path.exists():
        import pyarrow as pa
        import pyarrow.parquet as pq

        with open(text, encoding="utf-8", newline="\n") as lines:
            column = pa.array([line[:-1] for line in lines], pa.string())
        pq.write_table(pa.table({"name": column}), path, row_group_size=64 << 10)
    return path


def one_line_sample(directory: Path, size: int) -> Path:
    path = directory / f"one-line-{size >> 20}MiB.txt"
    if not path.exists():
        print(f"writing a line of {size:,} bytes to {path}", file=sys.stderr)
        chunk = b"vrn:vlt:iam:::" + b"a" * ((1 << 20) - 14)
        with open(path.with_suffix(".partial"), "wb") as out:
            for _ in range(size >> 20):
                out.write(chunk)
                chunk = b"a" * (1 << 20)
        path.with_suffix(".partial").replace(path)
    return path


def python_of(vrn: str) -> str:
    """The interpreter of an installed `vrn` script (its #! line)."""
    try:
        with open(shutil.which(vrn) or vrn, "rb") as script:
            first = script.readline()
    except OSError:
        return sys.executable
    return first[2:].decode().strip() if first.startswith(b"#!") and b"python" in first else sys.executable


def peak_run(python: str, argv: list[str], cores: set[int] | None = None) -> tuple[float, float, int]:
    """Wall time, processor time and peak resident memory (KiB) of one run
    of `vrn ARGV...` (in a wrapper that reads its own VmHWM at the end), on
    `cores` if given."""
    start = time.perf_counter()
    pin = (lambda: os.sched_setaffinity(0, cores)) if cores else None
    child = subprocess.Popen(
        [python, "-c", PEAK_SCRIPT, *argv], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=CHILD_ENV,
        preexec_fn=pin,
    )
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    assert child.stderr is not None
    peak = int(child.stderr.read().split()[-1])
    return wall, usage.ru_utime + usage.ru_stime, peak


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--count", type=int, default=1_000_000, help="names per sample (default: 1000000)")
    parser.add_argument("--repeat", type=int, default=3, help="runs of each command, the best counts (default: 3)")
    parser.add_argument("--long", action="store_true", help="also ten million names and a line of 1 GB")
    parser.add_argument("--dir", type=Path, default=HERE.parents[1] / "build" / "bench-throughput", help="work folder")
    parser.add_argument("--vrn", default=shutil.which("vrn") or "vrn", help="the vrn command to time")
    parser.add_argument("--before", metavar="VRN", help="another vrn command to time beside it, in the same run")
    args = parser.parse_args()
    args.dir.mkdir(parents=True, exist_ok=True)
    python = sys.executable
    plain = [python, str(HERE / "plain_check.py")]
    commands = [("vrn", args.vrn)] + ([("before", args.before)] if args.before else [])

    empty = args.dir / "empty.txt"
    empty.write_bytes(b"")
    starts = {}
    for name, vrn in commands:
        starts[name] = timed([vrn, "check", "-f", str(empty)], args.dir / "empty.out", args.repeat * 3)
    plain_start = timed([*plain, str(empty)], args.dir / "empty.out", args.repeat * 3)

    one_in_five = sample(args.dir, args.count, 0.2)
    cases = [
        ("text, 1 in 5 invalid", [str(one_in_five)], []),
        ("text, 1 in 50 invalid", [str(sample(args.dir, args.count, 0.02))], []),
        ("Parquet, 1 in 5 invalid", [str(parquet_sample(one_in_five))], ["--column", "name"]),
    ]
    n = args.count
    print(f"{n:,} names per case; best of {args.repeat} runs; Python {platform.python_version()}, "
          f"{platform.machine()}, {os.cpu_count()} cores, load average {os.getloadavg()[0]:.1f}")
    for name, (wall, cpu) in starts.items():
        print(f"start-up (an empty file): {name} check {wall * 1e3:.0f} ms wall, {cpu * 1e3:.0f} ms cpu")
    print(f"start-up (an empty file): plain loop {plain_start[0] * 1e3:.0f} ms wall, {plain_start[1] * 1e3:.0f} ms cpu")
    print("names per second, and how many times the plain loop's; net: less each command's start-up")
    print(f"{'':<31} {'vrn wall':>11} {'plain wall':>11} {'ratio':>6} {'vrn cpu':>11} {'plain cpu':>11} {'ratio':>6}"
          f" {'net vrn cpu':>12} {'net ratio':>9}")
    for label, files, options in cases:
        plain_out = args.dir / "plain-check.out"
        plain_wall, plain_cpu = timed([*plain, *options, *files], plain_out, args.repeat)
        net_plain = plain_cpu - plain_start[1]
        for name, vrn in commands:
            vrn_out = args.dir / f"{name}-check.out"
            vrn_wall, vrn_cpu = timed([vrn, "check", *options, *[f"-f{path}" for path in files]], vrn_out, args.repeat)
            if reported_lines(vrn_out) != reported_lines(plain_out):
                sys.exit(f"{label}: the two report different lines: compare {vrn_out} and {plain_out}")
            net_vrn = max(vrn_cpu - starts[name][1], 1e-9)
            row = label if name == "vrn" else f"{label} ({name})"
            print(
                f"{row:<31} {n / vrn_wall:11,.0f} {n / plain_wall:11,.0f} {plain_wall / vrn_wall:5.1f}x"
                f" {n / vrn_cpu:11,.0f} {n / plain_cpu:11,.0f} {plain_cpu / vrn_cpu:5.1f}x"
                f" {n / net_vrn:12,.0f} {net_plain / net_vrn:8.1f}x"
            )

    if args.long:
        print("long inputs (two runs each: the first may read from disk, the second from the page cache):")
        ten_million = sample(args.dir, 10_000_000, 0.2)
        one_line = one_line_sample(args.dir, 1 << 30)
        for name, vrn in commands:
            vrn_python = python_of(vrn)
            for label, path in [("ten million names", ten_million), ("one line of 1 GiB", one_line)]:
                size = path.stat().st_size
                for run in (1, 2):
                    wall, cpu, peak = peak_run(vrn_python, ["check", "-f", str(path)])
                    print(f"  {name:<6} {label:<20} {size / 1e6:6.0f} MB  run {run}: {wall:6.2f} s wall  "
                          f"{cpu:6.2f} s cpu  peak resident memory {peak / 1024:5.1f} MiB")
        print(f"ten million names, best of {args.repeat}, on both cores and held to one (the second core's gain):")
        for name, vrn in commands:
            command = [vrn, "check", "-f", str(ten_million)]
            both = timed(command, args.dir / f"{name}-check.out", args.repeat)
            one = timed(command, args.dir / f"{name}-check.out", args.repeat, one_core())
            print(f"  {name:<6} both cores {both[0]:6.3f} s wall {both[1]:6.3f} s cpu;  one core {one[0]:6.3f} s wall "
                  f"{one[1]:6.3f} s cpu;  {one[0] / both[0]:4.2f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main())
