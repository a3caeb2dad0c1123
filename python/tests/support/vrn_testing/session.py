"""What every pytest session of the two test folders sets up, and what the
tests need to know about the machine they run on."""

from __future__ import annotations

import os
import sys

# Under a memory tool (scripts/sanitize, scripts/memcheck set VELTRANE_MEMORY_TOOL)
# or on an emulated processor (scripts/arm64-python sets VELTRANE_EMULATED)
# everything runs many times slower.
SLOW_MACHINE = bool(os.environ.get("VELTRANE_MEMORY_TOOL") or os.environ.get("VELTRANE_EMULATED"))


def folder_of_test_modules() -> str | None:
    """The folder of the test-only modules (veltrane_test_module,
    veltrane_native_testing): built next to the tests by scripts/test, never
    installed, so its folder comes in through the environment."""
    return os.environ.get("VELTRANE_TEST_MODULE_DIR") or None


def module_path() -> list[str]:
    """sys.path for a child interpreter that imports the modules under test
    and the test-only ones."""
    return [path for path in [folder_of_test_modules(), *sys.path] if path]


def prepare() -> None:
    """Puts the test-only modules on sys.path and, on a slow machine, loads a
    hypothesis profile that does not judge generation speed or deadlines.
    The profile holds for every test of the session that does not set its own
    settings; VELTRANE_HYPOTHESIS_EXAMPLES sets their examples (a short
    run's). Called by each conftest.py; the second call changes nothing."""
    folder = folder_of_test_modules()
    if folder and sys.path[:1] != [folder]:
        sys.path.insert(0, folder)
    if SLOW_MACHINE:
        from hypothesis import HealthCheck, settings

        settings.register_profile("slow-machine", deadline=None, suppress_health_check=list(HealthCheck),
                                  max_examples=int(os.environ.get("VELTRANE_HYPOTHESIS_EXAMPLES", "100")))
        settings.load_profile("slow-machine")
