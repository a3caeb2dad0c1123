// Process-wide cells filled once and kept until the process ends.
//
// Several interpreter threads may need a cell first at the same moment. A thread
// never waits for the cell's guard while attached to the interpreter: it
// detaches first, so the thread running the initialiser (which needs the
// interpreter lock to build a Python object) can never be blocked by a waiter
// that holds it. A filled cell is read with a single atomic load.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>

#include "runtime/python.hpp"

namespace veltrane::runtime {

class OnceCell {
public:
    // Makes the cell's object from `context`; returns a new reference.
    using Initializer = PyObject* (*)(const void* context);

    constexpr OnceCell() noexcept = default;
    OnceCell(const OnceCell&) = delete;
    OnceCell& operator=(const OnceCell&) = delete;

    // The cell's object (a borrowed reference that lives for the process),
    // made by `init` on the first call. `init` runs attached and may fault;
    // the cell then stays empty and a later call tries again.
    PyObject* get(Initializer init, const void* context = nullptr) {
        if (PyObject* value = value_.load(std::memory_order_acquire)) {
            return value;
        }
        return fill(init, context);
    }

    // How many times, in this process, a thread found a cell empty, waited on
    // its guard and then found it filled by another thread (any cell of any
    // module: the count is the process's, see process.hpp).
    [[nodiscard]] static std::size_t lost_races() noexcept;

private:
    PyObject* fill(Initializer init, const void* context);

    std::atomic<PyObject*> value_{nullptr};
    std::mutex guard_;
};

// An interned attribute or method name kept for the life of the process.
class InternedName {
public:
    explicit constexpr InternedName(const char* text) noexcept : text_(text) {}
    PyObject* get() { return cell_.get(make, text_); }

private:
    static PyObject* make(const void* text);

    const char* text_;
    OnceCell cell_;
};

// A heap type made from `spec` on its first use and kept for the process. The
// module cannot work without its types, so a failure to make one is a fault.
class HeapType {
public:
    explicit constexpr HeapType(PyType_Spec& spec) noexcept : spec_(&spec) {}
    PyObject* get() { return cell_.get(make, spec_); }

private:
    static PyObject* make(const void* spec);

    PyType_Spec* spec_;
    OnceCell cell_;
};

// The process's interned names (see process.hpp).
[[nodiscard]] PyObject* name_dunder_name();  // "__name__"
[[nodiscard]] PyObject* name_dunder_all();   // "__all__"
[[nodiscard]] PyObject* name_add_note();     // "add_note"

}  // namespace veltrane::runtime
