"""veltrane_vrn.columns: the column functions row by row against the per-call
functions, every input layout, the result object, and bad input."""

from __future__ import annotations

import ctypes
import gc
import math
import threading
from typing import Any

import pytest
import veltrane_py_bindings as per_call
from arrow_producer import ArrowArray, Producer, call_release_without_interpreter, capsule, capsule_pointer
from vrn_testing.column_model import ONE_TEXT, column_outcome, expected_column, fields_outcome, per_row
from vrn_testing.engines import need
from vrn_testing.samples import FIELDS, HEX, ID, ORG, SAMPLES, VALID

from veltrane_vrn import columns
from veltrane_vrn.columns import _arrow_source

pa = need("pyarrow")


def layouts(rows: list[str | None]) -> dict[str, Any]:
    """The same rows in every layout a column can arrive in."""
    padded = ["pad", None, *rows, "tail"]
    return {
        "list": list(rows),
        "utf8": pa.array(rows, pa.string()),
        "large_utf8": pa.array(rows, pa.large_string()),
        "string_view": pa.array(rows, pa.string_view()),
        "sliced utf8": pa.array(padded, pa.string()).slice(2, len(rows)),
        "sliced string_view": pa.array(padded, pa.string_view()).slice(2, len(rows)),
        "chunked": pa.chunked_array([rows[:3], [], rows[3:]], pa.string()),
        "dictionary": pa.array(rows, pa.string()).dictionary_encode(),
        "sliced dictionary": pa.array(padded, pa.large_string()).dictionary_encode().slice(2, len(rows)),
        "table": pa.table({"name": pa.array(rows)}),
        "sliced table": pa.table({"name": pa.array(padded)}).slice(2, len(rows)),
        "record batch": pa.record_batch({"name": pa.array(rows, pa.string_view())}),
    }


@pytest.mark.parametrize("layout", list(layouts([])))
@pytest.mark.parametrize("errors", ["raise", "null"])
@pytest.mark.parametrize("name", ONE_TEXT)
def test_one_text_functions_agree_with_the_per_call_functions(name: str, errors: str, layout: str) -> None:
    column = layouts(SAMPLES)[layout]
    expected = expected_column(per_row(name, SAMPLES), errors)
    assert column_outcome(lambda: getattr(columns, name)(column, errors=errors)) == expected


@pytest.mark.parametrize("layout", list(layouts([])))
def test_error_kind_gives_the_token_or_empty(layout: str) -> None:
    got = columns.vrn_error_kind(layouts(SAMPLES)[layout]).to_pylist()
    assert got == [None if row is None else per_call.vrn_error_kind(row) for row in SAMPLES]


@pytest.mark.parametrize("errors", ["raise", "null"])
def test_fields_is_one_parse_giving_the_five_field_queries(errors: str) -> None:
    outcomes = [None if row is None else fields_outcome(row) for row in SAMPLES]
    got = column_outcome(lambda: columns.vrn_fields(pa.array(SAMPLES), errors=errors))
    assert got == expected_column(outcomes, errors)
    result = pa.array(columns.vrn_fields(SAMPLES, errors="null"))
    assert result.type == pa.struct([(field, pa.string()) for field in FIELDS])
    assert result.null_count == sum(o is None or o[0] == "error" for o in outcomes)


def test_the_first_failing_row_is_counted_over_all_chunks() -> None:
    chunks = pa.chunked_array([[VALID, VALID], [], [VALID, None, "vrn:x", ""]])
    with pytest.raises(ValueError) as raised:
        columns.vrn_canonicalize(chunks)
    assert raised.value.args == ("wrong-field-count",)
    assert raised.value.__notes__ == ["while processing row 4"]


BUILD_ROWS = [
    ("iam", "us-east-1", ORG, "project", ID),
    ("s3", "", "", "bucket", ID.lower()),
    ("iam:x", "", "", "p", ID),
    ("Iam", "", "", "p", ID),
    ("iam", None, "", "p", ID),
    ("a", "", "", "a" * 500, ID),
    ("iam", "", "", "p", "no"),
]


