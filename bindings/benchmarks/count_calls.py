"""Instructions per call of every benchmarked function and its floor, counted
by callgrind: a figure that does not move with the load on the machine.

Each case runs in a fresh interpreter under `valgrind --tool=callgrind`, once
with N calls and once with 2N; the difference of the two totals, divided by N,
is the cost of N calls alone (start-up, imports and warm-up cancel out). The
loop around the call is the same for a function and its floor.

    python count_calls.py [--calls N] [--jobs J] [--json FILE]

The modules must be importable (PYTHONPATH), as for bench_calls.py.
"""

import argparse
import json
import os
import re
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor

HERE = os.path.dirname(os.path.abspath(__file__))
WARMUP_CALLS = 2000


def run_case(index, calls):
    """Worker: warm up, then call case `index` `calls` times."""
    sys.path.insert(0, HERE)
    from bench_calls import CASES

    _, _, function, args = CASES[index]
    for _ in range(WARMUP_CALLS):
        function(*args)
    for _ in range(calls):
        function(*args)


def callgrind_total(index, calls):
    with tempfile.TemporaryDirectory() as scratch:
        out = os.path.join(scratch, "callgrind.out")
        subprocess.run(
            ["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", sys.executable,
             os.path.abspath(__file__), "--run", str(index), "--calls", str(calls)],
            check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        )
        with open(out) as handle:
            for line in handle:
                found = re.match(r"(?:totals|summary): (\d+)", line)
                if found:
                    return int(found.group(1))
    raise RuntimeError(f"no total in the callgrind output of case {index}")


def per_call(index, calls):
    return (callgrind_total(index, 2 * calls) - callgrind_total(index, calls)) / calls


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--calls", type=int, default=5000)
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--json", help="also write the counts to this file")
    parser.add_argument("--run", type=int, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.run is not None:
        run_case(args.run, args.calls)
        return

    sys.path.insert(0, HERE)
    from bench_calls import CASES

    with ThreadPoolExecutor(max_workers=args.jobs) as pool:
        counts = list(pool.map(lambda i: per_call(i, args.calls), range(len(CASES))))
    floors = {group: count for (group, role, _, _), count in zip(CASES, counts) if role == "floor"}
    print(f"{'group':<10} {'function':<26} {'instructions':>12} {'over floor':>10} {'x floor':>8}")
    rows = []
    for (group, role, _, _), count in zip(CASES, counts):
        floor = floors[group]
        print(f"{group:<10} {role:<26} {count:12.0f} {count - floor:10.0f} {count / floor:8.2f}")
        rows.append({"group": group, "function": role, "instructions": count, "floor": floor})
    if args.json:
        with open(args.json, "w") as handle:
            json.dump(rows, handle, indent=1)


if __name__ == "__main__":
    main()
