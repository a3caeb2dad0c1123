"""A minimal Arrow producer written with ctypes, for the column tests.

It builds utf8 arrays and streams by hand, counts every release callback the
consumer makes, and can fail a stream's get_next half-way, so the tests can
prove, without any Arrow library, that the column functions release every
struct they take exactly once, on success and on every error path.
"""

from __future__ import annotations

import ctypes
from ctypes import POINTER, c_char_p, c_int, c_int64, c_void_p
from dataclasses import dataclass, field


class ArrowSchema(ctypes.Structure):
    pass


class ArrowArray(ctypes.Structure):
    pass


class ArrowArrayStream(ctypes.Structure):
    pass


SchemaRelease = ctypes.CFUNCTYPE(None, POINTER(ArrowSchema))
ArrayRelease = ctypes.CFUNCTYPE(None, POINTER(ArrowArray))
StreamRelease = ctypes.CFUNCTYPE(None, POINTER(ArrowArrayStream))
GetSchema = ctypes.CFUNCTYPE(c_int, POINTER(ArrowArrayStream), POINTER(ArrowSchema))
GetNext = ctypes.CFUNCTYPE(c_int, POINTER(ArrowArrayStream), POINTER(ArrowArray))
GetLastError = ctypes.CFUNCTYPE(c_void_p, POINTER(ArrowArrayStream))

ArrowSchema._fields_ = [
    ("format", c_char_p), ("name", c_char_p), ("metadata", c_char_p), ("flags", c_int64),
    ("n_children", c_int64), ("children", c_void_p), ("dictionary", c_void_p),
    ("release", SchemaRelease), ("private_data", c_void_p),
]
ArrowArray._fields_ = [
    ("length", c_int64), ("null_count", c_int64), ("offset", c_int64), ("n_buffers", c_int64),
    ("n_children", c_int64), ("buffers", POINTER(c_void_p)), ("children", c_void_p),
    ("dictionary", c_void_p), ("release", ArrayRelease), ("private_data", c_void_p),
]
ArrowArrayStream._fields_ = [
    ("get_schema", GetSchema), ("get_next", GetNext), ("get_last_error", GetLastError),
    ("release", StreamRelease), ("private_data", c_void_p),
]

_capsule_new = ctypes.pythonapi.PyCapsule_New
_capsule_new.restype = ctypes.py_object
_capsule_new.argtypes = [c_void_p, c_char_p, c_void_p]


def capsule(struct: ctypes.Structure, name: bytes) -> object:
    """A capsule pointing at `struct` (kept alive by the producer), without a destructor."""
    return _capsule_new(ctypes.addressof(struct), name, None)


