"""The command lines most runs have, read without argparse (whose import and
set-up are a large part of a short run's time): `vrn check|canon|fields|cedar`
with -f/--file FILE, --json, --stats and names. Anything else, or anything
these rules are not sure of, is left to argparse (`arguments`), so that every
result, help text and message stays argparse's own."""

from __future__ import annotations

TYPE_CHECKING = False  # typing is kept out of the start-up time of every run
if TYPE_CHECKING:
    from collections.abc import Sequence

NAME_COMMANDS = ("check", "canon", "fields", "cedar")


class Arguments:
    """What argparse's namespace holds for a name command."""

    def __init__(self, command: str) -> None:
        self.command = command
        self.names: list[str] = []
        self.files: list[str] = []
        self.column: str | None = None
        self.json = False
        self.stats = False
        self.version: None = None  # --version, had it been given, would have ended the run


def parse_common(argv: Sequence[str]) -> Arguments | None:
    """The arguments of a common command line, or None when argparse is to read it.

    The names are one run of arguments (argparse takes one run for a list
    argument and refuses a second); an argument that starts with '-' and is
    not one of the options read here (help, --column, '--', an abbreviation,
    a file name that starts with '-') goes to argparse."""
    if not argv or argv[0] not in NAME_COMMANDS:
        return None
    parsed = Arguments(argv[0])
    names_ended = False  # a run of names was followed by an option
    i, count = 1, len(argv)
    while i < count:
        arg = argv[i]
        i += 1
        if not arg.startswith("-"):
            if names_ended:
                return None
            parsed.names.append(arg)
            continue
        if parsed.names:
            names_ended = True
        if arg == "--json":
            parsed.json = True
        elif arg == "--stats":
            parsed.stats = True
        elif arg in ("-f", "--file"):
            if i == count or (argv[i].startswith("-") and argv[i] != "-"):
                return None
            parsed.files.append(argv[i])
            i += 1
        elif arg.startswith("--file=") and len(arg) > 7:
            parsed.files.append(arg[7:])
        elif arg.startswith("-f") and len(arg) > 2 and "=" not in arg:
            parsed.files.append(arg[2:])
        else:
            return None
    return parsed
