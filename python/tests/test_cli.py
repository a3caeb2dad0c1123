"""The `vrn` command as a whole (veltrane_vrn.cli.main): its entry points
(the console script, `python -m veltrane_vrn`, --help and --version), what it
imports on each path, and how a run ends when the reader goes away or on Ctrl-C."""

from __future__ import annotations

import ast
import os
import signal
import subprocess
import sys
from pathlib import Path

import pytest
from vrn_testing.samples import BAD_SERVICE, CANONICAL, ID, VALID

from veltrane_vrn.cli.exits import EXIT_BROKEN_PIPE, EXIT_INTERRUPTED


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


IMPORTS_SCRIPT = """
import sys
from veltrane_vrn.cli import main
status = main(sys.argv[1:])
print(repr(sorted(sys.modules)), file=sys.stderr)
sys.exit(status)
"""
BUILD = ["build", "--service", "iam", "--resource-type", "project", "--resource-id", ID]


@pytest.mark.parametrize(
    ("argv", "imported", "not_imported"),
    [
        (["check", VALID], {"veltrane_vrn.cli.sources"},
         {"json", "pyarrow", "importlib.metadata", "veltrane_vrn.cli.build_and_mint"}),
        (["canon", "--json", VALID], {"json"}, {"pyarrow", "veltrane_vrn.cli.build_and_mint"}),
        (BUILD, {"veltrane_py_bindings"},
         {"json", "pyarrow", "veltrane_vrn.cli.sources", "veltrane_vrn.cli.name_commands", "veltrane_vrn.cli.progress"}),
        (["mint", "--json"], {"json", "veltrane_py_bindings"}, {"veltrane_vrn.cli.sources", "pyarrow"}),
    ],
    ids=["check", "canon-json", "build", "mint-json"],
)
def test_each_command_imports_only_what_its_path_uses(
    argv: list[str], imported: set[str], not_imported: set[str]
) -> None:
    # Start-up is most of the time of a short run: pyarrow only for --column,
    # json only for JSON, building and minting only for build and mint. (The
    # per-call module is always there: the native module shares its runtime.)
    done = subprocess.run([sys.executable, "-c", IMPORTS_SCRIPT, *argv], capture_output=True, check=False, timeout=60)
    assert done.returncode == 0, done.stderr
    modules = set(ast.literal_eval(done.stderr.decode().splitlines()[-1]))
    assert imported <= modules
    assert not_imported & modules == set()


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
    assert child.wait(timeout=60) == EXIT_BROKEN_PIPE
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
    assert child.wait(timeout=60) == EXIT_INTERRUPTED
    assert child.stderr.read() == b"vrn: interrupted\n"
    child.stdin.close()
