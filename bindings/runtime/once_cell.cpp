#include "runtime/once_cell.hpp"

#include <cstring>

#include "runtime/attach.hpp"
#include "runtime/detach.hpp"
#include "runtime/fault.hpp"
#include "runtime/process.hpp"

namespace veltrane::runtime {

PyObject* OnceCell::fill(Initializer init, const void* context) {
    PyObject* value = nullptr;
    {
        DetachedScope detached;
        std::lock_guard lock(guard_);
        value = value_.load(std::memory_order_acquire);
        if (value == nullptr) {
            detached.reattach();  // the initialiser builds Python objects
            value = init(context);
            value_.store(value, std::memory_order_release);
        } else {
            process().once_cell_lost_races.fetch_add(1, std::memory_order_relaxed);
        }
    }  // a waiter that found the cell filled re-attaches here, after the guard
    apply_pending_releases();
    return value;
}

PyObject* InternedName::make(const void* text) {
    const char* chars = static_cast<const char*>(text);
    PyObject* name =
        PyUnicode_FromStringAndSize(chars, static_cast<Py_ssize_t>(std::strlen(chars)));
    if (name == nullptr) {
        null_result_fault();
    }
    PyUnicode_InternInPlace(&name);
    return name;
}

PyObject* HeapType::make(const void* spec) {
    // The spec is the type's own, kept mutable for PyType_FromSpec.
    return type_from_spec_or_fault(*static_cast<PyType_Spec*>(const_cast<void*>(spec)));
}

std::size_t OnceCell::lost_races() noexcept {
    return process().once_cell_lost_races.load(std::memory_order_relaxed);
}

PyObject* name_dunder_name() { return process().name_dunder_name.get(); }
PyObject* name_dunder_all() { return process().name_dunder_all.get(); }
PyObject* name_add_note() { return process().name_add_note.get(); }

}  // namespace veltrane::runtime
