"""The native scanner behind `vrn`: for any bytes, cut into blocks anywhere,
it writes what the plain model of scan_model.py writes (lines, UTF-8,
records, JSON escaping, the order of the two streams), it never holds more
than a bounded report, and it scans without the interpreter lock."""

from __future__ import annotations

import json
import os
import threading
import time

import pytest
import scan_model
from hypothesis import HealthCheck, given, settings, strategies as st
from vrn_testing.samples import CANONICAL, ID, VALID

from veltrane_vrn._native import NameScanner

COMMANDS = ["check", "canon", "fields", "cedar"]

# Under a memory tool or on an emulated processor everything runs many times
# slower: fewer examples, and no judging of hypothesis's own speed.
SLOW_MACHINE = bool(os.environ.get("VELTRANE_MEMORY_TOOL") or os.environ.get("VELTRANE_EMULATED"))
HEALTH = list(HealthCheck) if SLOW_MACHINE else []


def examples(count: int) -> int:
    return max(10, count // 10) if SLOW_MACHINE else count

# Pieces of input: names of every outcome, text that JSON must escape, bytes
# that are not UTF-8 (a lone continuation byte, a cut character, an encoded
# surrogate, a code point past U+10FFFF, an overlong form), and names around
# the length limit, one with a character across the shown prefix's end.
PIECES = [
    VALID.encode(),
    CANONICAL.encode(),
    f"vrn:vlt:s3:::bucket/{ID}".encode(),
    f"vrn:vlt:Iam:::project/{ID}".encode(),
    f"vrn:vlt:iam:::project/{ID}\x00".encode(),
    b"just-a-word",
    b"",
    b"\r",
    b"x\ry",
    b'"quoted" \\ back\tslash\x7f\x1f',
    "\u00e9t\u00e9 \u2028 \U0001f600 \U0010ffff".encode(),
    b"\xff",
    b"\xc3",
    b"\xa9",
    b"\xed\xa0\x80",
    b"\xf4\x90\x80\x80",
    b"\xe0\x80\xaf",
    b"vrn:vlt:iam:::" + b"a" * 498,  # 512 bytes
    b"vrn:vlt:iam:::" + b"a" * 499,  # 513
    b"a" * 63 + "\u00e9".encode() * 300,  # a character across byte 64
    "\u00e9".encode() * 300,
]
ENDINGS = [b"\n", b"\n", b"\r\n", b"", b"\r"]

inputs = st.lists(st.tuples(st.sampled_from(PIECES), st.sampled_from(ENDINGS)), max_size=12).map(
    lambda pairs: b"".join(piece + ending for piece, ending in pairs)
)


def scan(data: bytes, cuts: list[int], command: str, as_json: bool) -> tuple[list[scan_model.Record], int]:
    """Feeds `data` cut at `cuts`; the output as the streams receive it."""
    scanner = NameScanner(command, json=as_json, keep_order=True)
    scanner.start_source(b"F", b'"F"')
    written: list[scan_model.Record] = []
    bounds = [0, *sorted(cuts), len(data)]
    for start, end in zip(bounds, bounds[1:]):
        block = data[start:end]
        at = 0
        while at < len(block):
            at = scanner.feed(block, at)
            written += scanner.take()
            if scanner.undecodable_line:
                return scan_model.joined(written), scanner.undecodable_line
    scanner.end_source()
    written += scanner.take()
    return scan_model.joined(written), scanner.undecodable_line


@pytest.mark.parametrize("as_json", [False, True], ids=["text", "json"])
@pytest.mark.parametrize("command", COMMANDS)
@settings(max_examples=examples(60), deadline=None, suppress_health_check=HEALTH)
@given(data=st.data())
def test_any_input_cut_anywhere_gives_the_plain_report(command: str, as_json: bool, data: st.DataObject) -> None:
    text = data.draw(inputs)
    cuts = data.draw(st.lists(st.integers(0, len(text)), max_size=6))
    expected, undecodable = scan_model.records(text, command, as_json)
    assert scan(text, cuts, command, as_json) == (scan_model.joined(expected), undecodable)


@settings(max_examples=examples(200), deadline=None, suppress_health_check=HEALTH)
@given(text=st.binary(max_size=40), cut=st.integers(0, 40))
def test_a_line_is_refused_exactly_when_python_cannot_decode_it(text: bytes, cut: int) -> None:
    data = b"ok\n" + text + b"\nlast\n"
    expected, undecodable = scan_model.records(data)
    assert scan(data, [min(cut, len(data))], "check", False) == (scan_model.joined(expected), undecodable)


@settings(max_examples=examples(200), deadline=None, suppress_health_check=HEALTH)
@given(name=st.text(max_size=60))
def test_json_records_are_byte_for_byte_those_of_json_dumps(name: str) -> None:
    # Any text without surrogates: every str that UTF-8 input can hold.
    scanner = NameScanner("canon", json=True)
    scanner.start_source(b"F", json.dumps("F").encode())
    scanner.name(name.encode())
    assert list(scanner.take()) == [scan_model.record("canon", "F", 1, name.encode(), True)]


def test_over_long_names_show_a_prefix_and_their_length() -> None:
    long_name = b"vrn:vlt:iam:::" + b"a" * (5 << 20)
    for as_json in (False, True):
        scanner = NameScanner("check", json=as_json)
        scanner.start_source(b"F", b'"F"')
        assert scanner.feed(long_name + b"\r\n" + long_name) == len(long_name) * 2 + 2
        scanner.end_source()
        (fd, out), = scanner.take()
        shown = "vrn:vlt:iam:::" + "a" * 50
        if as_json:
            assert [json.loads(line) for line in out.splitlines()] == [
                {"source": "F", "line": n, "name": shown, "name_bytes": len(long_name), "truncated": True,
                 "error": "too-long"}
                for n in (1, 2)
            ]
        else:
            assert out.decode().splitlines() == [f"F:{n}: too-long: {shown}... ({len(long_name)} bytes)" for n in (1, 2)]


def test_pending_output_stays_bounded_whatever_the_input() -> None:
    # 200,000 empty lines under a long label: 800 MB of report if it were
    # all made at once; the scanner stops every 256 KiB for it to be written.
    label = b"x" * 4000
    scanner = NameScanner("check")
    scanner.start_source(label, b'""')
    block = b"\n" * 200_000
    at, calls, lines = 0, 0, 0
    while at < len(block):
        at = scanner.feed(block, at)
        (fd, out), = scanner.take()
        assert len(out) < (256 << 10) + len(label) + 64
        lines += out.count(b"\n")
        calls += 1
    assert lines == 200_000 and calls > 3000
    assert scanner.counts()["empty"] == 200_000


def test_records_of_the_two_streams_keep_the_order_of_the_names() -> None:
    names = [VALID, "bad", "bad", VALID, "bad", VALID, VALID]
    block = "".join(name + "\n" for name in names).encode()
    scanner = NameScanner("canon", keep_order=True)
    scanner.start_source(b"F", b'"F"')
    at, written = 0, []
    while at < len(block):
        at = scanner.feed(block, at)
        written += scanner.take()
    runs = [(fd, out.count(b"\n")) for fd, out in scan_model.joined(written)]
    assert runs == [(1, 1), (2, 2), (1, 1), (2, 1), (1, 2)]

    apart = NameScanner("canon", keep_order=False)  # two files: no need to stop
    apart.start_source(b"F", b'"F"')
    assert apart.feed(block) == len(block)
    assert [(fd, out.count(b"\n")) for fd, out in apart.take()] == [(1, 4), (2, 3)]


def test_counts_follow_the_order_of_the_checks() -> None:
    scanner = NameScanner("check")
    scanner.start_source(b"F", b'"F"')
    scanner.feed(f"{VALID}\n\n{'a' * 600}\nx\n{VALID}\n".encode())
    assert list(scanner.counts().items())[:4] == [("valid", 2), ("empty", 1), ("too-long", 1), ("wrong-field-count", 1)]
    assert list(scanner.counts())[4:] == [
        "bad-scheme", "bad-partition", "bad-service", "bad-region", "bad-org",
        "bad-resource-path", "bad-resource-type", "bad-resource-id",
    ]


@pytest.mark.parametrize(
    ("call", "error"),
    [
        (lambda: NameScanner("lint"), ValueError),
        (lambda: NameScanner("check").feed("text"), TypeError),
        (lambda: NameScanner("check").feed(b"x", -1), ValueError),
        (lambda: NameScanner("check").column([1, 2]), TypeError),
    ],
    ids=["command", "str-block", "negative-at", "not-arrow"],
)
def test_misuse_is_an_error(call, error: type[Exception]) -> None:
    with pytest.raises(error):
        call()


def test_a_scan_runs_without_the_interpreter_lock() -> None:
    # While one thread scans big blocks, this one runs Python, and finds the
    # scanner busy. The worker goes on feeding until that is seen (or a bound
    # is reached): a scheduler that runs one thread at a time (valgrind's) may
    # let a whole block pass before this thread gets a turn.
    block = f"{VALID}\n".encode() * 200_000
    scanner = NameScanner("check")
    scanner.start_source(b"F", b'"F"')
    scanning = threading.Event()
    seen_busy = threading.Event()
    fed: list[int] = []

    def work() -> None:
        scanning.set()
        while not seen_busy.is_set() and len(fed) < 200:
            fed.append(scanner.feed(block))

    worker = threading.Thread(target=work)
    worker.start()
    scanning.wait()
    refused = turns = 0
    while worker.is_alive():
        turns += 1
        try:
            scanner.line  # noqa: B018
        except RuntimeError:
            refused += 1
            seen_busy.set()
        time.sleep(0)
    worker.join()
    assert fed == [len(block)] * len(fed)
    assert refused > 0, f"{turns} turns over {len(fed)} blocks, none while a scan ran"
    assert scanner.counts()["valid"] == 200_000 * len(fed)


@pytest.mark.parametrize("command", COMMANDS)
def test_a_carriage_return_at_the_end_of_the_input_belongs_to_the_name(command: str) -> None:
    # Anywhere but right before a line feed, "\r" is part of the name: at the
    # very end of the input too, wherever the last block begins.
    data = f"{VALID}\n{VALID}\r".encode()
    expected = scan_model.records(data, command)
    for cut in range(len(data) + 1):
        assert scan(data, [cut], command, False) == (scan_model.joined(expected[0]), 0)
    for ending in (b"\r", b"\r\r\n"):
        scanner = NameScanner(command)
        scanner.start_source(b"F", b'"F"')
        scanner.feed(VALID.encode() + ending)
        scanner.end_source()
        assert scanner.counts()["bad-resource-id"] == 1
        given = NameScanner(command)  # the same bytes as one name: an argument
        given.start_source(b"F", b'"F"')
        given.name(VALID.encode() + b"\r")
        assert scanner.take() == given.take()
        assert scanner.counts() == given.counts()
    crlf = NameScanner(command)
    crlf.start_source(b"F", b'"F"')
    crlf.feed(VALID.encode() + b"\r\n")
    crlf.end_source()
    assert crlf.counts()["valid"] == 1


# Where decoders differ: overlong forms, encoded surrogates, bytes that never
# occur, sequences cut short, code points past U+10FFFF, and the valid
# characters at each boundary (noncharacters and the byte order mark too).
CODEC_CASES = [
    b"\xc0\x80", b"\xc1\xbf", b"\xc0\xaf", b"\xe0\x80\x80", b"\xe0\x80\xaf", b"\xe0\x9f\xbf",
    b"\xf0\x80\x80\x80", b"\xf0\x80\x80\xaf", b"\xf0\x8f\xbf\xbf", b"\xf8\x80\x80\x80\xaf",
    b"\xfc\x80\x80\x80\x80\xaf",
    b"\xed\xa0\x80", b"\xed\xad\xbf", b"\xed\xae\x80", b"\xed\xaf\xbf", b"\xed\xb0\x80",
    b"\xed\xbe\x80", b"\xed\xbf\xbf", b"\xed\xa0\xbd\xed\xb8\x80", b"\xed\x9f\xbf", b"\xee\x80\x80",
    b"\xc0", b"\xc1", b"\xf5", b"\xf6", b"\xf7", b"\xf8", b"\xf9", b"\xfa", b"\xfb", b"\xfc", b"\xfd",
    b"\xfe", b"\xff", b"\xf5\x80\x80\x80", b"\xfe\xff", b"\xff\xfe",
    b"\xc3", b"\xe2", b"\xe2\x82", b"\xf0", b"\xf0\x9f", b"\xf0\x9f\x98", b"\xc3a", b"\xe2\x82a",
    b"\xf0\x9f\x98a", b"a\xc3", b"\xc3\xc3\xa9", b"\x80", b"\xbf", b"\xc3\xa9\xa9",
    b"\xf4\x90\x80\x80", b"\xf4\xbf\xbf\xbf", b"\xf7\xbf\xbf\xbf",
    b"\x00", b"\x7f", b"\xc2\x80", b"\xdf\xbf", b"\xe0\xa0\x80", b"\xef\xbf\xbf", b"\xf0\x90\x80\x80",
    b"\xf4\x8f\xbf\xbf", b"\xef\xbf\xbe", b"\xef\xb7\x90", b"\xf4\x8f\xbf\xbe", b"\xef\xbb\xbf",
    "\u00e9t\u00e9 \U0001f600".encode(),
]


def decodes(data: bytes) -> bool:
    try:
        data.decode("utf-8")
    except UnicodeDecodeError:
        return False
    return True


@pytest.mark.parametrize("case", CODEC_CASES, ids=lambda case: case.hex())
def test_the_utf8_verdict_is_that_of_pythons_codec(case: bytes) -> None:
    # The case inside the input, at its very end, and with a block ending at
    # each of its bytes; a line is refused exactly when Python's codec fails.
    refused = 0 if decodes(case) else 2
    for data in (b"ok\n" + case + b"\nlast\n", b"ok\n" + case, b"ok\r\n" + case + b"\r\n"):
        for cut in range(3, 3 + len(case) + 2):
            report, undecodable = scan(data, [min(cut, len(data))], "check", False)
            assert undecodable == refused, (data, cut)
            assert report[0][1].startswith(b"F:1: wrong-field-count: ok\n")
