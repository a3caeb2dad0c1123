"""Every VRN function over Arrow columns: one call per column, not per name.

    >>> import pyarrow as pa
    >>> from veltrane_vrn import columns
    >>> names = pa.array(["vrn:vlt:iam:::project/0190C3A2-7B1E-7000-8000-00000000ABCD", "nope", None])
    >>> pa.array(columns.vrn_error_kind(names)).to_pylist()
    ['', 'wrong-field-count', None]
    >>> pa.array(columns.vrn_resource_id(names, errors="null")).to_pylist()
    ['0190c3a2-7b1e-7000-8000-00000000abcd', None, None]

The functions have the names and parameter names of the per-call functions of
`veltrane_py_bindings`, and for every row give what the per-call function
gives for that row's text (or raise what it raises). A column is anything that
exports the Arrow PyCapsule interface (`__arrow_c_stream__` or
`__arrow_c_array__`: a pyarrow Array or ChunkedArray, a polars Series, a
pandas Series, a DuckDB result, a table of one column), or, for convenience,
a plain sequence of `str` (or numbers, for `unix_ms`) with `None` for a null.

The kernel runs over whole chunks with the interpreter lock released, so other
threads run meanwhile and no Python object is made per row. A null row gives a
null row. `errors="raise"` (the default) raises `ValueError(token)` for the
first invalid row, with a note naming its index; `errors="null"` gives a null
row instead. `vrn_error_kind` never raises: "" for a valid name, else the token.

The result is a `Column`: it exports `__arrow_c_schema__`, `__arrow_c_array__`
and `__arrow_c_stream__` (so `pyarrow.array`, `pyarrow.chunked_array`,
`polars.Series`, pandas and DuckDB take it without a copy), and has `len()` and
`to_pylist()`. Its chunks follow those of the (first) input column; its
`__arrow_c_array__` joins several chunks into one array (a copy, made once),
its `__arrow_c_stream__` hands them over as they are. Text results are utf8,
or large_utf8 when their text would pass 2 GiB; `vrn_fields` gives a struct of
the five fields.
"""

from __future__ import annotations

from collections.abc import Iterable
from typing import Literal, Protocol, TypeAlias

from veltrane_vrn import _native
from veltrane_vrn._native import Column

__all__ = [
    "Column",
    "mint_uuid7",
    "vrn_build",
    "vrn_canonicalize",
    "vrn_cedar_entity_id",
    "vrn_cedar_entity_type",
    "vrn_error_kind",
    "vrn_fields",
    "vrn_org",
    "vrn_region",
    "vrn_resource_id",
    "vrn_resource_type",
    "vrn_service",
]


class ArrowStreamExportable(Protocol):
    """An object that hands over its data as an Arrow C stream (a chunked column or a table)."""

    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object: ...


class ArrowArrayExportable(Protocol):
    """An object that hands over its data as one Arrow C array."""

    def __arrow_c_array__(self, requested_schema: object | None = None) -> tuple[object, object]: ...


StringColumn: TypeAlias = ArrowStreamExportable | ArrowArrayExportable | Iterable[str | None]
NumberColumn: TypeAlias = ArrowStreamExportable | ArrowArrayExportable | Iterable[float | None]


def _is_capsule(value: object) -> bool:
    return type(value).__name__ == "PyCapsule" and type(value).__module__ == "builtins"


def _arrow_source(value: object, parameter: str, numbers: bool = False) -> object:
    """What the native functions take: an "arrow_array_stream" capsule, or a
    (schema, array) pair of capsules. Made here, once per column."""
    kind = type(value)
    if hasattr(kind, "__arrow_c_stream__"):
        return value.__arrow_c_stream__()  # type: ignore[attr-defined]
    if hasattr(kind, "__arrow_c_array__"):
        return value.__arrow_c_array__()  # type: ignore[attr-defined]
    if _is_capsule(value) or (isinstance(value, tuple) and len(value) == 2 and all(map(_is_capsule, value))):
        return value  # capsules already: passed on, and consumed there
    if isinstance(value, (str, bytes, bytearray)) or not isinstance(value, Iterable):
        raise TypeError(
            f"'{parameter}' must be an Arrow column (an object with __arrow_c_stream__ or __arrow_c_array__) "
            f"or an iterable of {'numbers' if numbers else 'str'} and None, not '{kind.__qualname__}'"
        )
    if numbers:
        return _native.numbers_column(value, parameter).__arrow_c_stream__()
    return _native.strings_column(value, parameter).__arrow_c_stream__()


