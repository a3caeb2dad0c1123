"""Shared fixtures: the module under test and the test-only runtime module."""

import importlib
import os
import sys

import pytest

# The test-only module is built next to the tests by scripts/test, never
# installed; its folder comes in through the environment.
_test_module_dir = os.environ.get("VELTRANE_TEST_MODULE_DIR")
if _test_module_dir:
    sys.path.insert(0, _test_module_dir)

# Under a memory tool (scripts/sanitize, scripts/memcheck set VELTRANE_MEMORY_TOOL)
# or on an emulated processor (scripts/arm64-python sets VELTRANE_EMULATED)
# everything runs many times slower: hypothesis must not judge generation speed
# or deadlines there. The profile holds for every test of the run, those of
# python/tests too when they run in the same session. VELTRANE_HYPOTHESIS_EXAMPLES
# sets the examples of the tests that do not set their own (a short run's).
if os.environ.get("VELTRANE_MEMORY_TOOL") or os.environ.get("VELTRANE_EMULATED"):
    from hypothesis import HealthCheck, settings

    settings.register_profile("slow-machine", deadline=None, suppress_health_check=list(HealthCheck),
                              max_examples=int(os.environ.get("VELTRANE_HYPOTHESIS_EXAMPLES", "100")))
    settings.load_profile("slow-machine")

VALID_ID = "0190c3a2-7b1e-7000-8000-00000000abcd"
VALID_ORG = "6f1d2c3b-4a59-4e6f-8a7b-9c0d1e2f3a4b"
VALID = f"vrn:vlt:iam:us-east-1:{VALID_ORG}:project/{VALID_ID}"


@pytest.fixture(scope="session")
def m():
    return importlib.import_module("veltrane_py_bindings")


@pytest.fixture(scope="session")
def t():
    return importlib.import_module("veltrane_test_module")
