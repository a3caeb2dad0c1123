#include "runtime/attach.hpp"

#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

namespace veltrane::runtime {

thread_local std::intptr_t detail::t_attach_count __attribute__((tls_model("initial-exec"))) = 0;
std::atomic<std::size_t> detail::g_pending_count{0};

namespace {

using detail::g_pending_count;
using detail::t_attach_count;

struct PendingReleases {
    std::mutex mutex;
    std::vector<PyObject*> objects;
};

// Created on the first deferred release and never freed: a thread may touch it
// at any moment until the process ends. `g_pending_count` lets a frame entry
// skip the mutex when nothing is queued, which is always, in practice.
std::atomic<PendingReleases*> g_pending{nullptr};

PendingReleases& pending_list() {
    PendingReleases* list = g_pending.load(std::memory_order_acquire);
    if (list != nullptr) {
        return *list;
    }
    auto* fresh = new PendingReleases();
    if (g_pending.compare_exchange_strong(list, fresh, std::memory_order_acq_rel)) {
        return *fresh;
    }
    delete fresh;  // another thread created it first
    return *list;
}

}  // namespace

void release(PyObject* object) noexcept {
    if (t_attach_count > 0) {
        Py_DecRef(object);
        return;
    }
    PendingReleases& list = pending_list();
    std::lock_guard lock(list.mutex);
    list.objects.push_back(object);
    g_pending_count.fetch_add(1, std::memory_order_release);
}

void detail::drain_pending_releases() noexcept {
    PendingReleases* list = g_pending.load(std::memory_order_acquire);
    std::vector<PyObject*> taken;
    {
        std::lock_guard lock(list->mutex);
        taken.swap(list->objects);
        g_pending_count.store(0, std::memory_order_release);
    }
    for (PyObject* object : taken) {
        Py_DecRef(object);
    }
}

}  // namespace veltrane::runtime
