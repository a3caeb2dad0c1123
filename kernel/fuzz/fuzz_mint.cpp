// Fuzzer for Uuid::mint_v7. The first 8 input bytes are the timestamp's bit
// pattern (any double: NaN, infinities, subnormals, -0.0), the rest is the
// entropy text. The expected outcome is worked out independently: the
// timestamp is judged from its IEEE 754 fields rather than by floating-point
// comparison, and the UUID text is assembled digit by digit.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.hpp"
#include "veltrane_kernel/mint.hpp"
#include "veltrane_kernel/uuid.hpp"

using veltrane_kernel::MintError;
using veltrane_kernel::Uuid;

namespace {

bool lowercase_hex_20(std::string_view text) {
    if (text.size() != 20) return false;
    for (char c : text) {
        if (std::string_view("0123456789abcdef").find(c) == std::string_view::npos) return false;
    }
    return true;
}

// The integer value of an integral double in [0, 2^64), from its bit fields.
std::optional<std::uint64_t> integral_ms(std::uint64_t bits) {
    const bool negative = (bits >> 63) != 0;
    const unsigned exponent = static_cast<unsigned>((bits >> 52) & 0x7FF);
    const std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
    if (exponent == 0x7FF) return std::nullopt;              // infinities and NaNs
    if (exponent == 0 && mantissa == 0) return 0;            // +0.0 and -0.0
    if (negative) return std::nullopt;
    if (exponent < 1023) return std::nullopt;                // (0, 1), subnormals included
    const unsigned power = exponent - 1023;                  // value = 1.m * 2^power
    if (power >= 64) return std::nullopt;
    const std::uint64_t significand = mantissa | (std::uint64_t{1} << 52);
    if (power >= 52) return significand << (power - 52);
    const unsigned fraction_bits = 52 - power;
    if ((significand & ((std::uint64_t{1} << fraction_bits) - 1)) != 0) return std::nullopt;
    return significand >> fraction_bits;
}

// T[0..8) '-' T[8..12) '-' '7' d1 d2 d3 '-' v d5 d6 d7 '-' d8..d19, with T the
// 12 digits of the timestamp field and v the variant digit of d4.
std::string expected_text(std::uint64_t ms, std::string_view d) {
    char t[13];
    std::snprintf(t, sizeof t, "%012llx",
                  static_cast<unsigned long long>(ms & 0xFFFFFFFFFFFFull));
    const unsigned d4 = static_cast<unsigned>(std::string_view("0123456789abcdef").find(d[4]));
    std::string text;
    text.append(t, 8).append("-").append(t + 8, 4).append("-7").append(d.substr(1, 3));
    text.append("-").push_back("89ab"[d4 % 4]);
    text.append(d.substr(5, 3)).append("-").append(d.substr(8, 12));
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    std::uint64_t bits;
    std::memcpy(&bits, data, 8);
    double unix_ms;
    std::memcpy(&unix_ms, &bits, 8);
    const std::string_view rand_hex(reinterpret_cast<const char*>(data + 8), size - 8);

    const auto minted = Uuid::mint_v7(unix_ms, rand_hex);
    if (!lowercase_hex_20(rand_hex)) {
        FUZZ_CHECK(!minted.has_value() && minted.error() == MintError(MintError::BadRandHex));
        return 0;
    }
    const std::optional<std::uint64_t> ms = integral_ms(bits);
    if (!ms) {
        FUZZ_CHECK(!minted.has_value() && minted.error() == MintError(MintError::BadUnixMs));
        return 0;
    }
    FUZZ_CHECK(minted.has_value());
    const Uuid::Bytes& u = minted->bytes();
    FUZZ_CHECK((u[6] >> 4) == 7);
    FUZZ_CHECK((u[8] >> 6) == 2);
    std::uint64_t timestamp = 0;
    for (int i = 0; i < 6; ++i) timestamp = (timestamp << 8) | u[static_cast<std::size_t>(i)];
    FUZZ_CHECK(timestamp == (*ms & 0xFFFFFFFFFFFFull));
    FUZZ_CHECK(minted->to_string() == expected_text(*ms, rand_hex));
    return 0;
}
