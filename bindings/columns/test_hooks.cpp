#include "columns/test_hooks.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace veltrane::columns {
namespace {

struct Rendezvous {
    std::mutex mutex;
    std::condition_variable all_here;
    int parties = 0;
    int arrived = 0;
    int met = 0;
    std::chrono::milliseconds timeout{0};
};

std::atomic<bool> g_armed{false};

Rendezvous& rendezvous() {
    static Rendezvous instance;  // never destroyed before a thread can use it
    return instance;
}

}  // namespace

void arm_rendezvous(int parties, std::int64_t timeout_ms) {
    Rendezvous& r = rendezvous();
    std::lock_guard lock(r.mutex);
    r.parties = parties;
    r.arrived = 0;
    r.met = 0;
    r.timeout = std::chrono::milliseconds(timeout_ms);
    g_armed.store(parties > 0, std::memory_order_release);
}

void rendezvous_point() noexcept {
    if (!g_armed.load(std::memory_order_acquire)) {
        return;
    }
    Rendezvous& r = rendezvous();
    std::unique_lock lock(r.mutex);
    if (!g_armed.load(std::memory_order_relaxed)) {
        return;
    }
    ++r.arrived;
    if (r.arrived >= r.parties) {
        g_armed.store(false, std::memory_order_release);  // the last one: nobody else waits
        ++r.met;
        r.all_here.notify_all();
        return;
    }
    if (r.all_here.wait_for(lock, r.timeout, [&r] { return r.arrived >= r.parties; })) {
        ++r.met;
    } else {
        g_armed.store(false, std::memory_order_release);  // timed out: disarmed
    }
}

int rendezvous_met() noexcept {
    Rendezvous& r = rendezvous();
    std::lock_guard lock(r.mutex);
    return r.met;
}

}  // namespace veltrane::columns
