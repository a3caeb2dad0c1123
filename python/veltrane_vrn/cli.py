"""The `vrn` command: check, canonicalise, take apart, build and mint VRNs.

The commands that take names (check, canon, fields, cedar) read them from
their arguments, from files named with -f/--file ('-' is standard input), or
from standard input when neither is given: one name per line, a line ending in
"\\n" or "\\r\\n", UTF-8. With --column NAME, the files that are Parquet or
Arrow IPC files give the names of their column NAME instead (with pyarrow).

The names go to the scanner of the column module (`NameScanner`), a block of
128 KiB of input or a record batch at a time: it splits the lines, checks the
UTF-8, runs the kernel and writes the report into a buffer, without the
interpreter lock and with no Python object per name; this module reads the
input, writes out what the scanner made and sums up. What is held stays small
whatever the input: a block, the start of an unfinished line, the pending
report.

Exit status: 0 when every name is valid (or the name was built, the UUID
minted), 1 when any name or input to build or mint is invalid, 2 on a usage
error or an input that cannot be read, 130 on Ctrl-C, 141 when the reader of
the output goes away.
"""

from __future__ import annotations

import argparse
import codecs
import io
import os
import stat
import sys
import time

from veltrane_vrn._native import NameScanner

TYPE_CHECKING = False  # typing is kept out of the start-up time of every run
if TYPE_CHECKING:
    from collections.abc import Callable, Iterator, Sequence
    from types import ModuleType
    from typing import Any, NoReturn, TextIO

EXIT_VALID = 0
EXIT_INVALID = 1
EXIT_USAGE = 2
EXIT_INTERRUPTED = 130  # 128 + SIGINT, as a shell reports it
EXIT_BROKEN_PIPE = 141  # 128 + SIGPIPE

# Large enough that the work per block is amortised, small enough that a
# block stays in the processor's cache while it is scanned.
BLOCK_BYTES = 128 << 10
# Rows per record batch read from a Parquet file: the reader's buffers grow
# with it, and past a few thousand rows the work per batch is amortised.
BATCH_ROWS = 4 << 10
ARGUMENTS_LABEL = "<args>"
STDIN_LABEL = "<stdin>"
NAME_COMMAND_HELP = {
    "canon": "print the canonical form of each name (UUIDs in lower case)",
    "fields": "print the five fields of each name",
    "cedar": "print the Cedar entity (type and id) of each name",
}


class UsageError(Exception):
    """A command line that cannot be run; exit status 2."""


class InputError(Exception):
    """An input that cannot be read (missing, unreadable, not UTF-8); exit status 2."""


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


def _may_share_a_target(out: TextIO, err: TextIO) -> bool:
    """Whether standard output and standard error may reach the same place (a
    terminal, `2>&1`), so that their lines must keep the order of the names."""
    try:
        first, second = os.fstat(out.fileno()), os.fstat(err.fileno())
    except (AttributeError, OSError, ValueError):
        return True
    return (first.st_dev, first.st_ino) == (second.st_dev, second.st_ino)


def _byte_writer(stream: TextIO) -> Callable[[bytes], object]:
    """Writes UTF-8 bytes to `stream`: straight to its binary buffer when it
    encodes as UTF-8 (flushed at once when it is line-buffered, as on a
    terminal), else decoded, through the text layer."""
    buffer: io.BufferedIOBase | io.RawIOBase | None = getattr(stream, "buffer", None)
    encoding: str | None = getattr(stream, "encoding", None)
    if buffer is None or not encoding or codecs.lookup(encoding).name != "utf-8":
        return lambda data: stream.write(data.decode("utf-8"))
    stream.flush()  # anything written as text goes first
    if isinstance(buffer, io.RawIOBase):  # unbuffered (python -u): a write may take only part

        def write_all(data: bytes) -> None:
            rest = memoryview(data)
            while rest:
                rest = rest[buffer.write(rest) or 0 :]

        return write_all
    if not getattr(stream, "line_buffering", False):
        return buffer.write

    def write_through(data: bytes) -> None:
        buffer.write(data)
        buffer.flush()

    return write_through


class Sink:
    """Where the report goes: the scanner's output, and the summary."""

    def __init__(self, out: TextIO, err: TextIO, progress: Progress) -> None:
        self._out = out
        self._err = err
        self._progress = progress
        self._write_out = _byte_writer(out)
        self._write_err = _byte_writer(err)

    def out(self, data: bytes) -> None:
        self._progress.clear_before(self._out)
        self._write_out(data)

    def err(self, data: bytes) -> None:
        self._out.flush()  # what came before goes first where both streams meet
        self._progress.clear_before(self._err)
        self._write_err(data)

    def drain(self, scanner: NameScanner, label: str) -> None:
        """Writes what the scanner has made. A line it refused as not UTF-8
        ends the input, after the report of the lines before it."""
        for fd, data in scanner.take():
            if fd == 1:
                self.out(data)
            else:
                self.err(data)
        if scanner.undecodable_line:
            raise InputError(f"{label}:{scanner.undecodable_line}: not valid UTF-8")


