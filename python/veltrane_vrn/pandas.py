"""A `vrn` accessor on pandas Series, as `.str` and `.dt`.

    >>> import pandas as pd
    >>> import veltrane_vrn.pandas
    >>> names = pd.Series(["vrn:vlt:iam:::project/0190C3A2-7B1E-7000-8000-00000000ABCD", "nope", None], index=[7, 8, 9])
    >>> names.vrn.service(errors="null").to_dict()
    {7: 'iam', 8: nan, 9: nan}

Importing this module registers the accessor (and imports pandas and
pyarrow). `error_kind()`, `canonicalize()`, `service()`, `region()`, `org()`,
`resource_type()`, `resource_id()`, `cedar_entity_type()` and
`cedar_entity_id()` give a Series, `fields()` a DataFrame of the five fields,
each but `error_kind` taking errors="raise" or "null", as the functions of
`veltrane_vrn.columns`; `vrn_build(...)` and `mint_uuid7(...)` here take
several Series. A result keeps the Series' index and name; its dtype is the
Series' own string dtype (`str`, `string`, or an Arrow dtype) when it has one,
else pandas' default `str`. Arrow-backed strings go to the kernel without a
copy; object columns (str, None, NaN) are converted once.

A missing row gives a missing row. An invalid row with errors="raise" is a
ValueError naming the method, the token, the row and its index label; a Series
that is not strings is a TypeError naming the Series and the dtype (or, in an
object Series, the type) found.
"""

from __future__ import annotations

import importlib
from collections.abc import Sequence
from typing import Any

from veltrane_vrn import _engines
from veltrane_vrn._engines import Errors

# pandas and pyarrow carry no type information that mypy reads.
pd: Any = importlib.import_module("pandas")
pa: Any = importlib.import_module("pyarrow")

__all__ = ["VrnSeriesAccessor", "mint_uuid7", "vrn_build"]


def _label(series: Any) -> str:
    return "Series" if series.name is None else f"Series {series.name!r}"


def _arrow(series: Any, where: str, parameter: str) -> Any:
    """What the column function takes from `series`: pandas' own Arrow export,
    or, for an object Series, an Arrow array made of it once."""
    if series.dtype != object:
        return series
    try:
        if parameter == "unix_ms":
            return pa.array(series, from_pandas=True)  # integers or floats, as found
        return pa.array(series, type=pa.string(), from_pandas=True)
    except (pa.ArrowTypeError, pa.ArrowInvalid) as error:
        accepted = (int, float) if parameter == "unix_ms" else str
        found = next((type(value).__name__ for value in series
                      if not isinstance(value, accepted) and not pd.isna(value)), "object")
        wanted_text = "numbers" if parameter == "unix_ms" else "strings"
        raise TypeError(f"{where}: {_label(series)} must hold {wanted_text}, found {found}") from error


def _string_dtype(series: Any) -> Any:
    """The dtype of a text result of `series`: its own if it is a string dtype."""
    dtype = series.dtype
    if isinstance(dtype, pd.StringDtype):
        return dtype
    if isinstance(dtype, pd.ArrowDtype) and (
        pa.types.is_string(dtype.pyarrow_dtype) or pa.types.is_large_string(dtype.pyarrow_dtype)
    ):
        return dtype
    return None


def _text_series(column: Any, like: Any) -> Any:
    result = pd.Series.from_arrow(column)
    dtype = _string_dtype(like)
    if dtype is not None and result.dtype != dtype:
        result = result.astype(dtype)
    result.index = like.index
    result.name = like.name
    return result


def _call(where: str, name: str, series: Sequence[Any], errors: str | None) -> Any:
    """The column function `name` over whole Series; its errors named for pandas' user."""
    parameters = _engines.parameters(name)
    columns = [_arrow(one, where, parameter) for one, parameter in zip(series, parameters, strict=True)]
    options = {} if errors is None else {"errors": errors}
    try:
        return _engines.column_function(name)(*columns, **options)
    except TypeError as error:
        for parameter, one in zip(parameters, series, strict=True):
            if f"'{parameter}'" in str(error):
                wanted = "numbers" if parameter == "unix_ms" else "strings"
                raise TypeError(f"{where}: {_label(one)} must hold {wanted}, found {one.dtype}") from error
        raise
    except ValueError as error:
        row = _engines.failed_row(error)
        if row is None:
            raise
        shown = _engines.shown_row([one.iloc[row] for one in series])
        place = f"at index {series[0].index[row]!r}"
        raise ValueError(_engines.row_message(where, error, shown, place)) from None


@pd.api.extensions.register_series_accessor("vrn")
class VrnSeriesAccessor:
    """`series.vrn`: the column functions on a Series of names."""

    def __init__(self, series: Any) -> None:
        self._series = series

    def _text(self, method: str, errors: str | None) -> Any:
        if errors is not None:
            _engines.check_errors(errors)
        column = _call(f"vrn.{method}", f"vrn_{method}", [self._series], errors)
        return _text_series(column, self._series)

    def error_kind(self) -> Any:
        """Per row: "" for a valid VRN, else its error token."""
        return self._text("error_kind", None)

    def canonicalize(self, errors: Errors = "raise") -> Any:
        """Per row: the canonical form (both UUIDs in lower case)."""
        return self._text("canonicalize", errors)

    def service(self, errors: Errors = "raise") -> Any:
        """Per row: the service."""
        return self._text("service", errors)

    def region(self, errors: Errors = "raise") -> Any:
        """Per row: the region, "" when the name has none."""
        return self._text("region", errors)

    def org(self, errors: Errors = "raise") -> Any:
        """Per row: the org as a lowercase UUID, "" when the name has none."""
        return self._text("org", errors)

    def resource_type(self, errors: Errors = "raise") -> Any:
        """Per row: the resource type."""
        return self._text("resource_type", errors)

    def resource_id(self, errors: Errors = "raise") -> Any:
        """Per row: the resource id as a lowercase UUID."""
        return self._text("resource_id", errors)

    def cedar_entity_type(self, errors: Errors = "raise") -> Any:
        """Per row: the Cedar entity type."""
        return self._text("cedar_entity_type", errors)

    def cedar_entity_id(self, errors: Errors = "raise") -> Any:
        """Per row: the Cedar entity id (the resource id)."""
        return self._text("cedar_entity_id", errors)

    def fields(self, errors: Errors = "raise") -> Any:
        """Per row, one parse: a DataFrame of the five fields (all missing
        for a missing row, and for an invalid one with errors="null")."""
        _engines.check_errors(errors)
        column = _call("vrn.fields", "vrn_fields", [self._series], errors)
        # A struct's children with the struct's own nulls folded in.
        children = pa.chunked_array(column).flatten()
        return pd.DataFrame(
            {field: _text_series(child, self._series) for field, child in zip(_engines.FIELDS, children, strict=True)},
            index=self._series.index,
        )


def vrn_build(service: Any, region: Any, org: Any, resource_type: Any, resource_id: Any,
              errors: Errors = "raise") -> Any:
    """Per row: the canonical VRN built from five Series of one length (the
    result has the first one's index)."""
    _engines.check_errors(errors)
    series = [service, region, org, resource_type, resource_id]
    return _text_series(_call("vrn_build", "vrn_build", series, errors), service).rename(None)


def mint_uuid7(unix_ms: Any, rand_hex: Any, errors: Errors = "raise") -> Any:
    """Per row: a UUIDv7 from milliseconds (integers or floats) and 20 lowercase hex digits."""
    _engines.check_errors(errors)
    return _text_series(_call("mint_uuid7", "mint_uuid7", [unix_ms, rand_hex], errors), rand_hex).rename(None)
