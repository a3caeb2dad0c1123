// The one place that includes the interpreter's header.
//
// The module is built against CPython's stable ABI only (Py_LIMITED_API is
// 3.12, set by the build): one binary serves every interpreter from 3.12 on.
// 3.12 is the floor because PyErr_GetRaisedException, PyErr_SetRaisedException
// and PyObject_VectorcallMethod joined the stable ABI in that version.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#if !defined(Py_LIMITED_API) || Py_LIMITED_API + 0 != 0x030C0000
#error "the bindings must be compiled against the 3.12 stable ABI (Py_LIMITED_API=0x030C0000)"
#endif