@pytest.mark.parametrize("errors", ["raise", "null"])
def test_build_agrees_with_the_per_call_function_whatever_the_chunking(errors: str) -> None:
    fields = [[row[i] for row in BUILD_ROWS] for i in range(5)]
    outcomes = []
    for row in BUILD_ROWS:
        if None in row:
            outcomes.append(None)
            continue
        try:
            outcomes.append(("ok", per_call.vrn_build(*row)))
        except ValueError as error:
            outcomes.append(("error", error.args[0]))
    expected = expected_column(outcomes, errors)
    # The five columns chunked differently from each other.
    inputs = [
        pa.chunked_array([fields[0][:2], fields[0][2:]]),
        pa.chunked_array([fields[1][:1], fields[1][1:5], fields[1][5:]]),
        fields[2],
        pa.array(fields[3], pa.string_view()),
        pa.chunked_array([[f] for f in fields[4]], pa.large_string()),
    ]
    assert column_outcome(lambda: columns.vrn_build(*inputs, errors=errors)) == expected
    if errors == "null":
        # The result's chunks follow the first column's.
        assert pa.chunked_array(columns.vrn_build(*inputs, errors="null")).num_chunks == 2


@pytest.mark.parametrize(
    ("arrow_type", "values"),
    [
        ("int8", [0, 127, -1, None]),
        ("uint8", [0, 255, None]),
        ("int16", [-32768, 1000, None]),
        ("uint16", [65535]),
        ("int32", [2**31 - 1, -5]),
        ("uint32", [2**32 - 1]),
        ("int64", [1700000000000, 2**53 + 1, 2**63 - 1, -(2**63), None]),
        ("uint64", [2**64 - 1, 2**64 - 1024, 2**64 - 4096, 2**48, 0]),
        ("float16", [0.0, 1.5, 2048.0, 65504.0, -0.0, float("inf"), float("nan")]),
        ("float32", [1.5, 16777217.0, 3.0e38, -1.0]),
        ("float64", [1700000000000.0, 0.5, -0.0, float("nan"), float("inf"), 2.0**64, 2.0**64 - 2048, 5e-324, None]),
    ],
)
@pytest.mark.parametrize("errors", ["raise", "null"])
def test_mint_converts_every_number_type_as_the_per_call_function_does(
    arrow_type: str, values: list[float | None], errors: str
) -> None:
    unix_ms = pa.array(values, getattr(pa, arrow_type)())
    hexes = [HEX, "F" * 20, HEX] * len(values)
    hexes = hexes[: len(values)]
    outcomes = []
    for value, rand_hex in zip(unix_ms.to_pylist(), hexes):
        if value is None:
            outcomes.append(None)
            continue
        try:
            outcomes.append(("ok", per_call.mint_uuid7(value, rand_hex)))
        except ValueError as error:
            outcomes.append(("error", error.args[0]))
    got = column_outcome(lambda: columns.mint_uuid7(unix_ms, pa.array(hexes), errors=errors))
    assert got == expected_column(outcomes, errors)


def test_mint_from_python_numbers_converts_each_as_float_does() -> None:
    values = [1700000000000, 2**53 + 1, 2**64 - 1, 1.5, -1, True, None, math.nan]
    got = columns.mint_uuid7(values, [HEX] * len(values), errors="null").to_pylist()
    want = []
    for value in values:
        try:
            want.append(None if value is None else per_call.mint_uuid7(value, HEX))
        except ValueError:
            want.append(None)
    assert got == want
    with pytest.raises(OverflowError) as raised:
        columns.mint_uuid7([0, 10**400], [HEX, HEX])
    assert raised.value.__notes__ == ["while processing row 1 of 'unix_ms'"]


@pytest.mark.parametrize("rows", [[], [None], [None] * 70], ids=["empty", "one null", "all null"])
@pytest.mark.parametrize("name", ["vrn_error_kind", "vrn_fields", *ONE_TEXT])
def test_empty_and_all_null_columns(name: str, rows: list[None]) -> None:
    for column in (pa.array(rows, pa.string()), rows, pa.chunked_array([], pa.string()) if not rows else rows):
        result = getattr(columns, name)(column)
        assert len(result) == len(rows) and result.to_pylist() == rows
        assert pa.array(result).null_count == len(rows)


