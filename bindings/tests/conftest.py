"""The session's set-up and the fixtures of the module's tests: the module
under test and the test-only runtime module.

What the tests share with python/tests and the benchmarks (sample names, the
reference model) is the package vrn_testing in python/tests/support, put on
sys.path here."""

import importlib
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "python" / "tests" / "support"))

from vrn_testing import session  # noqa: E402

# Every test of the run, those of python/tests too when they run in the same
# session, sees the test-only modules and the profile of a slow machine.
session.prepare()


@pytest.fixture(scope="session")
def m():
    return importlib.import_module("veltrane_py_bindings")


@pytest.fixture(scope="session")
def t():
    return importlib.import_module("veltrane_test_module")
