"""Where the time of a raising call goes (a benchmark, not a test): a raising
per-call function against the raising floor, once on a name that fails at its
last check (the whole name parsed) and once on the empty text (which fails
before any parse), so that the difference between the two is the parse and
what is left over the floor is the module's own work (frame, binding, the
error and its raise). The same split for the non-raising vrn_error_kind.

    VELTRANE_TEST_MODULE_DIR=DIR python raising_paths.py [--rounds N]

DIR holds veltrane_test_module (the floors); run it on each interpreter and
read the best of the rounds.
"""

import argparse
import os
import sys
import timeit

sys.path.insert(0, os.environ.get("VELTRANE_TEST_MODULE_DIR", ""))
import veltrane_test_module as t  # noqa: E402
from veltrane_py_bindings import vrn_error_kind, vrn_service  # noqa: E402

# Fails at its last check (bad-resource-id): the whole name is read.
LAST_CHECK = (
    "vrn:vlt:iam:us-east-1:0190c3a2-7b1e-7000-8000-00000000abcd:project/0190c3a2-7b1e-7000-8000-0000000000zz"
)


def raising(function, argument):
    def run():
        try:
            function(argument)
        except ValueError:
            pass

    return run


CASES = {
    "floor, raising": raising(t.floor_raise_text, LAST_CHECK),
    "vrn_service(last-check failure), raising": raising(vrn_service, LAST_CHECK),
    "vrn_service(''), raising": raising(vrn_service, ""),
    "floor, returning a str": lambda: t.floor_text(LAST_CHECK),
    "vrn_error_kind(last-check failure)": lambda: vrn_error_kind(LAST_CHECK),
    "vrn_error_kind('')": lambda: vrn_error_kind(""),
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--calls", type=int, default=100_000)
    args = parser.parse_args()
    best = {}
    for _ in range(args.rounds):
        for name, run in CASES.items():
            best[name] = min(best.get(name, float("inf")), timeit.timeit(run, number=args.calls) / args.calls * 1e9)
    floor = best["floor, raising"]
    raising_own = best["vrn_service(''), raising"] - floor
    raising_parse = best["vrn_service(last-check failure), raising"] - best["vrn_service(''), raising"]
    print(f"CPython {sys.version.split()[0]}, best of {args.rounds} rounds of {args.calls} calls, ns per call")
    for name, value in best.items():
        print(f"  {name:42s} {value:7.1f}")
    print(f"  raising vrn_service over its floor: {raising_own:.1f} ns of the module's own work"
          f" + {raising_parse:.1f} ns of parse = x{best['vrn_service(last-check failure), raising'] / floor:.2f}")


if __name__ == "__main__":
    main()
