#include "runtime/once_cell.hpp"

#include <cstring>

#include "runtime/attach.hpp"
#include "runtime/detach.hpp"
#include "runtime/fault.hpp"

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
            lost_races_.fetch_add(1, std::memory_order_relaxed);
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

InternedName g_name_dunder_name("__name__");
InternedName g_name_dunder_all("__all__");
InternedName g_name_add_note("add_note");

}  // namespace veltrane::runtime
