"""Uses each engine's way in as a user would; mypy --strict checks it against
the package's modules and the engines' own types, and test_engine_typing.py
runs it. A registered namespace is an attribute that type checkers cannot
see (polars and pandas add it at run time), so the typed spelling makes the
namespace from the expression or Series itself, as the attribute does."""

from __future__ import annotations

import importlib
from typing import Any

import duckdb
import polars as pl
from pydantic import BaseModel

import veltrane_vrn.duckdb
import veltrane_vrn.pandas
from veltrane_vrn import Vrn
from veltrane_vrn.polars import VrnExprNamespace, VrnSeriesNamespace, vrn_build

NAME = "vrn:vlt:iam:us-east-1::project/0190C3A2-7B1E-7000-8000-00000000ABCD"


class Request(BaseModel):
    resource: Vrn
    parent: Vrn | None = None


def use_every_engine() -> dict[str, Any]:
    connection = duckdb.connect()
    created: list[str] = veltrane_vrn.duckdb.register(connection)
    in_sql = connection.sql(f"select try_vrn_service('{NAME}'), vrn_error_kind('x')").fetchall()

    frame = pl.DataFrame({"name": [NAME, None], "id": ["0190c3a2-7b1e-7000-8000-00000000abcd"] * 2})
    kind: pl.Expr = VrnExprNamespace(pl.col("name")).error_kind()
    built: pl.Expr = vrn_build(pl.lit("iam"), pl.lit(""), pl.lit(""), pl.lit("project"), "id", errors="null")
    lazy: pl.LazyFrame = frame.lazy().select(kind, built.alias("built"))
    regions: pl.Series = VrnSeriesNamespace(frame["name"]).region(errors="null")

    pd: Any = importlib.import_module("pandas")  # untyped: the accessor's results are Any
    series = pd.Series([NAME, "x"], index=["a", "b"])
    accessor = veltrane_vrn.pandas.VrnSeriesAccessor(series)

    request = Request.model_validate({"resource": NAME})  # a str in, parsed by Vrn
    return {
        "duckdb": [len(created), in_sql],
        "polars": [lazy.collect_schema().names(), lazy.collect().rows(), regions.to_list()],
        "pandas": accessor.service(errors="null").dropna().to_dict(),
        "pydantic": [request.resource.service, request.model_dump(mode="json")],
    }
