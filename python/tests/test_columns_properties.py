"""The central property: for every row, a column function gives what the
per-call function gives (or raises) for that row's text, whatever the column's
layout: utf8, large_utf8 or string_view, sliced (an offset), chunked,
dictionary-encoded, with nulls, empty strings, multi-byte text, over-long
names and every token. VELTRANE_COLUMN_EXAMPLES sets the examples per test."""

from __future__ import annotations

import os
import uuid
from typing import Any

import veltrane_py_bindings as per_call
from hypothesis import HealthCheck, given, settings, strategies as st
from vrn_testing.column_model import ONE_TEXT, column_outcome, expected_column, fields_outcome, per_row
from vrn_testing.engines import need
from vrn_testing.samples import FIELDS, SAMPLES

from veltrane_vrn import columns

pa = need("pyarrow")

EXAMPLES = int(os.environ.get("VELTRANE_COLUMN_EXAMPLES", "150"))
# Under a memory tool (VELTRANE_MEMORY_TOOL) everything is many times slower:
# hypothesis must not judge the speed of generation there.
HEALTH = list(HealthCheck) if os.environ.get("VELTRANE_MEMORY_TOOL") else []

identifiers = st.from_regex(r"\A[a-z][a-z0-9]{0,5}(-[a-z][a-z0-9]{0,5}){0,2}\Z")
regions = st.one_of(st.just(""), st.from_regex(r"\A[a-z0-9]{1,4}(-[a-z0-9]{1,4}){0,2}\Z"))
uuids = st.builds(lambda n, upper: str(uuid.UUID(int=n)).upper() if upper else str(uuid.UUID(int=n)),
                  st.integers(0, 2**128 - 1), st.booleans())
valid_names = st.builds(lambda s, r, o, t, i: f"vrn:vlt:{s}:{r}:{o}:{t}/{i}",
                        identifiers, regions, st.one_of(st.just(""), uuids), identifiers, uuids)


@st.composite
def near_misses(draw: Any) -> str:
    text: str = draw(valid_names)
    for _ in range(draw(st.integers(1, 3))):
        i = draw(st.integers(0, len(text)))
        char = draw(st.sampled_from(list(":/-aZ0\x00é€ ")))
        text = draw(st.sampled_from([text[:i] + char + text[i:], text[:i] + text[i + 1:], text[:i] + char + text[i + 1:]]))
    return text


rows = st.one_of(
    st.none(),
    st.just(""),
    valid_names,
    near_misses(),
    st.sampled_from([s for s in SAMPLES if s is not None]),
    st.text(alphabet="vrnlt:/-é€😀a0", max_size=30),
    st.builds(lambda name, n: name + "é" * n, valid_names, st.integers(150, 260)),  # over-long in bytes
)


@st.composite
def string_columns(draw: Any, min_size: int = 0) -> tuple[list[str | None], Any]:
    """Rows, and the same rows as an Arrow column of a drawn layout."""
    values: list[str | None] = draw(st.lists(rows, min_size=min_size, max_size=40))
    arrow_type = draw(st.sampled_from([pa.string(), pa.large_string(), pa.string_view()]))
    before = draw(st.lists(rows, max_size=3))
    after = draw(st.lists(rows, max_size=3))
    padded = pa.array(before + values + after, arrow_type)
    if draw(st.booleans()) and arrow_type != pa.string_view():
        padded = padded.dictionary_encode()
    column = padded.slice(len(before), len(values))
    cuts = sorted(draw(st.lists(st.integers(0, len(values)), max_size=3)))
    if cuts:
        bounds = [0, *cuts, len(values)]
        column = pa.chunked_array([column.slice(a, b - a) for a, b in zip(bounds, bounds[1:])], column.type)
    if draw(st.booleans()):
        column = pa.table({"name": column})
    return values, column


@settings(max_examples=EXAMPLES, deadline=None, suppress_health_check=HEALTH)
@given(string_columns(), st.sampled_from(ONE_TEXT), st.sampled_from(["raise", "null"]))
def test_every_row_is_the_per_call_answer(data: tuple[list[str | None], Any], name: str, errors: str) -> None:
    values, column = data
    got = column_outcome(lambda: getattr(columns, name)(column, errors=errors))
    assert got == expected_column(per_row(name, values), errors)


