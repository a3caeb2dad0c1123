"""`vrn build` and `vrn mint` (veltrane_vrn.cli.build_and_mint): one value
from the command line, as a line or a JSON record, and its errors."""

from __future__ import annotations

import re
import time

import pytest
from vrn_testing.samples import CANONICAL, ID, ORG


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
