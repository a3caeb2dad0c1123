#include "runtime/attach.hpp"

#include "runtime/fault.hpp"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

namespace veltrane::runtime {

namespace {

PendingReleases& pending_list() {
    std::atomic<PendingReleases*>& pending = process().pending;
    PendingReleases* list = pending.load(std::memory_order_acquire);
    if (list != nullptr) {
        return *list;
    }
    auto* fresh = new PendingReleases();
    if (pending.compare_exchange_strong(list, fresh, std::memory_order_acq_rel)) {
        return *fresh;
    }
    delete fresh;  // another thread created it first
    return *list;
}

}  // namespace

#if VELTRANE_RUNTIME_GUEST

namespace {
// The guest's own state and count, used only until it is bound (an import
// refused outside the main interpreter never binds).
ProcessState g_own_state;
thread_local std::intptr_t t_own_count = 0;
}  // namespace

std::atomic<ProcessState*> detail::g_process{&g_own_state};
thread_local std::intptr_t* detail::t_attach_slot __attribute__((tls_model("initial-exec"))) = nullptr;

std::intptr_t* detail::find_attach_slot() noexcept {
    ProcessState& state = process();
    if (&state == &g_own_state) {
        return &t_own_count;  // not cached: binding may come later
    }
    t_attach_slot = state.attach_slot();
    return t_attach_slot;
}

namespace {

// Whether `host` is a module with the host's state (its contents are checked
// after, by their magic and size).
bool host_has_state(PyObject* host) noexcept {
#if VELTRANE_ABI3T
    Py_ssize_t size = 0;
    return PyModule_GetStateSize(host, &size) == 0 && size == kHostStateSize;
#else
    PyModuleDef* definition = PyModule_GetDef(host);
    return definition != nullptr && definition->m_name != nullptr &&
           std::strcmp(definition->m_name, "veltrane_py_bindings") == 0 && definition->m_size == kHostStateSize;
#endif
}

}  // namespace

int bind_to_host(const char* module_name) noexcept {
    if (&process() != &g_own_state) {
        return 0;
    }
    if (PyInterpreterState_GetID(PyInterpreterState_Get()) != 0) {
        return 0;  // the exec step refuses the import, binding nothing
    }
    PyObject* host = PyImport_ImportModule("veltrane_py_bindings");
    if (host == nullptr) {
        return -1;
    }
    ProcessState* state = nullptr;
    if (host_has_state(host)) {
        void* module_state = PyModule_GetState(host);
        if (module_state != nullptr) {
            std::memcpy(&state, module_state, sizeof state);
        }
    }
    PyErr_Clear();  // a module of another origin may refuse the questions
    Py_DecRef(host);
    if (state == nullptr || state->magic != ProcessState::kMagic || state->size != sizeof(ProcessState) ||
        state->attach_slot == nullptr) {
        PyErr_Format(PyExc_ImportError,
                     "%s needs the veltrane_py_bindings module of the same release, which holds the runtime "
                     "it shares; the one imported is another",
                     module_name);
        return -1;
    }
    detail::g_process.store(state, std::memory_order_release);
    return 0;
}

void publish_process_state(PyObject* /*module*/) noexcept {}

#else

namespace {
std::intptr_t* this_threads_attach_count() noexcept { return &detail::t_attach_count; }
}  // namespace

thread_local std::intptr_t detail::t_attach_count __attribute__((tls_model("initial-exec"))) = 0;
constinit ProcessState detail::g_process(&this_threads_attach_count);

void publish_process_state(PyObject* module) noexcept {
    ProcessState* state = &detail::g_process;
    std::memcpy(PyModule_GetState(module), &state, sizeof state);
}

int bind_to_host(const char* /*module_name*/) noexcept { return 0; }

#endif

PyObject* ConstantStrs::get(std::string_view text) {
    const auto where = reinterpret_cast<std::uintptr_t>(text.data());
    Entry& entry = entries_[((where >> 3) ^ (where >> 9) ^ text.size()) % kSlots];
    {
        std::lock_guard lock(mutex_);
        if (entry.data == text.data() && entry.size == text.size()) {
            Py_IncRef(entry.str);
            return entry.str;
        }
    }
    // Made outside the guard, then it takes the slot.
    PyObject* made = made_or_fault(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    PyObject* evicted = nullptr;
    {
        std::lock_guard lock(mutex_);
        evicted = entry.str;
        Py_IncRef(made);
        entry = Entry{text.data(), text.size(), made};
    }
    if (evicted != nullptr) {
        Py_DecRef(evicted);
    }
    return made;
}

void release(PyObject* object) noexcept {
    if (attach_count() > 0) {
        Py_DecRef(object);
        return;
    }
    PendingReleases& list = pending_list();
    std::lock_guard lock(list.mutex);
    list.objects.push_back(object);
    process().pending_count.fetch_add(1, std::memory_order_release);
}

void detail::drain_pending_releases() noexcept {
    ProcessState& state = process();
    PendingReleases* list = state.pending.load(std::memory_order_acquire);
    std::vector<PyObject*> taken;
    {
        std::lock_guard lock(list->mutex);
        taken.swap(list->objects);
        state.pending_count.store(0, std::memory_order_release);
    }
    for (PyObject* object : taken) {
        Py_DecRef(object);
    }
}

}  // namespace veltrane::runtime