@settings(max_examples=EXAMPLES, deadline=None, suppress_health_check=HEALTH)
@given(string_columns())
def test_error_kind_and_fields_are_the_per_call_answers(data: tuple[list[str | None], Any]) -> None:
    values, column = data
    assert columns.vrn_error_kind(column).to_pylist() == [None if v is None else per_call.vrn_error_kind(v) for v in values]
    outcomes = [None if v is None else fields_outcome(v) for v in values]
    assert columns.vrn_fields(column, errors="null").to_pylist() == expected_column(outcomes, "null")
    assert column_outcome(lambda: columns.vrn_fields(column)) == expected_column(outcomes, "raise")


any_field = st.one_of(st.none(), identifiers, regions, uuids, st.text(alphabet="ab1-:/é", max_size=8),
                      st.text(alphabet="a", min_size=480, max_size=520))


@settings(max_examples=EXAMPLES, deadline=None, suppress_health_check=HEALTH)
@given(st.lists(st.tuples(any_field, any_field, any_field, any_field, any_field), max_size=25),
       st.lists(st.integers(0, 25), max_size=2), st.sampled_from(["raise", "null"]))
def test_build_rows_are_the_per_call_answers(fields: list[tuple[Any, ...]], cuts: list[int], errors: str) -> None:
    outcomes: list[tuple[str, Any] | None] = []
    for row in fields:
        if None in row:
            outcomes.append(None)
            continue
        try:
            outcomes.append(("ok", per_call.vrn_build(*row)))
        except ValueError as error:
            outcomes.append(("error", error.args[0]))
    by_column = [[row[i] for row in fields] for i in range(5)]
    bounds = [0, *sorted(min(c, len(fields)) for c in cuts), len(fields)]
    inputs = [pa.chunked_array([c[a:b] for a, b in zip(bounds, bounds[1:])], pa.string()) if i % 2 else c
              for i, c in enumerate(by_column)]
    assert column_outcome(lambda: columns.vrn_build(*inputs, errors=errors)) == expected_column(outcomes, errors)


numbers = st.one_of(st.none(), st.integers(-(2**63), 2**63 - 1), st.integers(0, 2**48),
                    st.floats(allow_nan=True, allow_infinity=True), st.sampled_from([0.5, 2.0**64, -0.0, 2**53 + 1]))
hexes = st.one_of(st.none(), st.from_regex(r"\A[0-9a-f]{20}\Z"), st.text(alphabet="0123456789abcdefG", max_size=21))


@settings(max_examples=EXAMPLES, deadline=None, suppress_health_check=HEALTH)
@given(st.lists(st.tuples(numbers, hexes), max_size=25), st.sampled_from(["int64", "float64", "list"]),
       st.sampled_from(["raise", "null"]))
def test_mint_rows_are_the_per_call_answers(rows_: list[tuple[Any, Any]], kind: str, errors: str) -> None:
    unix_ms = [ms for ms, _ in rows_]
    if kind == "int64":
        unix_ms = [ms if ms is None or isinstance(ms, int) and -(2**63) <= ms < 2**63 else None for ms in unix_ms]
        column: Any = pa.array(unix_ms, pa.int64())
    elif kind == "float64":
        column = pa.array([None if ms is None else float(ms) for ms in unix_ms], pa.float64())
        unix_ms = column.to_pylist()
    else:
        column = unix_ms
    outcomes: list[tuple[str, Any] | None] = []
    for ms, rand_hex in zip(unix_ms, [h for _, h in rows_]):
        if ms is None or rand_hex is None:
            outcomes.append(None)
            continue
        try:
            outcomes.append(("ok", per_call.mint_uuid7(ms, rand_hex)))
        except ValueError as error:
            outcomes.append(("error", error.args[0]))
    got = column_outcome(lambda: columns.mint_uuid7(column, pa.array([h for _, h in rows_], pa.string()), errors=errors))
    assert got == expected_column(outcomes, errors)


def test_fields_names() -> None:
    assert [f.name for f in pa.array(columns.vrn_fields([None])).type] == FIELDS
