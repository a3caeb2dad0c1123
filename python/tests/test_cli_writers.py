"""How the report of `vrn` reaches its two streams (veltrane_vrn.cli.writers):
whole, in order, as bytes where the stream is UTF-8 and as text elsewhere."""

from __future__ import annotations

import io
import os
import subprocess
import sys
from typing import Any

from vrn_testing.samples import BAD_ORG, BAD_SERVICE, CANONICAL, NO_COLON, VALID

from veltrane_vrn.cli import writers


def test_results_and_errors_keep_the_order_of_the_names_where_they_meet() -> None:
    # Standard output and standard error on one pipe, as with 2>&1.
    names = [VALID, BAD_SERVICE, VALID, NO_COLON, NO_COLON, VALID, VALID, BAD_ORG] * 3
    done = subprocess.run(
        [sys.executable, "-m", "veltrane_vrn", "canon", *names],
        stdout=subprocess.PIPE,
        stderr=subprocess.STDOUT,
        check=False,
        timeout=60,
    )
    expected = [CANONICAL if name == VALID else f"vrn: <args>:{number}:" for number, name in enumerate(names, 1)]
    lines = done.stdout.decode().splitlines()
    assert [line if line == CANONICAL else line[: len(exp)] for line, exp in zip(lines, expected)] == expected
    assert len(lines) == len(names)


class PieceByPiece(io.RawIOBase):
    """An unbuffered binary stream that takes at most three bytes a write."""

    def __init__(self) -> None:
        self.received = bytearray()

    def writable(self) -> bool:
        return True

    def write(self, data: Any) -> int:
        taken = bytes(data[:3])
        self.received += taken
        return len(taken)


class Unbuffered:
    """A text stream over a raw binary one, as standard output under `python -u`."""

    encoding = "utf-8"

    def __init__(self) -> None:
        self.buffer = PieceByPiece()

    def flush(self) -> None:
        pass


def text_over(raw: io.RawIOBase, encoding: str, line_buffering: bool = False) -> io.TextIOWrapper:
    return io.TextIOWrapper(io.BufferedWriter(raw), encoding=encoding, line_buffering=line_buffering)


class Recorder(io.RawIOBase):
    def __init__(self) -> None:
        self.received = bytearray()

    def writable(self) -> bool:
        return True

    def write(self, data: Any) -> int:
        self.received += bytes(data)
        return len(data)


def test_bytes_reach_a_raw_stream_whole_however_little_it_takes() -> None:
    stream = Unbuffered()
    write = writers.byte_writer(stream)  # type: ignore[arg-type]
    write("vrn:vlt:\u00e9t\u00e9\n".encode())
    write(b"second\n")
    assert bytes(stream.buffer.received) == "vrn:vlt:\u00e9t\u00e9\nsecond\n".encode()


def test_a_stream_that_is_not_utf8_gets_text() -> None:
    raw = Recorder()
    stream = text_over(raw, "latin-1")
    writers.byte_writer(stream)("\u00e9t\u00e9\n".encode())
    stream.flush()
    assert bytes(raw.received) == b"\xe9t\xe9\n"


def test_text_written_before_goes_first_and_a_line_buffered_stream_is_flushed_at_once() -> None:
    raw = Recorder()
    stream = text_over(raw, "utf-8", line_buffering=True)
    stream.write("text first, ")
    write = writers.byte_writer(stream)
    write(b"then bytes")  # no line feed: only the flush brings it out
    assert bytes(raw.received) == b"text first, then bytes"


def test_two_streams_share_a_target_when_they_are_one_file_or_unknown() -> None:
    first_read, first_write = os.pipe()
    second_read, second_write = os.pipe()
    with open(first_write, "w") as first, open(second_write, "w") as second, open(os.dup(first_write), "w") as again:
        assert not writers.may_share_a_target(first, second)
        assert writers.may_share_a_target(first, again)
        assert writers.may_share_a_target(first, io.StringIO())  # no descriptor: assume they may
    os.close(first_read)
    os.close(second_read)
