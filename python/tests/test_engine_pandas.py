"""veltrane_vrn.pandas and veltrane_vrn.dask: the `vrn` accessor gives exactly
the per-call results, keeps the index and the name, keeps the Series' string
dtype, takes Arrow-backed and object strings, and names the token and the
index label of a failing row; on Dask, partition by partition on a
distributed.LocalCluster of two worker processes."""

from __future__ import annotations

import sys
from pathlib import Path
from typing import Any

import pytest
import veltrane_py_bindings as per_call
from vrn_testing.engines import need
from vrn_testing.samples import CANONICAL_ID, FIELDS, HEX, SAMPLES

pd = need("pandas")
pa = need("pyarrow")

import veltrane_vrn.pandas as vrn_pandas  # noqa: E402

TEXT_METHODS = [*FIELDS, "canonicalize", "cedar_entity_type", "cedar_entity_id"]
NAMES = SAMPLES * 2
INDEX = [f"row-{i}" for i in range(len(NAMES))]

# The string dtypes a Series of names may have, and the dtype of its results.
DTYPES = {
    "str": ("str", "str"),
    "string": ("string", "string"),
    "object": (object, "str"),
    "arrow large_string": (pd.ArrowDtype(pa.large_string()), pd.ArrowDtype(pa.large_string())),
    "category": ("category", "str"),
}


def per_call_or_none(function: str, name: str | None) -> str | None:
    if name is None or per_call.vrn_error_kind(name):
        return None
    result: str = getattr(per_call, function)(name)
    return result


def values(series: Any) -> list[Any]:
    return [None if pd.isna(value) else value for value in series]


@pytest.mark.parametrize("dtype", DTYPES)
@pytest.mark.parametrize("method", ["error_kind", *TEXT_METHODS])
def test_each_method_keeps_index_name_and_string_dtype(dtype: str, method: str) -> None:
    given, result_dtype = DTYPES[dtype]
    series = pd.Series(NAMES, index=INDEX, name="name", dtype=given)
    if method == "error_kind":
        got = series.vrn.error_kind()
        expected = [None if n is None else per_call.vrn_error_kind(n) for n in NAMES]
    else:
        got = getattr(series.vrn, method)(errors="null")
        expected = [per_call_or_none(f"vrn_{method}", n) for n in NAMES]
    assert values(got) == expected
    assert list(got.index) == INDEX and got.name == "name"
    assert got.dtype == pd.Series([], dtype=result_dtype).dtype


def test_fields_is_a_frame_of_the_five_fields_with_the_index() -> None:
    series = pd.Series(NAMES, index=INDEX, dtype="str")
    frame = series.vrn.fields(errors="null")
    assert list(frame.columns) == FIELDS and list(frame.index) == INDEX
    for field in FIELDS:
        assert values(frame[field]) == [per_call_or_none(f"vrn_{field}", n) for n in NAMES]


def test_build_and_mint_take_several_series() -> None:
    services = pd.Series(["iam", "Iam", None], index=[10, 20, 30])
    empty = pd.Series(["", "", ""])
    built = vrn_pandas.vrn_build(services, empty, empty, pd.Series(["project"] * 3), pd.Series([CANONICAL_ID] * 3),
                                 errors="null")
    assert values(built) == [per_call.vrn_build("iam", "", "", "project", CANONICAL_ID), None, None]
    assert list(built.index) == [10, 20, 30]
    minted = vrn_pandas.mint_uuid7(pd.Series([1700000000000, None, 1.5]), pd.Series([HEX] * 3), errors="null")
    assert values(minted) == [per_call.mint_uuid7(1700000000000, HEX), None, None]


@pytest.mark.parametrize(
    ("run", "error", "message"),
    [
        (lambda s: s.vrn.service(), ValueError, "vrn.service: empty in the row '' at index 'c'"),
        (lambda s: s.astype(object).vrn.fields(), ValueError, "vrn.fields: empty in the row '' at index 'c'"),
        (lambda s: pd.Series([1, 2], name="n").vrn.org(), TypeError, "vrn.org: Series 'n' must hold strings, found int64"),
        (lambda s: pd.Series(["x", 2.5], dtype=object).vrn.error_kind(), TypeError,
         "vrn.error_kind: Series must hold strings, found float"),
        (lambda s: vrn_pandas.mint_uuid7(s, s), TypeError, "mint_uuid7: Series 'name' must hold numbers, found str"),
        (lambda s: s.vrn.region(errors="ignore"), ValueError, "errors must be 'raise' or 'null'"),
    ],
)
def test_errors_name_the_token_and_index_label_or_the_series_and_dtype(run: Any, error: type, message: str) -> None:
    series = pd.Series([SAMPLES[0], None, "", "x"], index=list("abcd"), name="name", dtype="str")
    with pytest.raises(error) as raised:
        run(series)
    assert message in str(raised.value)


# Dask: the same accessor, partition by partition, in worker processes.

def dask_modules() -> tuple[Any, Any, Any]:
    return need("dask.dataframe"), need("distributed"), need("pyarrow.parquet")


@pytest.fixture(scope="module")
def client() -> Any:
    _, distributed, _ = dask_modules()
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None, silence_logs=40) as cluster:
        with distributed.Client(cluster) as dask_client:
            yield dask_client


def test_the_dask_accessor_runs_in_both_workers(client: Any, tmp_path: Path) -> None:
    dd, _, pq = dask_modules()
    import veltrane_vrn.dask  # noqa: F401 - registers the Dask accessor

    rows: list[str | None] = []
    for part in range(4):  # four files, so that both workers get partitions
        names = NAMES[part:] + NAMES[:part]
        pq.write_table(pa.table({"name": pa.array(names * 10, pa.string())}), tmp_path / f"part-{part}.parquet")
        rows += names * 10
    frame = dd.read_parquet(str(tmp_path))
    kinds = frame["name"].vrn.error_kind()
    fields = frame["name"].vrn.fields(errors="null")
    # Dask knows the results' types before running: the pandas accessor's own.
    assert list(fields.columns) == FIELDS and kinds.dtype == frame["name"].dtype
    kinds, fields = dd.compute(kinds, fields)
    assert values(kinds) == [None if n is None else per_call.vrn_error_kind(n) for n in rows]
    assert values(fields["resource_id"]) == [per_call_or_none("vrn_resource_id", n) for n in rows]
    # The work ran in the workers, which imported the accessor themselves.
    assert all(client.run(lambda: "veltrane_vrn.pandas" in sys.modules).values())
    assert len(set(client.run(lambda: __import__("os").getpid()).values())) == 2
    with pytest.raises(ValueError, match=r"vrn\.service: empty in the row '' at index \d+"):
        frame["name"].vrn.service().compute()
