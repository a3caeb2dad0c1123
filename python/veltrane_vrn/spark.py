"""The column functions as Spark column functions and Spark SQL functions,
built on Spark's Arrow UDFs (Spark 4.1 and later): each batch of rows goes
to the kernel as one pyarrow Array, and comes back as one.

    from veltrane_vrn import spark as vrn_spark
    frame.select(vrn_spark.vrn_error_kind("name"), vrn_spark.vrn_service("name", errors="null"))
    vrn_spark.register(spark)
    spark.sql("select try_vrn_service(name) from names")

`vrn_error_kind`, `vrn_canonicalize`, `vrn_service`, `vrn_region`, `vrn_org`,
`vrn_resource_type`, `vrn_resource_id`, `vrn_cedar_entity_type`,
`vrn_cedar_entity_id`, `vrn_fields` (a struct of the five fields),
`vrn_build` (five columns) and `mint_uuid7` take columns (or column names) and
`errors`, as the functions of `veltrane_vrn.columns`, and give a Column for
`select` and `withColumn`. `register(spark)` makes them SQL functions of the
session, with a `try_` variant of each one that can fail (NULL for an invalid
row, as `try_cast`).

The functions travel to Spark's Python workers, which import this package:
install it where the workers run (on PYTHONPATH is not enough for them). A
null row gives a null row. An invalid row fails the job with Spark's
`PythonException`, whose message names the function, the token and the row; a
column that is not strings does too, naming the column and the Arrow type
found. PySpark is imported when a function is first called, not before.
"""

from __future__ import annotations

import functools
import importlib
import warnings
from typing import Any, TypeAlias

from veltrane_vrn import _engines
from veltrane_vrn._engines import Errors

__all__ = [
    "mint_uuid7",
    "register",
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

# pyspark.sql.Column or a column's name; PySpark is typed, but optional here.
ColumnOrName: TypeAlias = Any

FIELDS_TYPE = "struct<" + ",".join(f"{field}:string" for field in _engines.FIELDS) + ">"


def _run(name: str, where: str, errors: str | None, labels: tuple[str, ...], *arrays: Any) -> Any:
    """The body of every Arrow UDF, in the worker: pyarrow Arrays in, one
    out. At module level, so that it travels to the workers by reference."""
    pa: Any = importlib.import_module("pyarrow")
    options = {} if errors is None else {"errors": errors}
    try:
        result = _engines.column_function(name)(*arrays, **options)
    except TypeError as error:
        for parameter, label, array in zip(_engines.parameters(name), labels, arrays, strict=True):
            if f"'{parameter}'" in str(error):
                wanted = "numbers" if parameter == "unix_ms" else "strings"
                raise TypeError(f"{where}: {label} must hold {wanted}, found {array.type}") from error
        raise
    except ValueError as error:
        row = _engines.failed_row(error)
        if row is None:
            raise
        shown = _engines.shown_row([array[row].as_py() for array in arrays])
        raise ValueError(_engines.row_message(where, error, shown)) from None
    return pa.array(result)


@functools.cache
def _udf(name: str, where: str, errors: str | None, labels: tuple[str, ...]) -> Any:
    functions = importlib.import_module("pyspark.sql.functions")
    eval_type = importlib.import_module("pyspark.util").PythonEvalType.SQL_SCALAR_ARROW_UDF
    result_type = FIELDS_TYPE if name == "vrn_fields" else "string"
    run = functools.partial(_run, name, where, errors, labels)
    functools.update_wrapper(run, _run)
    run.__name__ = where  # type: ignore[attr-defined]  # Spark names the result column after it
    with warnings.catch_warnings():
        # Spark would rather read the kind of UDF from type hints, which a
        # partial has not; the kind is given instead, and is the same.
        warnings.filterwarnings("ignore", message=".*type hints for arrow UDF", category=UserWarning)
        return functions.arrow_udf(run, result_type, eval_type)


def _label(column: ColumnOrName, parameter: str) -> str:
    return f"column {column!r}" if isinstance(column, str) else f"{parameter} {column}"


def _call(name: str, errors: str | None, parameters: tuple[str, ...], columns: tuple[ColumnOrName, ...]) -> Any:
    if errors is not None:
        _engines.check_errors(errors)
    labels = tuple(_label(column, parameter) for column, parameter in zip(columns, parameters, strict=True))
    return _udf(name, name, errors, labels)(*columns)


def vrn_error_kind(s: ColumnOrName) -> Any:
    """Per row: "" for a valid VRN, else its error token."""
    return _call("vrn_error_kind", None, ("s",), (s,))


def vrn_canonicalize(s: ColumnOrName, errors: Errors = "raise") -> Any:
    """Per row: the canonical form (both UUIDs in lower case)."""
    return _call("vrn_canonicalize", errors, ("s",), (s,))


def vrn_service(s: ColumnOrName, errors: Errors = "raise") -> Any:
    """Per row: the service."""
    return _call("vrn_service", errors, ("s",), (s,))


def vrn_region(s: ColumnOrName, errors: Errors = "raise") -> Any:
    """Per row: the region, "" when the name has none."""
    return _call("vrn_region", errors, ("s",), (s,))


def vrn_org(s: ColumnOrName, errors: Errors = "raise") -> Any:
    """Per row: the org as a lowercase UUID, "" when the name has none."""
    return _call("vrn_org", errors, ("s",), (s,))


def vrn_resource_type(s: ColumnOrName, errors: Errors = "raise") -> Any:
    """Per row: the resource type."""
    return _call("vrn_resource_type", errors, ("s",), (s,))


def vrn_resource_id(s: ColumnOrName, errors: Errors = "raise") -> Any:
    """Per row: the resource id as a lowercase UUID."""
    return _call("vrn_resource_id", errors, ("s",), (s,))


def vrn_cedar_entity_type(s: ColumnOrName, errors: Errors = "raise") -> Any:
    """Per row: the Cedar entity type."""
    return _call("vrn_cedar_entity_type", errors, ("s",), (s,))


def vrn_cedar_entity_id(s: ColumnOrName, errors: Errors = "raise") -> Any:
    """Per row: the Cedar entity id (the resource id)."""
    return _call("vrn_cedar_entity_id", errors, ("s",), (s,))


def vrn_fields(s: ColumnOrName, errors: Errors = "raise") -> Any:
    """Per row, one parse: a struct of the five fields."""
    return _call("vrn_fields", errors, ("s",), (s,))


def vrn_build(
    service: ColumnOrName,
    region: ColumnOrName,
    org: ColumnOrName,
    resource_type: ColumnOrName,
    resource_id: ColumnOrName,
    errors: Errors = "raise",
) -> Any:
    """Per row: the canonical VRN built from the five fields."""
    return _call("vrn_build", errors, _engines.BUILD_PARAMETERS, (service, region, org, resource_type, resource_id))


def mint_uuid7(unix_ms: ColumnOrName, rand_hex: ColumnOrName, errors: Errors = "raise") -> Any:
    """Per row: a UUIDv7 from milliseconds (a long or double column) and 20 lowercase hex digits."""
    return _call("mint_uuid7", errors, _engines.MINT_PARAMETERS, (unix_ms, rand_hex))


def register(spark: Any) -> list[str]:
    """Makes every function an SQL function of the session `spark`, with a
    `try_` variant of each one that can fail; returns their names."""
    made = []
    for sql_name, name, errors in _engines.sql_functions():
        labels = tuple(f"argument {parameter!r}" for parameter in _engines.parameters(name))
        spark.udf.register(sql_name, _udf(name, sql_name, errors, labels))
        made.append(sql_name)
    return made