# --- reading ------------------------------------------------------------------


def _start(scanner: NameScanner, label: str, as_json: bool) -> None:
    """Starts a source whose records show `label` (as text, a path that is not
    UTF-8 shows its undecodable bytes as escapes)."""
    json_label = b""
    if as_json:
        import json

        json_label = json.dumps(label).encode()
    scanner.start_source(label.encode("utf-8", "backslashreplace"), json_label)


def _scan_arguments(scanner: NameScanner, names: Sequence[str], as_json: bool, sink: Sink) -> None:
    _start(scanner, ARGUMENTS_LABEL, as_json)
    for name in names:
        # A lone surrogate (an argument that was not UTF-8) becomes bytes that
        # are not UTF-8 either, and the scanner refuses them.
        scanner.name(name.encode("utf-8", "surrogatepass"))
        sink.drain(scanner, ARGUMENTS_LABEL)


def _scan_lines(scanner: NameScanner, label: str, fd: int, sink: Sink, progress: Progress) -> None:
    """Every line of `fd`, read a block at a time; a last line without a line
    feed counts."""
    buffer = bytearray(BLOCK_BYTES)
    view = memoryview(buffer)
    done = 0
    while True:
        try:
            size = os.readv(fd, [buffer])
        except OSError as error:
            raise InputError(f"cannot read {label}: {error.strerror}") from None
        if not size:
            scanner.end_source()
            sink.drain(scanner, label)
            return
        done += size
        progress.advance(done, scanner.line - 1)
        block = view[:size]
        at = 0
        while at < size:
            at = scanner.feed(block, at)
            sink.drain(scanner, label)


def _columnar_format(fd: int) -> str | None:
    """"Parquet", "Arrow IPC" or "Arrow IPC stream" for a regular file that
    is one by its first bytes (and, for Parquet, its last four), else None."""
    try:
        head = os.pread(fd, 8, 0)
        if head.startswith(b"PAR1"):
            size = os.fstat(fd).st_size
            return "Parquet" if size >= 8 and os.pread(fd, 4, size - 4) == b"PAR1" else None
    except OSError:  # not a file that can be read at an offset: a pipe, a terminal
        return None
    if head == b"ARROW1\0\0":
        return "Arrow IPC"
    if head.startswith(b"\xff\xff\xff\xff"):  # the continuation marker of an IPC message
        return "Arrow IPC stream"
    return None


def _is_string_type(pa: ModuleType, type_: Any) -> bool:
    """Whether pyarrow's `type_` is one of the string types the scanner reads
    (utf8, large_utf8, string_view, or a dictionary of one of them)."""
    if pa.types.is_dictionary(type_):
        type_ = type_.value_type
    return bool(pa.types.is_string(type_) or pa.types.is_large_string(type_) or pa.types.is_string_view(type_))


def _string_arrays(path: str, kind: str, column: str, progress: Progress) -> Iterator[Any]:
    """The chunks of column `column` of the Parquet or Arrow IPC file `path`,
    a record batch at a time, as pyarrow arrays."""
    import importlib

    try:  # pyarrow is an optional dependency, and has no type information
        pa = importlib.import_module("pyarrow")
        ipc = importlib.import_module("pyarrow.ipc")
        parquet_module = importlib.import_module("pyarrow.parquet")
    except ImportError:
        raise InputError(
            f"cannot read {path}: reading {kind} files needs pyarrow "
            "(pip install 'veltrane-py-bindings[arrow]')"
        ) from None
    try:
        rows: int | None = None
        if kind == "Parquet":
            parquet = parquet_module.ParquetFile(path, buffer_size=1 << 20, pre_buffer=False)
            schema = parquet.schema_arrow
            rows = parquet.metadata.num_rows
            batches = parquet.iter_batches(batch_size=BATCH_ROWS, columns=[column], use_threads=False)
        elif kind == "Arrow IPC":
            reader = ipc.open_file(pa.OSFile(path))
            schema = reader.schema
            batches = (reader.get_batch(i) for i in range(reader.num_record_batches))
        else:
            stream = ipc.open_stream(pa.OSFile(path))
            schema = stream.schema
            batches = iter(stream)
        index = schema.get_field_index(column)
        if index < 0:
            found = "more than one column" if column in schema.names else "no column"
            raise InputError(f"cannot read {path}: it has {found} {column!r} (its columns: {', '.join(schema.names)})")
        type_ = schema.field(index).type
        if not _is_string_type(pa, type_):
            raise InputError(f"cannot read {path}: column {column!r} holds {type_}, not strings")
        progress.start(path, rows)
        for batch in batches:
            yield batch.column(column)
    except (pa.ArrowException, OSError) as error:
        raise InputError(f"cannot read {path}: {error}") from None


