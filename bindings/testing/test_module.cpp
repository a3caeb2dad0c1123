// `veltrane_test_module`: a test-only extension module on the bindings'
// runtime, never shipped. It makes the runtime's rare paths happen for real
// (faults, null results, deferred releases) and provides the performance
// floors: minimal functions of each call shape that do only the unavoidable
// work of a call (check the arguments, borrow or convert them, build a str).
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>

#include "runtime/arguments.hpp"
#include "runtime/attach.hpp"
#include "runtime/module_definition.hpp"
#include "runtime/process.hpp"
#include "runtime/fault.hpp"
#include "runtime/frame.hpp"
#include "runtime/interpreter.hpp"
#include "runtime/once_cell.hpp"

namespace {

using namespace veltrane::runtime;

constexpr int kFlags = METH_FASTCALL | METH_KEYWORDS | METH_STATIC;

// ---- performance floors: no frame, no binding beyond a count check ----------

PyObject* wrong_call(const char* name) {
    PyErr_Format(PyExc_TypeError, "%s() takes positional arguments only, all of them", name);
    return nullptr;
}

// def floor_text(s): return str(s)   (borrow UTF-8, build a new str)
PyObject* floor_text(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (nargs != 1 || kwnames != nullptr) {
        return wrong_call("floor_text");
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(args[0], &size);
    return utf8 == nullptr ? nullptr : PyUnicode_FromStringAndSize(utf8, size);
}

// def floor_int2(a, b): return str(a + b)   (two integer conversions)
PyObject* floor_int2(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (nargs != 2 || kwnames != nullptr) {
        return wrong_call("floor_int2");
    }
    const long a = PyLong_AsLong(args[0]);
    if (a == -1 && PyErr_Occurred() != nullptr) {
        return nullptr;
    }
    const long b = PyLong_AsLong(args[1]);
    if (b == -1 && PyErr_Occurred() != nullptr) {
        return nullptr;
    }
    char digits[24];
    const auto rendered = std::to_chars(
        digits, digits + sizeof digits,
        static_cast<long>(static_cast<unsigned long>(a) + static_cast<unsigned long>(b)));
    return PyUnicode_FromStringAndSize(digits, rendered.ptr - digits);
}

// def floor_num_text(x, s): float(x); return str(s)
PyObject* floor_num_text(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (nargs != 2 || kwnames != nullptr) {
        return wrong_call("floor_num_text");
    }
    const double x = PyFloat_AsDouble(args[0]);
    if (x == -1.0 && PyErr_Occurred() != nullptr) {
        return nullptr;
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(args[1], &size);
    return utf8 == nullptr ? nullptr : PyUnicode_FromStringAndSize(utf8, size);
}

// def floor_text5(a, b, c, d, e): borrow all five; return str(a)
PyObject* floor_text5(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (nargs != 5 || kwnames != nullptr) {
        return wrong_call("floor_text5");
    }
    const char* first = nullptr;
    Py_ssize_t first_size = 0;
    for (Py_ssize_t i = 0; i < 5; ++i) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(args[i], &size);
        if (utf8 == nullptr) {
            return nullptr;
        }
        if (i == 0) {
            first = utf8;
            first_size = size;
        }
    }
    return PyUnicode_FromStringAndSize(first, first_size);
}

// def floor_raise_text(s): str(s); raise ValueError("bad-resource-id")
// (borrow UTF-8, build the token's str and raise ValueError with it)
PyObject* floor_raise_text(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (nargs != 1 || kwnames != nullptr) {
        return wrong_call("floor_raise_text");
    }
    Py_ssize_t size = 0;
    if (PyUnicode_AsUTF8AndSize(args[0], &size) == nullptr) {
        return nullptr;
    }
    constexpr std::string_view kToken = "bad-resource-id";
    PyObject* token = PyUnicode_FromStringAndSize(kToken.data(), static_cast<Py_ssize_t>(kToken.size()));
    if (token != nullptr) {
        PyErr_SetObject(PyExc_ValueError, token);
        Py_DecRef(token);
    }
    return nullptr;
}

// ---- the runtime's rare paths, each in a real call frame -------------------

constexpr std::string_view kNoParameters[] = {""};
constexpr std::string_view kMessageParameter[] = {"message"};
constexpr std::string_view kObjectParameter[] = {"obj"};
constexpr std::string_view kSizeParameter[] = {"size"};
constexpr std::string_view kIntParameter[] = {"x"};

const CallSignature kNoArguments{"", std::span<const std::string_view>(kNoParameters, 0)};

// fault_with_message(message): a fault carrying the text of `message`.
PyResult<PyObject*> fault_with_message(const CallArgs& call) {
    auto texts = bind_texts<1>({"fault_with_message", kMessageParameter}, call);
    if (!texts) {
        return texts.take_error();
    }
    panic_owned(std::string((*texts)[0]));
}

// fault_without_text(): a C++ exception that carries no message of ours.
PyResult<PyObject*> fault_without_text(const CallArgs& call) {
    if (auto error = bind_arguments({"fault_without_text", kNoArguments.parameters}, call, nullptr)) {
        return std::move(*error);
    }
    throw 42;  // NOLINT: the point is a payload that is not a Fault
}

// fault_while_raising(): a fault whose message is not UTF-8, so turning it
// into a PanicException fails after the body, while the error is raised.
PyResult<PyObject*> fault_while_raising(const CallArgs& call) {
    if (auto error = bind_arguments({"fault_while_raising", kNoArguments.parameters}, call, nullptr)) {
        return std::move(*error);
    }
    panic("\xff is not UTF-8");
}

// null_result(): an interpreter call for the result returns null.
PyResult<PyObject*> null_result(const CallArgs& call) {
    if (auto error = bind_arguments({"null_result", kNoArguments.parameters}, call, nullptr)) {
        return std::move(*error);
    }
    return text_result("\xff");
}

// fetch_nothing(): an interpreter call failed but left no exception.
PyResult<PyObject*> fetch_nothing(const CallArgs& call) {
    if (auto error = bind_arguments({"fetch_nothing", kNoArguments.parameters}, call, nullptr)) {
        return std::move(*error);
    }
    return note_argument_error("obj", PyErr::fetch_pending());
}

// attach_count(): this thread's count of open frames of this module.
PyResult<PyObject*> attach_count_body(const CallArgs& call) {
    if (auto error = bind_arguments({"attach_count", kNoArguments.parameters}, call, nullptr)) {
        return std::move(*error);
    }
    return text_result(std::to_string(attach_count()));
}

// once_cell_lost_races(): first uses of a cell that waited for another thread.
PyResult<PyObject*> once_cell_lost_races(const CallArgs& call) {
    if (auto error = bind_arguments({"once_cell_lost_races", kNoArguments.parameters}, call, nullptr)) {
        return std::move(*error);
    }
    return text_result(std::to_string(OnceCell::lost_races()));
}

// call_in_frame(obj): obj() from inside a frame; its result as str.
PyResult<PyObject*> call_in_frame(const CallArgs& call) {
    PyObject* slots[1];
    if (auto error = bind_arguments({"call_in_frame", kObjectParameter}, call, slots)) {
        return std::move(*error);
    }
    OwnedRef result(PyObject_CallNoArgs(slots[0]));
    if (!result) {
        return PyErr::fetch_pending();
    }
    OwnedRef text(PyObject_Str(result.get()));
    if (!text) {
        return PyErr::fetch_pending();
    }
    return text.release_ownership();
}

// release_detached(obj): drops a new reference to obj while detached from
// the interpreter, so the release is queued until the next frame entry.
PyResult<PyObject*> release_detached(const CallArgs& call) {
    PyObject* slots[1];
    if (auto error = bind_arguments({"release_detached", kObjectParameter}, call, slots)) {
        return std::move(*error);
    }
    Py_IncRef(slots[0]);
    const std::intptr_t saved = attach_count();
    set_attach_count(0);
    PyThreadState* state = PyEval_SaveThread();
    release(slots[0]);
    PyEval_RestoreThread(state);
    set_attach_count(saved);
    return text_result("queued");
}

// int_of(x): the integer conversion and its error reporting, alone.
PyResult<PyObject*> int_of(const CallArgs& call) {
    PyObject* slots[1];
    if (auto error = bind_arguments({"int_of", kIntParameter}, call, slots)) {
        return std::move(*error);
    }
    PyResult<std::int64_t> value = extract_i64(slots[0]);
    if (!value) {
        return note_argument_error("x", value.take_error());
    }
    return text_result(std::to_string(*value));
}

// allocate(size): asks the allocator for `size` bytes and frees them.
PyResult<PyObject*> allocate(const CallArgs& call) {
    PyObject* slots[1];
    if (auto error = bind_arguments({"allocate", kSizeParameter}, call, slots)) {
        return std::move(*error);
    }
    PyResult<std::int64_t> size = extract_i64(slots[0]);
    if (!size) {
        return note_argument_error("size", size.take_error());
    }
    ::operator delete(::operator new(static_cast<std::size_t>(*size)));
    return text_result("allocated");
}

// leak_native(size): leaks a std::string of `size` bytes on purpose, so that
// scripts/sanitize can show that LeakSanitizer still sees the module's own
// allocations through its suppressions of the interpreter's.
PyResult<PyObject*> leak_native(const CallArgs& call) {
    PyObject* slots[1];
    if (auto error = bind_arguments({"leak_native", kSizeParameter}, call, slots)) {
        return std::move(*error);
    }
    PyResult<std::int64_t> size = extract_i64(slots[0]);
    if (!size) {
        return note_argument_error("size", size.take_error());
    }
    static_cast<void>(new std::string(static_cast<std::size_t>(*size), 'x'));
    return text_result("leaked");
}

PyMethodDef kFunctions[] = {
    {"floor_text", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&floor_text)), kFlags, nullptr},
    {"floor_int2", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&floor_int2)), kFlags, nullptr},
    {"floor_num_text", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&floor_num_text)), kFlags, nullptr},
    {"floor_text5", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&floor_text5)), kFlags, nullptr},
    {"floor_raise_text", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&floor_raise_text)), kFlags, nullptr},
    {"fault_with_message", method_of<fault_with_message>(), kFlags, nullptr},
    {"fault_without_text", method_of<fault_without_text>(), kFlags, nullptr},
    {"fault_while_raising", method_of<fault_while_raising>(), kFlags, nullptr},
    {"null_result", method_of<null_result>(), kFlags, nullptr},
    {"fetch_nothing", method_of<fetch_nothing>(), kFlags, nullptr},
    {"attach_count", method_of<attach_count_body>(), kFlags, nullptr},
    {"call_in_frame", method_of<call_in_frame>(), kFlags, nullptr},
    {"once_cell_lost_races", method_of<once_cell_lost_races>(), kFlags, nullptr},
    {"release_detached", method_of<release_detached>(), kFlags, nullptr},
    {"int_of", method_of<int_of>(), kFlags, nullptr},
    {"allocate", method_of<allocate>(), kFlags, nullptr},
    {"leak_native", method_of<leak_native>(), kFlags, nullptr},
};

PyResult<int> exec_body(PyObject* module) {
    if (std::optional<PyErr> refused = require_main_interpreter("veltrane_test_module")) {
        return std::move(*refused);
    }
    for (PyMethodDef& entry : kFunctions) {
        OwnedRef function(PyCMethod_New(&entry, module, nullptr, nullptr));
        if (!function || PyObject_SetAttrString(module, entry.ml_name, function.get()) != 0) {
            return PyErr::fetch_pending();
        }
    }
    return 0;
}

int exec_module(PyObject* module) noexcept {
    // Before any frame: this module shares the runtime of veltrane_py_bindings.
    if (bind_to_host("veltrane_test_module") != 0) {
        return -1;
    }
    return exec_frame([module] { return exec_body(module); });
}

constexpr ModuleInfo kInfo = {
    "veltrane_test_module",
    "Test-only module on the bindings' runtime: fault paths and performance floors.",
    0,
    &exec_module,
};

}  // namespace

#if VELTRANE_ABI3T
PyMODEXPORT_FUNC PyModExport_veltrane_test_module() { return ModuleExport<kInfo>::slots(); }
#else
PyMODINIT_FUNC PyInit_veltrane_test_module() { return ModuleExport<kInfo>::init(); }
#endif
