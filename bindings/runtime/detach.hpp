// Native work with the interpreter lock released.
//
//     def without_interpreter(work):
//         saved = attach_count; attach_count = 0; state = PyEval_SaveThread()
//         try:     return work()             # touches no Python object
//         finally: PyEval_RestoreThread(state); attach_count = saved
//
// While detached the thread holds no interpreter lock, so `attach_count` is 0
// there: a reference released by mistake is queued, not dropped without the
// lock.
#pragma once

#include <cstdint>
#include <utility>

#include "runtime/attach.hpp"
#include "runtime/python.hpp"

namespace veltrane::runtime {

// Releases the interpreter lock for its lifetime; re-attaches exactly once,
// early with `reattach()` or at the end of the scope.
class DetachedScope {
public:
    DetachedScope() noexcept : saved_count_(attach_count()) {
        set_attach_count(0);
        state_ = PyEval_SaveThread();
    }
    void reattach() noexcept {
        if (state_ != nullptr) {
            PyEval_RestoreThread(state_);
            state_ = nullptr;
            set_attach_count(saved_count_);
        }
    }
    ~DetachedScope() { reattach(); }
    DetachedScope(const DetachedScope&) = delete;
    DetachedScope& operator=(const DetachedScope&) = delete;

private:
    std::intptr_t saved_count_;
    PyThreadState* state_;
};

// Runs `work()` without the interpreter lock and returns its result with the
// lock held again. `work` must not touch Python objects. A fault (or any C++
// exception) thrown by the work unwinds through the scope, which re-attaches
// first, so it reaches the call frame's capture point with the lock held.
template <class Work>
decltype(auto) without_interpreter(Work&& work) {
    DetachedScope detached;
    return std::forward<Work>(work)();
}

}  // namespace veltrane::runtime
