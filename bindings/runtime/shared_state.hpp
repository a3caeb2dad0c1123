// A guard for state that every thread of the process may touch.
//
// In the 3.12 build the interpreter lock already serialises the threads that
// run our code, so the guard is nothing. In the free-threaded build (abi3t)
// it is a mutex. Hold it only around plain memory and reference-count
// changes: never across a call that may run Python code, allocate through the
// interpreter or wait for it (a thread blocked here while attached must not
// be what another thread's stop-the-world waits for).
#pragma once

#include <mutex>

#include "runtime/python.hpp"

namespace veltrane::runtime {

#if VELTRANE_ABI3T
using SharedStateMutex = std::mutex;
#else
struct SharedStateMutex {
    void lock() noexcept {}
    void unlock() noexcept {}
};
#endif

}  // namespace veltrane::runtime
