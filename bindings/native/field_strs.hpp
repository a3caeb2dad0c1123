// The str of a short field text, shared by the names that hold the same one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "runtime/fault.hpp"
#include "runtime/python.hpp"
#include "runtime/shared_state.hpp"

namespace veltrane::native {

// Services, regions and resource types repeat from name to name, so making a
// name's strs is mostly finding them here: a direct-mapped table of a few
// dozen strs, kept for the process (guarded for the free-threaded build).
// UUIDs do not repeat and are not looked up.
class FieldStrs {
public:
    static constexpr std::size_t kLongest = 24;

    PyObject* get(const char* text, std::size_t size) {
        if (size > kLongest) {
            return make_str(text, size);
        }
        Entry& entry = entries_[slot_of(text, size)];
        {
            std::lock_guard lock(mutex_);
            if (entry.str != nullptr && entry.size == size && std::memcmp(entry.text.data(), text, size) == 0) {
                Py_IncRef(entry.str);
                return entry.str;
            }
        }
        // A miss: the str is made outside the guard, then takes the slot.
        PyObject* made = make_str(text, size);
        PyObject* evicted = nullptr;
        {
            std::lock_guard lock(mutex_);
            evicted = entry.str;
            Py_IncRef(made);
            entry.str = made;
            entry.size = size;
            std::memcpy(entry.text.data(), text, size);
        }
        if (evicted != nullptr) {
            Py_DecRef(evicted);
        }
        return made;
    }

private:
    static constexpr std::size_t kSlots = 64;

    static PyObject* make_str(const char* text, std::size_t size) {
        return runtime::made_or_fault(PyUnicode_FromStringAndSize(text, static_cast<Py_ssize_t>(size)));
    }

    // The str and, beside it, its bytes: a hit is found without asking the
    // interpreter for the str's text.
    struct Entry {
        PyObject* str = nullptr;
        std::size_t size = 0;
        std::array<char, kLongest> text{};
    };

    // A hash of the length and of the first and last eight bytes (a miss only
    // costs a new str, so the middle bytes of the longest texts may go unseen).
    static std::size_t slot_of(const char* text, std::size_t size) {
        std::uint64_t head = 0;
        std::uint64_t tail = 0;
        std::memcpy(&head, text, size < 8 ? size : 8);
        if (size > 8) {
            std::memcpy(&tail, text + size - 8, 8);
        }
        const std::uint64_t hash = (head ^ (tail * 0x9E3779B97F4A7C15ull) ^ size) * 0xFF51AFD7ED558CCDull;
        return static_cast<std::size_t>(hash >> 58);  // the top six bits: 0 to 63
    }

    std::array<Entry, kSlots> entries_{};
    runtime::SharedStateMutex mutex_;
};

}  // namespace veltrane::native
