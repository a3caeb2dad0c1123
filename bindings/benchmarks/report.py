"""Prints each benchmarked function's cost next to its floor, from pytest-benchmark JSON."""

import json
import sys


def main(path):
    with open(path) as handle:
        benchmarks = json.load(handle)["benchmarks"]
    floors = {b["group"]: b["stats"]["min"] for b in benchmarks if b["extra_info"]["role"] == "floor"}
    print(f"{'group':<10} {'function':<26} {'min ns':>8} {'median ns':>10} {'x floor':>8}")
    for b in benchmarks:
        stats, role = b["stats"], b["extra_info"]["role"]
        floor = floors.get(b["group"])
        ratio = f"{stats['min'] / floor:8.2f}" if floor else " " * 8
        print(f"{b['group']:<10} {role:<26} {stats['min'] * 1e9:8.1f} {stats['median'] * 1e9:10.1f} {ratio}")


if __name__ == "__main__":
    main(sys.argv[1])