def _scan_column(
    scanner: NameScanner, path: str, kind: str, column: str, sink: Sink, progress: Progress
) -> None:
    done = 0
    for array in _string_arrays(path, kind, column, progress):
        rows = len(array)
        at = 0
        while at < rows:
            try:
                at = scanner.column(array.__arrow_c_array__(), at)
            except ValueError:  # Arrow data that does not hold together
                raise InputError(f"cannot read {path}: invalid Arrow data at row {scanner.line}") from None
            sink.drain(scanner, path)
        done += rows
        progress.advance(done, done)


def _scan_file(
    scanner: NameScanner, path: str, column: str | None, as_json: bool, sink: Sink, progress: Progress
) -> None:
    if path == "-":
        _start(scanner, STDIN_LABEL, as_json)
        progress.start(STDIN_LABEL, _known_size(0))
        try:
            _scan_lines(scanner, STDIN_LABEL, 0, sink, progress)
        finally:
            progress.clear()
        return
    try:
        fd = os.open(path, os.O_RDONLY)
    except OSError as error:
        raise InputError(f"cannot read {path}: {error.strerror}") from None
    try:
        _start(scanner, path, as_json)
        kind = _columnar_format(fd)
        if kind is None:
            progress.start(path, _known_size(fd))
            _scan_lines(scanner, path, fd, sink, progress)
        elif column is None:
            raise InputError(f"cannot read {path} as lines: it is {kind} data; name its column of names with --column")
        else:
            _scan_column(scanner, path, kind, column, sink, progress)
    finally:
        progress.clear()
        os.close(fd)


# --- check, canon, fields, cedar ------------------------------------------------


def _stats_table(counts: dict[str, int]) -> str:
    """A line per count that is not zero: the token (or "valid"), the count
    and its share of the names."""
    checked = sum(counts.values())
    shown = {key: count for key, count in counts.items() if count}
    width = max((len(str(count)) for count in shown.values()), default=1)
    lines = []
    for key, count in shown.items():
        share = 100 * count / checked
        percent = f"{share:5.1f}%" if share >= 0.05 else " <0.1%"
        lines.append(f"  {key:<17}  {count:>{width}}  {percent}\n")
    return "".join(lines)


def _summary(counts: dict[str, int], as_json: bool, stats: bool) -> bytes:
    valid = counts["valid"]
    checked = sum(counts.values())
    invalid = checked - valid
    if as_json:
        import json

        record: dict[str, object] = {"checked": checked, "valid": valid, "invalid": invalid}
        if stats:
            record["tokens"] = {key: count for key, count in counts.items() if key != "valid"}
        return (json.dumps(record) + "\n").encode()
    text = f"checked {checked} names: {valid} valid, {invalid} invalid\n"
    return (text + _stats_table(counts) if stats else text).encode()


def run_names(args: argparse.Namespace, out: TextIO, err: TextIO, progress: Progress) -> int:
    """check, canon, fields or cedar over every name of the command line.

    `check` writes each invalid name with its place and token, then the
    counts. The others write one result per valid name; an invalid name is
    reported on standard error (in the output with --json) and the rest go
    on. --stats adds the counts per token (for canon, fields and cedar on
    standard error, or as the last record with --json)."""
    scanner = NameScanner(args.command, json=args.json, keep_order=_may_share_a_target(out, err))
    sink = Sink(out, err, progress)
    if args.names:
        _scan_arguments(scanner, args.names, args.json, sink)
    for path in args.files or ([] if args.names else ["-"]):
        _scan_file(scanner, path, args.column, args.json, sink, progress)
    counts = scanner.counts()
    if args.command == "check" or args.stats:
        summary = _summary(counts, args.json, args.stats)
        if args.command == "check" or args.json:
            sink.out(summary)
        else:
            sink.err(summary)
    return EXIT_VALID if counts["valid"] == sum(counts.values()) else EXIT_INVALID


# --- build, mint ------------------------------------------------------------


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


def _run(argv: Sequence[str] | None, out: TextIO, err: TextIO) -> int:
    try:
        args = build_parser().parse_args(argv)
    except SystemExit as done:  # --help and --version
        return done.code if isinstance(done.code, int) else EXIT_VALID
    if args.command == "build":
        return run_build(args, out, err)
    if args.command == "mint":
        return run_mint(args, out, err)
    if args.column is not None and not [path for path in args.files if path != "-"]:
        raise UsageError(
            f"vrn {args.command}: --column reads Parquet and Arrow IPC files: give them with -f FILE "
            f"(see 'vrn {args.command} --help')"
        )
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
