"""`vrn` on inputs of every shape, through a real process: a FIFO and a pipe
that deliver one byte at a time, and memory that stays flat (peak resident
memory measured) for a single line of tens of megabytes, millions of empty
lines and hundreds of thousands of names. The larger cases (a line of 1 GB,
ten million names) are in scripts/bench-throughput."""

from __future__ import annotations

import os
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest
import scan_model
from vrn_helpers import CANONICAL, VALID, peak_memory_kib

# NUL bytes, a carriage return without a line feed, CRLF, an empty line, a
# name over the limit and a last line without a line feed.
ODD_INPUT = (
    f"{VALID}\r\n{VALID}\x00\n\nx\ry\n{'z' * 700}\r\n\u00e9t\u00e9\n{CANONICAL}\r".encode()
)
MEMORY_LIMIT_KIB = 64 << 10


def expected_report(label: str) -> bytes:
    records, undecodable = scan_model.records(ODD_INPUT, label=label)
    assert undecodable == 0
    summary = b"checked 7 names: 2 valid, 5 invalid\n"
    return b"".join(data for _, data in records) + summary


def dribble(write_end: int, data: bytes) -> None:
    """Writes `data` one byte per write, with pauses, then closes the end."""
    try:
        for i in range(len(data)):
            os.write(write_end, data[i : i + 1])
            if i % 64 == 0:
                time.sleep(0.001)
    finally:
        os.close(write_end)


def test_a_pipe_delivering_one_byte_at_a_time() -> None:
    read_end, write_end = os.pipe()
    child = subprocess.Popen(
        [sys.executable, "-m", "veltrane_vrn", "check"],
        stdin=read_end,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
    )
    os.close(read_end)
    writer = threading.Thread(target=dribble, args=(write_end, ODD_INPUT))
    writer.start()
    out, err = child.communicate(timeout=60)
    writer.join()
    assert (child.returncode, err) == (1, b"")
    assert out == expected_report("<stdin>")


def test_a_fifo_delivering_one_byte_at_a_time(tmp_path: Path) -> None:
    fifo = tmp_path / "names.fifo"
    os.mkfifo(fifo)
    child = subprocess.Popen(
        [sys.executable, "-m", "veltrane_vrn", "check", "-f", str(fifo)],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
    )
    writer = threading.Thread(target=lambda: dribble(os.open(fifo, os.O_WRONLY), ODD_INPUT))
    writer.start()
    out, err = child.communicate(timeout=60)
    writer.join()
    assert (child.returncode, err) == (1, b"")
    assert out == expected_report(str(fifo))


def write_sized(path: Path, pattern: bytes, size: int) -> None:
    """`size` bytes made of `pattern`, written a megabyte at a time."""
    chunk = pattern * ((1 << 20) // len(pattern))
    with open(path, "wb") as out:
        while size > 0:
            out.write(chunk[:size])
            size -= len(chunk)


@pytest.fixture(scope="module")
def baseline_kib(tmp_path_factory: pytest.TempPathFactory) -> int:
    path = tmp_path_factory.mktemp("baseline") / "ten.txt"
    path.write_text(f"{VALID}\n" * 10)
    return peak_memory_kib("check", "-f", str(path))


@pytest.mark.parametrize(
    ("pattern", "size", "last"),
    [
        (b"a", 40 << 20, b""),  # one line of 40 MB, no line feed at all
        (b"vrn:vlt:iam:::x" * 9, 40 << 20, b"\r\n"),  # the same with CRLF at its end
        (b"\n", 3 << 20, b""),  # three million empty lines, each reported
        (f"{VALID}\n{VALID}\x00\n".encode(), 40 << 20, b""),  # 400,000 names, half reported
    ],
    ids=["long-line", "long-line-crlf", "empty-lines", "names"],
)
def test_memory_stays_flat_whatever_the_input(
    tmp_path: Path, baseline_kib: int, pattern: bytes, size: int, last: bytes
) -> None:
    path = tmp_path / "input.txt"
    write_sized(path, pattern, size)
    with open(path, "ab") as out:
        out.write(last)
    peak = peak_memory_kib("check", "-f", str(path))
    assert peak < MEMORY_LIMIT_KIB
    assert peak - baseline_kib < 4 << 10, f"peak memory grew by {peak - baseline_kib} KiB"
