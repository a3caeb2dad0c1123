#include "veltrane_kernel/sum.hpp"

namespace veltrane_kernel {

std::int64_t sum(std::int64_t a, std::int64_t b) noexcept {
    // Signed overflow is undefined; unsigned addition wraps modulo 2^64, and the
    // conversion back to signed is modular since C++20.
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}

}  // namespace veltrane_kernel
