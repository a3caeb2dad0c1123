// Ownership of an imported Arrow struct: whoever holds one whose `release` is
// not null must call it exactly once (see arrow_abi.hpp).
#pragma once

#include "arrow/arrow_abi.hpp"

namespace veltrane::arrow {

// Owns an imported struct: releases it once, when it goes out of scope or is
// reset. Moving it moves the ownership (the source is left released).
template <class Struct>
class Owned {
public:
    Owned() noexcept = default;
    Owned(Owned&& other) noexcept : raw(other.raw) { other.raw.release = nullptr; }
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) {
            reset();
            raw = other.raw;
            other.raw.release = nullptr;
        }
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { reset(); }

    // Takes over `*source` (which is left released).
    static Owned take(Struct* source) noexcept {
        Owned owned;
        owned.raw = *source;
        source->release = nullptr;
        return owned;
    }
    void reset() noexcept {
        if (raw.release != nullptr) {
            raw.release(&raw);
            raw.release = nullptr;
        }
    }
    [[nodiscard]] bool owns() const noexcept { return raw.release != nullptr; }

    Struct raw{};
};

using OwnedSchema = Owned<ArrowSchema>;
using OwnedArray = Owned<ArrowArray>;
using OwnedStream = Owned<ArrowArrayStream>;

}  // namespace veltrane::arrow
