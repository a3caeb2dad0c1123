"""Every example in README.md is true: the Python sessions run as doctests, the
tables' examples give what they say, and the shell sessions print what they show."""

from __future__ import annotations

import doctest
import os
import re
import subprocess
import sys

import pytest
import veltrane_py_bindings as vrn
from vrn_testing import ROOT
from vrn_testing.samples import CANONICAL_ID

README = (ROOT / "README.md").read_text(encoding="utf-8")


def fenced_blocks(language: str) -> list[str]:
    return re.findall(rf"^```{language}\n(.*?)^```$", README, flags=re.M | re.S)


def section(title: str) -> str:
    start = README.index(title)
    end = README.find("\n#", start + len(title))
    return README[start : end if end != -1 else None]


def table_rows(text: str) -> list[list[str]]:
    rows = [line.strip("|").split(" | ") for line in text.splitlines() if line.startswith("| ")]
    return [[cell.strip() for cell in row] for row in rows[1:]]  # without the header


def test_python_sessions() -> None:
    blocks = fenced_blocks("pycon")
    assert len(blocks) >= 2
    # One session: later blocks use what earlier ones imported.
    session = doctest.DocTestParser().get_doctest("\n".join(blocks), {}, "README.md", "README.md", 0)
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    runner.run(session)
    results = runner.summarize(verbose=False)
    assert results.attempted >= 20
    assert results.failed == 0


def test_error_token_table() -> None:
    rows = table_rows(section("### Error tokens"))
    tokens = [row[0].strip("`") for row in rows]
    assert tokens == [
        "empty", "too-long", "wrong-field-count", "bad-scheme", "bad-partition", "bad-service",
        "bad-region", "bad-org", "bad-resource-path", "bad-resource-type", "bad-resource-id",
    ]
    for token, _, example in rows:
        text = eval(example.strip("`"), {"__builtins__": {}})  # string literals, + and *
        assert vrn.vrn_error_kind(text) == token.strip("`"), example


def test_grammar_table_examples_are_valid_fields() -> None:
    examples = {row[0]: re.findall(r"`([^`]*)`", row[2]) for row in table_rows(section("## What a VRN is"))}
    fields = {"service": "iam", "region": "", "org": "", "resource_type": "project", "resource_id": CANONICAL_ID}
    for field, key in [
        ("service", "service"),
        ("region", "region"),
        ("org", "org"),
        ("resource type", "resource_type"),
        ("resource id", "resource_id"),
    ]:
        assert examples[field]
        for example in examples[field]:
            vrn.vrn_build(**{**fields, key: example})  # raises ValueError if refused
    name = f"{examples['scheme'][0]}:{examples['partition'][0]}:iam:::project/{CANONICAL_ID}"
    assert vrn.vrn_error_kind(name) == ""


def console_commands() -> list[tuple[str, str]]:
    commands = []
    for block in fenced_blocks("console"):
        for chunk in re.split(r"^\$ ", block, flags=re.M)[1:]:
            command, _, output = chunk.partition("\n")
            commands.append((command, output))
    return commands


@pytest.mark.parametrize(("command", "output"), console_commands())
def test_shell_sessions(command: str, output: str) -> None:
    path = os.pathsep.join([os.path.dirname(sys.executable), os.environ.get("PATH", "")])
    done = subprocess.run(
        ["bash", "-c", command],
        cwd=ROOT,
        env={**os.environ, "PATH": path},
        stdout=subprocess.PIPE,
        stderr=subprocess.STDOUT,
        timeout=60,
        check=False,
    )
    assert done.returncode in (0, 1)
    assert done.stdout.decode() == output
