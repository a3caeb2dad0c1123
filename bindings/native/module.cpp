// The module `veltrane_vrn._native`: multi-phase initialisation.
//
//     def exec_module(m):
//         refuse unless this is the main interpreter
//         for f in FUNCTIONS: setattr(m, f.__name__, builtin_function(f, module=m))
//         m.Column = Column                # the result type, one per process
//         m.Vrn = Vrn                      # the parsed name as a value (veltrane_vrn.Vrn)
//         m.NameScanner = NameScanner      # the engine of the vrn command (scan/)
//
// Built twice from the same sources: `veltrane_vrn._native` for the wheel, and
// `veltrane_native_testing` (VELTRANE_TEST_HOOKS=1, never shipped) with the
// test hooks of test_hooks.hpp as three more functions.
//
// The typed API over it is veltrane_vrn.columns; this module is its engine.
#include "native/column_object.hpp"
#include "native/functions.hpp"
#include "native/vrn_type.hpp"
#include "runtime/attach.hpp"
#include "runtime/frame.hpp"
#include "runtime/interpreter.hpp"
#include "runtime/module_definition.hpp"
#include "runtime/process.hpp"
#include "native/scanner_object.hpp"

namespace veltrane::native {
namespace {

using namespace veltrane::runtime;

// The module in the wheel, or its test-only build with the hooks.
#if VELTRANE_TEST_HOOKS
constexpr const char* kModuleName = "veltrane_native_testing";
#else
constexpr const char* kModuleName = "veltrane_vrn._native";
#endif

// Pointers, not copies: the records are filled by the dynamic initialisation
// of their own sources, and a function object keeps pointing at its record.
PyMethodDef* const kFunctions[] = {
    &functions::vrn_error_kind,
    &functions::vrn_canonicalize,
    &functions::vrn_service,
    &functions::vrn_region,
    &functions::vrn_org,
    &functions::vrn_resource_type,
    &functions::vrn_resource_id,
    &functions::vrn_cedar_entity_type,
    &functions::vrn_cedar_entity_id,
    &functions::vrn_fields,
    &functions::vrn_build,
    &functions::mint_uuid7,
    &functions::strings_column,
    &functions::numbers_column,
#if VELTRANE_TEST_HOOKS
    &functions::set_utf8_limit,
    &functions::arm_rendezvous,
    &functions::rendezvous_met,
    &functions::panic,
    &functions::attach_count,
#endif
};

PyResult<int> exec_body(PyObject* module) {
    // First of all: a refused import must not have filled a process-wide cell.
    if (std::optional<PyErr> refused = require_main_interpreter(kModuleName)) {
        return std::move(*refused);
    }
    OwnedRef module_name(PyModule_GetNameObject(module));
    if (!module_name) {
        return PyErr::fetch_pending();
    }
    for (PyMethodDef* entry : kFunctions) {
        OwnedRef function(PyCMethod_New(entry, module, module_name.get(), nullptr));
        if (!function || PyModule_AddObjectRef(module, entry->ml_name, function.get()) != 0) {
            return PyErr::fetch_pending();
        }
    }
    if (PyModule_AddObjectRef(module, "Column", column_type()) != 0 ||
        PyModule_AddObjectRef(module, "Vrn", vrn_type()) != 0 ||
        PyModule_AddObjectRef(module, "NameScanner", name_scanner_type()) != 0) {
        return PyErr::fetch_pending();
    }
    return 0;
}

int exec_module(PyObject* module) noexcept {
    // Before any frame: the frames of this module count on the host's runtime.
    if (bind_to_host(kModuleName) != 0) {
        return -1;
    }
    return exec_frame([module] { return exec_body(module); });
}

constexpr ModuleInfo kInfo = {
    kModuleName,
    "The VRN functions over Arrow columns, with the interpreter lock released while the kernel runs.\n"
    "Use them through veltrane_vrn.columns.",
    0,  // no per-module state
    &exec_module,
};

}  // namespace
}  // namespace veltrane::native

using NativeExport = veltrane::runtime::ModuleExport<veltrane::native::kInfo>;

#if VELTRANE_TEST_HOOKS && VELTRANE_ABI3T
PyMODEXPORT_FUNC PyModExport_veltrane_native_testing() { return NativeExport::slots(); }
#elif VELTRANE_TEST_HOOKS
PyMODINIT_FUNC PyInit_veltrane_native_testing() { return NativeExport::init(); }
#elif VELTRANE_ABI3T
PyMODEXPORT_FUNC PyModExport__native() { return NativeExport::slots(); }
#else
PyMODINIT_FUNC PyInit__native() { return NativeExport::init(); }
#endif
