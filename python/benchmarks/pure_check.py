"""`vrn check FILE...` with the pure-Python reference checker in place of the
module: the same reading, the same loop and the same output, so that timing
both compares the checkers alone. Run by python/benchmarks/throughput.py."""

import sys

from veltrane_vrn import cli

import reference_vrn


def main(paths: list[str]) -> int:
    quiet = cli.Progress(None)
    blocks = cli.read_names([], paths, quiet)
    status = cli.run_check(blocks, False, sys.stdout, quiet, error_kind=reference_vrn.error_kind)
    sys.stdout.flush()
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
