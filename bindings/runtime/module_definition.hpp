// A module's definition, written once for both builds.
//
//     3.12 stable ABI:   PyInit_<name>() returns PyModuleDef_Init(&definition)
//                        (multi-phase initialisation: the exec slot does the work)
//     abi3t (3.15):      PyModExport_<name>() returns the module's slots,
//                        the ABI it was built for among them
//
// Each module says what it is once, in a constexpr `ModuleInfo`, and its init
// function returns `ModuleExport<info>::init()` or `::slots()`.
//
// The free-threaded build asks for the interpreter lock (Py_mod_gil): our
// shared state is guarded for running without it, but no free-threaded
// interpreter has run these modules yet, and a module that has not been run
// without the lock must not claim it can be.
#pragma once

#include "runtime/python.hpp"

namespace veltrane::runtime {

using ExecFunction = int (*)(PyObject* module) noexcept;

struct ModuleInfo {
    const char* name;
    const char* doc;
    Py_ssize_t state_size;  // 0: no per-module state
    ExecFunction exec;
};

template <const ModuleInfo& Info>
struct ModuleExport {
#if VELTRANE_ABI3T
    static inline PyABIInfo abi_info = _PyABIInfo_DEFAULT;
    static inline PySlot module_slots[] = {
        PySlot_PTR(Py_mod_abi, &abi_info),
        PySlot_PTR(Py_mod_name, Info.name),
        PySlot_PTR(Py_mod_doc, Info.doc),
        {Py_mod_state_size, 0, {0}, {.sl_size = Info.state_size}},
        {Py_mod_exec, 0, {0}, {.sl_func = reinterpret_cast<_Py_funcptr_t>(Info.exec)}},
        PySlot_PTR(Py_mod_gil, Py_MOD_GIL_USED),
        PySlot_END,
    };
    [[nodiscard]] static PySlot* slots() noexcept { return module_slots; }
#else
    static inline PyModuleDef_Slot module_slots[] = {
        {Py_mod_exec, reinterpret_cast<void*>(Info.exec)},
        {0, nullptr},
    };
    static inline PyModuleDef definition = {
        PyModuleDef_HEAD_INIT,
        Info.name,
        Info.doc,
        Info.state_size,
        nullptr,  // m_methods: functions are added by the exec step
        module_slots,
        nullptr,  // m_traverse
        nullptr,  // m_clear
        nullptr,  // m_free
    };
    [[nodiscard]] static PyObject* init() noexcept { return PyModuleDef_Init(&definition); }
#endif
};

}  // namespace veltrane::runtime
