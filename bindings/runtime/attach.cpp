#include "runtime/attach.hpp"

#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

namespace veltrane::runtime {
namespace {

thread_local std::intptr_t t_attach_count = 0;

struct PendingReleases {
    std::mutex mutex;
    std::vector<PyObject*> objects;
};

// Created on the first deferred release and never freed: a thread may touch it
// at any moment until the process ends. `g_pending_count` lets a frame entry
// skip the mutex when nothing is queued, which is always, in practice.
std::atomic<PendingReleases*> g_pending{nullptr};
std::atomic<std::size_t> g_pending_count{0};

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

std::intptr_t attach_count() noexcept { return t_attach_count; }

void set_attach_count(std::intptr_t count) noexcept { t_attach_count = count; }

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

void apply_pending_releases() noexcept {
    if (g_pending_count.load(std::memory_order_acquire) == 0) {
        return;
    }
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

AttachScope::AttachScope() noexcept {
    ++t_attach_count;
    apply_pending_releases();
}

AttachScope::~AttachScope() { --t_attach_count; }

}  // namespace veltrane::runtime
