#include "runtime/interpreter.hpp"

#include <cstdint>
#include <string>

namespace veltrane::runtime {

std::optional<PyErr> require_main_interpreter(std::string_view module_name) {
    // The main interpreter is the first one created and always has ID 0.
    PyInterpreterState* interpreter = PyInterpreterState_Get();
    if (PyInterpreterState_GetID(interpreter) == 0) {
        return std::nullopt;
    }
    return PyErr::import_error(
        std::string(module_name) +
        " can only be imported in the main interpreter: it keeps process-wide objects "
        "(its PanicException type, interned names) that must not belong to a subinterpreter");
}

}  // namespace veltrane::runtime
