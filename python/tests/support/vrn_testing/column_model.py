"""What the column functions must give: the per-call function's answer for each row."""

from __future__ import annotations

from collections.abc import Callable, Sequence
from typing import Any

import veltrane_py_bindings as per_call

from vrn_testing.samples import FIELDS

# The column functions that take one column of names and give one of text.
ONE_TEXT = [
    "vrn_canonicalize", "vrn_service", "vrn_region", "vrn_org", "vrn_resource_type",
    "vrn_resource_id", "vrn_cedar_entity_type", "vrn_cedar_entity_id",
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
