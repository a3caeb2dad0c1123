"""The `vrn` command: its subcommands, input sources, output forms and exit statuses."""

from __future__ import annotations

import json
import os
import re
import signal
import subprocess
import sys
import time
from collections.abc import Callable
from pathlib import Path

import pytest
from vrn_helpers import CANONICAL, ID, ORG, VALID, Outcome, peak_memory_kib, run_vrn

from veltrane_vrn import cli


@pytest.fixture
def vrn(capsys: pytest.CaptureFixture[str]) -> Callable[..., Outcome]:
    """Runs `vrn` in this process with the given arguments."""

    def run(*argv: str) -> Outcome:
        status = cli.main(list(argv))
        captured = capsys.readouterr()
        return status, captured.out, captured.err

    return run


BAD_SERVICE = f"vrn:vlt:Iam:::project/{ID}"
BAD_ORG = f"vrn:vlt:iam::{ORG[:-1]}:project/{ID}"
NO_COLON = "just-a-word"

# --- check ------------------------------------------------------------------


def test_check_reports_each_invalid_name_then_the_counts(vrn) -> None:
    status, out, err = vrn("check", VALID, BAD_SERVICE, VALID, "", BAD_ORG, NO_COLON)
    assert (status, err) == (1, "")
    assert out == (
        f"<args>:2: bad-service: {BAD_SERVICE}\n"
        "<args>:4: empty: \n"
        f"<args>:5: bad-org: {BAD_ORG}\n"
        f"<args>:6: wrong-field-count: {NO_COLON}\n"
        "checked 6 names: 2 valid, 4 invalid\n"
    )


def test_check_of_valid_names_prints_the_counts_alone(vrn) -> None:
    assert vrn("check", VALID, CANONICAL) == (0, "checked 2 names: 2 valid, 0 invalid\n", "")


def test_check_json_lines(vrn) -> None:
    status, out, _ = vrn("check", "--json", VALID, BAD_SERVICE)
    assert status == 1
    assert [json.loads(line) for line in out.splitlines()] == [
        {"source": "<args>", "line": 2, "name": BAD_SERVICE, "error": "bad-service"},
        {"checked": 2, "valid": 1, "invalid": 1},
    ]


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


@pytest.mark.parametrize("block_bytes", [1, 2, 3, 7, 100, cli.BLOCK_BYTES])
def test_check_lines_are_the_same_whatever_the_block_size(
    vrn, tmp_path: Path, monkeypatch: pytest.MonkeyPatch, block_bytes: int
) -> None:
    # Blocks end anywhere: inside a name, between "\r" and "\n", inside a
    # two-byte character.
    monkeypatch.setattr(cli, "BLOCK_BYTES", block_bytes)
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


@pytest.mark.parametrize("block_bytes", [5, cli.BLOCK_BYTES])
def test_input_that_is_not_utf8_stops_with_its_line_number(
    vrn, tmp_path: Path, monkeypatch: pytest.MonkeyPatch, block_bytes: int
) -> None:
    monkeypatch.setattr(cli, "BLOCK_BYTES", block_bytes)
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


OVER_LONG = f"vrn:vlt:iam:::project/{'a' * 600}"


def test_an_over_long_name_shows_its_start_and_its_length(vrn) -> None:
    shown = OVER_LONG[:64]
    status, out, _ = vrn("check", OVER_LONG)
    assert (status, out.splitlines()[0]) == (1, f"<args>:1: too-long: {shown}... (622 bytes)")
    status, out, _ = vrn("check", "--json", OVER_LONG)
    assert json.loads(out.splitlines()[0]) == {
        "source": "<args>", "line": 1, "name": shown, "name_bytes": 622, "truncated": True, "error": "too-long"
    }
    assert vrn("canon", OVER_LONG) == (1, "", f"vrn: <args>:1: too-long: {shown}... (622 bytes)\n")


