"""The command line of `vrn`: its subcommands and options, and what makes a
command line that cannot run (one line naming `--help`, exit status 2)."""

from __future__ import annotations

import argparse
import sys

from veltrane_vrn.cli.exits import UsageError

TYPE_CHECKING = False  # typing is kept out of the start-up time of every run
if TYPE_CHECKING:
    from collections.abc import Sequence
    from typing import NoReturn

NAME_COMMAND_HELP = {
    "canon": "print the canonical form of each name (UUIDs in lower case)",
    "fields": "print the five fields of each name",
    "cedar": "print the Cedar entity (type and id) of each name",
}


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        raise UsageError(f"{self.prog}: {message} (see '{self.prog} --help')")


class _VersionAction(argparse.Action):
    """--version, looked up only when asked for (the lookup is slow to import)."""

    def __init__(self, option_strings: Sequence[str], dest: str, **kwargs: object) -> None:
        super().__init__(option_strings, dest, nargs=0, help="print the version and exit")

    def __call__(self, parser: argparse.ArgumentParser, *args: object) -> None:
        from importlib.metadata import PackageNotFoundError, version

        try:
            found = version("veltrane-py-bindings")
        except PackageNotFoundError:
            found = "unknown"
        sys.stdout.write(f"vrn {found}\n")
        parser.exit()


def _milliseconds(text: str) -> float:
    """An integer (kept exact: the module takes it whole) or a decimal number."""
    try:
        return int(text)
    except ValueError:
        pass
    try:
        return float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None


def build_parser() -> argparse.ArgumentParser:
    parser = _Parser(
        prog="vrn",
        description="Check, canonicalise, take apart, build and mint VRNs "
        "(vrn:vlt:<service>:<region>:<org>:<resource_type>/<resource_id>).",
        epilog="Exit status: 0 all valid, 1 something invalid, 2 usage or input error.",
    )
    parser.add_argument("--version", action=_VersionAction)
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)

    output = _Parser(add_help=False)
    output.add_argument("--json", action="store_true", help="write JSON Lines, one object per line")
    counted = _Parser(add_help=False)
    counted.add_argument(
        "--stats",
        action="store_true",
        help="then count the names per error token (canon, fields, cedar: on standard error, "
        "or as the last record with --json)",
    )

    names = _Parser(add_help=False)
    names.add_argument("names", nargs="*", metavar="NAME", help="names to read (default: none)")
    names.add_argument(
        "-f",
        "--file",
        dest="files",
        action="append",
        default=[],
        metavar="FILE",
        help="read names from FILE, one per line ('-' is standard input); repeatable. "
        "With no NAME and no FILE, names come from standard input.",
    )
    names.add_argument(
        "--column",
        metavar="COLUMN",
        help="read the names of each FILE that is a Parquet or Arrow IPC file from its string "
        "column COLUMN (needs pyarrow: the [arrow] extra)",
    )

    commands.add_parser(
        "check",
        parents=[names, output, counted],
        help="report every invalid name with its line and error token, then the counts",
        description="Report every invalid name as SOURCE:LINE: TOKEN: NAME, then a summary. "
        "Exit status 0 when all names are valid, 1 when any is invalid.",
    )
    for name, help in NAME_COMMAND_HELP.items():
        commands.add_parser(name, parents=[names, output, counted], help=help, description=help + ".")

    build = commands.add_parser(
        "build",
        parents=[output],
        help="build a name from its fields and print its canonical form",
        description="Build a name from its fields and print its canonical form.",
    )
    build.add_argument("--service", required=True)
    build.add_argument("--region", default="", help="(default: none)")
    build.add_argument("--org", default="", help="a UUID (default: none)")
    build.add_argument("--resource-type", required=True)
    build.add_argument("--resource-id", required=True, help="a UUID")

    mint = commands.add_parser(
        "mint",
        parents=[output],
        help="mint a UUIDv7 from the current time and fresh entropy, or from given inputs",
        description="Mint a UUIDv7. By default from the current time and 80 bits from os.urandom; "
        "give both inputs to make the result reproducible.",
    )
    mint.add_argument(
        "--unix-ms", type=_milliseconds, metavar="MS", help="milliseconds since the Unix epoch (default: now)"
    )
    mint.add_argument("--rand-hex", metavar="HEX", help="20 lowercase hex digits of entropy (default: random)")
    return parser


def parse_arguments(argv: Sequence[str] | None) -> argparse.Namespace:
    """The command line `argv` (default: the process's), or UsageError. --help
    and --version write what they show and raise SystemExit."""
    args = build_parser().parse_args(argv)
    if args.command not in ("build", "mint") and args.column is not None \
            and not [path for path in args.files if path != "-"]:
        raise UsageError(
            f"vrn {args.command}: --column reads Parquet and Arrow IPC files: give them with -f FILE "
            f"(see 'vrn {args.command} --help')"
        )
    return args
