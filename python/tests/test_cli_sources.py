"""Where `vrn check` and the other name commands read names
(veltrane_vrn.cli.sources): arguments, files and standard input, in order,
their lines whatever the blocks they are read in; and what cannot be read."""

from __future__ import annotations

import os
import subprocess
import sys
from pathlib import Path

import pytest
from vrn_testing.command import peak_memory_kib, run_vrn
from vrn_testing.samples import BAD_ORG, BAD_SERVICE, NO_COLON, VALID

from veltrane_vrn.cli import sources


def test_check_reads_sources_in_order_each_numbered_from_one(vrn, tmp_path: Path) -> None:
    first, second = tmp_path / "first.txt", tmp_path / "second.txt"
    first.write_text(f"{BAD_SERVICE}\n{VALID}\n")
    second.write_text(f"{VALID}\n{VALID}\n{BAD_ORG}\n")
    status, out, _ = vrn("check", NO_COLON, "-f", str(first), "--file", str(second))
    assert status == 1
    assert out.splitlines() == [
        f"<args>:1: wrong-field-count: {NO_COLON}",
        f"{first}:1: bad-service: {BAD_SERVICE}",
        f"{second}:3: bad-org: {BAD_ORG}",
        "checked 6 names: 3 valid, 3 invalid",
    ]


# Line feeds end lines; a carriage return right before one belongs to the line
# ending, anywhere else to the name. A last line without a line feed counts.
LINE_ENDINGS = (
    f"{VALID}\r\n{BAD_SERVICE}\n\n{VALID}\rx\n\u00e9t\u00e9\n{VALID}".encode()
)


LINE_ENDINGS_REPORT = [
    f"FILE:2: bad-service: {BAD_SERVICE}",
    "FILE:3: empty: ",
    f"FILE:4: bad-resource-id: {VALID}\rx",
    "FILE:5: wrong-field-count: \u00e9t\u00e9",
    "checked 6 names: 2 valid, 4 invalid",
]


@pytest.mark.parametrize("block_bytes", [1, 2, 3, 7, 100, sources.BLOCK_BYTES])
def test_check_lines_are_the_same_whatever_the_block_size(
    vrn, tmp_path: Path, monkeypatch: pytest.MonkeyPatch, block_bytes: int
) -> None:
    # Blocks end anywhere: inside a name, between "\r" and "\n", inside a
    # two-byte character.
    monkeypatch.setattr(sources, "BLOCK_BYTES", block_bytes)
    path = tmp_path / "names.txt"
    path.write_bytes(LINE_ENDINGS)
    status, out, err = vrn("check", "-f", str(path))
    assert (status, err) == (1, "")
    assert out.replace(str(path), "FILE").split("\n") == [*LINE_ENDINGS_REPORT, ""]


@pytest.mark.parametrize("stdin_argv", [[], ["-f", "-"]])
def test_check_reads_standard_input(stdin_argv: list[str]) -> None:
    done = run_vrn("check", *stdin_argv, stdin=f"{VALID}\n{BAD_SERVICE}\n".encode())
    assert done.returncode == 1
    assert done.stdout.decode().splitlines() == [
        f"<stdin>:2: bad-service: {BAD_SERVICE}",
        "checked 2 names: 1 valid, 1 invalid",
    ]
    assert done.stderr == b""


@pytest.mark.parametrize("block_bytes", [5, sources.BLOCK_BYTES])
def test_input_that_is_not_utf8_stops_with_its_line_number(
    vrn, tmp_path: Path, monkeypatch: pytest.MonkeyPatch, block_bytes: int
) -> None:
    monkeypatch.setattr(sources, "BLOCK_BYTES", block_bytes)
    path = tmp_path / "names.txt"
    path.write_bytes(f"{VALID}\n{BAD_SERVICE}\n".encode() + b"vrn:\xff\xfe\n" + f"{VALID}\n".encode())
    status, out, err = vrn("check", "-f", str(path))
    # The names before the undecodable line are checked and reported.
    assert out == f"{path}:2: bad-service: {BAD_SERVICE}\n"
    assert (status, err) == (2, f"vrn: {path}:3: not valid UTF-8\n")


