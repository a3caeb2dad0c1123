"""The session's set-up and the shared fixtures of the tests of veltrane_vrn.

What the tests share with bindings/tests and the benchmarks (sample names,
the models, runners of the command) is the package vrn_testing in
support/, put on sys.path here, beside the test-only modules."""

from __future__ import annotations

import sys
from collections.abc import Callable
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent / "support"))

from vrn_testing import session  # noqa: E402
from vrn_testing.command import Outcome  # noqa: E402

session.prepare()


@pytest.fixture
def vrn(capsys: pytest.CaptureFixture[str]) -> Callable[..., Outcome]:
    """Runs `vrn` in this process with the given arguments: (status,
    standard output, standard error)."""
    from veltrane_vrn.cli import main

    def run(*argv: str) -> Outcome:
        status = main(list(argv))
        captured = capsys.readouterr()
        return status, captured.out, captured.err

    return run