@pytest.mark.parametrize(
    ("column", "found"),
    [
        (lambda: pa.array([1, 2]), "'l' (int64)"),
        (lambda: pa.array([b"x"]), "'z' (binary)"),
        (lambda: pa.array([True]), "'b' (bool)"),
        (lambda: pa.array([["a"]]), "'+l' (list)"),
        (lambda: pa.table({"a": ["x"], "b": ["y"]}), "'+s' (struct) of 2 fields"),
        (lambda: pa.array([1]).dictionary_encode(), "a dictionary of 'l' (int64) with 'i' (int32) indices"),
    ],
)
def test_a_column_that_is_not_strings_is_a_type_error_naming_parameter_and_format(column: Any, found: str) -> None:
    with pytest.raises(TypeError, match=r"^vrn_service\(\): 's' must be a column of strings") as raised:
        columns.vrn_service(column())
    assert f"found Arrow format {found}" in str(raised.value)
    with pytest.raises(TypeError, match=r"^vrn_build\(\): 'org' must be a column of strings"):
        columns.vrn_build(["iam"], [""], column(), ["p"], [ID])
    with pytest.raises(TypeError, match=r"^mint_uuid7\(\): 'unix_ms' must be a column of integers or floats, found Arrow format 'u' \(utf8\)"):
        columns.mint_uuid7(pa.array(["1"]), [HEX])


@pytest.mark.parametrize("value", [7, "vrn:vlt:iam:::p/x", b"bytes", None])
def test_something_that_is_no_column_is_a_type_error(value: object) -> None:
    with pytest.raises(TypeError, match="'s' must be an Arrow column"):
        columns.vrn_org(value)  # type: ignore[arg-type]


def test_a_sequence_row_that_is_not_a_str_is_a_type_error_naming_the_row() -> None:
    with pytest.raises(TypeError) as raised:
        columns.vrn_org([VALID, 5])  # type: ignore[list-item]
    assert raised.value.__notes__ == ["while processing row 1 of 's'"]
    with pytest.raises(UnicodeEncodeError):
        columns.vrn_org(["\udc80"])


@pytest.mark.parametrize("name", ["vrn_build", "mint_uuid7"])
def test_columns_of_different_lengths_are_a_value_error(name: str) -> None:
    if name == "vrn_build":
        call = lambda: columns.vrn_build(["iam", "s3"], ["", ""], pa.chunked_array([[""], [""], [""]]), ["p", "p"], [ID, ID])
        message = "'service' has 2, 'region' has 2, 'org' has 3, 'resource_type' has 2, 'resource_id' has 2 rows"
    else:
        call = lambda: columns.mint_uuid7([1, 2, 3], [HEX, HEX])
        message = "'unix_ms' has 3, 'rand_hex' has 2 rows"
    with pytest.raises(ValueError, match=f"^{name}\\(\\): the columns have different lengths: {message}$"):
        call()


def test_errors_must_be_raise_or_null() -> None:
    with pytest.raises(ValueError, match="errors must be 'raise' or 'null', not 'ignore'"):
        columns.vrn_region([VALID], errors="ignore")  # type: ignore[arg-type]


# ---- the result -------------------------------------------------------------

def test_the_result_is_an_arrow_array_stream_and_sequence() -> None:
    result = columns.vrn_service(pa.chunked_array([[VALID], [VALID, None]]))
    assert len(result) == 3 and result.num_chunks == 2
    assert result.to_pylist() == ["iam", "iam", None]
    assert pa.array(result).to_pylist() == ["iam", "iam", None]  # __arrow_c_array__: chunks joined
    chunked = pa.chunked_array(result)  # __arrow_c_stream__: chunks as they are
    assert [chunk.to_pylist() for chunk in chunked.chunks] == [["iam"], ["iam", None]]
    assert pa.DataType._import_from_c_capsule(result.__arrow_c_schema__()) == pa.string()
    assert repr(result) == "<veltrane_vrn.columns.Column utf8, 3 rows in 2 chunks>"
    with pytest.raises(TypeError):
        type(result)()


