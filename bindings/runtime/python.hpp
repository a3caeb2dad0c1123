// The one place that includes the interpreter's header.
//
// The module is built against CPython's stable ABI only (Py_LIMITED_API is
// 3.12, set by the build): one binary serves every interpreter from 3.12 on.
// 3.12 is the floor because PyErr_GetRaisedException, PyErr_SetRaisedException
// and PyObject_VectorcallMethod joined the stable ABI in that version.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

// Two builds: the 3.12 stable ABI (abi3), and the free-threaded stable ABI of
// 3.15 (abi3t, Py_TARGET_ABI3T), in which PyObject is opaque and a module is
// exported by PyModExport_<name> (see VELTRANE_ABI3T below).
#if defined(Py_TARGET_ABI3T)
#if Py_TARGET_ABI3T + 0 != 0x030F0000
#error "the abi3t build targets 3.15 (Py_TARGET_ABI3T=0x030F0000)"
#endif
#define VELTRANE_ABI3T 1
#elif !defined(Py_LIMITED_API) || Py_LIMITED_API + 0 != 0x030C0000
#error "the bindings must be compiled against the 3.12 stable ABI (Py_LIMITED_API=0x030C0000)"
#else
#define VELTRANE_ABI3T 0
#endif
