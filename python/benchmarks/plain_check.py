"""The plain Python loop that `vrn check` is measured against: read the lines,
check each with one regular expression, print the invalid ones.

    python plain_check.py FILE...
    python plain_check.py --column NAME FILE.parquet...   # the column, with pyarrow

It prints each invalid name as `FILE:LINE: invalid: NAME` and then the counts;
it exits with 1 when a name is invalid. It has no error tokens (one regular
expression says valid or not, not why), so python/benchmarks/throughput.py
compares the two commands by the lines each reports, not byte for byte. A
name that matches is ASCII, so its length in characters is its length in bytes.
"""

from __future__ import annotations

import re
import sys
from collections.abc import Iterator

MAX_VRN_LEN = 512
_IDENTIFIER = r"[a-z][a-z0-9]*(?:-[a-z][a-z0-9]*)*"
_REGION = r"[a-z0-9]+(?:-[a-z0-9]+)*"
_UUID = r"[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}"
VRN = re.compile(rf"vrn:vlt:{_IDENTIFIER}:(?:{_REGION})?:(?:{_UUID})?:{_IDENTIFIER}/{_UUID}")


def text_names(path: str) -> Iterator[str]:
    with open(path, encoding="utf-8", newline="\n") as lines:
        for line in lines:
            yield line.removesuffix("\n").removesuffix("\r")


def column_names(path: str, column: str) -> Iterator[str]:
    import pyarrow.parquet as pq

    for batch in pq.ParquetFile(path).iter_batches(columns=[column]):
        yield from (name or "" for name in batch.column(0).to_pylist())


def main(argv: list[str]) -> int:
    column = None
    if argv[:1] == ["--column"]:
        column, argv = argv[1], argv[2:]
    valid_name = VRN.fullmatch
    write = sys.stdout.write
    checked = invalid = 0
    for path in argv:
        number = 0
        names = text_names(path) if column is None else column_names(path, column)
        for number, name in enumerate(names, 1):
            if len(name) > MAX_VRN_LEN or not valid_name(name):
                invalid += 1
                write(f"{path}:{number}: invalid: {name}\n")
        checked += number
    write(f"checked {checked} names: {checked - invalid} valid, {invalid} invalid\n")
    return 1 if invalid else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
