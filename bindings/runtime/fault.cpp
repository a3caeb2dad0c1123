#include "runtime/fault.hpp"

#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/attach.hpp"
#include "runtime/once_cell.hpp"
#include "runtime/process.hpp"
#include "runtime/py_err.hpp"
#include "runtime/text.hpp"

namespace veltrane::runtime {
namespace {

constexpr std::string_view kTrapMessage = "uncaught panic at ffi boundary";

constexpr const char* kPanicExceptionDoc =
    "\n"
    "The exception raised when native code of veltrane_py_bindings, called from Python, panics.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

// The calling thread's name. prctl rather than pthread_getname_np: the latter
// moved into libc in glibc 2.34 and alone would make the wheel need 2.34.
std::string thread_label() {
    char name[17] = {};  // PR_GET_NAME writes at most 16 bytes, NUL included
    if (::prctl(PR_GET_NAME, name, 0, 0, 0) == 0 && name[0] != '\0') {
        return name;
    }
    return "<unnamed>";
}

PyObject* create_panic_exception_type(const void* /*context*/) {
    PyObject* base = PyExc_BaseException;
    Py_IncRef(base);
    PyObject* type = PyErr_NewExceptionWithDoc("veltrane_runtime.PanicException",
                                               kPanicExceptionDoc, base, nullptr);
    release(base);
    if (type == nullptr) {
        std::optional<PyErr> error = PyErr::take_pending();
        panic_owned(std::string("Failed to initialize new exception type.: ") +
                    (error ? error->debug_description() : std::string("no exception set")));
    }
    return type;
}

}  // namespace

void write_stderr(std::string_view text) noexcept {
    while (!text.empty()) {
        const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
        if (written <= 0) {
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

void write_fault_report(std::string_view message, const std::source_location& where) noexcept {
    try {
        std::string report = "veltrane_py_bindings: internal fault in thread '" + thread_label() +
                             "' at " + where.file_name() + ":" + std::to_string(where.line()) +
                             ":" + std::to_string(where.column()) + ":\n";
        report.append(message);
        report +=
            "\nhint: for a backtrace, run under gdb with `catch throw` and type `bt` when it "
            "stops\n";
        write_stderr(report);
    } catch (...) {
        write_stderr("veltrane_py_bindings: internal fault (report could not be formatted)\n");
    }
}

void panic(std::string_view static_message, std::source_location where) {
    write_fault_report(static_message, where);
    throw Fault(FaultPayload(static_message));
}

void panic_owned(std::string message, std::source_location where) {
    write_fault_report(message, where);
    throw Fault(FaultPayload(std::move(message)));
}

void resume_fault(std::string message) { throw Fault(FaultPayload(std::move(message))); }

void null_result_fault(std::source_location where) {
    if (PyObject* pending = PyErr_GetRaisedException()) {
        PyErr_SetRaisedException(pending);
        PyErr_WriteUnraisable(nullptr);
    }
    panic("PyObject pointer is null", where);
}

PyObject* type_from_spec_or_fault(PyType_Spec& spec, std::source_location where) {
    PyObject* type = PyType_FromSpec(&spec);
    if (type == nullptr) {
        const std::string_view full_name = spec.name;
        const std::string_view name = full_name.substr(full_name.rfind('.') + 1);
        std::optional<PyErr> error = PyErr::take_pending();
        panic_owned("could not create the " + std::string(name) + " type: " +
                        (error ? error->debug_description() : std::string("no exception set")),
                    where);
    }
    return type;
}

void fire_fault_trap(const std::source_location& where) noexcept {
    write_fault_report(kTrapMessage, where);
    std::abort();
}

PyObject* panic_exception_type() { return process().panic_exception_type.get(create_panic_exception_type); }

}  // namespace veltrane::runtime
