"""What the column functions must give: the per-call function's answer for each row."""

from __future__ import annotations

import importlib
import os
from collections.abc import Callable, Sequence
from typing import Any

import veltrane_py_bindings as per_call


def need(module: str) -> Any:
    """The engine `module`, imported. Where it is not installed the test is
    skipped, unless VELTRANE_REQUIRE_ENGINES is set (scripts/test sets it where
    every engine has a wheel): then a missing engine fails the run instead of
    passing it untested."""
    if os.environ.get("VELTRANE_REQUIRE_ENGINES"):
        return importlib.import_module(module)
    import pytest  # only here: the soak check imports this module without pytest

    return pytest.importorskip(module)


ORG = "6F1D2C3B-4A59-4E6F-8A7B-9C0D1E2F3A4B"
ID = "0190C3A2-7B1E-7000-8000-00000000ABCD"
VALID = f"vrn:vlt:iam:us-east-1:{ORG}:project/{ID}"
HEX = "0123456789abcdef0123"

ONE_TEXT = [
    "vrn_canonicalize", "vrn_service", "vrn_region", "vrn_org", "vrn_resource_type",
    "vrn_resource_id", "vrn_cedar_entity_type", "vrn_cedar_entity_id",
]
FIELDS = ["service", "region", "org", "resource_type", "resource_id"]

# One name per token, and valid ones with and without region and org.
SAMPLES: list[str | None] = [
    VALID,
    f"vrn:vlt:k8s-cluster:::node-pool/{ID}",
    f"vrn:vlt:s3:eu-west-2::bucket/{ID.lower()}",
    "",
    "x" * 513,
    f"VRN:vlt:iam:::p/{ID}",
    f"vrn:aws:iam:::p/{ID}",
    "vrn:vlt:iam:p",
    f"vrn:vlt:Iam:::p/{ID}",
    f"vrn:vlt:iam:us_east::p/{ID}",
    f"vrn:vlt:iam::not-a-uuid:p/{ID}",
    "vrn:vlt:iam:::p",
    f"vrn:vlt:iam:::P/{ID}",
    "vrn:vlt:iam:::p/not-a-uuid",
    None,
    "vrn:vlt:iam:::p/é",
]


def outcome(function: Callable[..., str], *args: Any) -> tuple[str, Any]:
    """("ok", result) or ("error", token) of one per-call call."""
    try:
        return ("ok", function(*args))
    except ValueError as error:
        return ("error", error.args[0])


def per_row(name: str, rows: Sequence[str | None]) -> list[tuple[str, Any] | None]:
    """The per-call outcome of `name` for each row; None for a null row."""
    function = getattr(per_call, name)
    return [None if row is None else outcome(function, row) for row in rows]


def fields_outcome(row: str) -> tuple[str, Any]:
    token = per_call.vrn_error_kind(row)
    if token:
        return ("error", token)
    return ("ok", {field: getattr(per_call, f"vrn_{field}")(row) for field in FIELDS})


def expected_column(outcomes: Sequence[tuple[str, Any] | None], errors: str) -> list[Any] | tuple[int, str]:
    """What the column function gives for these per-row outcomes: its rows with
    errors="null", or, with errors="raise", (first failing row, token) if any row fails."""
    if errors == "raise":
        for index, got in enumerate(outcomes):
            if got is not None and got[0] == "error":
                return (index, got[1])
    return [None if got is None or got[0] == "error" else got[1] for got in outcomes]


def column_outcome(call: Callable[[], Any]) -> list[Any] | tuple[int, str]:
    """The rows of a column call, or (row, token) of its ValueError."""
    try:
        return call().to_pylist()  # type: ignore[no-any-return]
    except ValueError as error:
        (note,) = error.__notes__
        assert note.startswith("while processing row "), note
        return (int(note.rsplit(" ", 1)[1]), error.args[0])
