// UUIDv7 minting (RFC 9562, section 5.7) from an injected timestamp and
// injected entropy: no clock, no random source, no allocation.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "hex.hpp"
#include "veltrane_kernel/mint.hpp"
#include "veltrane_kernel/uuid.hpp"

namespace veltrane_kernel {

namespace {

constexpr std::array<std::string_view, MintError::kCount> kMintErrorTokens = {
    "bad-rand-hex",
    "bad-unix-ms",
};

// 20 lowercase hex digits: ten entropy bytes.
constexpr std::size_t kRandHexLength = 20;
// 2^64: the first double that does not fit an unsigned 64-bit integer.
constexpr double kTwoTo64 = 0x1p64;

// The timestamp as an integer, or nullopt when it is not a finite, integral
// value in [0, 2^64). Negative zero is accepted as zero. Every test is written
// so that NaN fails it; after them the conversion below is exact and defined.
std::optional<std::uint64_t> integral_unix_ms(double unix_ms) noexcept {
    if (std::isnan(unix_ms) || std::isinf(unix_ms)) return std::nullopt;
    if (unix_ms < 0.0) return std::nullopt;  // -0.0 < 0.0 is false: accepted.
    if (!(unix_ms < kTwoTo64)) return std::nullopt;
    // Also refuses positive subnormals, whose truncation is zero.
    if (std::trunc(unix_ms) != unix_ms) return std::nullopt;
    return static_cast<std::uint64_t>(unix_ms);
}

}  // namespace

std::string_view MintError::kind() const noexcept { return kMintErrorTokens[kind_]; }

Result<Uuid, MintError> Uuid::mint_v7(double unix_ms, std::string_view rand_hex) noexcept {
    // The entropy is judged first: when both inputs are bad, it decides.
    if (rand_hex.size() != kRandHexLength) return fail(MintError(MintError::BadRandHex));
    std::array<std::uint8_t, kRandHexLength / 2> entropy{};
    std::uint8_t invalid = 0;
    for (std::size_t i = 0; i < entropy.size(); ++i) {
        const std::uint8_t high = detail::hex_value_lower(rand_hex[2 * i]);
        const std::uint8_t low = detail::hex_value_lower(rand_hex[2 * i + 1]);
        invalid |= static_cast<std::uint8_t>(high | low);
        entropy[i] = static_cast<std::uint8_t>((high << 4) | (low & 0x0F));
    }
    if ((invalid & detail::kNotHex) != 0) return fail(MintError(MintError::BadRandHex));

    const std::optional<std::uint64_t> ms = integral_unix_ms(unix_ms);
    if (!ms) return fail(MintError(MintError::BadUnixMs));

    Bytes bytes{};
    // unix_ts_ms: the low 48 bits, big-endian. Bits 48-63 are dropped, so
    // timestamps from 2^48 on wrap instead of failing.
    for (std::size_t i = 0; i < 6; ++i) {
        bytes[i] = static_cast<std::uint8_t>(*ms >> (8 * (5 - i)));
    }
    for (std::size_t i = 0; i < entropy.size(); ++i) bytes[6 + i] = entropy[i];
    // Version 7 in the high nibble of byte 6, variant 0b10 in the top of byte 8;
    // they overwrite digit 0 and the two high bits of digit 4 of the entropy.
    bytes[6] = static_cast<std::uint8_t>(0x70 | (bytes[6] & 0x0F));
    bytes[8] = static_cast<std::uint8_t>(0x80 | (bytes[8] & 0x3F));
    return Uuid(bytes);
}

}  // namespace veltrane_kernel
