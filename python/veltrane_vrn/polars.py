"""A `vrn` namespace on polars expressions and series, as `.str` and `.dt`.

    >>> import polars as pl
    >>> import veltrane_vrn.polars
    >>> frame = pl.DataFrame({"name": ["vrn:vlt:iam:::project/0190C3A2-7B1E-7000-8000-00000000ABCD", "nope", None]})
    >>> frame.select(pl.col("name").vrn.error_kind(), pl.col("name").vrn.service(errors="null").alias("service")).rows()
    [('', 'iam'), ('wrong-field-count', None), (None, None)]

Importing this module registers the namespace (and imports polars). On an
expression: `error_kind()`, `canonicalize()`, `service()`, `region()`,
`org()`, `resource_type()`, `resource_id()`, `cedar_entity_type()`,
`cedar_entity_id()` (String) and `fields()` (a Struct of the five fields),
each but `error_kind` taking errors="raise" or "null", as the functions of
`veltrane_vrn.columns`; `vrn_build(...)` and `mint_uuid7(...)` here take
several columns. Their dtypes are declared, so a lazy frame's schema is known
without running it, and they work row by row, so the streaming engine runs
them batch by batch. The same methods on a Series give a Series at once.

A null row gives a null row. An invalid row with errors="raise" is polars'
`ComputeError`, naming the method, the token and the row; a column that is
not strings (String, Categorical, Enum) is polars' `SchemaError`, naming the
column and the dtype found.
"""

from __future__ import annotations

from collections.abc import Callable, Sequence
import polars as pl

from veltrane_vrn import _engines
from veltrane_vrn._engines import Errors

__all__ = ["FIELDS_DTYPE", "VrnExprNamespace", "VrnSeriesNamespace", "mint_uuid7", "vrn_build"]

FIELDS_DTYPE = pl.Struct({field: pl.String for field in _engines.FIELDS})


def _call(where: str, name: str, series: Sequence[pl.Series], errors: str | None) -> pl.Series:
    """The column function `name` over whole Series, its result as a Series
    named as the first one; its errors as polars' own."""
    options = {} if errors is None else {"errors": errors}
    try:
        result = _engines.column_function(name)(*series, **options)
    except TypeError as error:
        # The column function names its parameter and the Arrow format; the
        # user knows the column and its polars dtype.
        for parameter, column in zip(_engines.parameters(name), series, strict=True):
            if f"'{parameter}'" in str(error):
                wanted = "numbers" if parameter == "unix_ms" else "strings"
                raise pl.exceptions.SchemaError(
                    f"{where}: column {column.name!r} must hold {wanted}, found {column.dtype}"
                ) from error
        raise
    except ValueError as error:
        row = _engines.failed_row(error)
        if row is None:
            raise pl.exceptions.ShapeError(f"{where}: {error}") from error
        shown = _engines.shown_row([column[row] for column in series])
        place = f"of column {series[0].name!r}" if len(series) == 1 else ""
        raise pl.exceptions.ComputeError(_engines.row_message(where, error, shown, place)) from None
    return pl.Series(result).alias(series[0].name)


def _batches(where: str, name: str, errors: str | None) -> Callable[[pl.Series], pl.Series]:
    def run(series: pl.Series) -> pl.Series:
        return _call(where, name, [series], errors)

    return run


def _checked(errors: str) -> str:
    _engines.check_errors(errors)
    return errors