def test_stats_count_the_names_per_token(vrn) -> None:
    names = [VALID, BAD_SERVICE, BAD_SERVICE, "", VALID, VALID, NO_COLON, OVER_LONG]
    status, out, err = vrn("check", "--stats", *names)
    assert (status, err) == (1, "")
    assert out.splitlines()[-6:] == [
        "checked 8 names: 3 valid, 5 invalid",
        "  valid              3   37.5%",
        "  empty              1   12.5%",
        "  too-long           1   12.5%",
        "  wrong-field-count  1   12.5%",
        "  bad-service        2   25.0%",
    ]
    status, out, _ = vrn("check", "--json", "--stats", *names)
    summary = json.loads(out.splitlines()[-1])
    assert summary == {
        "checked": 8, "valid": 3, "invalid": 5,
        "tokens": {**dict.fromkeys(TOKENS, 0), "empty": 1, "too-long": 1, "wrong-field-count": 1, "bad-service": 2},
    }
    assert list(summary["tokens"]) == TOKENS
    # canon, fields and cedar keep their output for results: the counts go
    # to standard error, or last in the records.
    status, out, err = vrn("canon", "--stats", VALID, BAD_SERVICE)
    assert (status, out) == (1, CANONICAL + "\n")
    assert err.splitlines()[1:] == [
        "checked 2 names: 1 valid, 1 invalid",
        "  valid              1   50.0%",
        "  bad-service        1   50.0%",
    ]
    status, out, _ = vrn("cedar", "--json", "--stats", VALID)
    assert json.loads(out.splitlines()[-1])["checked"] == 1


TOKENS = [
    "empty", "too-long", "wrong-field-count", "bad-scheme", "bad-partition", "bad-service",
    "bad-region", "bad-org", "bad-resource-path", "bad-resource-type", "bad-resource-id",
]


def test_a_tiny_share_is_not_shown_as_zero(vrn, tmp_path: Path) -> None:
    path = tmp_path / "names.txt"
    path.write_text(f"{VALID}\n" * 2999 + "\n")
    _, out, _ = vrn("check", "--stats", "-f", str(path))
    assert out.splitlines()[-1] == "  empty                 1   <0.1%"


# --- canon, fields, cedar ---------------------------------------------------

NO_REGION_NO_ORG = f"vrn:vlt:object-store:::bucket/{ID}"


@pytest.mark.parametrize(
    ("argv", "text", "record"),
    [
        (["canon", VALID], CANONICAL, {"canonical": CANONICAL}),
        (["canon", NO_REGION_NO_ORG], NO_REGION_NO_ORG.lower(), {"canonical": NO_REGION_NO_ORG.lower()}),
        (
            ["fields", VALID],
            f"service=iam region=us-east-1 org={ORG.lower()} resource_type=project resource_id={ID.lower()}",
            {
                "service": "iam",
                "region": "us-east-1",
                "org": ORG.lower(),
                "resource_type": "project",
                "resource_id": ID.lower(),
            },
        ),
        (
            ["fields", NO_REGION_NO_ORG],
            f"service=object-store region= org= resource_type=bucket resource_id={ID.lower()}",
            {"service": "object-store", "region": "", "org": "", "resource_type": "bucket", "resource_id": ID.lower()},
        ),
        (
            ["cedar", VALID],
            f'Vlt::Iam::Project::"{ID.lower()}"',
            {"entity_type": "Vlt::Iam::Project", "entity_id": ID.lower()},
        ),
        (
            ["cedar", NO_REGION_NO_ORG],
            f'Vlt::ObjectStore::Bucket::"{ID.lower()}"',
            {"entity_type": "Vlt::ObjectStore::Bucket", "entity_id": ID.lower()},
        ),
    ],
)
def test_name_commands(vrn, argv: list[str], text: str, record: dict[str, str]) -> None:
    assert vrn(*argv) == (0, text + "\n", "")
    status, out, err = vrn(argv[0], "--json", *argv[1:])
    assert (status, err) == (0, "")
    assert json.loads(out) == {"source": "<args>", "line": 1, "name": argv[1], **record}


