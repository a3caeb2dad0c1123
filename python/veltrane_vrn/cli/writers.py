"""Where the report of `vrn` goes: the scanner's bytes written to standard
output and standard error, in the order of the names where the two meet."""

from __future__ import annotations

import codecs
import io
import os

from veltrane_vrn.cli.exits import InputError

TYPE_CHECKING = False  # typing is kept out of the start-up time of every run
if TYPE_CHECKING:
    from collections.abc import Callable
    from typing import TextIO

    from veltrane_vrn._native import NameScanner
    from veltrane_vrn.cli.progress import Progress


def may_share_a_target(out: TextIO, err: TextIO) -> bool:
    """Whether standard output and standard error may reach the same place (a
    terminal, `2>&1`), so that their lines must keep the order of the names."""
    try:
        first, second = os.fstat(out.fileno()), os.fstat(err.fileno())
    except (AttributeError, OSError, ValueError):
        return True
    return (first.st_dev, first.st_ino) == (second.st_dev, second.st_ino)


def byte_writer(stream: TextIO) -> Callable[[bytes], object]:
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
        self._write_out = byte_writer(out)
        self._write_err = byte_writer(err)

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
