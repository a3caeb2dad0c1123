// The exec step of `veltrane_py_bindings` (its definition is module.cpp's).
#pragma once

#include "runtime/python.hpp"

namespace veltrane::module {

// Adds every registered function, in order, to `module` and to its `__all__`.
int exec_module(PyObject* module) noexcept;

}  // namespace veltrane::module
