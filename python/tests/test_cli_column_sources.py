"""`vrn ... --column NAME` over Parquet and Arrow IPC files (the column source
of veltrane_vrn.cli.sources): the records are those the same names give as
lines (a null row is an empty name, null in JSON), whatever the file's format,
string type and batches; what cannot be read is one line and status 2."""

from __future__ import annotations

import json
import sys
from pathlib import Path

import pytest
import scan_model
from vrn_testing.command import peak_memory_kib
from vrn_testing.samples import BAD_SERVICE, CANONICAL, ID, VALID

pa = pytest.importorskip("pyarrow")
ipc = pytest.importorskip("pyarrow.ipc")
pq = pytest.importorskip("pyarrow.parquet")

NAMES = [
    VALID,
    None,
    BAD_SERVICE,
    "",
    CANONICAL,
    "x" * 600,
    "\u00e9t\u00e9 \"quoted\"",
    f"vrn:vlt:s3:::bucket/{ID}",
] * 3


def write_parquet(path: Path, table) -> None:
    pq.write_table(table, path, row_group_size=5)


def write_ipc_file(path: Path, table) -> None:
    with ipc.new_file(path, table.schema) as writer:
        writer.write_table(table, max_chunksize=4)


def write_ipc_stream(path: Path, table) -> None:
    with ipc.new_stream(path, table.schema) as writer:
        writer.write_table(table, max_chunksize=7)


WRITERS = {"parquet": write_parquet, "arrow": write_ipc_file, "arrows": write_ipc_stream}
STRING_TYPES = {
    "utf8": lambda values: pa.array(values, pa.string()),
    "large": lambda values: pa.array(values, pa.large_string()),
    "view": lambda values: pa.array(values, pa.string_view()),
    "dictionary": lambda values: pa.array(values, pa.string()).dictionary_encode(),
}


def names_file(tmp_path: Path, writer: str, string_type: str = "utf8", names: list[str | None] = NAMES) -> Path:
    table = pa.table({"id": pa.array(range(len(names))), "name": STRING_TYPES[string_type](names)})
    path = tmp_path / f"names.{writer}"
    WRITERS[writer](path, table)
    return path


def expected(command: str, as_json: bool, label: str, names: list[str | None] = NAMES) -> tuple[str, str]:
    """(standard output, standard error) as the model makes them."""
    out, err = [], []
    for number, name in enumerate(names, 1):
        made = scan_model.record(command, label, number, None if name is None else name.encode(), as_json)
        if made is not None:
            (out if made[0] == 1 else err).append(made[1].decode())
    return "".join(out), "".join(err)


@pytest.mark.parametrize(
    ("writer", "string_type"),
    [("parquet", "utf8"), ("parquet", "large"), ("arrow", "utf8"), ("arrow", "view"), ("arrow", "dictionary"),
     ("arrows", "large"), ("arrows", "dictionary")],
)
def test_check_reads_the_column(vrn, tmp_path: Path, writer: str, string_type: str) -> None:
    path = names_file(tmp_path, writer, string_type)
    status, out, err = vrn("check", "--column", "name", "-f", str(path))
    report, _ = expected("check", False, str(path))
    assert (status, err) == (1, "")
    assert out == report + "checked 24 names: 9 valid, 15 invalid\n"


@pytest.mark.parametrize("command", ["check", "canon", "fields", "cedar"])
@pytest.mark.parametrize("as_json", [False, True], ids=["text", "json"])
def test_every_command_and_output_form(vrn, tmp_path: Path, command: str, as_json: bool) -> None:
    path = names_file(tmp_path, "parquet")
    status, out, err = vrn(command, *(["--json"] if as_json else []), "--column", "name", "-f", str(path))
    report, errors = expected(command, as_json, str(path))
    assert status == 1
    if command == "check":
        out = "".join(out.splitlines(keepends=True)[:-1])  # less the summary
    assert (out, err) == (report, errors)
    if as_json:
        assert [json.loads(line)["name"] for line in out.splitlines()].count(None) == 3