def vrn_error_kind(s: StringColumn) -> Column:
    """Per row: "" for a valid VRN, else its error token (never raises for an invalid name)."""
    return _native.vrn_error_kind(_arrow_source(s, "s"))


def vrn_canonicalize(s: StringColumn, errors: Literal["raise", "null"] = "raise") -> Column:
    """Per row: the canonical form (both UUIDs in lower case)."""
    return _native.vrn_canonicalize(_arrow_source(s, "s"), errors)


def vrn_service(s: StringColumn, errors: Literal["raise", "null"] = "raise") -> Column:
    """Per row: the service."""
    return _native.vrn_service(_arrow_source(s, "s"), errors)


def vrn_region(s: StringColumn, errors: Literal["raise", "null"] = "raise") -> Column:
    """Per row: the region, "" when the name has none."""
    return _native.vrn_region(_arrow_source(s, "s"), errors)


def vrn_org(s: StringColumn, errors: Literal["raise", "null"] = "raise") -> Column:
    """Per row: the org as a lowercase hyphenated UUID, "" when the name has none."""
    return _native.vrn_org(_arrow_source(s, "s"), errors)


def vrn_resource_type(s: StringColumn, errors: Literal["raise", "null"] = "raise") -> Column:
    """Per row: the resource type."""
    return _native.vrn_resource_type(_arrow_source(s, "s"), errors)


def vrn_resource_id(s: StringColumn, errors: Literal["raise", "null"] = "raise") -> Column:
    """Per row: the resource id as a lowercase hyphenated UUID."""
    return _native.vrn_resource_id(_arrow_source(s, "s"), errors)


def vrn_cedar_entity_type(s: StringColumn, errors: Literal["raise", "null"] = "raise") -> Column:
    """Per row: the Cedar entity type, "Vlt::" + Pascal(service) + "::" + Pascal(resource type)."""
    return _native.vrn_cedar_entity_type(_arrow_source(s, "s"), errors)


def vrn_cedar_entity_id(s: StringColumn, errors: Literal["raise", "null"] = "raise") -> Column:
    """Per row: the Cedar entity id (the resource id)."""
    return _native.vrn_cedar_entity_id(_arrow_source(s, "s"), errors)


def vrn_fields(s: StringColumn, errors: Literal["raise", "null"] = "raise") -> Column:
    """Per row, one parse: a struct of service, region, org, resource_type and resource_id."""
    return _native.vrn_fields(_arrow_source(s, "s"), errors)


def vrn_build(
    service: StringColumn,
    region: StringColumn,
    org: StringColumn,
    resource_type: StringColumn,
    resource_id: StringColumn,
    errors: Literal["raise", "null"] = "raise",
) -> Column:
    """Per row: the canonical VRN built from the five fields; the columns must be equally long."""
    return _native.vrn_build(
        _arrow_source(service, "service"),
        _arrow_source(region, "region"),
        _arrow_source(org, "org"),
        _arrow_source(resource_type, "resource_type"),
        _arrow_source(resource_id, "resource_id"),
        errors,
    )


def mint_uuid7(unix_ms: NumberColumn, rand_hex: StringColumn, errors: Literal["raise", "null"] = "raise") -> Column:
    """Per row: a UUIDv7 from milliseconds (an integer or float column) and 20 lowercase hex digits."""
    return _native.mint_uuid7(_arrow_source(unix_ms, "unix_ms", numbers=True), _arrow_source(rand_hex, "rand_hex"), errors)
