"""What the engine modules (`veltrane_vrn.duckdb`, `.polars`, `.pandas`,
`.dask`, `.spark`) share: which column functions there are and what they take,
and the words of an error about one row. Every answer still comes from
`veltrane_vrn.columns`; nothing here looks at a name."""

from __future__ import annotations

import re
from collections.abc import Callable, Sequence
from typing import Literal, TypeAlias

from veltrane_vrn import columns

Errors: TypeAlias = Literal["raise", "null"]

# The five fields of a name, in order: the members of a `vrn_fields` struct.
FIELDS = ("service", "region", "org", "resource_type", "resource_id")

# The functions of one name that can fail, by the suffix after "vrn_"; each
# gives text and takes errors="raise" or "null". vrn_error_kind never fails,
# vrn_fields gives a struct, vrn_build and mint_uuid7 take several columns.
TEXT_QUERIES = (
    "canonicalize",
    "service",
    "region",
    "org",
    "resource_type",
    "resource_id",
    "cedar_entity_type",
    "cedar_entity_id",
)

# The parameters of the functions of several columns, in order.
BUILD_PARAMETERS = ("service", "region", "org", "resource_type", "resource_id")
MINT_PARAMETERS = ("unix_ms", "rand_hex")



def sql_functions() -> list[tuple[str, str, str | None]]:
    """The SQL functions of the engines that have SQL, in order: (SQL name,
    column function, errors). Each function that can fail has a `try_` variant
    that gives NULL for an invalid row, as `try_cast` does."""
    made: list[tuple[str, str, str | None]] = [("vrn_error_kind", "vrn_error_kind", None)]
    for name in (*(f"vrn_{suffix}" for suffix in (*TEXT_QUERIES, "fields")), "vrn_build", "mint_uuid7"):
        made += [(name, name, "raise"), (f"try_{name}", name, "null")]
    return made


def parameters(name: str) -> tuple[str, ...]:
    """The column parameters of the column function `name`."""
    return {"vrn_build": BUILD_PARAMETERS, "mint_uuid7": MINT_PARAMETERS}.get(name, ("s",))


_ROW_NOTE = re.compile(r"while processing row (\d+)")
_SHOWN_CHARACTERS = 64


def check_errors(errors: str) -> None:
    """Refuses a bad `errors` when a surface is built, not when it first runs."""
    if errors not in ("raise", "null"):
        raise ValueError(f"errors must be 'raise' or 'null', not {errors!r}")


def column_function(name: str) -> Callable[..., columns.Column]:
    """The column function `name` (as "vrn_service" or "mint_uuid7")."""
    function: Callable[..., columns.Column] = getattr(columns, name)
    return function


def failed_row(error: ValueError) -> int | None:
    """The index of the row that a column function refused, from the note it
    adds; None for an error about the call, not a row (lengths that differ)."""
    for note in getattr(error, "__notes__", ()):
        found = _ROW_NOTE.fullmatch(note)
        if found:
            return int(found.group(1))
    return None


def shown(value: object) -> str:
    """A row's value for a message: its repr, a long text cut to its start."""
    if isinstance(value, str) and len(value) > _SHOWN_CHARACTERS:
        return f"{value[:_SHOWN_CHARACTERS]!r}... ({len(value)} characters)"
    return repr(value)


def shown_row(values: Sequence[object]) -> str:
    """One row of one column (its value), or of several (a tuple of them)."""
    if len(values) == 1:
        return shown(values[0])
    return "(" + ", ".join(shown(value) for value in values) + ")"


def row_message(where: str, error: ValueError, row: str, place: str = "") -> str:
    """`<where>: <token> in the row <row>[ <place>]`: the function, the token
    (the error's first argument, as the column function gives it) and the row."""
    return f"{where}: {error.args[0]} in the row {row}{' ' + place if place else ''}"
