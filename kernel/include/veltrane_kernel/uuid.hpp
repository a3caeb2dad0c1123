// `Uuid`: a 128-bit value and its hyphenated text form (RFC 9562, section 4).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "veltrane_kernel/result.hpp"

namespace veltrane_kernel {

class MintError;

// Sixteen bytes in text order: byte 0 is spelled by the first two hex digits
// of the text form, byte 15 by the last two. No meaning is given to the
// version or variant bits; every 128-bit value, all zeros included, is valid.
class Uuid {
public:
    using Bytes = std::array<std::uint8_t, 16>;
    // The hyphenated text: 36 lowercase characters in groups of 8-4-4-4-12.
    using HyphenatedText = std::array<char, 36>;
    static constexpr std::size_t kTextLength = 36;

    constexpr Uuid() noexcept = default;
    constexpr explicit Uuid(const Bytes& bytes) noexcept : bytes_(bytes) {}

    [[nodiscard]] constexpr const Bytes& bytes() const noexcept { return bytes_; }

    // Reads exactly 36 bytes with '-' at positions 8, 13, 18 and 23 and hex
    // digits of either case everywhere else; anything else is refused without
    // detail (the caller decides what a refusal means).
    [[nodiscard]] static std::optional<Uuid> parse_hyphenated(std::string_view text) noexcept;

    // The 36-byte lowercase hyphenated text; never upper case.
    [[nodiscard]] HyphenatedText to_hyphenated() const noexcept;
    // The same text written to `out` (room for kTextLength bytes).
    void write_hyphenated(char* out) const noexcept;

    // The same text as an owned string, for callers that want one.
    [[nodiscard]] std::string to_string() const;

    // A version-7 UUID (RFC 9562, section 5.7) from a millisecond timestamp and
    // 20 lowercase hex digits of entropy, both injected by the caller, so the
    // result is a pure function of its inputs. Allocates nothing. See mint.hpp.
    [[nodiscard]] static Result<Uuid, MintError> mint_v7(double unix_ms,
                                                         std::string_view rand_hex) noexcept;

    friend constexpr bool operator==(const Uuid&, const Uuid&) noexcept = default;

private:
    Bytes bytes_{};
};

}  // namespace veltrane_kernel