@pytest.mark.parametrize("command", ["canon", "fields", "cedar"])
def test_name_commands_report_invalid_names_and_go_on(vrn, command: str) -> None:
    status, out, err = vrn(command, BAD_SERVICE, VALID, NO_COLON)
    assert status == 1
    assert len(out.splitlines()) == 1  # the one valid name
    assert err == f"vrn: <args>:1: bad-service: {BAD_SERVICE}\nvrn: <args>:3: wrong-field-count: {NO_COLON}\n"

    status, out, err = vrn(command, "--json", BAD_SERVICE, VALID)
    assert (status, err) == (1, "")
    records = [json.loads(line) for line in out.splitlines()]
    assert records[0] == {"source": "<args>", "line": 1, "name": BAD_SERVICE, "error": "bad-service"}
    assert records[1]["line"] == 2 and "error" not in records[1]


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


# --- build ------------------------------------------------------------------

BUILD_FIELDS = ["--service", "iam", "--resource-type", "project", "--resource-id", ID]


@pytest.mark.parametrize(
    ("extra", "status", "out", "err"),
    [
        ([], 0, f"vrn:vlt:iam:::project/{ID.lower()}\n", ""),
        (["--region", "us-east-1", "--org", ORG], 0, CANONICAL + "\n", ""),
        (["--service", "Iam"], 1, "", "vrn build: bad-service\n"),
        (["--service", "iam:x"], 1, "", "vrn build: wrong-field-count\n"),
        (["--resource-type", "a/b"], 1, "", "vrn build: bad-resource-path\n"),
        (["--org", ORG[:-1]], 1, "", "vrn build: bad-org\n"),
        (["--resource-id", ""], 1, "", "vrn build: bad-resource-id\n"),
    ],
)
def test_build(vrn, extra: list[str], status: int, out: str, err: str) -> None:
    # A repeated option takes its last value, so `extra` overrides the defaults.
    assert vrn("build", *BUILD_FIELDS, *extra) == (status, out, err)


def test_build_json(vrn) -> None:
    assert vrn("build", "--json", *BUILD_FIELDS) == (0, f'{{"vrn": "vrn:vlt:iam:::project/{ID.lower()}"}}\n', "")
    assert vrn("build", "--json", *BUILD_FIELDS, "--region", "US") == (1, '{"error": "bad-region"}\n', "")


# --- mint -------------------------------------------------------------------


@pytest.mark.parametrize(
    ("unix_ms", "rand_hex", "uuid"),
    [
        ("0", "0123456789abcdef0123", "00000000-0000-7123-8567-89abcdef0123"),
        ("1700000000000", "ffffffffffffffffffff", "018bcfe5-6800-7fff-bfff-ffffffffffff"),
        ("1700000000000.0", "00000000000000000000", "018bcfe5-6800-7000-8000-000000000000"),
        ("281474976710656", "0123456789abcdef0123", "00000000-0000-7123-8567-89abcdef0123"),
    ],
)
def test_mint_from_injected_inputs(vrn, unix_ms: str, rand_hex: str, uuid: str) -> None:
    assert vrn("mint", "--unix-ms", unix_ms, "--rand-hex", rand_hex) == (0, uuid + "\n", "")
    assert vrn("mint", "--json", "--unix-ms", unix_ms, "--rand-hex", rand_hex) == (0, f'{{"uuid": "{uuid}"}}\n', "")


UUID7 = re.compile(r"([0-9a-f]{8})-([0-9a-f]{4})-7[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")


