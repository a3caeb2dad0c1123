"""Fixtures for the tests of the `vrn` command."""

from __future__ import annotations

from collections.abc import Callable

import pytest
from vrn_helpers import Outcome

from veltrane_vrn import cli


@pytest.fixture
def vrn(capsys: pytest.CaptureFixture[str]) -> Callable[..., Outcome]:
    """Runs `vrn` in this process with the given arguments."""

    def run(*argv: str) -> Outcome:
        status = cli.main(list(argv))
        captured = capsys.readouterr()
        return status, captured.out, captured.err

    return run
