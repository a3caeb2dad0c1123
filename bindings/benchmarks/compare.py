"""Each benchmarked function against its floor on several interpreters, from
pytest-benchmark JSON files (scripts/bench --interpreters writes them).

    python compare.py LABEL=RUN.json [LABEL=RUN.json ...]

A label names an interpreter (3.12, 3.15, ...) and may come several times,
once per round. Each run is judged against the floor of its own group in the
same run (the machine is shared: only ratios within one run compare), so a
cell gives the range of a function's ratio over the rounds and its best time.
Prints a Markdown table, a column per interpreter.
"""

from __future__ import annotations

import json
import sys
from collections import defaultdict


def ratios(path: str) -> dict[str, tuple[float, float]]:
    """{role: (x floor, best ns)} of one run."""
    with open(path) as handle:
        benchmarks = json.load(handle)["benchmarks"]
    floors = {b["group"]: b["stats"]["min"] for b in benchmarks if b["extra_info"]["role"] == "floor"}
    out = {}
    for b in benchmarks:
        role, group, best = b["extra_info"]["role"], b["group"], b["stats"]["min"]
        label = f"{group}: floor" if role == "floor" else role
        out[label] = (best / floors[group] if group in floors else float("nan"), best * 1e9)
    return out


def cell(values: list[tuple[float, float]], floor: bool) -> str:
    if floor:  # its ratio is 1 by definition: its time says what the call costs there
        low_ns, high_ns = min(t for _, t in values), max(t for _, t in values)
        return f"{low_ns:.0f} ns" if round(low_ns) == round(high_ns) else f"{low_ns:.0f}-{high_ns:.0f} ns"
    low = min(r for r, _ in values)
    high = max(r for r, _ in values)
    ns = min(t for _, t in values)
    span = f"{low:.2f}" if f"{low:.2f}" == f"{high:.2f}" else f"{low:.2f}-{high:.2f}"
    return f"{span} ({ns:.0f} ns)"


def main(arguments: list[str]) -> int:
    runs: dict[str, list[dict[str, tuple[float, float]]]] = defaultdict(list)
    for argument in arguments:
        label, _, path = argument.partition("=")
        if not path:
            sys.exit(f"expected LABEL=RUN.json, got {argument!r}")
        runs[label].append(ratios(path))
    labels = list(runs)
    roles = list(dict.fromkeys(role for run in runs[labels[0]] for role in run))
    rounds = {label: len(runs[label]) for label in labels}
    print(f"x floor over {', '.join(f'{n} runs on {label}' for label, n in rounds.items())} (best ns)")
    print()
    print("| Function | " + " | ".join(f"CPython {label}" for label in labels) + " |")
    print("|---|" + "---|" * len(labels))
    for role in roles:
        cells = []
        for label in labels:
            values = [run[role] for run in runs[label] if role in run]
            cells.append(cell(values, role.endswith(": floor")) if values else "")
        print(f"| {role} | " + " | ".join(cells) + " |")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
