"""What the `vrn` command writes for an input, worked out the plain way: the
whole input decoded at once, split into lines, each name given to the
per-call functions of veltrane_py_bindings, each record formatted by Python
(json.dumps for JSON Lines). The tests hold the native scanner to it.

    records(b"...", "canon", json=False) -> ([(fd, bytes), ...], undecodable_line)
"""

from __future__ import annotations

import json

import veltrane_py_bindings as vrn

MAX_VRN_LEN = 512
SHOWN_BYTES = 64

Record = tuple[int, bytes]  # (1: standard output, 2: standard error), the record


def lines_of(data: bytes) -> list[bytes]:
    """The lines of an input: a line feed ends a line, a carriage return
    right before it belongs to the ending, a last line without one counts
    (whole: a carriage return at the very end of the input is part of it)."""
    *ended, last = data.split(b"\n")
    lines = [piece.removesuffix(b"\r") for piece in ended]
    return [*lines, last] if last else lines


def shown(name: bytes) -> tuple[str, bool]:
    """The text a report shows for a name, and whether it is cut: an
    over-long name shows its first 64 bytes, less a character cut there."""
    if len(name) <= MAX_VRN_LEN:
        return name.decode(), False
    return name[:SHOWN_BYTES].decode("utf-8", "ignore"), True


def _result(command: str, name: str) -> dict[str, str]:
    if command == "canon":
        return {"canonical": vrn.vrn_canonicalize(name)}
    if command == "fields":
        return {
            "service": vrn.vrn_service(name),
            "region": vrn.vrn_region(name),
            "org": vrn.vrn_org(name),
            "resource_type": vrn.vrn_resource_type(name),
            "resource_id": vrn.vrn_resource_id(name),
        }
    return {"entity_type": vrn.vrn_cedar_entity_type(name), "entity_id": vrn.vrn_cedar_entity_id(name)}


def _as_text(command: str, result: dict[str, str]) -> str:
    if command == "canon":
        return result["canonical"]
    if command == "fields":
        return " ".join(f"{key}={value}" for key, value in result.items())
    return f'{result["entity_type"]}::"{result["entity_id"]}"'


def record(command: str, label: str, number: int, name: bytes | None, as_json: bool) -> Record | None:
    """The record of one name (None: a null row of a column), or None for a
    valid name under `check`."""
    text, cut = shown(name) if name is not None else ("", False)
    token = vrn.vrn_error_kind(name.decode()) if name is not None else "empty"
    place: dict[str, object] = {"source": label, "line": number, "name": text if name is not None else None}
    if cut:
        assert name is not None
        place.update(name_bytes=len(name), truncated=True)
        text = f"{text}... ({len(name)} bytes)"
    if token:
        if as_json:
            return 1, (json.dumps({**place, "error": token}) + "\n").encode()
        line = f"{label}:{number}: {token}: {text}\n"
        return (1, line.encode()) if command == "check" else (2, f"vrn: {line}".encode())
    if command == "check":
        return None
    result = _result(command, text)
    if as_json:
        return 1, (json.dumps({**place, **result}) + "\n").encode()
    return 1, (_as_text(command, result) + "\n").encode()


def records(data: bytes, command: str = "check", as_json: bool = False, label: str = "F") -> tuple[list[Record], int]:
    """The records of every line of `data` in order, up to the first line
    that is not UTF-8, and that line's number (0 when there is none)."""
    out: list[Record] = []
    for number, line in enumerate(lines_of(data), 1):
        try:
            line.decode()
        except UnicodeDecodeError:
            return out, number
        made = record(command, label, number, line, as_json)
        if made is not None:
            out.append(made)
    return out, 0


def joined(pieces: list[Record]) -> list[Record]:
    """Records with the runs of one stream joined: what reaches each stream,
    in the order the two streams are written."""
    runs: list[Record] = []
    for fd, data in pieces:
        if runs and runs[-1][0] == fd:
            runs[-1] = (fd, runs[-1][1] + data)
        else:
            runs.append((fd, data))
    return runs