def test_requested_schema_is_the_result_type_or_refused() -> None:
    result = columns.vrn_service([VALID])
    assert pa.array(result, type=pa.string()).to_pylist() == ["iam"]
    same = pa.string().__arrow_c_schema__()
    assert pa.chunked_array(_Stream(result.__arrow_c_stream__(same))).to_pylist() == ["iam"]
    with pytest.raises(ValueError, match="requested_schema: this column is exported as its own type, 'u' \\(utf8\\), not as 'U' \\(large_utf8\\)"):
        result.__arrow_c_array__(pa.large_string().__arrow_c_schema__())
    with pytest.raises(TypeError, match="requested_schema must be None or an \"arrow_schema\" capsule"):
        result.__arrow_c_stream__(5)


def test_text_past_the_utf8_limit_gives_large_utf8() -> None:
    # The limit is a hook of the test-only build of the native module.
    hooks = need("veltrane_native_testing")

    def canonicalize(values: object) -> object:
        return hooks.vrn_canonicalize(_arrow_source(values, "s"), "raise")

    old = hooks._set_utf8_limit(1000)
    try:
        small = canonicalize([VALID] * 9)  # 9 * 103 bytes: under the limit
        big = canonicalize(pa.chunked_array([[VALID] * 5, [VALID] * 5]))  # the whole passes it
        inside = canonicalize([VALID] * 20)  # passes it inside one chunk
    finally:
        hooks._set_utf8_limit(old)
    assert pa.array(small).type == pa.string()
    for result in (big, inside):
        assert pa.array(result).type == pa.large_string()
        assert pa.chunked_array(result).type == pa.large_string()
        assert set(result.to_pylist()) == {VALID.lower()}


def test_exported_structs_outlive_the_result_and_release_on_any_thread() -> None:
    result = columns.vrn_resource_id([VALID] * 100)
    stream = result.__arrow_c_stream__()
    array_capsule = result.__arrow_c_array__()[1]
    del result
    gc.collect()
    # The array is released by a thread that does not hold the interpreter lock.
    address = capsule_pointer(array_capsule, b"arrow_array")
    array = ArrowArray.from_address(address)
    assert array.length == 100
    release = ctypes.cast(array.release, ctypes.c_void_p).value
    thread = threading.Thread(target=call_release_without_interpreter, args=(release, address))
    thread.start()
    thread.join()
    assert not array.release  # released; the capsule will not release it again
    assert pa.chunked_array(_Stream(stream)).to_pylist() == [ID.lower()] * 100


class _Stream:
    """Hands a stream capsule to pyarrow."""

    def __init__(self, capsule: object) -> None:
        self.capsule = capsule

    def __arrow_c_stream__(self, requested_schema: object = None) -> object:
        return self.capsule


# ---- ownership of what comes in -----------------------------------------------

def test_every_imported_struct_is_released_exactly_once_on_success_and_failure() -> None:
    producer = Producer()
    rows = [VALID, None, "vrn:bad", "", VALID.lower()]
    assert columns.vrn_error_kind(producer.array(rows, offset=1)).to_pylist() == [None, "wrong-field-count", "empty", ""]
    assert columns.vrn_org(producer.stream([rows[:2], [], rows[2:]]), errors="null").to_pylist() == [
        ORG.lower(), None, None, None, ORG.lower()]
    with pytest.raises(ValueError):
        columns.vrn_org(producer.stream([rows[:2], rows[2:], rows]))  # stops at chunk 1
    with pytest.raises(TypeError):
        columns.vrn_org(producer.stream([rows], format=b"l"))  # refused by its schema
    with pytest.raises(TypeError):
        # Capsules after the refused one are not consumed: they stay their owner's.
        columns.vrn_build(producer.array(rows), producer.stream([rows]), producer.array(rows),
                          producer.stream([rows]), producer.array(rows, format=b"z"))
    with pytest.raises(ValueError, match="different lengths"):
        columns.vrn_build(*[producer.stream([rows, rows]) for _ in range(4)], producer.stream([rows]), errors="null")
    assert producer.outstanding() == {"schema": 0, "array": 0, "stream": 0}
    assert producer.made["array"] > 10



