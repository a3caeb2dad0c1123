"""Runners of the `vrn` command in a process of its own."""

from __future__ import annotations

import subprocess
import sys

# (status, standard output, standard error)
Outcome = tuple[int, str, str]


def run_vrn(*argv: str, stdin: bytes = b"", **options: object) -> subprocess.CompletedProcess[bytes]:
    """Runs `python -m veltrane_vrn` as its own process."""
    return subprocess.run(
        [sys.executable, "-m", "veltrane_vrn", *argv],
        input=stdin,
        capture_output=True,
        check=False,
        timeout=60,
        **options,  # type: ignore[arg-type]
    )


PEAK_MEMORY_SCRIPT = """
import sys
from veltrane_vrn.cli import main
main(sys.argv[1:])
peak = [line for line in open('/proc/self/status') if line.startswith('VmHWM:')]
print(peak[0].split()[1], file=sys.stderr)
"""


def peak_memory_kib(*argv: str) -> int:
    """Peak resident memory of `vrn ARGV...` run in a fresh process, its
    output thrown away (VmHWM: ru_maxrss would include what the parent held
    when forking)."""
    done = subprocess.run(
        [sys.executable, "-c", PEAK_MEMORY_SCRIPT, *argv],
        stdout=subprocess.DEVNULL,
        stderr=subprocess.PIPE,
        check=True,
        timeout=120,
    )
    return int(done.stderr.decode().split()[-1])
