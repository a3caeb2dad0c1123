// The call frame that every function entry point and the exec step run in.
//
//     def frame(body):
//         attach_count += 1; apply pending releases
//         try:    result = body()                  # PyResult: value or PyErr
//         except Fault as f: result = panic_to_error(f)
//         if error: raise it in the interpreter; result = NULL
//         attach_count -= 1
//         return result
//
// Faults are captured only around the body. One that escapes from any other
// step (attaching, translating a fault, raising an error) springs the fault
// trap: the report "uncaught panic at ffi boundary" and abort(), because no
// consistent state can be handed back to the interpreter from there.
#pragma once

#include <source_location>
#include <type_traits>

#include "runtime/attach.hpp"
#include "runtime/fault.hpp"
#include "runtime/py_err.hpp"
#include "runtime/py_result.hpp"
#include "runtime/python.hpp"

namespace veltrane::runtime {

// Turns a captured fault's payload into a lazy `PanicException` error.
[[nodiscard]] PyErr panic_to_error(FaultPayload payload);

// Reports a C++ exception that is not a `Fault` (it carries no message of ours).
void report_foreign_fault(const std::source_location& where) noexcept;

// Runs `body` with faults captured: its outcome, or the fault as an error.
template <class Body>
auto run_body(Body& body, const std::source_location& where)
    -> std::remove_cvref_t<decltype(body())> {
    FaultPayload payload;
    try {
        return body();
    } catch (Fault& fault) {
        payload = std::move(fault.payload());
    } catch (...) {
        report_foreign_fault(where);
    }
    return panic_to_error(std::move(payload));
}

// The frame of a function call: a new reference, or null with the error raised.
template <class Body>
PyObject* call_frame(Body&& body,
                     const std::source_location where = std::source_location::current()) noexcept {
    try {
        AttachScope attached;
        PyResult<PyObject*> outcome = run_body(body, where);
        if (outcome.ok()) {
            return outcome.value();
        }
        PyErr::raise_in_interpreter(std::move(outcome.error()));  // raised where it lies
        return nullptr;
    } catch (...) {
        fire_fault_trap(where);
    }
}

// The frame of the module's exec step: 0, or -1 with the error raised.
template <class Body>
int exec_frame(Body&& body,
               const std::source_location where = std::source_location::current()) noexcept {
    try {
        AttachScope attached;
        PyResult<int> outcome = run_body(body, where);
        if (outcome.ok()) {
            return outcome.value();
        }
        PyErr::raise_in_interpreter(std::move(outcome.error()));  // raised where it lies
        return -1;
    } catch (...) {
        fire_fault_trap(where);
    }
}

// The arguments of a fast call with keywords, as the interpreter passes them.
struct CallArgs {
    PyObject* const* args;
    Py_ssize_t nargs;
    PyObject* kwnames;
};

using Body = PyResult<PyObject*> (*)(const CallArgs& call);

// The `ml_meth` of a function: runs `FunctionBody` in a call frame.
template <Body FunctionBody>
PyObject* entry_point(PyObject* /*self*/, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) noexcept {
    const CallArgs call{args, nargs, kwnames};
    return call_frame([&call] { return FunctionBody(call); });
}

// `entry_point<Body>` in the pointer type that a method record holds.
template <Body FunctionBody>
PyCFunction method_of() noexcept {
    // A method record stores every calling convention as PyCFunction; the flags
    // METH_FASTCALL | METH_KEYWORDS tell the interpreter the real signature.
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&entry_point<FunctionBody>));
}

// The body of a method of a type: it reads the instance it is called on.
using MethodBody = PyResult<PyObject*> (*)(PyObject* self, const CallArgs& call);

// The `ml_meth` of a method: runs `MethodBody` on `self` in a call frame.
template <MethodBody Body>
PyObject* method_entry_point(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) noexcept {
    const CallArgs call{args, nargs, kwnames};
    return call_frame([self, &call] { return Body(self, call); });
}

// `method_entry_point<Body>` in the pointer type that a method record holds.
template <MethodBody Body>
PyCFunction instance_method_of() noexcept {
    return reinterpret_cast<PyCFunction>(
        reinterpret_cast<void (*)()>(&method_entry_point<Body>));
}

}  // namespace veltrane::runtime
