#include "native/test_hooks.hpp"

#include "arrow/string_builder.hpp"
#include "native/functions.hpp"
#include "runtime/arguments.hpp"
#include "runtime/fault.hpp"
#include "runtime/frame.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace veltrane::native {
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

namespace {

using namespace veltrane::runtime;
using namespace veltrane::arrow;

constexpr std::string_view kLimitParameters[] = {"limit"};
constexpr CallSignature kSetLimit{"_set_utf8_limit", kLimitParameters};

// _set_utf8_limit(limit) -> the old limit: text bytes a result keeps as utf8.
PyResult<PyObject*> set_utf8_limit_body(const CallArgs& call) {
    PyObject* slots[1];
    if (std::optional<PyErr> error = bind_arguments(kSetLimit, call, slots)) {
        return std::move(*error);
    }
    PyResult<std::int64_t> limit = extract_i64(slots[0]);
    if (!limit) {
        return note_argument_error("limit", limit.take_error());
    }
    if (*limit < 0 || *limit > kUtf8ByteLimit) {
        return PyErr::with_message(PyExc_ValueError, std::string("limit must be in [0, 2**31 - 1]"));
    }
    PyObject* old = PyLong_FromLongLong(set_utf8_byte_limit(*limit));
    if (old == nullptr) {
        null_result_fault();
    }
    return old;
}

constexpr std::string_view kRendezvousParameters[] = {"parties", "timeout_ms"};
constexpr CallSignature kArm{"_arm_rendezvous", kRendezvousParameters};
constexpr CallSignature kMet{"_rendezvous_met", {}};

PyResult<PyObject*> arm_rendezvous_body(const CallArgs& call) {
    PyObject* slots[2];
    if (std::optional<PyErr> error = bind_arguments(kArm, call, slots)) {
        return std::move(*error);
    }
    PyResult<std::int64_t> parties = extract_i64(slots[0]);
    if (!parties) {
        return note_argument_error("parties", parties.take_error());
    }
    PyResult<std::int64_t> timeout = extract_i64(slots[1]);
    if (!timeout) {
        return note_argument_error("timeout_ms", timeout.take_error());
    }
    arm_rendezvous(static_cast<int>(*parties), *timeout);
    Py_IncRef(Py_None);
    return Py_None;
}

PyResult<PyObject*> rendezvous_met_body(const CallArgs& call) {
    PyObject* slots[1];
    if (std::optional<PyErr> error = bind_arguments(kMet, call, slots)) {
        return std::move(*error);
    }
    PyObject* met = PyLong_FromLong(rendezvous_met());
    if (met == nullptr) {
        null_result_fault();
    }
    return met;
}

constexpr std::string_view kMessageParameters[] = {"message"};
constexpr CallSignature kPanic{"_panic", kMessageParameters};
constexpr CallSignature kAttachCount{"_attach_count", {}};

// _panic(message): faults inside a frame of this module, as a defect of its
// own code would.
PyResult<PyObject*> panic_body(const CallArgs& call) {
    PyResult<std::array<std::string_view, 1>> message = bind_texts<1>(kPanic, call);
    if (!message) {
        return message.take_error();
    }
    panic_owned(std::string((*message)[0]));
}

// _attach_count(): the calling thread's count of open frames, as this module sees it.
PyResult<PyObject*> attach_count_body(const CallArgs& call) {
    if (std::optional<PyErr> error = bind_arguments(kAttachCount, call, nullptr)) {
        return std::move(*error);
    }
    PyObject* count = PyLong_FromSsize_t(attach_count());
    if (count == nullptr) {
        null_result_fault();
    }
    return count;
}

}  // namespace

namespace functions {

PyMethodDef panic = {
    "_panic", method_of<panic_body>(), kFunctionFlags,
    "_panic(message)\n--\n\nFor tests: an internal fault in this module, with `message`."};
PyMethodDef attach_count = {
    "_attach_count", method_of<attach_count_body>(), kFunctionFlags,
    "_attach_count()\n--\n\nFor tests: the calling thread's count of open frames of the process's runtime."};

PyMethodDef set_utf8_limit = {
    "_set_utf8_limit", method_of<set_utf8_limit_body>(), kFunctionFlags,
    "_set_utf8_limit(limit)\n--\n\n"
    "For tests: the text bytes a result keeps as utf8 before it is large_utf8; returns the old limit."};
PyMethodDef arm_rendezvous = {
    "_arm_rendezvous", method_of<arm_rendezvous_body>(), kFunctionFlags,
    "_arm_rendezvous(parties, timeout_ms)\n--\n\n"
    "For tests: the next `parties` kernel runs over a chunk wait for each other, without the lock."};
PyMethodDef rendezvous_met = {
    "_rendezvous_met", method_of<rendezvous_met_body>(), kFunctionFlags,
    "_rendezvous_met()\n--\n\nFor tests: how many armed kernel runs met all the others in time."};

}  // namespace functions
}  // namespace veltrane::native