@pytest.mark.parametrize(
    ("make", "reason"),
    [
        (lambda tmp: tmp / "missing.txt", "No such file or directory"),
        (lambda tmp: tmp, "Is a directory"),
    ],
    ids=["missing", "directory"],
)
def test_unreadable_input_is_one_line_and_status_2(vrn, tmp_path: Path, make, reason: str) -> None:
    path = make(tmp_path)
    status, out, err = vrn("check", VALID, "-f", str(path))
    assert (status, out, err) == (2, "", f"vrn: cannot read {path}: {reason}\n")


def test_an_argument_that_is_not_utf8_stops_with_its_place(vrn) -> None:
    # What the interpreter makes of an argument whose bytes are not UTF-8.
    undecodable = b"vrn:\xff".decode("utf-8", "surrogateescape")
    status, out, err = vrn("check", BAD_SERVICE, undecodable, VALID)
    assert out == f"<args>:1: bad-service: {BAD_SERVICE}\n"
    assert (status, err) == (2, "vrn: <args>:2: not valid UTF-8\n")


def test_an_argument_is_one_name_whatever_it_holds(vrn) -> None:
    assert vrn("check", f"{VALID}\n{VALID}") == (1, f"<args>:1: wrong-field-count: {VALID}\n{VALID}\n"
                                                    "checked 1 names: 0 valid, 1 invalid\n", "")


def test_known_size_only_for_regular_files(tmp_path: Path) -> None:
    path = tmp_path / "names.txt"
    path.write_text(f"{VALID}\n")
    empty = tmp_path / "empty.txt"
    empty.write_text("")
    read_end, write_end = os.pipe()
    try:
        with open(path, "rb") as regular, open(empty, "rb") as nothing, open(os.devnull, "rb") as device:
            assert sources.known_size(regular.fileno()) == len(VALID) + 1
            assert sources.known_size(nothing.fileno()) is None
            assert sources.known_size(device.fileno()) is None
        assert sources.known_size(read_end) is None
    finally:
        os.close(read_end)
        os.close(write_end)


def test_memory_stays_flat_as_the_input_grows(tmp_path: Path) -> None:
    # 400,000 names (about 40 MB, half of them reported) against 20,000: held
    # in memory they would cost well over 50 MB more.
    block = f"{VALID}\n{BAD_SERVICE}\n".encode()
    small, large = tmp_path / "small.txt", tmp_path / "large.txt"
    small.write_bytes(block * 10_000)
    large.write_bytes(block * 200_000)
    growth_kib = peak_memory_kib("check", "-f", str(large)) - peak_memory_kib("check", "-f", str(small))
    assert growth_kib < 10_000, f"peak memory grew by {growth_kib} KiB"


