// Internal faults: unrecoverable failures inside the module's own code.
//
// A fault writes a report to standard error and then unwinds, as a C++
// exception of type `Fault`, to the one place that catches it: the body step
// of a call frame, which turns it into a Python `PanicException`. A fault that
// unwinds anywhere else in a frame aborts the process (see frame.hpp). Faults
// are the only C++ exceptions the bindings use; invalid input is never one.
#pragma once

#include <source_location>
#include <string>
#include <string_view>
#include <variant>

#include "runtime/python.hpp"

namespace veltrane::runtime {

// What a fault carries: an owned message, a static message, or nothing.
using FaultPayload = std::variant<std::monostate, std::string_view, std::string>;

// Deliberately not a std::exception: code that catches std::exception must not
// swallow a fault on its way to the frame.
class Fault {
public:
    explicit Fault(FaultPayload payload) noexcept : payload_(std::move(payload)) {}
    [[nodiscard]] FaultPayload& payload() noexcept { return payload_; }

private:
    FaultPayload payload_;
};

// Starts a fault with a static message: report first, then unwind.
[[noreturn]] void panic(std::string_view static_message,
                        std::source_location where = std::source_location::current());

// Starts a fault with a message formatted at run time.
[[noreturn]] void panic_owned(std::string message,
                              std::source_location where = std::source_location::current());

// Continues a fault that Python code reported as a PanicException: unwinds
// with `message` but writes no report (the traceback was printed instead).
[[noreturn]] void resume_fault(std::string message);

// For an interpreter call that must not fail (an object for a result, a
// message or an exception argument) and returned null: reports the pending
// exception, if any, as unraisable, then faults with "PyObject pointer is null".
[[noreturn]] void null_result_fault(std::source_location where = std::source_location::current());

// `made`, the result of such a call, or null_result_fault when it is null.
[[nodiscard]] inline PyObject* made_or_fault(PyObject* made,
                                             std::source_location where = std::source_location::current()) {
    if (made == nullptr) {
        null_result_fault(where);
    }
    return made;
}

// A new heap type from `spec`. The module cannot work without its types, so a
// failure is a fault: "could not create the <name> type: <the exception>".
[[nodiscard]] PyObject* type_from_spec_or_fault(PyType_Spec& spec,
                                                std::source_location where = std::source_location::current());

// Writes all of `text` to standard error (file descriptor 2, unbuffered).
void write_stderr(std::string_view text) noexcept;

// Writes the fault report: the thread, where the fault happened, the message
// and how to get a backtrace.
void write_fault_report(std::string_view message, const std::source_location& where) noexcept;

// Writes the report for a fault that escaped a frame and aborts the process.
[[noreturn]] void fire_fault_trap(const std::source_location& where) noexcept;

// The process-wide `PanicException` type (borrowed), created on first need.
[[nodiscard]] PyObject* panic_exception_type();

}  // namespace veltrane::runtime
