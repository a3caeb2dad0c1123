"""`Vrn.parse(s)` and its five reads against per-call queries, timed plainly
with timeit (a benchmark, not a test), both inline statements and the same
work inside a Python function, as the pytest-benchmark cases run it: the
two measurements differ only in what they are held to.

    python vrn_value_timeit.py [--rounds N]
"""

import argparse
import sys
import timeit

from veltrane_py_bindings import vrn_resource_id, vrn_service
from veltrane_vrn import Vrn

NAME = "vrn:vlt:iam:us-east-1:0190c3a2-7b1e-7000-8000-00000000abcd:project/0190c3a2-7b1e-7000-8000-0000000000cc"


# As bench_calls.py's value group has them.
def two_queries(s):
    return vrn_service(s), vrn_resource_id(s)


def parse_and_read_five(s):
    vrn = Vrn.parse(s)
    return vrn.service, vrn.region, vrn.org, vrn.resource_type, vrn.resource_id


def empty(s):
    pass


STATEMENTS = {
    "vrn_service(s)": "vrn_service(s)",
    "vrn_service(s); vrn_resource_id(s)": "vrn_service(s); vrn_resource_id(s)",
    "Vrn.parse(s), five reads": "v = Vrn.parse(s); v.service; v.region; v.org; v.resource_type; v.resource_id",
    "Vrn.parse(s)": "Vrn.parse(s)",
    "five reads of a Vrn kept": "w.service; w.region; w.org; w.resource_type; w.resource_id",
    "an empty Python function": "empty(s)",
    "two_queries(s), a function": "two_queries(s)",
    "parse_and_read_five(s), a function": "parse_and_read_five(s)",
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--calls", type=int, default=200_000)
    args = parser.parse_args()
    scope = dict(globals(), s=NAME, w=Vrn.parse(NAME))
    best = {}
    for _ in range(args.rounds):
        for label, statement in STATEMENTS.items():
            seconds = timeit.timeit(statement, globals=scope, number=args.calls)
            best[label] = min(best.get(label, float("inf")), seconds / args.calls * 1e9)
    one = best["vrn_service(s)"]
    pair = best["vrn_service(s); vrn_resource_id(s)"]
    print(f"CPython {sys.version.split()[0]}, best of {args.rounds} rounds, ns per statement")
    for label, value in best.items():
        print(f"  {label:38s} {value:7.1f}  {value / one:5.2f}x one query  {value / pair:5.2f}x the pair")


if __name__ == "__main__":
    main()
