// The module `veltrane_py_bindings`: multi-phase initialisation.
//
//     def exec_module(m):
//         for entry in REGISTRATION:              # fixed order
//             f = builtin_function(entry, self=m, module=m.__name__)
//             name = f.__name__
//             try: all_ = m.__all__
//             except AttributeError: all_ = m.__all__ = []
//             all_.append(name)
//             setattr(m, name, f)
//
// Executed in the main interpreter only (see runtime/interpreter.hpp): in a
// subinterpreter the import fails with ImportError.
#include <iterator>

#include "module/functions.hpp"
#include "module/module.hpp"
#include "runtime/arguments.hpp"
#include "runtime/attach.hpp"
#include "runtime/frame.hpp"
#include "runtime/interpreter.hpp"
#include "runtime/module_definition.hpp"
#include "runtime/once_cell.hpp"
#include "runtime/process.hpp"

namespace veltrane::module {
namespace {

using namespace veltrane::runtime;

// The single list of the module's functions; a function's place here is its
// place in `__all__` and in the module's namespace.
PyMethodDef* const kRegistration[] = {
    &functions::sum_as_string,          // 1
    &functions::vrn_canonicalize,       // 2
    &functions::vrn_error_kind,         // 3
    &functions::vrn_build,              // 4
    &functions::vrn_service,            // 5
    &functions::vrn_region,             // 6
    &functions::vrn_org,                // 7
    &functions::vrn_resource_type,      // 8
    &functions::vrn_resource_id,        // 9
    &functions::mint_uuid7,             // 10
    &functions::vrn_cedar_entity_type,  // 11
    &functions::vrn_cedar_entity_id,    // 12
};

bool is_module(PyObject* object) {
    PyTypeObject* type = Py_TYPE(object);
    return type == &PyModule_Type || PyType_IsSubtype(type, &PyModule_Type) != 0;
}

// The module's `__all__`, created as an empty list when it does not exist yet.
PyResult<OwnedRef> module_all(PyObject* module) {
    PyObject* all_name = name_dunder_all();
    OwnedRef all(PyObject_GetAttr(module, all_name));
    if (!all) {
        PyErr error = PyErr::fetch_pending();
        if (PyErr_GivenExceptionMatches(PyErr::instance(error), PyExc_AttributeError) == 0) {
            return error;
        }
        all = OwnedRef(PyList_New(0));
        if (!all) {
            null_result_fault();
        }
        if (PyObject_SetAttr(module, all_name, all.get()) != 0) {
            return PyErr::fetch_pending();
        }
        return all;
    }
    if ((PyType_GetFlags(Py_TYPE(all.get())) & Py_TPFLAGS_LIST_SUBCLASS) == 0) {
        return type_mismatch_error(all.get(), &PyList_Type);
    }
    return all;
}

PyResult<int> add_function(PyObject* module, PyMethodDef* entry) {
    OwnedRef module_name(PyModule_GetNameObject(module));
    if (!module_name) {
        return PyErr::fetch_pending();
    }
    OwnedRef function(PyCMethod_New(entry, module, module_name.get(), nullptr));
    module_name.reset();
    if (!function) {
        return PyErr::fetch_pending();
    }
    OwnedRef name(PyObject_GetAttr(function.get(), name_dunder_name()));
    if (!name) {
        return PyErr::fetch_pending();
    }
    if ((PyType_GetFlags(Py_TYPE(name.get())) & Py_TPFLAGS_UNICODE_SUBCLASS) == 0) {
        return type_mismatch_error(name.get(), &PyUnicode_Type);
    }
    PyResult<OwnedRef> all = module_all(module);
    if (!all) {
        return all.take_error();
    }
    if (PyList_Append(all.value().get(), name.get()) != 0) {
        PyErr error = PyErr::fetch_pending();
        panic_owned("could not append __name__ to __all__: " + error.debug_description());
    }
    all.value().reset();
    if (PyObject_SetAttr(module, name.get(), function.get()) != 0) {
        return PyErr::fetch_pending();
    }
    return 0;
}

PyResult<int> exec_body(PyObject* module) {
    // First of all: a refused import must not have filled a process-wide cell.
    if (std::optional<PyErr> refused = require_main_interpreter("veltrane_py_bindings")) {
        return std::move(*refused);
    }
    if (!is_module(module)) {
        return type_mismatch_error(module, &PyModule_Type);
    }
    // Where the other modules of the process find the runtime they share.
    publish_process_state(module);
    for (PyMethodDef* entry : kRegistration) {
        PyResult<int> added = add_function(module, entry);
        if (!added) {
            return added;
        }
    }
    return 0;
}

}  // namespace

int exec_module(PyObject* module) noexcept {
    return exec_frame([module] { return exec_body(module); });
}

constexpr ModuleInfo kInfo = {
    "veltrane_py_bindings",
    // U+2014 (em dash) is spelled as its UTF-8 bytes.
    "The extension module. Its name is provisional \xE2\x80\x94 it will be reconciled with the\n"
    "`veltrane-kernel-py` wrapper when the wheel-integration issue lands.",
    kHostStateSize,  // where the runtime's process state is published
    &exec_module,
};

}  // namespace veltrane::module

#if VELTRANE_ABI3T
PyMODEXPORT_FUNC PyModExport_veltrane_py_bindings() {
    return veltrane::runtime::ModuleExport<veltrane::module::kInfo>::slots();
}
#else
PyMODINIT_FUNC PyInit_veltrane_py_bindings() {
    return veltrane::runtime::ModuleExport<veltrane::module::kInfo>::init();
}
#endif