def test_mint_defaults_to_now_and_fresh_entropy(vrn) -> None:
    before = time.time_ns() // 1_000_000
    first, second = vrn("mint"), vrn("mint")
    after = time.time_ns() // 1_000_000
    assert first[0] == second[0] == 0
    assert first[1] != second[1]
    for _, out, _ in (first, second):
        match = UUID7.fullmatch(out.strip())
        assert match, out
        assert before <= int(match[1] + match[2], 16) <= after


@pytest.mark.parametrize(
    ("argv", "err"),
    [
        (["--unix-ms", "1.5"], "vrn mint: bad-unix-ms\n"),
        (["--unix-ms", "-1"], "vrn mint: bad-unix-ms\n"),
        (["--unix-ms", "nan"], "vrn mint: bad-unix-ms\n"),
        (["--unix-ms", "18446744073709551616"], "vrn mint: bad-unix-ms\n"),
        (["--rand-hex", "0123456789ABCDEF0123"], "vrn mint: bad-rand-hex\n"),
        (["--rand-hex", "0123"], "vrn mint: bad-rand-hex\n"),
    ],
)
def test_mint_refuses_bad_inputs(vrn, argv: list[str], err: str) -> None:
    assert vrn("mint", *argv) == (1, "", err)


# --- usage and failures -----------------------------------------------------


@pytest.mark.parametrize(
    "argv",
    [
        [],
        ["frobnicate"],
        ["check", "--bogus"],
        ["build", "--service", "iam"],
        ["mint", "--unix-ms"],
        ["mint", "--unix-ms", "soon"],
        ["canon", "-f"],
        ["check", "--column", "name", "-f", "-"],
    ],
)
def test_usage_errors_are_one_line_and_status_2(vrn, argv: list[str]) -> None:
    status, out, err = vrn(*argv)
    assert (status, out) == (2, "")
    assert err.count("\n") == 1 and err.startswith("vrn") and "--help" in err


def test_help_and_version(vrn) -> None:
    from importlib.metadata import version

    status, out, _ = vrn("--help")
    assert status == 0
    assert all(command in out for command in ("check", "canon", "fields", "cedar", "build", "mint"))
    assert vrn("--version") == (0, f"vrn {version('veltrane-py-bindings')}\n", "")


def test_console_script_is_installed() -> None:
    script = Path(sys.executable).with_name("vrn")
    done = subprocess.run([script, "check", VALID], capture_output=True, check=False, timeout=60)
    assert (done.returncode, done.stdout) == (0, b"checked 1 names: 1 valid, 0 invalid\n")


def test_a_closed_output_pipe_ends_quietly(tmp_path: Path) -> None:
    path = tmp_path / "names.txt"
    path.write_text(f"{BAD_SERVICE}\n" * 200_000)
    child = subprocess.Popen(
        [sys.executable, "-m", "veltrane_vrn", "check", "-f", str(path)],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
    )
    assert child.stdout is not None and child.stderr is not None
    assert child.stdout.readline().startswith(path.as_posix().encode())
    child.stdout.close()
    assert child.wait(timeout=60) == cli.EXIT_BROKEN_PIPE
    assert child.stderr.read() == b""


def test_ctrl_c_ends_with_one_line_and_status_130() -> None:
    child = subprocess.Popen(
        [sys.executable, "-m", "veltrane_vrn", "canon"],
        stdin=subprocess.PIPE,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        env={**os.environ, "PYTHONUNBUFFERED": "1"},
        # A test runner started in the background inherits SIGINT ignored, and
        # so would the child; give it the default action so Python handles it.
        preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL),
    )
    assert child.stdin is not None and child.stdout is not None and child.stderr is not None
    child.stdin.write(f"{VALID}\n".encode())
    child.stdin.flush()
    # Once the first result is out, the command waits for more input.
    assert child.stdout.readline() == f"{CANONICAL}\n".encode()
    child.send_signal(signal.SIGINT)
    assert child.wait(timeout=60) == cli.EXIT_INTERRUPTED
    assert child.stderr.read() == b"vrn: interrupted\n"
    child.stdin.close()


