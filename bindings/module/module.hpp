// The module definition of `veltrane_py_bindings` and its exec step.
#pragma once

#include "runtime/python.hpp"

namespace veltrane::module {

// The static definition handed to the interpreter by PyInit_veltrane_py_bindings.
extern PyModuleDef definition;

// Adds every registered function, in order, to `module` and to its `__all__`.
int exec_module(PyObject* module) noexcept;

}  // namespace veltrane::module