@dataclass
class Producer:
    """Makes arrays and streams and counts what the consumer releases."""

    made: dict[str, int] = field(default_factory=lambda: {"schema": 0, "array": 0, "stream": 0})
    released: dict[str, int] = field(default_factory=lambda: {"schema": 0, "array": 0, "stream": 0})
    keep: list[object] = field(default_factory=list)

    def __post_init__(self) -> None:
        def release_schema(schema: ctypes._Pointer[ArrowSchema]) -> None:
            self.released["schema"] += 1
            schema.contents.release = SchemaRelease()

        def release_array(array: ctypes._Pointer[ArrowArray]) -> None:
            self.released["array"] += 1
            array.contents.release = ArrayRelease()

        def release_stream(stream: ctypes._Pointer[ArrowArrayStream]) -> None:
            self.released["stream"] += 1
            stream.contents.release = StreamRelease()

        self._release_schema = SchemaRelease(release_schema)
        self._release_array = ArrayRelease(release_array)
        self._release_stream = StreamRelease(release_stream)

        def release_part(array: ctypes._Pointer[ArrowArray]) -> None:
            array.contents.release = ArrayRelease()

        def release_schema_part(schema: ctypes._Pointer[ArrowSchema]) -> None:
            schema.contents.release = SchemaRelease()

        self._release_part = ArrayRelease(release_part)
        self._release_schema_part = SchemaRelease(release_schema_part)

    def outstanding(self) -> dict[str, int]:
        return {kind: self.made[kind] - self.released[kind] for kind in self.made}

    def fill_schema(self, out: ArrowSchema, format: bytes = b"u") -> None:
        self.made["schema"] += 1
        out.format, out.name, out.metadata, out.flags = format, b"", None, 2
        out.n_children, out.children, out.dictionary = 0, None, None
        out.release, out.private_data = self._release_schema, None

    def fill_array(self, out: ArrowArray, rows: list[str | None], offset: int = 0) -> None:
        """A utf8 array of `rows`, the first `offset` of them hidden by the array's offset."""
        self.made["array"] += 1
        data = b"".join((row or "").encode() for row in rows)
        offsets = (ctypes.c_int32 * (len(rows) + 1))()
        position = 0
        for i, row in enumerate(rows):
            offsets[i] = position
            position += len((row or "").encode())
        offsets[len(rows)] = position
        bits = (ctypes.c_uint8 * (len(rows) // 8 + 1))()
        for i, row in enumerate(rows):
            if row is not None:
                bits[i // 8] |= 1 << (i % 8)
        data_buffer = ctypes.create_string_buffer(data, max(len(data), 1))
        buffers = (c_void_p * 3)(ctypes.addressof(bits), ctypes.addressof(offsets), ctypes.addressof(data_buffer))
        self.keep += [offsets, bits, data_buffer, buffers]
        out.length, out.offset, out.n_buffers, out.n_children = len(rows) - offset, offset, 3, 0
        out.null_count = sum(row is None for row in rows[offset:])
        out.buffers, out.children, out.dictionary = buffers, None, None
        out.release, out.private_data = self._release_array, None

    def array(self, rows: list[str | None], offset: int = 0, format: bytes = b"u") -> tuple[object, object]:
        """(schema capsule, array capsule), as `__arrow_c_array__` returns them."""
        schema, array = ArrowSchema(), ArrowArray()
        self.fill_schema(schema, format)
        self.fill_array(array, rows, offset)
        self.keep += [schema, array]
        return capsule(schema, b"arrow_schema"), capsule(array, b"arrow_array")

    # ---- structs made field by field, for the malformed ones ------------------

    def buffer(self, data: bytes) -> int:
        """The address of a copy of `data`, kept alive by the producer."""
        kept = ctypes.create_string_buffer(data, max(len(data), 1))
        self.keep.append(kept)
        return ctypes.addressof(kept)

    def raw_array(self, length: int, buffers: list[int | None] | None, offset: int = 0, null_count: int = 0,
                  children: list[ArrowArray] | None = None, dictionary: ArrowArray | None = None,
                  counted: bool = True) -> ArrowArray:
        """An array of exactly these fields. Children and dictionaries are not
        counted: they are released with their parent."""
        array = ArrowArray()
        if counted:
            self.made["array"] += 1
            array.release = self._release_array
        else:
            array.release = self._release_part
        array.length, array.null_count, array.offset = length, null_count, offset
        if buffers is None:
            array.n_buffers, array.buffers = 1, None
        else:
            pointers = (c_void_p * len(buffers))(*buffers)
            self.keep.append(pointers)
            array.n_buffers, array.buffers = len(buffers), pointers
        if children:
            child_pointers = (c_void_p * len(children))(*(ctypes.addressof(child) for child in children))
            self.keep.append(child_pointers)
            array.n_children, array.children = len(children), ctypes.addressof(child_pointers)
        array.dictionary = ctypes.addressof(dictionary) if dictionary is not None else None
        self.keep += [array, children, dictionary]
        return array

    def utf8_part(self, rows: list[str], offset: int = 0) -> ArrowArray:
        """An uncounted utf8 array (a child or a dictionary) of `rows`, without nulls."""
        data = "".join(rows).encode()
        ends = [0]
        for row in rows:
            ends.append(ends[-1] + len(row.encode()))
        offsets = b"".join(end.to_bytes(4, "little") for end in ends)
        return self.raw_array(len(rows) - offset, [None, self.buffer(offsets), self.buffer(data)], offset=offset,
                              counted=False)

    def raw_schema(self, format: bytes | None, children: list[ArrowSchema] | None = None,
                   dictionary: ArrowSchema | None = None, counted: bool = True) -> ArrowSchema:
        """A schema of exactly these fields (format None: a null format string)."""
        schema = ArrowSchema()
        if counted:
            self.made["schema"] += 1
            schema.release = self._release_schema
        else:
            schema.release = self._release_schema_part
        schema.format, schema.name, schema.flags = format, b"", 2
        if children:
            pointers = (c_void_p * len(children))(*(ctypes.addressof(child) for child in children))
            self.keep.append(pointers)
            schema.n_children, schema.children = len(children), ctypes.addressof(pointers)
        schema.dictionary = ctypes.addressof(dictionary) if dictionary is not None else None
        self.keep += [schema, children, dictionary]
        return schema

    def pair(self, schema: ArrowSchema, array: ArrowArray) -> tuple[object, object]:
        """(schema capsule, array capsule) over structs made by hand."""
        return capsule(schema, b"arrow_schema"), capsule(array, b"arrow_array")

    def stream(self, chunks: list[list[str | None]], fail_at: int | None = None,
               message: bytes = b"the producer gave up", format: bytes = b"u",
               schema_written: bool = True) -> object:
        """A stream of utf8 chunks; get_next fails with `message` at chunk `fail_at`;
        get_schema reports success without writing when not `schema_written`."""
        self.made["stream"] += 1
        state = {"next": 0}

        def get_schema(_: object, out: ctypes._Pointer[ArrowSchema]) -> int:
            if schema_written:
                self.fill_schema(out.contents, format)
            return 0

        def get_next(_: object, out: ctypes._Pointer[ArrowArray]) -> int:
            if state["next"] == fail_at:
                return 5  # EIO
            if state["next"] == len(chunks):
                out.contents.release = ArrayRelease()
                return 0
            self.fill_array(out.contents, chunks[state["next"]])
            state["next"] += 1
            return 0

        text = ctypes.create_string_buffer(message)  # lives as long as the producer

        def get_last_error(_: object) -> int:
            return ctypes.addressof(text)

        callbacks = (GetSchema(get_schema), GetNext(get_next), GetLastError(get_last_error))
        stream = ArrowArrayStream(*callbacks, self._release_stream, None)
        self.keep += [callbacks, stream, text]
        return capsule(stream, b"arrow_array_stream")


def call_release_without_interpreter(release_address: int, struct_address: int) -> None:
    """Calls a release callback through ctypes, which drops the interpreter lock for the call."""
    ctypes.CFUNCTYPE(None, c_void_p)(release_address)(struct_address)


def capsule_pointer(capsule_object: object, name: bytes) -> int:
    get = ctypes.pythonapi.PyCapsule_GetPointer
    get.restype, get.argtypes = c_void_p, [ctypes.py_object, c_char_p]
    return int(get(capsule_object, name))
