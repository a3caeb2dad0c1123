// The runtime's process-wide state, one per process however many of our
// modules are loaded.
//
// Every module of the wheel carries the runtime's code, but only the per-call
// module, `veltrane_py_bindings` (the host), owns this state. The others (the
// package's native module, the test-only modules) are guests: the first thing
// their exec step does is import the host and take its state through the
// host's module state, so a process has one PanicException type, one set of
// interned names, one list of pending releases and, per thread, one attach
// count, whichever module was imported first.
//
//     host:   process() is the module's own state, reached directly
//     guest:  process() is the host's, bound by bind_to_host() in exec
//
// Why a module, and not an exported symbol: every shared object exports its
// init function alone (and loads with RTLD_LOCAL), so the interpreter's
// module table is the one place the modules can meet.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <vector>

#include "runtime/once_cell.hpp"
#include "runtime/shared_state.hpp"
#include "runtime/python.hpp"

namespace veltrane::runtime {

// References dropped while the thread was detached, applied at the next frame
// entry of any module.
struct PendingReleases {
    std::mutex mutex;
    std::vector<PyObject*> objects;
};

// The strs of constant texts of the program (the error tokens), made once and
// kept for the process: raising ValueError(token) makes no str. Keyed by where
// the text is (a constant's bytes never change), in a small direct-mapped
// table; a collision only costs a new str.
class ConstantStrs {
public:
    // A new reference to the str of `text`, which must be a constant.
    [[nodiscard]] PyObject* get(std::string_view text);

private:
    struct Entry {
        const char* data = nullptr;
        std::size_t size = 0;
        PyObject* str = nullptr;
    };
    static constexpr std::size_t kSlots = 64;

    std::array<Entry, kSlots> entries_{};
    SharedStateMutex mutex_;
};

struct ProcessState {
    // `attach_slot`: the host's; a guest's own state (never shared) has none.
    explicit constexpr ProcessState(std::intptr_t* (*attach_slot_of_host)() noexcept = nullptr) noexcept
        : attach_slot(attach_slot_of_host) {}
    ProcessState(const ProcessState&) = delete;
    ProcessState& operator=(const ProcessState&) = delete;

    // Identify the layout: a guest refuses a host built with another one.
    // The two builds' states differ ("veltran1", "veltrat1"): a guest of
    // one never binds to a host of the other.
    static constexpr std::uint64_t kMagic = VELTRANE_ABI3T ? 0x76656c7472617431ull : 0x76656c7472616e31ull;
    std::uint64_t magic = kMagic;
    std::size_t size = sizeof(ProcessState);

    // The calling thread's count of open frames, which lives in the host.
    std::intptr_t* (*attach_slot)() noexcept;

    // How many releases are queued; lets a frame entry skip the mutex.
    std::atomic<std::size_t> pending_count{0};
    // Created on the first deferred release and never freed: a thread may
    // touch it at any moment until the process ends.
    std::atomic<PendingReleases*> pending{nullptr};

    OnceCell panic_exception_type;
    InternedName name_dunder_name{"__name__"};
    InternedName name_dunder_all{"__all__"};
    InternedName name_add_note{"add_note"};

    ConstantStrs constant_strs;

    // How many times a thread found a cell empty, waited on its guard and
    // then found it filled by another thread: evidence for the tests that
    // first uses really raced.
    std::atomic<std::size_t> once_cell_lost_races{0};
};

namespace detail {
#if VELTRANE_RUNTIME_GUEST
// The host's state once bound; until then (an import refused before it could
// bind) the guest's own, which nothing else ever sees.
extern std::atomic<ProcessState*> g_process;
#else
extern ProcessState g_process;
#endif
}  // namespace detail

// This process's runtime state.
[[nodiscard]] inline ProcessState& process() noexcept {
#if VELTRANE_RUNTIME_GUEST
    return *detail::g_process.load(std::memory_order_acquire);
#else
    return detail::g_process;
#endif
}

// The module state of the host: a pointer to its ProcessState.
inline constexpr Py_ssize_t kHostStateSize = sizeof(ProcessState*);

// Host only: records the process state in the module state of `module` (a
// module object of the host's definition), where guests find it.
void publish_process_state(PyObject* module) noexcept;

// Guest only: binds this module's runtime to the host's state, importing the
// host. 0, or -1 with an ImportError (or the import's own error) set. Called
// by the guest's exec function before its frame; outside the main
// interpreter it binds nothing, and the exec step then refuses the import.
[[nodiscard]] int bind_to_host(const char* module_name) noexcept;

}  // namespace veltrane::runtime