@pl.api.register_expr_namespace("vrn")
class VrnExprNamespace:
    """`expr.vrn`: the column functions on an expression of names."""

    def __init__(self, expr: pl.Expr) -> None:
        self._expr = expr

    def _map(self, method: str, errors: str | None, dtype: pl.DataType) -> pl.Expr:
        run = _batches(f"vrn.{method}", f"vrn_{method}", errors)
        return self._expr.map_batches(run, return_dtype=dtype, is_elementwise=True)

    def error_kind(self) -> pl.Expr:
        """Per row: "" for a valid VRN, else its error token."""
        return self._map("error_kind", None, pl.String())

    def canonicalize(self, errors: Errors = "raise") -> pl.Expr:
        """Per row: the canonical form (both UUIDs in lower case)."""
        return self._map("canonicalize", _checked(errors), pl.String())

    def service(self, errors: Errors = "raise") -> pl.Expr:
        """Per row: the service."""
        return self._map("service", _checked(errors), pl.String())

    def region(self, errors: Errors = "raise") -> pl.Expr:
        """Per row: the region, "" when the name has none."""
        return self._map("region", _checked(errors), pl.String())

    def org(self, errors: Errors = "raise") -> pl.Expr:
        """Per row: the org as a lowercase UUID, "" when the name has none."""
        return self._map("org", _checked(errors), pl.String())

    def resource_type(self, errors: Errors = "raise") -> pl.Expr:
        """Per row: the resource type."""
        return self._map("resource_type", _checked(errors), pl.String())

    def resource_id(self, errors: Errors = "raise") -> pl.Expr:
        """Per row: the resource id as a lowercase UUID."""
        return self._map("resource_id", _checked(errors), pl.String())

    def cedar_entity_type(self, errors: Errors = "raise") -> pl.Expr:
        """Per row: the Cedar entity type."""
        return self._map("cedar_entity_type", _checked(errors), pl.String())

    def cedar_entity_id(self, errors: Errors = "raise") -> pl.Expr:
        """Per row: the Cedar entity id (the resource id)."""
        return self._map("cedar_entity_id", _checked(errors), pl.String())

    def fields(self, errors: Errors = "raise") -> pl.Expr:
        """Per row, one parse: a struct of the five fields."""
        return self._map("fields", _checked(errors), FIELDS_DTYPE)


@pl.api.register_series_namespace("vrn")
class VrnSeriesNamespace:
    """`series.vrn`: the column functions on a Series of names, run at once."""

    def __init__(self, series: pl.Series) -> None:
        self._series = series

    def _call(self, method: str, errors: str | None) -> pl.Series:
        return _call(f"vrn.{method}", f"vrn_{method}", [self._series], errors)

    def error_kind(self) -> pl.Series:
        """Per row: "" for a valid VRN, else its error token."""
        return self._call("error_kind", None)

    def canonicalize(self, errors: Errors = "raise") -> pl.Series:
        """Per row: the canonical form (both UUIDs in lower case)."""
        return self._call("canonicalize", _checked(errors))

    def service(self, errors: Errors = "raise") -> pl.Series:
        """Per row: the service."""
        return self._call("service", _checked(errors))

    def region(self, errors: Errors = "raise") -> pl.Series:
        """Per row: the region, "" when the name has none."""
        return self._call("region", _checked(errors))

    def org(self, errors: Errors = "raise") -> pl.Series:
        """Per row: the org as a lowercase UUID, "" when the name has none."""
        return self._call("org", _checked(errors))

    def resource_type(self, errors: Errors = "raise") -> pl.Series:
        """Per row: the resource type."""
        return self._call("resource_type", _checked(errors))

    def resource_id(self, errors: Errors = "raise") -> pl.Series:
        """Per row: the resource id as a lowercase UUID."""
        return self._call("resource_id", _checked(errors))

    def cedar_entity_type(self, errors: Errors = "raise") -> pl.Series:
        """Per row: the Cedar entity type."""
        return self._call("cedar_entity_type", _checked(errors))

    def cedar_entity_id(self, errors: Errors = "raise") -> pl.Series:
        """Per row: the Cedar entity id (the resource id)."""
        return self._call("cedar_entity_id", _checked(errors))

    def fields(self, errors: Errors = "raise") -> pl.Series:
        """Per row, one parse: a struct of the five fields."""
        return self._call("fields", _checked(errors))


def _several(name: str, inputs: Sequence[str | pl.Expr], errors: str) -> pl.Expr:
    def run(series: Sequence[pl.Series]) -> pl.Series:
        # A literal comes as one row: it stands for every row.
        rows = max(len(column) for column in series)
        series = [column.new_from_index(0, rows) if len(column) == 1 else column for column in series]
        return _call(name, name, series, errors)

    return pl.map_batches(list(inputs), run, return_dtype=pl.String(), is_elementwise=True)


def vrn_build(
    service: str | pl.Expr,
    region: str | pl.Expr,
    org: str | pl.Expr,
    resource_type: str | pl.Expr,
    resource_id: str | pl.Expr,
    errors: Errors = "raise",
) -> pl.Expr:
    """Per row: the canonical VRN built from five columns (names or expressions)."""
    return _several("vrn_build", [service, region, org, resource_type, resource_id], _checked(errors))


def mint_uuid7(unix_ms: str | pl.Expr, rand_hex: str | pl.Expr, errors: Errors = "raise") -> pl.Expr:
    """Per row: a UUIDv7 from milliseconds (an integer or float column) and 20 lowercase hex digits."""
    return _several("mint_uuid7", [unix_ms, rand_hex], _checked(errors))
