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


FORMS = [
    ["check"],
    ["check", "a"],
    ["check", "a", "b", "--json"],
    ["check", "--json", "--stats", "a", "b"],
    ["check", "--json", "--json", "a"],
    ["check", "-f", "x.txt"],
    ["check", "-fx.txt", "-f", "-", "--file", "y", "--file=z"],
    ["check", "-f-x"],
    ["check", "-fa=b"],
    ["check", "-f=x"],
    ["check", "--file="],
    ["check", "-f", ""],
    ["check", "", "-f", "x"],
    ["check", "a", "-f", "x"],
    ["check", "-f", "x", "a", "b"],
    ["check", "a", "-f", "x", "b"],
    ["check", "a", "--json", "b"],
    ["check", "-f", "-x"],
    ["check", "-f", "-1"],
    ["check", "-f"],
    ["check", "-"],
    ["check", "-1"],
    ["check", "--", "a"],
    ["check", "a", "--"],
    ["check", "--js", "a"],
    ["check", "--stat"],
    ["check", "--column", "name", "-f", "t.parquet"],
    ["check", "-h"],
    ["check", "--bogus"],
    ["check", "-sf", "x"],
    ["canon", "--stats", "-f", "x"],
    ["fields", "--json", "vrn:vlt:iam:::p/q"],
    ["cedar", "a b", "-f", "c d"],
    ["build", "--service", "iam"],
    ["mint"],
    ["--version"],
    ["chec", "a"],
    [],
]


@pytest.mark.parametrize("argv", FORMS, ids=[" ".join(argv) or "(none)" for argv in FORMS])
def test_common_forms_read_as_argparse_reads_them(argv: list[str], capsys: pytest.CaptureFixture[str]) -> None:
    from veltrane_vrn.cli.arguments import parse_arguments
    from veltrane_vrn.cli.common_forms import parse_common

    quick = parse_common(argv)
    try:
        full: object = vars(parse_arguments(argv))
    except (SystemExit, Exception) as error:  # noqa: BLE001 - help, version and usage errors alike
        full = type(error)
    capsys.readouterr()
    if quick is not None:
        assert vars(quick) == full


@pytest.mark.parametrize(
    ("argv", "read"),
    [
        (["check", "-f", "x", "a", "--stats"], True),
        (["check", "-fx", "--file=y", "--file", "z", "--json"], True),
        (["canon"], True),
        (["check", "--column", "c", "-f", "x"], False),
        (["check", "a", "-f", "x", "b"], False),
        (["check", "--help"], False),
    ],
)
def test_the_common_forms_skip_argparse(argv: list[str], read: bool) -> None:
    from veltrane_vrn.cli.common_forms import parse_common

    assert (parse_common(argv) is not None) is read
