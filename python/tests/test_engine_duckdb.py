"""veltrane_vrn.duckdb: the column functions as SQL functions of a DuckDB
connection, each giving exactly the per-call results, NULL for NULL, the
`try_` variants NULL for an invalid row, and a failing row a DuckDB error
naming the function, the token and the row."""

from __future__ import annotations

from typing import Any

import pytest
import veltrane_py_bindings as per_call
from vrn_testing import names as generated
from vrn_testing.engines import need
from vrn_testing.samples import CANONICAL_ID, FIELDS, HEX, SAMPLES

duckdb = need("duckdb")
pa = need("pyarrow")
pq = need("pyarrow.parquet")

import veltrane_vrn.duckdb  # noqa: E402

QUERIES = [f"vrn_{suffix}" for suffix in (*FIELDS, "canonicalize", "cedar_entity_type", "cedar_entity_id")]


def per_call_or_none(function: str, name: str | None) -> str | None:
    if name is None or per_call.vrn_error_kind(name):
        return None
    result: str = getattr(per_call, function)(name)
    return result


@pytest.fixture(scope="module")
def connection() -> Any:
    connection = duckdb.connect()
    veltrane_vrn.duckdb.register(connection)
    connection.execute("create table names as select * from (select unnest($1) as name)", [SAMPLES])
    return connection


def column(connection: Any, query: str, *parameters: Any) -> list[Any]:
    return [row[0] for row in connection.execute(query, list(parameters)).fetchall()]


def test_every_function_and_its_try_variant_is_created() -> None:
    connection = duckdb.connect()
    created = veltrane_vrn.duckdb.register(connection)
    assert created == veltrane_vrn.duckdb.function_names()
    assert len(created) == 1 + 2 * 11  # vrn_error_kind, and the eleven that can fail with their try_
    assert {name for name in created if name.startswith("try_")} == {f"try_{n}" for n in created[1:] if not n.startswith("try_")}
    listed = {row[0] for row in connection.execute("select function_name from duckdb_functions()").fetchall()}
    assert set(created) <= listed
    # Registering again replaces them rather than failing.
    assert veltrane_vrn.duckdb.register(connection) == created


@pytest.mark.parametrize("function", QUERIES)
def test_each_query_and_its_try_variant_give_the_per_call_results(connection: Any, function: str) -> None:
    expected = [per_call_or_none(function, name) for name in SAMPLES]
    assert column(connection, f"select try_{function}(name) from names") == expected
    valid = [name for name in SAMPLES if name is not None and per_call.vrn_error_kind(name) == ""] + [None]
    assert column(connection, f"select {function}(name) from (select unnest($1) as name)", valid) == \
        [per_call_or_none(function, name) for name in valid]


def test_error_kind_fields_build_and_mint(connection: Any) -> None:
    assert column(connection, "select vrn_error_kind(name) from names") == \
        [None if n is None else per_call.vrn_error_kind(n) for n in SAMPLES]
    fields = column(connection, "select try_vrn_fields(name) from names")
    assert fields == [None if per_call_or_none("vrn_service", n) is None
                      else {f: getattr(per_call, f"vrn_{f}")(n) for f in FIELDS} for n in SAMPLES]
    # The struct's members are columns of their own in SQL.
    assert column(connection, "select (try_vrn_fields(name)).resource_type from names") == \
        [per_call_or_none("vrn_resource_type", n) for n in SAMPLES]
    built = column(connection, "select try_vrn_build(s, '', '', 'project', $1) from (select unnest(['iam', 'Iam', null]) as s)",
                   CANONICAL_ID.upper())
    assert built == [per_call.vrn_build("iam", "", "", "project", CANONICAL_ID), None, None]
    minted = column(connection, "select try_mint_uuid7(ms, $1) from (select unnest([1700000000000, -1, null]) as ms)", HEX)
    assert minted == [per_call.mint_uuid7(1700000000000, HEX), None, None]
    # BIGINT keeps every bit of milliseconds past 2**53, which DOUBLE would round.
    big = 2**62 + 1
    assert column(connection, "select mint_uuid7($1::bigint, $2)", big, HEX) == [per_call.mint_uuid7(big, HEX)]


@pytest.mark.parametrize(
    ("query", "function", "token", "row"),
    [
        ("select vrn_service(name) from names", "vrn_service", "empty", "''"),
        ("select vrn_fields(name) from names where name <> ''", "vrn_fields", "too-long", "'xxxxxxxx"),
        ("select vrn_build('iam', '', '', 'Project', 'x')", "vrn_build", "bad-resource-type",
         "('iam', '', '', 'Project', 'x')"),
        ("select mint_uuid7(1, 'xyz')", "mint_uuid7", "bad-rand-hex", "(1, 'xyz')"),
    ],
)
def test_a_failing_row_is_a_duckdb_error_naming_function_token_and_row(
    connection: Any, query: str, function: str, token: str, row: str
) -> None:
    with pytest.raises(duckdb.InvalidInputException) as raised:
        connection.execute(query).fetchall()
    message = str(raised.value)
    assert f"{function}: {token} in the row {row}" in message
    assert len(message) < 400  # an over-long name is shown by its start only


def test_a_column_that_is_not_text_is_a_binder_error_naming_function_and_type(connection: Any) -> None:
    with pytest.raises(duckdb.BinderException, match=r"vrn_service\(INTEGER"):
        connection.execute("select vrn_service(42)").fetchall()
    with pytest.raises(duckdb.BinderException, match=r"try_vrn_build\(\w+, \w+, \w+, \w+, BLOB\)"):
        connection.execute("select try_vrn_build('a', 'b', 'c', 'd', 'e'::blob)").fetchall()
    # An ENUM is text to DuckDB: it casts it on its own.
    connection.execute("create type if not exists kind as enum ('vrn:vlt:iam:::p/0190c3a2-7b1e-7000-8000-00000000abcd')")
    assert column(connection, "select vrn_service(k) from (select 'vrn:vlt:iam:::p/0190c3a2-7b1e-7000-8000-00000000abcd'::kind as k)") \
        == ["iam"]


def test_the_default_connection() -> None:
    veltrane_vrn.duckdb.register()
    assert duckdb.sql("select vrn_error_kind('vrn:vlt:iam:::p')").fetchall() == [("bad-resource-path",)]


def test_a_parquet_file_of_many_rows_is_read_in_vectors(tmp_path: Any) -> None:
    names = list(generated.generate(2_000)) + [None]
    rows = names * 50  # 100 050 rows, many vectors, several row groups
    pq.write_table(pa.table({"name": pa.array(rows, pa.string())}), tmp_path / "names.parquet", row_group_size=30_000)
    connection = duckdb.connect()
    veltrane_vrn.duckdb.register(connection)
    counts = dict(connection.execute(
        f"select vrn_error_kind(name) as kind, count(*) from '{tmp_path / 'names.parquet'}' group by kind").fetchall())
    expected: dict[str | None, int] = {}
    for name in names:
        kind = None if name is None else per_call.vrn_error_kind(name)
        expected[kind] = expected.get(kind, 0) + 50
    assert counts == expected
    # Row order and values, not only counts, on the whole file.
    services = column(connection, f"select try_vrn_service(name) from '{tmp_path / 'names.parquet'}'")
    assert services == [per_call_or_none("vrn_service", name) for name in rows]