def test_files_of_both_kinds_in_one_run(vrn, tmp_path: Path) -> None:
    parquet = names_file(tmp_path, "parquet", names=[VALID, "bad"])
    text = tmp_path / "names.txt"
    text.write_text("bad\n")
    status, out, _ = vrn("check", "--column", "name", "-f", str(text), "-f", str(parquet), VALID)
    assert (status, out.splitlines()) == (
        1,
        [f"{text}:1: wrong-field-count: bad", f"{parquet}:2: wrong-field-count: bad",
         "checked 4 names: 2 valid, 2 invalid"],
    )


@pytest.mark.parametrize(("writer", "kind"), [("parquet", "Parquet"), ("arrow", "Arrow IPC"), ("arrows", "Arrow IPC stream")])
def test_a_columnar_file_without_column_says_what_it_is(vrn, tmp_path: Path, writer: str, kind: str) -> None:
    path = names_file(tmp_path, writer)
    assert vrn("check", "-f", str(path)) == (
        2, "", f"vrn: cannot read {path} as lines: it is {kind} data; name its column of names with --column\n"
    )


def test_text_that_starts_like_parquet_is_text(vrn, tmp_path: Path) -> None:
    path = tmp_path / "names.txt"
    path.write_text(f"PAR1\n{VALID}\n")
    assert vrn("check", "--column", "name", "-f", str(path)) == (
        1, f"{path}:1: wrong-field-count: PAR1\nchecked 2 names: 1 valid, 1 invalid\n", ""
    )


@pytest.mark.parametrize(
    ("column", "message"),
    [
        ("nope", "it has no column 'nope' (its columns: id, name)"),
        ("id", "column 'id' holds int64, not strings"),
    ],
)
def test_a_column_that_cannot_be_read(vrn, tmp_path: Path, column: str, message: str) -> None:
    path = names_file(tmp_path, "parquet")
    assert vrn("check", "--column", column, "-f", str(path)) == (2, "", f"vrn: cannot read {path}: {message}\n")


def test_a_damaged_file(vrn, tmp_path: Path) -> None:
    path = names_file(tmp_path, "parquet")
    data = path.read_bytes()
    path.write_bytes(data[:-8] + b"\x00\xff\xff\x7f" + data[-4:])  # a footer longer than the file
    status, out, err = vrn("check", "--column", "name", "-f", str(path))
    assert (status, out) == (2, "")
    assert err.startswith(f"vrn: cannot read {path}: ") and err.count("\n") == 1


def test_without_pyarrow_columns_are_a_clear_error(vrn, tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> None:
    path = names_file(tmp_path, "arrow")
    for module in [name for name in sys.modules if name == "pyarrow" or name.startswith("pyarrow.")]:
        monkeypatch.setitem(sys.modules, module, None)  # an import of it raises ImportError
    assert vrn("check", "--column", "name", "-f", str(path)) == (
        2,
        "",
        f"vrn: cannot read {path}: reading Arrow IPC files needs pyarrow (pip install 'veltrane-py-bindings[arrow]')\n",
    )
    # Text needs no pyarrow.
    assert vrn("check", VALID)[0] == 0


def test_memory_follows_the_row_groups_not_the_file(tmp_path: Path) -> None:
    # Distinct names in row groups of 16Ki rows: two groups against sixteen.
    # Read a batch at a time, the larger file costs no more (pyarrow itself
    # takes some 50 MB of resident memory whatever the file, and what it
    # holds grows with the size of a row group, not with their number).
    def write(path: Path, count: int) -> Path:
        names = pa.array([f"{VALID[:-8]}{i:08x}" if i % 3 else f"bad-{i}" for i in range(count)])
        pq.write_table(pa.table({"name": names}), path, row_group_size=16 << 10)
        return path

    small = peak_memory_kib("check", "--column", "name", "-f", str(write(tmp_path / "small.parquet", 32 << 10)))
    large = peak_memory_kib("check", "--column", "name", "-f", str(write(tmp_path / "large.parquet", 256 << 10)))
    assert large - small < 4 << 10, f"peak memory grew by {large - small} KiB"
