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
from vrn_testing.command import peak_memory_kib
from vrn_testing.samples import CANONICAL, VALID

# NUL bytes, a carriage return without a line feed, CRLF, an empty line, a
# name over the limit and a last line without a line feed whose carriage
# return, with no line feed after it, belongs to the name (so it is invalid).
ODD_INPUT = (
    f"{VALID}\r\n{VALID}\x00\n\nx\ry\n{'z' * 700}\r\n\u00e9t\u00e9\n{CANONICAL}\r".encode()
)
MEMORY_LIMIT_KIB = 64 << 10
# scripts/arm64-python runs the suite in an emulated arm64 interpreter.
EMULATED = bool(os.environ.get("VELTRANE_EMULATED"))


def expected_report(label: str) -> bytes:
    records, undecodable = scan_model.records(ODD_INPUT, label=label)
    assert undecodable == 0
    summary = b"checked 7 names: 1 valid, 6 invalid\n"
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
    peaks = []
    for part in (size // 8, size):
        write_sized(path, pattern, part)
        with open(path, "ab") as out:
            out.write(last)
        peaks.append(peak_memory_kib("check", "-f", str(path)))
    small, peak = peaks
    assert peak < MEMORY_LIMIT_KIB
    # Flat: eight times the input, the same path through the scanner, no more
    # memory than the run-to-run spread (up to about 1 MiB on a busy machine:
    # how much report a lane holds when it is written out depends on timing),
    # far below what keeping even a tenth of the extra 35 MB would take.
    assert peak - small < 4 << 10, f"peak memory grew by {peak - small} KiB from 1/8 of the input to all of it"
    # And what the path holds whatever the input (pieces read, pending report,
    # the second lane's thread) is bounded. Under an emulator its own memory
    # is counted too, and its cache of translated code grows with the code a
    # run executes: twice the allowance there.
    allowance = (8 if EMULATED else 4) << 10
    assert peak - baseline_kib < allowance, f"peak memory is {peak - baseline_kib} KiB over ten names'"


@pytest.mark.parametrize(
    ("argv", "stdin", "report"),
    [
        (["check"], f"{VALID}\r".encode(), f"<stdin>:1: bad-resource-id: {VALID}\r\n"),
        (["check"], f"{VALID}\n{VALID}\r".encode(), f"<stdin>:2: bad-resource-id: {VALID}\r\n"),
        (["check"], f"{VALID}\r\r\n".encode(), f"<stdin>:1: bad-resource-id: {VALID}\r\n"),
        (["check", "-f", "FILE"], f"{VALID}\r".encode(), f"FILE:1: bad-resource-id: {VALID}\r\n"),
        (["check", f"{VALID}\r"], b"", f"<args>:1: bad-resource-id: {VALID}\r\n"),
        (["check"], f"{VALID}\r\n".encode(), ""),
    ],
    ids=["stdin", "stdin-second-line", "cr-cr-lf", "file", "argument", "crlf"],
)
def test_a_carriage_return_with_no_line_feed_after_it_belongs_to_the_name(
    tmp_path: Path, argv: list[str], stdin: bytes, report: str
) -> None:
    # Also as the last bytes of the input: there, as anywhere else, only
    # "\r\n" ends a line.
    path = tmp_path / "names.txt"
    path.write_bytes(stdin)
    argv = [str(path) if arg == "FILE" else arg for arg in argv]
    done = subprocess.run(
        [sys.executable, "-m", "veltrane_vrn", *argv], input=stdin, capture_output=True, timeout=60, check=False
    )
    names = stdin.count(b"\n") + (not stdin.endswith(b"\n")) if stdin else 1
    invalid = 1 if report else 0
    summary = f"checked {names} names: {names - invalid} valid, {invalid} invalid\n"
    assert (done.returncode, done.stderr) == (invalid, b"")
    assert done.stdout.decode() == report.replace("FILE", str(path)) + summary


UTF8_CASES = [
    b"\xc0\xaf", b"\xc1\xbf", b"\xe0\x80\xaf", b"\xe0\x9f\xbf", b"\xf0\x80\x80\xaf", b"\xf0\x8f\xbf\xbf",
    b"\xed\xa0\x80", b"\xed\xbf\xbf", b"\xed\xa0\xbd\xed\xb8\x80", b"\xed\x9f\xbf", b"\xee\x80\x80",
    b"\xc0", b"\xc1", b"\xf5", b"\xf8", b"\xfe", b"\xff", b"\xf5\x80\x80\x80",
    b"\xc3", b"\xe2\x82", b"\xf0\x9f\x98", b"\xe2\x82a",
    b"\xf4\x90\x80\x80", b"\xf7\xbf\xbf\xbf", b"\xf4\x8f\xbf\xbf", b"\xf0\x90\x80\x80", b"\xef\xbf\xbe",
]


@pytest.mark.parametrize("case", UTF8_CASES, ids=lambda case: case.hex())
@pytest.mark.parametrize("at_the_end", [False, True], ids=["inside", "at-the-end"])
def test_vrn_refuses_a_line_exactly_when_pythons_codec_does(
    tmp_path: Path, capsys: pytest.CaptureFixture[str], case: bytes, at_the_end: bool
) -> None:
    from veltrane_vrn import cli

    path = tmp_path / "names.txt"
    path.write_bytes(b"ok\n" + case + (b"" if at_the_end else b"\nlast\n"))
    status = cli.main(["check", "-f", str(path)])
    out, err = capsys.readouterr()
    assert out.startswith(f"{path}:1: wrong-field-count: ok\n")
    try:
        case.decode("utf-8")
    except UnicodeDecodeError:
        assert (status, err) == (2, f"vrn: {path}:2: not valid UTF-8\n")
    else:
        assert (status, err) == (1, "")
