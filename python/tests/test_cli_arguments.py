"""The command line of `vrn` (veltrane_vrn.cli.arguments): what cannot run
is one line naming --help, and exit status 2."""

from __future__ import annotations

import pytest


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
