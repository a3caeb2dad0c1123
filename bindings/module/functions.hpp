// The method records of the module's functions, one per function, defined in
// the source of their group and registered, in order, by module.cpp.
#pragma once

#include "runtime/python.hpp"

namespace veltrane::functions {

// Every function takes its parameters by position or keyword through the fast
// call; METH_STATIC because the module object passed as self is never read.
inline constexpr int kFunctionFlags = METH_FASTCALL | METH_KEYWORDS | METH_STATIC;

extern PyMethodDef sum_as_string;  // sum_function.cpp

}  // namespace veltrane::functions
