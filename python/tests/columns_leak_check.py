"""Soak test of the column functions: every success and error path, many times.

    python columns_leak_check.py [--calls N] [--only SUBSTRING]

The same checks as bindings/tests/leak_check.py (whose soak loop this uses):
the outcome of every call, the reference counts of the arguments and of the
result, tracemalloc and RSS growth. Besides, every path's Arrow input comes
from a counting producer (arrow_producer.py), and after the calls every struct
it made must have been released exactly once. Run by scripts/harden (and
under the sanitizers by scripts/sanitize).
"""

from __future__ import annotations

import argparse
import sys
from pathlib import Path
from typing import Any

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "bindings" / "tests"))
sys.path.insert(0, str(Path(__file__).resolve().parent / "support"))
sys.path.insert(0, str(Path(__file__).resolve().parent))

import leak_check  # noqa: E402
from arrow_producer import Producer  # noqa: E402
from vrn_testing.samples import HEX, ID, VALID  # noqa: E402

from veltrane_vrn import Vrn, columns  # noqa: E402

PRODUCER = Producer()
ROWS: list[str | None] = [VALID, None, "", "vrn:vlt:Iam:::p/" + ID, VALID.lower()] * 20


def rows_of(result: Any) -> Any:
    return result.to_pylist()


class Call:
    """A column call whose input is made fresh each time (a capsule is consumed once)."""

    def __init__(self, make: Any) -> None:
        self.make = make

    def __call__(self) -> Any:
        try:
            return rows_of(self.make())
        finally:
            # Every struct of the call is released by now (checked after the
            # path): the buffers the producer kept for them can go.
            PRODUCER.keep.clear()


def paths() -> list[tuple[str, Any, tuple[Any, ...], dict[str, Any], Any]]:
    p = PRODUCER
    table = [
        ("error_kind list", Call(lambda: columns.vrn_error_kind(ROWS)), (), {}, None),
        ("error_kind array", Call(lambda: columns.vrn_error_kind(p.array(ROWS, offset=3))), (), {}, None),
        ("canonicalize stream", Call(lambda: columns.vrn_canonicalize(p.stream([ROWS, [], ROWS]), "null")), (), {}, None),
        ("fields stream", Call(lambda: columns.vrn_fields(p.stream([ROWS[:7], ROWS[7:]]), "null")), (), {}, None),
        ("org raises at row 2", Call(lambda: columns.vrn_org(p.stream([ROWS]))), (), {},
         ("raise", ValueError, ("empty",), ["while processing row 2"])),
        ("service failing stream", Call(lambda: columns.vrn_service(p.stream([ROWS, ROWS], fail_at=1), "null")), (), {},
         leak_check.raises(RuntimeError, "vrn_service(): 's': reading chunk 1 of the Arrow stream failed: "
                                         "the producer gave up (error code 5)")),
        ("region not strings", Call(lambda: columns.vrn_region(p.stream([ROWS], format=b"l"))), (), {},
         leak_check.raises(TypeError, "vrn_region(): 's' must be a column of strings (utf8, large_utf8 or "
                                      "string_view), found Arrow format 'l' (int64)")),
        ("build different lengths", Call(lambda: columns.vrn_build(
            p.stream([["iam"] * 3]), [""] * 3, [""] * 3, p.array(["p"] * 2), [ID] * 3)), (), {},
         leak_check.raises(ValueError, "vrn_build(): the columns have different lengths: 'service' has 3, "
                                       "'region' has 3, 'org' has 3, 'resource_type' has 2, 'resource_id' has 3 rows")),
        ("build ok", Call(lambda: columns.vrn_build(["iam"] * 9, [""] * 9, [""] * 9, ["p"] * 9, [ID] * 9)), (), {}, None),
        ("mint null mode", Call(lambda: columns.mint_uuid7([0, 1.5, None], [HEX, HEX, "x"], "null")), (), {}, None),
        ("list row not str", Call(lambda: columns.vrn_org([VALID, 7])), (), {}, None),
    ]
    return table + vrn_paths()


def every_attribute(vrn: Vrn) -> tuple[object, ...]:
    return (vrn.canonical, vrn.service, vrn.region, vrn.org, vrn.resource_type, vrn.resource_id,
            vrn.cedar_entity_type, vrn.cedar_entity_id, vrn.cedar_uid, str(vrn), repr(vrn), hash(vrn))


def vrn_paths() -> list[tuple[str, Any, tuple[Any, ...], dict[str, Any], Any]]:
    """The Vrn value type: every way to make one, read it and refuse one."""
    import pickle

    canonical = VALID.lower()
    return [
        ("Vrn.parse canonical", lambda s: every_attribute(Vrn.parse(s)), (canonical,), {}, None),
        ("Vrn.parse upper case", lambda s: every_attribute(Vrn.parse(s)), (VALID,), {}, None),
        ("Vrn() keyword", lambda s: Vrn(s=s), (VALID,), {}, None),
        ("Vrn.build", Vrn.build, ("iam", "", "", "p", ID.upper()), {}, None),
        ("Vrn.build raises", Vrn.build, ("iam:x", "", "", "p", ID), {},
         ("raise", ValueError, ("wrong-field-count",), None)),
        ("Vrn.parse raises", Vrn.parse, (VALID[:-1],), {}, ("raise", ValueError, ("bad-resource-id",), None)),
        ("Vrn() raises", Vrn, ("",), {}, ("raise", ValueError, ("empty",), None)),
        ("Vrn.try_parse invalid", Vrn.try_parse, ("vrn",), {}, ("return", None)),
        ("Vrn.parse not str", Vrn.parse, (7,), {},
         leak_check.raises(TypeError, "'int' object is not an instance of 'str'", note="s")),
        ("Vrn pickle and compare", lambda s: (pickle.loads(pickle.dumps(Vrn(s))) == Vrn(s.lower()),
                                              Vrn(s) <= Vrn(s.lower()), Vrn(s) == s), (VALID,), {},
         ("return", (True, True, False))),
    ]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--calls", type=int, default=5_000)
    parser.add_argument("--warmup", type=int, default=200)
    parser.add_argument("--only", default="")
    parser.add_argument("--max-traced", type=int, default=16 * 1024)
    parser.add_argument("--max-rss-kib", type=int, default=4096)
    limits = parser.parse_args()
    table = [row for row in paths() if limits.only in row[0]]
    print(f"{len(table)} column paths x {limits.calls} calls, Python {sys.version.split()[0]}")
    failed = 0
    for label, function, args, kwargs, expected in table:
        traced, traced_total, rss, problems = leak_check.soak(label, function, args, kwargs, expected,
                                                              limits.calls, limits)
        outstanding = {kind: n for kind, n in PRODUCER.outstanding().items() if n}
        if outstanding:
            problems.append(f"structs never released: {outstanding}")
        print(f"{label:32} {traced_total:9d} {traced:9d} {rss:8d}" + ("" if not problems else "  FAILED: " + "; ".join(problems)),
              flush=True)
        failed += bool(problems)
    print(f"columns leak check: {len(table) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
