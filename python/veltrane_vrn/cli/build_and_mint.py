"""`vrn build` and `vrn mint`: one value made by the per-call module from the
command line, written as a line or a JSON record."""

from __future__ import annotations

import os
import time

from veltrane_vrn.cli.exits import EXIT_INVALID, EXIT_VALID

TYPE_CHECKING = False  # typing is kept out of the start-up time of every run
if TYPE_CHECKING:
    import argparse
    from collections.abc import Callable
    from typing import TextIO


def _json_line(record: dict[str, str]) -> str:
    import json

    return json.dumps(record) + "\n"


def _report_one(key: str, make: Callable[[], str], what: str, as_json: bool, out: TextIO, err: TextIO) -> int:
    try:
        value = make()
    except ValueError as error:
        if as_json:
            out.write(_json_line({"error": str(error)}))
        else:
            err.write(f"vrn {what}: {error}\n")
        return EXIT_INVALID
    out.write(_json_line({key: value}) if as_json else value + "\n")
    return EXIT_VALID


def run_build(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    import veltrane_py_bindings as vrn  # only build and mint need the per-call module

    def make() -> str:
        return vrn.vrn_build(args.service, args.region, args.org, args.resource_type, args.resource_id)

    return _report_one("vrn", make, "build", args.json, out, err)


def run_mint(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    import veltrane_py_bindings as vrn

    unix_ms: float = time.time_ns() // 1_000_000 if args.unix_ms is None else args.unix_ms
    rand_hex: str = os.urandom(10).hex() if args.rand_hex is None else args.rand_hex
    return _report_one("uuid", lambda: vrn.mint_uuid7(unix_ms, rand_hex), "mint", args.json, out, err)
