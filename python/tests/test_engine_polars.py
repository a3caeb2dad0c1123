"""veltrane_vrn.polars: the `vrn` namespace on expressions and series gives
exactly the per-call results, in eager, lazy and streaming frames, with its
dtypes known before running; its errors are polars' own."""

from __future__ import annotations

from typing import Any

import pytest
import veltrane_py_bindings as per_call
from vrn_testing import names as generated
from vrn_testing.engines import need
from vrn_testing.samples import CANONICAL_ID, FIELDS, HEX, SAMPLES

pl = need("polars")

import veltrane_vrn.polars as vrn_polars  # noqa: E402

TEXT_METHODS = [*FIELDS, "canonicalize", "cedar_entity_type", "cedar_entity_id"]
NAMES = SAMPLES * 2


def per_call_or_none(function: str, name: str | None) -> str | None:
    if name is None or per_call.vrn_error_kind(name):
        return None
    result: str = getattr(per_call, function)(name)
    return result


def expected_fields(name: str | None) -> dict[str, str] | None:
    if per_call_or_none("vrn_service", name) is None:
        return None
    return {field: getattr(per_call, f"vrn_{field}")(name) for field in FIELDS}


@pytest.mark.parametrize("method", TEXT_METHODS)
def test_each_method_on_expressions_and_series(method: str) -> None:
    frame = pl.DataFrame({"name": NAMES})
    expected = [per_call_or_none(f"vrn_{method}", name) for name in NAMES]
    got = frame.select(getattr(pl.col("name").vrn, method)(errors="null"))
    assert got.columns == ["name"] and got.schema["name"] == pl.String
    assert got["name"].to_list() == expected
    series = getattr(frame["name"].vrn, method)(errors="null")
    assert series.name == "name" and series.to_list() == expected


def test_error_kind_and_fields_with_declared_dtypes_in_a_lazy_frame_run_by_the_streaming_engine() -> None:
    names = list(generated.generate(3_000)) + [None]
    lazy = pl.LazyFrame({"name": names}).select(
        kind=pl.col("name").vrn.error_kind(),
        fields=pl.col("name").vrn.fields(errors="null"),
        service=pl.col("name").vrn.fields(errors="null").struct.field("service"),
    )
    # The schema is known without running anything.
    assert lazy.collect_schema() == pl.Schema(
        {"kind": pl.String, "fields": vrn_polars.FIELDS_DTYPE, "service": pl.String})
    for engine in ("in-memory", "streaming"):
        out = lazy.collect(engine=engine)
        assert out["kind"].to_list() == [None if n is None else per_call.vrn_error_kind(n) for n in names], engine
        assert out["fields"].to_list() == [expected_fields(n) for n in names], engine
        assert out["service"].to_list() == [per_call_or_none("vrn_service", n) for n in names], engine


def test_categorical_chunked_and_sliced_columns() -> None:
    frame = pl.concat([pl.DataFrame({"name": NAMES})] * 3, rechunk=False)
    assert frame["name"].n_chunks() == 3
    expected = [None if n is None else per_call.vrn_error_kind(n) for n in NAMES] * 3
    assert frame.select(pl.col("name").vrn.error_kind())["name"].to_list() == expected
    assert frame["name"].cast(pl.Categorical).vrn.error_kind().to_list() == expected
    assert frame["name"].slice(5, 7).vrn.error_kind().to_list() == expected[5:12]


def test_build_and_mint_take_several_columns_and_literals() -> None:
    frame = pl.DataFrame({"service": ["iam", "Iam", None], "ms": [1700000000000, -1, 5]})
    out = frame.select(
        built=vrn_polars.vrn_build("service", pl.lit(""), pl.lit(""), pl.lit("project"), pl.lit(CANONICAL_ID.upper()),
                                   errors="null"),
        minted=vrn_polars.mint_uuid7("ms", pl.lit(HEX), errors="null"),
    )
    assert out.schema == pl.Schema({"built": pl.String, "minted": pl.String})
    assert out["built"].to_list() == [per_call.vrn_build("iam", "", "", "project", CANONICAL_ID), None, None]
    assert out["minted"].to_list() == [per_call.mint_uuid7(1700000000000, HEX), None, per_call.mint_uuid7(5, HEX)]


@pytest.mark.parametrize(
    ("run", "error", "message"),
    [
        (lambda f: f.select(pl.col("name").vrn.service()), "ComputeError",
         "vrn.service: empty in the row '' of column 'name'"),
        (lambda f: f["name"].vrn.fields(), "ComputeError", "vrn.fields: empty in the row '' of column 'name'"),
        (lambda f: f.lazy().select(pl.col("name").vrn.org()).collect(engine="streaming"), "ComputeError",
         "vrn.org: empty in the row ''"),
        (lambda f: f.select(vrn_polars.vrn_build("name", "name", "name", "name", "name")), "ComputeError",
         "vrn_build: too-long in the row ("),  # five times a 103-byte name
        (lambda f: f.select(pl.col("number").vrn.region()), "SchemaError",
         "vrn.region: column 'number' must hold strings, found Int64"),
        (lambda f: f["number"].vrn.error_kind(), "SchemaError",
         "vrn.error_kind: column 'number' must hold strings, found Int64"),
        (lambda f: f.select(vrn_polars.mint_uuid7("name", "name")), "SchemaError",
         "mint_uuid7: column 'name' must hold numbers, found String"),
    ],
)
def test_errors_are_polars_errors_naming_the_token_and_row_or_the_column_and_dtype(
    run: Any, error: str, message: str
) -> None:
    frame = pl.DataFrame({"name": [SAMPLES[0], None, ""], "number": [1, 2, 3]})
    with pytest.raises(getattr(pl.exceptions, error)) as raised:
        run(frame)
    assert message in str(raised.value)


def test_a_wrong_errors_argument_is_refused_when_the_expression_is_made() -> None:
    with pytest.raises(ValueError, match="errors must be 'raise' or 'null', not 'ignore'"):
        pl.col("name").vrn.service(errors="ignore")
