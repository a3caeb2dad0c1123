// `veltrane_vrn._native.NameScanner`: the `vrn` command's scanner
// (name_scanner.hpp) as a Python object, the engine of veltrane_vrn.cli.
//
//     class NameScanner:
//         def __init__(self, command, json=False, keep_order=True)
//         def start_source(self, text_label: bytes, json_label: bytes)
//         def feed(self, block, at=0) -> int       # the lock released while it scans
//         def end_source(self)
//         def name(self, text: bytes)
//         def column(self, array, at=0) -> int     # an Arrow string array (PyCapsules)
//         def take(self) -> tuple[tuple[int, bytes], ...]   # (fd, bytes) in write order
//         def counts(self) -> dict[str, int]       # "valid", then every token in check order
//         line: int; undecodable_line: int
//
// A scanner is used by one thread at a time: a call that finds it busy (its
// scan running without the lock on another thread) raises RuntimeError.
#pragma once

#include "runtime/python.hpp"

namespace veltrane::native {

// The type (a borrowed reference kept for the life of the process).
[[nodiscard]] PyObject* name_scanner_type();

}  // namespace veltrane::native
