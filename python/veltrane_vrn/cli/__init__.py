"""The `vrn` command: check, canonicalise, take apart, build and mint VRNs.

The commands that take names (check, canon, fields, cedar) read them from
their arguments, from files named with -f/--file ('-' is standard input), or
from standard input when neither is given: one name per line, a line ending in
"\\n" or "\\r\\n", UTF-8. With --column NAME, the files that are Parquet or
Arrow IPC files give the names of their column NAME instead (with pyarrow).

The names go to the scanner of the column module (`NameScanner`), a block of
128 KiB of input or a record batch at a time: it splits the lines, checks the
UTF-8, runs the kernel and writes the report into a buffer, without the
interpreter lock and with no Python object per name; this package reads the
input, writes out what the scanner made and sums up. What is held stays small
whatever the input: a block, the start of an unfinished line, the pending
report.

Exit status: 0 when every name is valid (or the name was built, the UUID
minted), 1 when any name or input to build or mint is invalid, 2 on a usage
error or an input that cannot be read, 130 on Ctrl-C, 141 when the reader of
the output goes away.

One module per part, each imported only by the commands that use it:
`arguments` (the command line), `common_forms` (the common command lines,
read without argparse), `sources` (arguments, lines, columns), `writers` (the
report's bytes to the two streams), `progress` (the line on a terminal),
`summary` (the counts), `name_commands` (check, canon, fields, cedar),
`build_and_mint` (build, mint) and `exits` (statuses and failures).
"""

from __future__ import annotations

import io
import os
import sys

from veltrane_vrn.cli.exits import EXIT_BROKEN_PIPE, EXIT_INTERRUPTED, EXIT_USAGE, EXIT_VALID, InputError, UsageError

TYPE_CHECKING = False  # typing is kept out of the start-up time of every run
if TYPE_CHECKING:
    from collections.abc import Sequence
    from typing import Any, TextIO

__all__ = ["main"]


def _run(argv: Sequence[str] | None, out: TextIO, err: TextIO) -> int:
    from veltrane_vrn.cli.common_forms import parse_common

    args: Any = parse_common(sys.argv[1:] if argv is None else argv)
    if args is None:
        from veltrane_vrn.cli.arguments import parse_arguments

        try:
            args = parse_arguments(argv)
        except SystemExit as done:  # --help and --version
            return done.code if isinstance(done.code, int) else EXIT_VALID
    if args.command in ("build", "mint"):
        from veltrane_vrn.cli.build_and_mint import run_build, run_mint

        return run_build(args, out, err) if args.command == "build" else run_mint(args, out, err)
    from veltrane_vrn.cli.name_commands import run_names
    from veltrane_vrn.cli.progress import Progress

    progress = Progress.on_stderr()
    try:
        return run_names(args, out, err, progress)
    finally:
        progress.clear()


def _silence_stdout() -> None:
    """Points standard output at /dev/null so that the interpreter's last
    flush does not fail again on the closed pipe."""
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)
    except (OSError, ValueError, AttributeError):
        pass


def main(argv: Sequence[str] | None = None) -> int:
    """Runs `vrn` with `argv` (default: the command line) and returns its exit status."""
    out, err = sys.stdout, sys.stderr
    if isinstance(out, io.TextIOWrapper):
        # Names are checked as they are, so echo them whatever the terminal's encoding.
        out.reconfigure(errors="backslashreplace")
    try:
        status = _run(argv, out, err)
        out.flush()
        return status
    except BrokenPipeError:
        _silence_stdout()
        return EXIT_BROKEN_PIPE
    except KeyboardInterrupt:
        err.write("vrn: interrupted\n")
        return EXIT_INTERRUPTED
    except (UsageError, InputError) as error:
        out.flush()
        err.write(f"vrn: {error}\n" if isinstance(error, InputError) else f"{error}\n")
        return EXIT_USAGE
    except OSError as error:
        err.write(f"vrn: cannot write output: {error.strerror}\n")
        return EXIT_USAGE
