// A stand-in for the interpreter's header, for the C++ tests of the runtime's
// shared state: the few calls that state makes, over objects whose reference
// count is atomic and whose threads never hold a global lock, as in the
// free-threaded interpreter. Objects are counted, so a test can tell that
// every reference taken was given back.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

#define Py_TARGET_ABI3T 0x030F0000

using Py_ssize_t = std::ptrdiff_t;

struct _object {
    std::atomic<long> refcount{1};
    std::string text;  // a str's text
};
using PyObject = _object;
struct PyThreadState;
struct PyType_Spec;
using freefunc = void (*)(void*);

namespace stand_in {
// Objects made and not yet freed.
inline std::atomic<long> live_objects{0};
// Per thread: whether it is detached (between PyEval_SaveThread and
// PyEval_RestoreThread).
inline thread_local bool detached = false;
}  // namespace stand_in

inline PyObject* PyUnicode_FromStringAndSize(const char* text, Py_ssize_t size) {
    auto* object = new PyObject;
    object->text.assign(text, static_cast<std::size_t>(size));
    stand_in::live_objects.fetch_add(1, std::memory_order_relaxed);
    return object;
}
inline void PyUnicode_InternInPlace(PyObject** /*name*/) {}

inline void Py_IncRef(PyObject* object) { object->refcount.fetch_add(1, std::memory_order_relaxed); }
inline void Py_DecRef(PyObject* object) {
    if (object->refcount.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        delete object;
        stand_in::live_objects.fetch_sub(1, std::memory_order_relaxed);
    }
}

PyThreadState* PyEval_SaveThread();
void PyEval_RestoreThread(PyThreadState* state);
void* PyModule_GetState(PyObject* module);
