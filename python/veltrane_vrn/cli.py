"""The `vrn` command: check, canonicalise, take apart, build and mint VRNs.

The commands that take names (check, canon, fields, cedar) read them from
their arguments, from files named with -f/--file ('-' is standard input), or
from standard input when neither is given: one name per line, a line ending in
"\\n" or "\\r\\n", UTF-8. Input is read a block of 128 KiB at a time
and handed on as one list of that block's lines, so memory stays flat however
long the input is, and the module is called over a whole block through `map`.

Exit status: 0 when every name is valid (or the name was built, the UUID
minted), 1 when any name or input to build or mint is invalid, 2 on a usage
error or an input that cannot be read, 130 on Ctrl-C, 141 when the reader of
the output goes away.
"""

from __future__ import annotations

import argparse
import io
import json
import os
import stat
import sys
import time
from typing import TYPE_CHECKING

import veltrane_py_bindings as vrn

if TYPE_CHECKING:  # kept out of the start-up time of every run
    from collections.abc import Callable, Iterator, Sequence
    from typing import NoReturn, TextIO

EXIT_VALID = 0
EXIT_INVALID = 1
EXIT_USAGE = 2
EXIT_INTERRUPTED = 130  # 128 + SIGINT, as a shell reports it
EXIT_BROKEN_PIPE = 141  # 128 + SIGPIPE

# Large enough that the per-block work is amortised, small enough that a
# block's bytes and its lines stay in the processor's cache.
BLOCK_BYTES = 128 << 10
ARGUMENTS_LABEL = "<args>"
STDIN_LABEL = "<stdin>"


class UsageError(Exception):
    """A command line that cannot be run; exit status 2."""


class InputError(Exception):
    """An input that cannot be read (missing, unreadable, not UTF-8); exit status 2."""


# One block of input: where it comes from, the number of its first line, its lines.
Block = tuple[str, int, list[str]]


