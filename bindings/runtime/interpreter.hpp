// Which interpreter a module may live in.
//
// The runtime keeps a few objects for the whole process (the PanicException
// type and interned names), made by whichever interpreter needs them first and
// never released. An object made by a subinterpreter belongs to it: with its
// own allocator (an isolated configuration, even with a shared GIL) its memory
// goes when the interpreter is destroyed, and the first later use from the
// main interpreter frees or reads foreign memory; with a shared allocator the
// type is still registered in, and tracked by, an interpreter that is gone.
// So the modules on this runtime refuse to be executed anywhere but in the
// main interpreter, before any process-wide object can be made.
#pragma once

#include <optional>
#include <string_view>

#include "runtime/py_err.hpp"

namespace veltrane::runtime {

// Nothing in the main interpreter (ID 0); elsewhere an ImportError that names
// `module_name` and says why.
[[nodiscard]] std::optional<PyErr> require_main_interpreter(std::string_view module_name);

}  // namespace veltrane::runtime
