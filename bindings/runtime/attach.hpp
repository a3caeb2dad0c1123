// Per-thread attachment count and the deferred release of references.
//
// `attach_count` counts the module frames open on this thread; while it is
// above zero the thread is known to hold the interpreter lock, so references
// can be dropped at once. A release requested with the count at zero (a thread
// detached for a once-cell wait) is queued and applied at the next frame entry.
#pragma once

#include <cstdint>

#include "runtime/python.hpp"

namespace veltrane::runtime {

// The calling thread's count of open frames (and materialisations).
[[nodiscard]] std::intptr_t attach_count() noexcept;
void set_attach_count(std::intptr_t count) noexcept;

// Drops one reference to `object` now when attached, else queues it.
void release(PyObject* object) noexcept;

// Drops every queued reference, in queue order. Needs the interpreter lock.
void apply_pending_releases() noexcept;

// Raises the count and applies pending releases; undone by the destructor.
class AttachScope {
public:
    AttachScope() noexcept;
    ~AttachScope();
    AttachScope(const AttachScope&) = delete;
    AttachScope& operator=(const AttachScope&) = delete;
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
