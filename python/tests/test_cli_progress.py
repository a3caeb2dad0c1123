"""The progress line of `vrn` on a terminal (veltrane_vrn.cli.progress):
drawn for a regular file, never for a pipe or for arguments."""

from __future__ import annotations

import os
import re
import subprocess
import sys
from pathlib import Path

from vrn_testing.samples import BAD_SERVICE, VALID


PROGRESS_SCRIPT = """
import sys
from veltrane_vrn.cli import main, progress, sources
progress.Progress.INTERVAL_S = 0  # a redraw at every block
sources.BLOCK_BYTES = 512
sys.exit(main(sys.argv[1:]))
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
