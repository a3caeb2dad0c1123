#include "runtime/frame.hpp"

#include <string>

namespace veltrane::runtime {

PyErr panic_to_error(FaultPayload payload) {
    std::string message;
    if (auto* owned = std::get_if<std::string>(&payload)) {
        message = std::move(*owned);
    } else if (auto* constant = std::get_if<std::string_view>(&payload)) {
        message = std::string(*constant);
    } else {
        message = "native code of veltrane_py_bindings panicked without a message";
    }
    return PyErr::panic_exception(std::move(message));
}

void report_foreign_fault(const std::source_location& where) noexcept {
    write_fault_report("a C++ exception that is not a fault of this module reached the frame",
                       where);
}

}  // namespace veltrane::runtime
