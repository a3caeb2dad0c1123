// `veltrane_vrn.Vrn`, the parsed resource name as a Python value.
#pragma once

#include "runtime/python.hpp"

namespace veltrane::native {

// The process-wide `Vrn` type (borrowed), created on first need.
[[nodiscard]] PyObject* vrn_type();

}  // namespace veltrane::native
