// What a condition variable does for the file scan's two threads, made from
// an atomic counter: a thread that changes the state under the mutex counts
// the change and wakes the others; a waiter sleeps until the count moves.
//
// C++20's atomic wait and notify are futex calls compiled from the headers,
// where std::condition_variable::wait is a symbol of a newer C++ runtime than
// the modules otherwise need (and than some of the systems they run on have).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace veltrane::scan {

class StateChanges {
public:
    // Waits, the lock released meanwhile, until `ready()` holds with the
    // lock held. A change made under the lock after `ready()` was seen false
    // is counted after the count was read here, so its wake-up is not lost.
    template <class Ready>
    void wait(std::unique_lock<std::mutex>& lock, Ready ready) {
        while (!ready()) {
            const std::uint32_t seen = count_.load(std::memory_order_acquire);
            lock.unlock();
            count_.wait(seen, std::memory_order_acquire);
            lock.lock();
        }
    }

    // After a change of the state made under the lock (held or not now).
    void notify_all() noexcept {
        count_.fetch_add(1, std::memory_order_release);
        count_.notify_all();
    }

private:
    std::atomic<std::uint32_t> count_{0};
};

}  // namespace veltrane::scan