def test_a_stream_failing_half_way_raises_its_message_and_leaks_nothing() -> None:
    producer = Producer()
    with pytest.raises(RuntimeError) as raised:
        columns.vrn_canonicalize(producer.stream([[VALID], [VALID]] * 2, fail_at=2, message=b"disk on fire"))
    assert str(raised.value) == ("vrn_canonicalize(): 's': reading chunk 2 of the Arrow stream failed: "
                                 "disk on fire (error code 5)")
    assert producer.outstanding() == {"schema": 0, "array": 0, "stream": 0}

    # The same through pyarrow, whose reader fails when the batches' generator raises.
    before = pa.total_allocated_bytes()

    def batches() -> Any:
        yield pa.record_batch({"name": pa.array([VALID] * 1000)})
        raise OSError("the source went away")

    reader = pa.RecordBatchReader.from_batches(pa.schema({"name": pa.string()}), batches())
    with pytest.raises(RuntimeError, match="reading chunk 1 of the Arrow stream failed: .*the source went away"):
        columns.vrn_service(reader)
    del reader
    gc.collect()
    assert pa.total_allocated_bytes() == before


def test_a_consumed_capsule_is_a_clear_error() -> None:
    pair = pa.array([VALID]).__arrow_c_array__()
    assert columns.vrn_service(pair).to_pylist() == ["iam"]
    with pytest.raises(ValueError, match="'s': the arrow_array capsule was already consumed"):
        columns.vrn_service(pair)
    stream = pa.chunked_array([[VALID]]).__arrow_c_stream__()
    columns.vrn_error_kind(stream)
    with pytest.raises(ValueError, match="'s': the arrow_array_stream capsule was already consumed"):
        columns.vrn_error_kind(stream)


def test_corrupt_offsets_and_dictionary_indices_are_value_errors_not_reads_out_of_bounds() -> None:
    # Offsets that go backwards.
    data = pa.py_buffer(b"abcdef")
    offsets = pa.py_buffer(pa.array([0, 4, 2], pa.int32()).buffers()[1])
    broken = pa.StringArray.from_buffers(2, offsets, data)
    with pytest.raises(ValueError, match="'s' holds invalid Arrow data at row 1"):
        columns.vrn_error_kind(broken)
    indices = pa.array([0, 7], pa.int8())
    dictionary = pa.DictionaryArray.from_buffers(pa.dictionary(pa.int8(), pa.string()), 2,
                                                 indices.buffers(), pa.array(["x"]))
    with pytest.raises(ValueError, match="'s' holds invalid Arrow data at row 1"):
        columns.vrn_error_kind(dictionary)


# ---- structs made by hand that once crashed the interpreter ---------------------

_MAX = 2**63 - 1
_OVERFLOW = "an array whose offset plus length passes 64 bits"


def _utf8_pair(p: Producer, offset: int = 0, length: int = 2) -> Any:
    array = p.raw_array(length, [None, p.buffer(b"\0\0\0\0\3\0\0\0\6\0\0\0"), p.buffer(b"iam" * 2)], offset=offset)
    return p.pair(p.raw_schema(b"u"), array)


def _dictionary_pair(p: Producer, offset: int = 0, length: int = 2, values_offset: int = 0,
                     values_format: bytes | None = b"u") -> Any:
    values = p.utf8_part(["iam", "s3"])
    values.offset = values_offset
    indices = p.raw_array(length, [None, p.buffer(b"\0\1")], offset=offset, dictionary=values)
    return p.pair(p.raw_schema(b"c", dictionary=p.raw_schema(values_format, counted=False)), indices)


def _table_pair(p: Producer, offset: int = 0, buffers: bool = True) -> Any:
    column = p.utf8_part(["iam", "s3"])
    table = p.raw_array(2, [None] if buffers else None, offset=offset, children=[column])
    return p.pair(p.raw_schema(b"+s", children=[p.raw_schema(b"u", counted=False)]), table)


def _numbers_pair(p: Producer, offset: int = 0) -> Any:
    array = p.raw_array(1, [None, p.buffer((1700000000000).to_bytes(8, "little"))], offset=offset)
    return p.pair(p.raw_schema(b"l"), array)