class Progress:
    """A one-line progress report on standard error, redrawn ten times a second.

    Active only while reading a regular file of known size with standard error
    on a terminal; elsewhere every method does nothing.
    """

    INTERVAL_S = 0.1

    def __init__(self, stream: TextIO | None) -> None:
        self._stream = stream
        self._label = ""
        self._total = 0
        self._width = 0
        self._next_draw = 0.0

    @classmethod
    def on_stderr(cls) -> Progress:
        stream = sys.stderr
        return cls(stream if stream is not None and stream.isatty() else None)

    def start(self, label: str, total_bytes: int | None) -> None:
        self._label = label
        self._total = total_bytes or 0
        self._next_draw = time.monotonic() + self.INTERVAL_S

    def advance(self, done_bytes: int, done_lines: int) -> None:
        if self._stream is None or not self._total:
            return
        now = time.monotonic()
        if now < self._next_draw:
            return
        self._next_draw = now + self.INTERVAL_S
        percent = min(100, 100 * done_bytes // self._total)
        text = f"vrn: {self._label}: {percent}% ({done_lines:,} lines)"
        self._stream.write("\r" + text.ljust(self._width))
        self._stream.flush()
        self._width = len(text)

    def clear_before(self, stream: TextIO) -> None:
        """Blanks the line out before `stream` writes, if `stream` is on a
        terminal too (the line is drawn again at the next redraw)."""
        if self._width and stream.isatty():
            self.clear()

    def clear(self) -> None:
        if self._stream is not None and self._width:
            self._stream.write("\r" + " " * self._width + "\r")
            self._stream.flush()
            self._width = 0


def _known_size(fd: int) -> int | None:
    """Bytes left to read from `fd` when it is a regular file, else None."""
    try:
        info = os.fstat(fd)
        if not stat.S_ISREG(info.st_mode) or info.st_size == 0:
            return None
        return max(0, info.st_size - os.lseek(fd, 0, os.SEEK_CUR))
    except OSError:
        return None


def _split_block(data: bytes) -> tuple[list[str], bool]:
    """The lines of `data`, which ends with a line feed, and whether decoding
    stopped early at a line that is not UTF-8 (the lines before it are kept)."""
    try:
        text = data.decode("utf-8")
        undecodable = False
    except UnicodeDecodeError as error:
        good = data.rfind(b"\n", 0, error.start) + 1
        text = data[:good].decode("utf-8")
        undecodable = True
    if "\r" in text:
        text = text.replace("\r\n", "\n")
    lines = text.split("\n")
    lines.pop()  # the empty text after the last line feed
    return lines, undecodable


def _read_blocks(label: str, fd: int, progress: Progress) -> Iterator[Block]:
    """Blocks of whole lines read from `fd`; a last line without a line feed counts."""
    carry = b""
    next_line = 1
    done_bytes = 0
    while True:
        try:
            chunk = os.read(fd, BLOCK_BYTES)
        except OSError as error:
            raise InputError(f"cannot read {label}: {error.strerror}") from None
        at_end = not chunk
        if at_end:
            if not carry:
                return
            data = carry + b"\n"
            carry = b""
        else:
            done_bytes += len(chunk)
            progress.advance(done_bytes, next_line - 1)
            data = carry + chunk if carry else chunk
            cut = data.rfind(b"\n") + 1
            carry = data[cut:]
            data = data[:cut]
        if data:
            lines, undecodable = _split_block(data)
            if lines:
                yield label, next_line, lines
            next_line += len(lines)
            if undecodable:
                raise InputError(f"{label}:{next_line}: not valid UTF-8")
        if at_end:
            return


def _read_file(path: str, progress: Progress) -> Iterator[Block]:
    if path == "-":
        label, fd, owned = STDIN_LABEL, 0, False
    else:
        label, owned = path, True
        try:
            fd = os.open(path, os.O_RDONLY)
        except OSError as error:
            raise InputError(f"cannot read {path}: {error.strerror}") from None
    try:
        progress.start(label, _known_size(fd))
        yield from _read_blocks(label, fd, progress)
    finally:
        progress.clear()
        if owned:
            os.close(fd)


def read_names(names: Sequence[str], files: Sequence[str], progress: Progress) -> Iterator[Block]:
    """The names of the command line first, then those of each file in turn;
    standard input when there are neither."""
    if names:
        yield ARGUMENTS_LABEL, 1, list(names)
    for path in files or ([] if names else ["-"]):
        yield from _read_file(path, progress)


def _json_line(record: dict[str, object]) -> str:
    return json.dumps(record) + "\n"


# --- check ------------------------------------------------------------------


def run_check(
    blocks: Iterator[Block],
    as_json: bool,
    out: TextIO,
    progress: Progress,
    error_kind: Callable[[str], str] = vrn.vrn_error_kind,
) -> int:
    """Writes each invalid name with its place and token, then the counts.

    `error_kind` is the module's; the throughput benchmark passes a pure-Python
    checker to time the same loop around it."""
    checked = invalid = 0
    for label, first_line, lines in blocks:
        errors = list(map(error_kind, lines))
        checked += len(lines)
        found = len(errors) - errors.count("")
        if not found:
            continue
        invalid += found
        if as_json:
            report = "".join(
                _json_line({"source": label, "line": first_line + i, "name": lines[i], "error": error})
                for i, error in enumerate(errors)
                if error
            )
        else:
            report = "".join(
                f"{label}:{first_line + i}: {error}: {lines[i]}\n"
                for i, error in enumerate(errors)
                if error
            )
        progress.clear_before(out)
        out.write(report)
    valid = checked - invalid
    if as_json:
        out.write(_json_line({"checked": checked, "valid": valid, "invalid": invalid}))
    else:
        out.write(f"checked {checked} names: {valid} valid, {invalid} invalid\n")
    return EXIT_INVALID if invalid else EXIT_VALID


# --- canon, fields, cedar ---------------------------------------------------


class NameCommand:
    """A command that turns each valid name into a few named texts."""

    __slots__ = ("help", "compute", "as_text")

    def __init__(
        self,
        help: str,
        compute: Callable[[str], dict[str, str]],
        as_text: Callable[[dict[str, str]], str],
    ) -> None:
        self.help = help
        self.compute = compute
        self.as_text = as_text


def _canonical(name: str) -> dict[str, str]:
    return {"canonical": vrn.vrn_canonicalize(name)}


def _fields(name: str) -> dict[str, str]:
    return {
        "service": vrn.vrn_service(name),
        "region": vrn.vrn_region(name),
        "org": vrn.vrn_org(name),
        "resource_type": vrn.vrn_resource_type(name),
        "resource_id": vrn.vrn_resource_id(name),
    }


def _cedar(name: str) -> dict[str, str]:
    return {
        "entity_type": vrn.vrn_cedar_entity_type(name),
        "entity_id": vrn.vrn_cedar_entity_id(name),
    }


NAME_COMMANDS: dict[str, NameCommand] = {
    "canon": NameCommand(
        "print the canonical form of each name (UUIDs in lower case)",
        _canonical,
        lambda result: result["canonical"],
    ),
    "fields": NameCommand(
        "print the five fields of each name",
        _fields,
        lambda result: " ".join(f"{key}={value}" for key, value in result.items()),
    ),
    "cedar": NameCommand(
        "print the Cedar entity (type and id) of each name",
        _cedar,
        lambda result: f'{result["entity_type"]}::"{result["entity_id"]}"',
    ),
}


def run_name_command(
    command: NameCommand,
    blocks: Iterator[Block],
    as_json: bool,
    out: TextIO,
    err: TextIO,
    progress: Progress,
) -> int:
    """Writes one result per valid name; an invalid name is reported on
    standard error (in the output stream with --json) and the rest go on."""
    invalid = 0
    for label, first_line, lines in blocks:
        for number, name in enumerate(lines, first_line):
            try:
                result = command.compute(name)
            except ValueError as error:
                invalid += 1
                if as_json:
                    progress.clear_before(out)
                    out.write(_json_line({"source": label, "line": number, "name": name, "error": str(error)}))
                else:
                    out.flush()
                    progress.clear_before(err)
                    err.write(f"vrn: {label}:{number}: {error}: {name}\n")
                continue
            progress.clear_before(out)
            if as_json:
                out.write(_json_line({"source": label, "line": number, "name": name, **result}))
            else:
                out.write(command.as_text(result) + "\n")
    return EXIT_INVALID if invalid else EXIT_VALID


# --- build, mint ------------------------------------------------------------


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
    def make() -> str:
        return vrn.vrn_build(args.service, args.region, args.org, args.resource_type, args.resource_id)

    return _report_one("vrn", make, "build", args.json, out, err)


def run_mint(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    unix_ms: float = time.time_ns() // 1_000_000 if args.unix_ms is None else args.unix_ms
    rand_hex: str = os.urandom(10).hex() if args.rand_hex is None else args.rand_hex
    return _report_one("uuid", lambda: vrn.mint_uuid7(unix_ms, rand_hex), "mint", args.json, out, err)


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


# --- command line -----------------------------------------------------------


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

    commands.add_parser(
        "check",
        parents=[names, output],
        help="report every invalid name with its line and error token, then the counts",
        description="Report every invalid name as SOURCE:LINE: TOKEN: NAME, then a summary. "
        "Exit status 0 when all names are valid, 1 when any is invalid.",
    )
    for name, command in NAME_COMMANDS.items():
        commands.add_parser(name, parents=[names, output], help=command.help, description=command.help + ".")

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


def _run(argv: Sequence[str] | None, out: TextIO, err: TextIO) -> int:
    try:
        args = build_parser().parse_args(argv)
    except SystemExit as done:  # --help and --version
        return done.code if isinstance(done.code, int) else EXIT_VALID
    if args.command == "build":
        return run_build(args, out, err)
    if args.command == "mint":
        return run_mint(args, out, err)
    progress = Progress.on_stderr()
    blocks = read_names(args.names, args.files, progress)
    try:
        if args.command == "check":
            return run_check(blocks, args.json, out, progress)
        return run_name_command(NAME_COMMANDS[args.command], blocks, args.json, out, err, progress)
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
