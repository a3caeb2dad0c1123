// Per-thread attachment count and the deferred release of references.
//
// `attach_count` counts the module frames open on this thread; while it is
// above zero the thread is known to hold the interpreter lock, so references
// can be dropped at once. A release requested with the count at zero (a thread
// detached for a once-cell wait) is queued and applied at the next frame entry.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "runtime/process.hpp"
#include "runtime/python.hpp"

namespace veltrane::runtime {

namespace detail {
#if VELTRANE_RUNTIME_GUEST
// A guest reaches the host's count of the calling thread through this cached
// pointer (initial-exec TLS: one instruction to reach it, 8 bytes of the
// static TLS space the loader keeps for modules loaded at run time).
extern thread_local std::intptr_t* t_attach_slot __attribute__((tls_model("initial-exec")));
// The slot of the calling thread: the host's once bound, else the guest's own.
[[nodiscard]] std::intptr_t* find_attach_slot() noexcept;
#else
// The count is read and written on every call, so it uses the initial-exec
// TLS model: one instruction to reach it instead of a call to
// __tls_get_addr. It takes 8 bytes of the static TLS space that the dynamic
// loader keeps for modules loaded at run time.
extern thread_local std::intptr_t t_attach_count __attribute__((tls_model("initial-exec")));
#endif
void drain_pending_releases() noexcept;
}  // namespace detail

// The calling thread's count of open frames of every module of the process.
[[nodiscard]] inline std::intptr_t& attach_count_slot() noexcept {
#if VELTRANE_RUNTIME_GUEST
    std::intptr_t* slot = detail::t_attach_slot;
    if (slot == nullptr) [[unlikely]] {
        slot = detail::find_attach_slot();
    }
    return *slot;
#else
    return detail::t_attach_count;
#endif
}

// The calling thread's count of open frames (and materialisations).
[[nodiscard]] inline std::intptr_t attach_count() noexcept { return attach_count_slot(); }
inline void set_attach_count(std::intptr_t count) noexcept { attach_count_slot() = count; }

// Drops one reference to `object` now when attached, else queues it.
void release(PyObject* object) noexcept;

// Drops every queued reference, in queue order. Needs the interpreter lock.
inline void apply_pending_releases() noexcept {
    if (process().pending_count.load(std::memory_order_acquire) != 0) {
        detail::drain_pending_releases();
    }
}

// Raises the count and applies pending releases; undone by the destructor, on
// the same thread's same count.
class AttachScope {
public:
    AttachScope() noexcept : count_(attach_count_slot()) {
        ++count_;
        apply_pending_releases();
    }
    ~AttachScope() { --count_; }
    AttachScope(const AttachScope&) = delete;
    AttachScope& operator=(const AttachScope&) = delete;

private:
    std::intptr_t& count_;
};

// An owned (strong) reference released by the release rule when it goes out
// of scope, so references are not leaked when a fault unwinds through a body.
class OwnedRef {
public:
    OwnedRef() noexcept = default;
    explicit OwnedRef(PyObject* owned) noexcept : object_(owned) {}
    OwnedRef(OwnedRef&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
    OwnedRef& operator=(OwnedRef&& other) noexcept {
        if (this != &other) {
            reset();
            object_ = other.object_;
            other.object_ = nullptr;
        }
        return *this;
    }
    OwnedRef(const OwnedRef&) = delete;
    OwnedRef& operator=(const OwnedRef&) = delete;
    ~OwnedRef() { reset(); }

    [[nodiscard]] PyObject* get() const noexcept { return object_; }
    [[nodiscard]] PyObject* release_ownership() noexcept {
        PyObject* object = object_;
        object_ = nullptr;
        return object;
    }
    void reset() noexcept {
        if (object_ != nullptr) {
            release(object_);
            object_ = nullptr;
        }
    }
    explicit operator bool() const noexcept { return object_ != nullptr; }

private:
    PyObject* object_ = nullptr;
};

}  // namespace veltrane::runtime
