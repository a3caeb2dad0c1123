"""The inputs of `vrn check`, `canon`, `fields` and `cedar`: names given as
arguments, lines of files and standard input read a block at a time, and
string columns of Parquet and Arrow IPC files read a record batch at a time,
each fed to the scanner as it comes."""

from __future__ import annotations

import os
import stat

from veltrane_vrn.cli.exits import InputError

TYPE_CHECKING = False  # typing is kept out of the start-up time of every run
if TYPE_CHECKING:
    from collections.abc import Iterator, Sequence
    from types import ModuleType
    from typing import Any

    from veltrane_vrn._native import NameScanner
    from veltrane_vrn.cli.progress import Progress
    from veltrane_vrn.cli.writers import Sink

# Large enough that the work per block is amortised, small enough that a
# block stays in the processor's cache while it is scanned.
BLOCK_BYTES = 128 << 10
# A regular file at least this large is scanned by the scanner's own reads,
# on both cores where its report allows (NameScanner.feed_file): below it
# the second thread would not pay for itself.
PARALLEL_BYTES = 4 << 20
# Rows per record batch read from a Parquet file: the reader's buffers grow
# with it, and past a few thousand rows the work per batch is amortised.
BATCH_ROWS = 4 << 10
ARGUMENTS_LABEL = "<args>"
STDIN_LABEL = "<stdin>"


def known_size(fd: int) -> int | None:
    """Bytes left to read from `fd` when it is a regular file, else None."""
    try:
        info = os.fstat(fd)
        if not stat.S_ISREG(info.st_mode) or info.st_size == 0:
            return None
        return max(0, info.st_size - os.lseek(fd, 0, os.SEEK_CUR))
    except OSError:
        return None


def _start(scanner: NameScanner, label: str, as_json: bool) -> None:
    """Starts a source whose records show `label` (as text, a path that is not
    UTF-8 shows its undecodable bytes as escapes)."""
    json_label = b""
    if as_json:
        import json

        json_label = json.dumps(label).encode()
    scanner.start_source(label.encode("utf-8", "backslashreplace"), json_label)


def scan_arguments(scanner: NameScanner, names: Sequence[str], as_json: bool, sink: Sink) -> None:
    """Every name of the command line, one name per argument whatever it holds."""
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


def _scan_file_lines(scanner: NameScanner, label: str, fd: int, sink: Sink, progress: Progress) -> None:
    """Every line of the regular file `fd`, read and scanned by the scanner a
    round at a time, its report written out between rounds."""
    while True:
        try:
            done = scanner.feed_file(fd)
        except OSError as error:
            raise InputError(f"cannot read {label}: {error.strerror}") from None
        sink.drain(scanner, label)
        if done is None:
            break
        progress.advance(done, scanner.line - 1)
    scanner.end_source()
    sink.drain(scanner, label)


def columnar_format(fd: int) -> str | None:
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


def scan_file(
    scanner: NameScanner, path: str, column: str | None, as_json: bool, sink: Sink, progress: Progress
) -> None:
    """Every name of `path` ("-": standard input): its lines, or with `column`
    the column of that name if it is a Parquet or Arrow IPC file."""
    if path == "-":
        _start(scanner, STDIN_LABEL, as_json)
        progress.start(STDIN_LABEL, known_size(0))
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
        kind = columnar_format(fd)
        if kind is None:
            size = known_size(fd)
            progress.start(path, size)
            if size is not None and size >= PARALLEL_BYTES:
                _scan_file_lines(scanner, path, fd, sink, progress)
            else:
                _scan_lines(scanner, path, fd, sink, progress)
        elif column is None:
            raise InputError(f"cannot read {path} as lines: it is {kind} data; name its column of names with --column")
        else:
            _scan_column(scanner, path, kind, column, sink, progress)
    finally:
        progress.clear()
        os.close(fd)
