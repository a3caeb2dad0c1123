// Eight bytes at a time in a 64-bit word ("SIMD within a register"). Portable
// C++: no intrinsics, so the same code serves x86-64 and 64-bit Arm. Private
// to the kernel's sources.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace veltrane_kernel::detail {

inline constexpr std::uint64_t kOnes = 0x0101010101010101ull;
inline constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
inline constexpr std::uint64_t kLow7Bits = 0x7F7F7F7F7F7F7F7Full;

constexpr std::uint64_t broadcast(std::uint8_t byte) noexcept { return kOnes * byte; }

// Eight bytes with the byte at `p` in the low bits, whatever the host order.
inline std::uint64_t load_word(const char* p) noexcept {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    return word;
}

inline std::uint32_t load_half_word(const char* p) noexcept {
    std::uint32_t word;
    std::memcpy(&word, p, sizeof word);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap32(word);
    return word;
}

// Writes eight bytes to `p`, the low byte of `word` first, whatever the host order.
inline void store_word(char* p, std::uint64_t word) noexcept {
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    std::memcpy(p, &word, sizeof word);
}

inline void store_half_word(char* p, std::uint32_t word) noexcept {
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap32(word);
    std::memcpy(p, &word, sizeof word);
}

// The eight lowercase hex digits of the four bytes at `bytes` (the first
// byte's high nibble first), as eight characters in a word, the first in
// the low byte.
inline std::uint64_t hex_of_four(const std::uint8_t* bytes) noexcept {
    std::uint32_t four;
    std::memcpy(&four, bytes, sizeof four);
    if constexpr (std::endian::native == std::endian::big) four = __builtin_bswap32(four);
    // Spread the bytes to one per 16-bit lane, then each byte's high nibble
    // to the lane's low byte and its low nibble to the high byte.
    std::uint64_t x = four;
    x = (x | x << 16) & 0x0000FFFF0000FFFFull;
    x = (x | x << 8) & 0x00FF00FF00FF00FFull;
    x = (x & 0x00F000F000F000F0ull) >> 4 | (x & 0x000F000F000F000Full) << 8;
    // A digit n is '0' + n, or 'a' + n - 10 = '0' + n + 39 from 10 on
    // (n + 6 reaches 16 exactly there); no byte carries into the next.
    const std::uint64_t letters = ((x + 0x0606060606060606ull) >> 4) & kOnes;
    return x + 0x3030303030303030ull + letters * 39;
}

// The high bit of each byte of the result is set exactly where `word` holds a
// zero byte; no false positives from borrows, unlike the shorter formula.
constexpr std::uint64_t zero_bytes(std::uint64_t word) noexcept {
    const std::uint64_t low = (word & kLow7Bits) + kLow7Bits;
    return ~(low | word | kLow7Bits);
}

constexpr std::uint64_t bytes_equal_to(std::uint64_t word, char c) noexcept {
    return zero_bytes(word ^ broadcast(static_cast<std::uint8_t>(c)));
}

// High bit set in each byte of `word` that lies in [lo, hi]; valid only for
// bytes below 0x80, which the caller checks separately.
constexpr std::uint64_t bytes_in_range(std::uint64_t word, std::uint8_t lo, std::uint8_t hi) noexcept {
    const std::uint64_t at_least_lo = word + broadcast(static_cast<std::uint8_t>(0x80 - lo));
    const std::uint64_t above_hi = word + broadcast(static_cast<std::uint8_t>(0x7F - hi));
    return at_least_lo & ~above_hi & kHighBits;
}

// Decodes eight hex digits of either case (text order, first in the low byte)
// into four bytes (first in the low byte). Any byte that is not a hex digit
// leaves a high bit set in `invalid`.
constexpr std::uint32_t decode_hex_word(std::uint64_t word, std::uint64_t& invalid) noexcept {
    const std::uint64_t digit = bytes_in_range(word, '0', '9');
    // OR-ing 0x20 folds 'A'-'F' onto 'a'-'f' and maps no other byte there.
    const std::uint64_t letter = bytes_in_range(word | broadcast(0x20), 'a', 'f');
    invalid |= (word & kHighBits) | ((digit | letter) ^ kHighBits);
    // '0'-'9' have the values of their low nibbles; 'a'-'f' and 'A'-'F' have
    // low nibbles 1-6, so add 9.
    const std::uint64_t nibbles = (word & broadcast(0x0F)) + (letter >> 7) * 9;
    // Pair digits: byte 2k becomes (digit 2k << 4) | digit 2k+1 ...
    std::uint64_t pairs = ((nibbles << 4) | (nibbles >> 8)) & 0x00FF00FF00FF00FFull;
    // ... then gather bytes 0, 2, 4 and 6 into the low four bytes.
    pairs = (pairs | (pairs >> 8)) & 0x0000FFFF0000FFFFull;
    return static_cast<std::uint32_t>(pairs | (pairs >> 16));
}

// Calls `visit(offset)` for every byte of `text` equal to `c`, in order, until
// `visit` returns false.
template <class Visit>
void for_each_byte_equal_to(std::string_view text, char c, Visit&& visit) {
    const std::size_t size = text.size();
    if (size < 8) {
        for (std::size_t i = 0; i < size; ++i) {
            if (text[i] == c && !visit(i)) return;
        }
        return;
    }
    auto visit_mask = [&](std::size_t base, std::uint64_t mask) {
        for (; mask != 0; mask &= mask - 1) {
            if (!visit(base + static_cast<std::size_t>(std::countr_zero(mask)) / 8)) return false;
        }
        return true;
    };
    std::size_t offset = 0;
    for (; offset + 8 <= size; offset += 8) {
        if (!visit_mask(offset, bytes_equal_to(load_word(text.data() + offset), c))) return;
    }
    if (offset < size) {
        // The tail: the last eight bytes, minus those already visited. Reading
        // in place avoids copying the tail into a padded buffer.
        const std::size_t seen = offset + 8 - size;  // 1 to 7
        const std::uint64_t mask = bytes_equal_to(load_word(text.data() + size - 8), c);
        visit_mask(size - 8, mask & (~std::uint64_t{0} << (8 * seen)));
    }
}

}  // namespace veltrane_kernel::detail
