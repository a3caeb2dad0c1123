"""`vrn check`, `canon`, `fields` and `cedar`: every name of every source
through the scanner of the column module, its report written out as it is
made, then the counts."""

from __future__ import annotations

from veltrane_vrn._native import NameScanner
from veltrane_vrn.cli.exits import EXIT_INVALID, EXIT_VALID
from veltrane_vrn.cli.sources import scan_arguments, scan_file
from veltrane_vrn.cli.summary import summary
from veltrane_vrn.cli.writers import Sink, may_share_a_target

TYPE_CHECKING = False  # typing is kept out of the start-up time of every run
if TYPE_CHECKING:
    import argparse
    from typing import TextIO

    from veltrane_vrn.cli.progress import Progress


def run_names(args: argparse.Namespace, out: TextIO, err: TextIO, progress: Progress) -> int:
    """check, canon, fields or cedar over every name of the command line.

    `check` writes each invalid name with its place and token, then the
    counts. The others write one result per valid name; an invalid name is
    reported on standard error (in the output with --json) and the rest go
    on. --stats adds the counts per token (for canon, fields and cedar on
    standard error, or as the last record with --json)."""
    scanner = NameScanner(args.command, json=args.json, keep_order=may_share_a_target(out, err))
    sink = Sink(out, err, progress)
    if args.names:
        scan_arguments(scanner, args.names, args.json, sink)
    for path in args.files or ([] if args.names else ["-"]):
        scan_file(scanner, path, args.column, args.json, sink, progress)
    counts = scanner.counts()
    if args.command == "check" or args.stats:
        made = summary(counts, args.json, args.stats)
        if args.command == "check" or args.json:
            sink.out(made)
        else:
            sink.err(made)
    return EXIT_VALID if counts["valid"] == sum(counts.values()) else EXIT_INVALID
