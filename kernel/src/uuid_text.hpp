// Reading the hyphenated UUID text, inline so that the parser can keep the
// decoded value in registers. Private to the kernel's sources; the public entry
// point is Uuid::parse_hyphenated.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "swar.hpp"
#include "veltrane_kernel/uuid.hpp"

namespace veltrane_kernel::detail {

// 36 bytes, '-' at 8, 13, 18 and 23, hex digits of either case elsewhere.
// Always inlined: returned through memory, the 17-byte result was written in
// pieces and read back whole, which stalls store-to-load forwarding.
[[gnu::always_inline]] inline std::optional<Uuid> parse_uuid_text(std::string_view text) noexcept {
    if (text.size() != Uuid::kTextLength) return std::nullopt;
    const char* p = text.data();
    const bool hyphens = (p[8] == '-') & (p[13] == '-') & (p[18] == '-') & (p[23] == '-');
    if (!hyphens) return std::nullopt;
    // The 32 digits as four words of eight, read around the hyphens: 0-7,
    // 9-12 and 14-17, 19-22 and 24-27, 28-35.
    std::uint64_t invalid = 0;
    const std::uint32_t d0 = decode_hex_word(load_word(p), invalid);
    const std::uint32_t d1 = decode_hex_word(
        load_half_word(p + 9) | std::uint64_t{load_half_word(p + 14)} << 32, invalid);
    const std::uint32_t d2 = decode_hex_word(
        load_half_word(p + 19) | std::uint64_t{load_half_word(p + 24)} << 32, invalid);
    const std::uint32_t d3 = decode_hex_word(load_word(p + 28), invalid);
    if (invalid != 0) return std::nullopt;
    // Both halves with their first byte lowest: memory order on a
    // little-endian host, swapped on a big-endian one.
    std::uint64_t halves[2] = {d0 | std::uint64_t{d1} << 32, d2 | std::uint64_t{d3} << 32};
    if constexpr (std::endian::native == std::endian::big) {
        halves[0] = __builtin_bswap64(halves[0]);
        halves[1] = __builtin_bswap64(halves[1]);
    }
    Uuid::Bytes bytes;
    std::memcpy(bytes.data(), halves, sizeof halves);
    return Uuid(bytes);
}

// Whether `text` is a hyphenated UUID, for callers that need no value: with
// the parse inlined and its value unused, the compiler drops the decoding and
// only the check of the text is left.
inline bool is_uuid_text(std::string_view text) noexcept { return parse_uuid_text(text).has_value(); }

}  // namespace veltrane_kernel::detail