@pytest.mark.parametrize(
    ("make", "error", "message"),
    [
        (lambda p: _utf8_pair(p, offset=_MAX - 1), ValueError, f"'s': chunk 0 of the Arrow data is {_OVERFLOW}"),
        (lambda p: _utf8_pair(p, offset=2**61), ValueError, f"'s': chunk 0 of the Arrow data is {_OVERFLOW}"),
        (lambda p: _dictionary_pair(p, offset=_MAX), ValueError, f"'s': chunk 0 of the Arrow data is {_OVERFLOW}"),
        (lambda p: _dictionary_pair(p, values_offset=_MAX - 1), ValueError,
         f"'s': chunk 0 of the Arrow data is {_OVERFLOW}"),
        (lambda p: _table_pair(p, offset=_MAX - 1), ValueError, f"'s': chunk 0 of the Arrow data is {_OVERFLOW}"),
        (lambda p: _dictionary_pair(p, length=-1), ValueError,
         "'s': chunk 0 of the Arrow data is a negative length or offset"),
        (lambda p: _table_pair(p, buffers=False), ValueError,
         "'s': chunk 0 of the Arrow data is an array without its buffers"),
        (lambda p: p.pair(p.raw_schema(None), p.utf8_part(["iam"])), ValueError,
         "'s': the Arrow data is a schema with no format string"),
        (lambda p: _dictionary_pair(p, values_format=None), ValueError,
         "'s': the Arrow data is a schema with no format string"),
        (lambda p: p.stream([[VALID]], schema_written=False), RuntimeError,
         "'s': reading the Arrow stream's schema failed: it reported success but gave no schema"),
    ],
    ids=["offset-plus-length", "offset-bytes", "dictionary-indices-offset", "dictionary-values-offset",
         "table-offset", "dictionary-negative-length", "table-without-buffers", "schema-format-null",
         "dictionary-schema-format-null", "stream-schema-not-written"],
)
def test_malformed_structs_are_clear_errors_and_released_once(make: Any, error: type, message: str) -> None:
    producer = Producer()
    column = make(producer)
    with pytest.raises(error) as raised:
        columns.vrn_service(column)
    assert str(raised.value) == f"vrn_service(): {message}"
    assert producer.outstanding() == {"schema": 0, "array": 0, "stream": 0}


def test_a_number_column_whose_offset_plus_length_overflows_is_a_value_error() -> None:
    producer = Producer()
    with pytest.raises(ValueError) as raised:
        columns.mint_uuid7(_numbers_pair(producer, offset=_MAX), [HEX])
    assert str(raised.value) == f"mint_uuid7(): 'unix_ms': chunk 0 of the Arrow data is {_OVERFLOW}"
    assert columns.mint_uuid7(_numbers_pair(producer), [HEX]).to_pylist() == [per_call.mint_uuid7(1700000000000, HEX)]
    assert producer.outstanding() == {"schema": 0, "array": 0, "stream": 0}


def test_the_scanner_refuses_malformed_structs_as_the_column_functions_do() -> None:
    from veltrane_vrn._native import NameScanner

    producer = Producer()
    with pytest.raises(ValueError, match=f"^column\\(\\): 'array': the Arrow data is {_OVERFLOW}$"):
        NameScanner("check").column(_table_pair(producer, offset=_MAX - 1))
    with pytest.raises(ValueError, match="^column\\(\\): 'array': the Arrow data is a schema with no format string$"):
        NameScanner("check").column(_dictionary_pair(producer, values_format=None))
    with pytest.raises(RuntimeError, match="^column\\(\\): 'array': reading the Arrow stream's schema failed"):
        NameScanner("check").column(producer.stream([[VALID]], schema_written=False))
    assert producer.outstanding() == {"schema": 0, "array": 0, "stream": 0}


def test_a_malformed_requested_schema_is_refused_not_read() -> None:
    producer = Producer()
    result = columns.vrn_service([VALID])
    requested = capsule(producer.raw_schema(None), b"arrow_schema")
    with pytest.raises(ValueError, match="^requested_schema: the Arrow data is a schema with no format string$"):
        result.__arrow_c_array__(requested)
    table = producer.raw_schema(b"+s", children=[producer.raw_schema(b"u", counted=False)])
    table.children = None  # one child said, none given
    with pytest.raises(ValueError, match="^requested_schema: the Arrow data is a schema with a child missing$"):
        result.__arrow_c_stream__(capsule(table, b"arrow_schema"))
