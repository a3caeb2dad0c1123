"""The counts that close a run of `vrn` (veltrane_vrn.cli.summary): the
summary, and with --stats the count and share of each token."""

from __future__ import annotations

import json
from pathlib import Path

from vrn_testing.samples import BAD_SERVICE, CANONICAL, NO_COLON, OVER_LONG, TOKENS, VALID


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


def test_a_tiny_share_is_not_shown_as_zero(vrn, tmp_path: Path) -> None:
    path = tmp_path / "names.txt"
    path.write_text(f"{VALID}\n" * 2999 + "\n")
    _, out, _ = vrn("check", "--stats", "-f", str(path))
    assert out.splitlines()[-1] == "  empty                 1   <0.1%"