# --- progress and memory ----------------------------------------------------


def test_known_size_only_for_regular_files(tmp_path: Path) -> None:
    path = tmp_path / "names.txt"
    path.write_text(f"{VALID}\n")
    empty = tmp_path / "empty.txt"
    empty.write_text("")
    read_end, write_end = os.pipe()
    try:
        with open(path, "rb") as regular, open(empty, "rb") as nothing, open(os.devnull, "rb") as device:
            assert cli._known_size(regular.fileno()) == len(VALID) + 1
            assert cli._known_size(nothing.fileno()) is None
            assert cli._known_size(device.fileno()) is None
        assert cli._known_size(read_end) is None
    finally:
        os.close(read_end)
        os.close(write_end)


PROGRESS_SCRIPT = """
import sys
from veltrane_vrn import cli
cli.Progress.INTERVAL_S = 0
cli.BLOCK_BYTES = 512
sys.exit(cli.main(sys.argv[1:]))
"""


def _run_with_terminal_stderr(argv: list[str], stdin: bytes = b"") -> tuple[int, bytes, str]:
    """Runs `vrn` (redrawing its progress at every block) with standard error
    on a pseudo-terminal; returns the status, the output and what the
    terminal showed."""
    import pty
    import threading

    leader, follower = pty.openpty()
    shown = bytearray()

    def drain() -> None:  # so that the child never waits on a full terminal
        while True:
            try:
                chunk = os.read(leader, 65536)
            except OSError:  # EIO: the terminal has no writer left
                return
            if not chunk:
                return
            shown.extend(chunk)

    reader = threading.Thread(target=drain)
    reader.start()
    try:
        child = subprocess.Popen(
            [sys.executable, "-c", PROGRESS_SCRIPT, *argv],
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            stderr=follower,
        )
        os.close(follower)
        out, _ = child.communicate(stdin, timeout=60)
        reader.join(timeout=60)
    finally:
        os.close(leader)
    return child.returncode, out, shown.decode()


def test_progress_is_drawn_on_a_terminal_for_a_regular_file(tmp_path: Path) -> None:
    path = tmp_path / "names.txt"
    path.write_text(f"{VALID}\n{BAD_SERVICE}\n" * 100)
    status, out, shown = _run_with_terminal_stderr(["check", "-f", str(path)])
    assert status == 1
    assert out.endswith(b"checked 200 names: 100 valid, 100 invalid\n")
    drawn = re.findall(rf"\rvrn: {re.escape(str(path))}: (\d+)% \(([\d,]+) lines\)", shown)
    assert len(drawn) > 3
    percents = [int(percent) for percent, _ in drawn]
    assert percents == sorted(percents) and percents[-1] == 100
    # The report goes to a pipe, so the line stays up until the end, when it
    # is blanked out once.
    assert re.findall(r"\r +\r", shown) == [shown[shown.rindex("\r", 0, -1) :]]
    assert shown.endswith("\r")


def test_no_progress_for_a_pipe_or_arguments(tmp_path: Path) -> None:
    names = f"{VALID}\n" * 200
    assert _run_with_terminal_stderr(["check"], stdin=names.encode())[2] == ""
    assert _run_with_terminal_stderr(["check", VALID, VALID])[2] == ""


def test_memory_stays_flat_as_the_input_grows(tmp_path: Path) -> None:
    # 400,000 names (about 40 MB, half of them reported) against 20,000: held
    # in memory they would cost well over 50 MB more.
    block = f"{VALID}\n{BAD_SERVICE}\n".encode()
    small, large = tmp_path / "small.txt", tmp_path / "large.txt"
    small.write_bytes(block * 10_000)
    large.write_bytes(block * 200_000)
    growth_kib = peak_memory_kib("check", "-f", str(large)) - peak_memory_kib("check", "-f", str(small))
    assert growth_kib < 10_000, f"peak memory grew by {growth_kib} KiB"