def large_sample(size: int) -> bytes:
    """Generated names (one in five invalid, some of them long or multi-byte
    text) with every line ending, to `size` bytes and a little past; the last
    line has no line feed."""
    from vrn_testing import names

    lines, total = [], 0
    for i, name in enumerate(names.generate(size // 60)):
        line = name.encode() + (b"\r\n" if i % 7 == 3 else b"\r" if i % 29 == 5 else b"\n")
        lines.append(line)
        total += len(line)
        if total > size:
            break
    return b"".join(lines) + VALID.encode()


@pytest.fixture(scope="module")
def large_file(tmp_path_factory: pytest.TempPathFactory) -> Path:
    path = tmp_path_factory.mktemp("large") / "names.txt"
    path.write_bytes(large_sample(sources.PARALLEL_BYTES + (1 << 20)))
    return path


@pytest.mark.parametrize(
    "argv",
    [["check"], ["check", "--json", "--stats"], ["canon"], ["fields", "--json"], ["cedar", "--stats"]],
    ids=" ".join,
)
def test_a_large_file_is_reported_as_standard_input_is(large_file: Path, argv: list[str]) -> None:
    # Standard output and standard error apart: the file is scanned on both
    # cores for every command.
    from_file = run_vrn(*argv, "-f", str(large_file))
    from_stdin = run_vrn(*argv, stdin=large_file.read_bytes())
    assert from_file.returncode == from_stdin.returncode == 1
    label, json_label = str(large_file).encode(), f'"{large_file}"'.encode()
    for got, expected in [(from_file.stdout, from_stdin.stdout), (from_file.stderr, from_stdin.stderr)]:
        assert got == expected.replace(b'"<stdin>"', json_label).replace(b"<stdin>", label)


@pytest.mark.parametrize("argv", [["check"], ["canon"], ["cedar", "--json"]])
def test_a_large_file_keeps_the_order_of_the_names_where_the_streams_meet(
    large_file: Path, argv: list[str]
) -> None:
    def merged(*options: str, stdin: bytes = b"") -> subprocess.CompletedProcess[bytes]:
        command = [sys.executable, "-m", "veltrane_vrn", *argv, *options]
        return subprocess.run(command, input=stdin, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)

    from_file = merged("-f", str(large_file))
    from_stdin = merged(stdin=large_file.read_bytes())
    assert from_file.returncode == from_stdin.returncode == 1
    assert from_file.stdout == from_stdin.stdout.replace(b'"<stdin>"', f'"{large_file}"'.encode()).replace(
        b"<stdin>", str(large_file).encode()
    )


@pytest.mark.parametrize("where", [0.1, 0.3, 0.7, 0.99])
def test_a_line_that_is_not_utf8_stops_a_large_file_where_it_stands(tmp_path: Path, where: float) -> None:
    data = large_sample(sources.PARALLEL_BYTES + (1 << 20))
    cut = data.index(b"\n", int(len(data) * where)) + 1
    path = tmp_path / "names.txt"
    path.write_bytes(data[:cut] + b"vrn:\xff\xfe\r\n" + data[cut:])
    from_file = run_vrn("check", "--stats", "-f", str(path))
    from_stdin = run_vrn("check", "--stats", stdin=path.read_bytes())
    line = data[:cut].count(b"\n") + 1
    assert (from_file.returncode, from_file.stderr) == (2, f"vrn: {path}:{line}: not valid UTF-8\n".encode())
    assert from_file.stdout == from_stdin.stdout.replace(b"<stdin>", str(path).encode())


def test_feed_file_reads_from_the_offset_and_leaves_it(tmp_path: Path) -> None:
    from veltrane_vrn._native import NameScanner

    data = large_sample(3 << 20)
    path = tmp_path / "names.txt"
    path.write_bytes(b"skipped\n" + data)
    whole = NameScanner("check")
    whole.start_source(b"F", b'"F"')
    at, expected = 0, b""
    while at < len(data):
        at = whole.feed(data, at)
        expected += b"".join(chunk for _, chunk in whole.take())
    whole.end_source()
    expected += b"".join(chunk for _, chunk in whole.take())

    scanner = NameScanner("check")
    scanner.start_source(b"F", b'"F"')
    fd = os.open(path, os.O_RDONLY)
    try:
        os.lseek(fd, len(b"skipped\n"), os.SEEK_SET)
        got, read = b"", []
        while (done := scanner.feed_file(fd)) is not None:
            read.append(done)
            got += b"".join(chunk for _, chunk in scanner.take())
        assert os.lseek(fd, 0, os.SEEK_CUR) == len(b"skipped\n")
    finally:
        os.close(fd)
    scanner.end_source()
    got += b"".join(chunk for _, chunk in scanner.take())
    assert got == expected
    assert scanner.counts() == whole.counts()
    assert read == sorted(read) and read[-1] == len(data)
