// The kernel's simplest operation: the value that `sum_as_string` carries.
#pragma once

#include <cstdint>

namespace veltrane_kernel {

// a + b in 64-bit two's complement: a sum outside the range wraps to the
// other end instead of overflowing (the addition is done on unsigned values).
[[nodiscard]] std::int64_t sum(std::int64_t a, std::int64_t b) noexcept;

}  // namespace veltrane_kernel
