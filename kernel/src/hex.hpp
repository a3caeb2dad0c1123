// The hex digit table for the entropy text of minting.
// Private to the kernel's sources.
#pragma once

#include <array>
#include <cstdint>

namespace veltrane_kernel::detail {

// Marks a byte that is not a hex digit. Any value with a bit above the low
// nibble set would do; callers OR several lookups together and test once.
inline constexpr std::uint8_t kNotHex = 0xF0;

// Byte -> digit value for '0'-'9' and 'a'-'f'; kNotHex for everything else,
// upper-case 'A'-'F' included.
inline constexpr std::array<std::uint8_t, 256> kHexValueLower = [] {
    std::array<std::uint8_t, 256> table{};
    table.fill(kNotHex);
    for (int c = '0'; c <= '9'; ++c) table[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c) table[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c - 'a' + 10);
    return table;
}();

[[nodiscard]] constexpr std::uint8_t hex_value_lower(char c) noexcept {
    return kHexValueLower[static_cast<unsigned char>(c)];
}

}  // namespace veltrane_kernel::detail
