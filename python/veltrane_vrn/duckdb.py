"""The column functions as SQL functions of a DuckDB connection.

    >>> import duckdb
    >>> import veltrane_vrn.duckdb
    >>> connection = duckdb.connect()
    >>> names = veltrane_vrn.duckdb.register(connection)
    >>> connection.sql("select vrn_error_kind('nope'), try_vrn_service('nope')").fetchall()
    [('wrong-field-count', None)]

`register(connection)` creates, on that connection, every function of
`veltrane_vrn.columns` under its own name (`vrn_error_kind`, `vrn_canonicalize`,
`vrn_service`, ..., `vrn_fields` giving a STRUCT of the five fields,
`vrn_build` of five VARCHARs, `mint_uuid7(BIGINT, VARCHAR)`), and a `try_`
variant of each one that can fail (`try_vrn_canonicalize`, ...), which gives
NULL for an invalid row as `try_cast` does. They are Arrow functions: DuckDB
hands each one a whole vector of rows, and the kernel runs over it at once.

A NULL row gives NULL. An invalid row fails the query with DuckDB's
`InvalidInputException`, whose message names the function, the token and the
row (`vrn_service: bad-service in the row '...'`). A column that is not
VARCHAR (nor one DuckDB casts to VARCHAR on its own, as an ENUM) is DuckDB's
`BinderException`, which names the function and the type found.

DuckDB is imported when `register` is called, not before.
"""

from __future__ import annotations

import importlib
from collections.abc import Callable
from typing import TYPE_CHECKING, Any

from veltrane_vrn import _engines

if TYPE_CHECKING:
    from duckdb import DuckDBPyConnection

__all__ = ["function_names", "register"]


def function_names() -> list[str]:
    """The SQL functions that `register` creates, in order."""
    return [sql_name for sql_name, _, _ in _engines.sql_functions()]


def _udf(name: str, sql_name: str, errors: str | None) -> Callable[..., Any]:
    """The Arrow function behind `sql_name`: DuckDB's vectors in (one pyarrow
    ChunkedArray per argument), one result column out."""
    pa = importlib.import_module("pyarrow")
    function = _engines.column_function(name)
    options = {} if errors is None else {"errors": errors}

    def run(*arguments: Any) -> Any:
        try:
            result = function(*arguments, **options)
        except ValueError as error:
            row = _engines.failed_row(error)
            if row is None:
                raise
            shown = _engines.shown_row([argument[row].as_py() for argument in arguments])
            raise ValueError(_engines.row_message(sql_name, error, shown)) from None
        return pa.chunked_array(result)

    # DuckDB counts the function's parameters against the SQL signature's.
    udf: Callable[..., Any]
    if name == "vrn_build":

        def udf(service: Any, region: Any, org: Any, resource_type: Any, resource_id: Any) -> Any:
            return run(service, region, org, resource_type, resource_id)

    elif name == "mint_uuid7":

        def udf(unix_ms: Any, rand_hex: Any) -> Any:
            return run(unix_ms, rand_hex)

    else:

        def udf(s: Any) -> Any:
            return run(s)

    udf.__name__ = udf.__qualname__ = sql_name
    return udf


def register(connection: DuckDBPyConnection | None = None) -> list[str]:
    """Creates the SQL functions on `connection` (DuckDB's default connection,
    the one of `duckdb.sql`, when None), replacing any of the same name, and
    returns their names."""
    duckdb = importlib.import_module("duckdb")
    if connection is None:
        connection = duckdb.default_connection()
    varchar = duckdb.sqltypes.VARCHAR
    fields = duckdb.struct_type({field: varchar for field in _engines.FIELDS})
    signatures: dict[str, tuple[list[Any], Any]] = {
        "vrn_error_kind": ([varchar], varchar),
        **{f"vrn_{suffix}": ([varchar], varchar) for suffix in _engines.TEXT_QUERIES},
        "vrn_fields": ([varchar], fields),
        "vrn_build": ([varchar] * len(_engines.BUILD_PARAMETERS), varchar),
        # Milliseconds as BIGINT: a DOUBLE would round those past 2**53.
        "mint_uuid7": ([duckdb.sqltypes.BIGINT, varchar], varchar),
    }
    target: Any = connection  # DuckDB's stubs take the options as enums; they are documented as these strings
    created = []
    for sql_name, name, errors in _engines.sql_functions():
        parameters, result = signatures[name]
        try:
            target.remove_function(sql_name)
        except duckdb.InvalidInputException:
            pass  # not created before
        target.create_function(
            sql_name,
            _udf(name, sql_name, errors),
            parameters,
            result,
            type="arrow",
            # NULLs reach the function, which gives NULL for them, so a
            # vector with NULLs is still one call.
            null_handling="special",
            exception_handling="default",
            side_effects=False,
        )
        created.append(sql_name)
    return created
