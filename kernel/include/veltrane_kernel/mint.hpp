// UUIDv7 minting errors. The operation itself is `Uuid::mint_v7` (uuid.hpp).
#pragma once

#include <cstdint>
#include <string_view>

#include "veltrane_kernel/uuid.hpp"

namespace veltrane_kernel {

// Why `Uuid::mint_v7` refused its inputs. These are not resource-name errors:
// the two tokens belong to minting alone.
class MintError {
public:
    enum Kind : std::uint8_t {
        BadRandHex = 0,  // "bad-rand-hex": not exactly 20 bytes of '0'-'9' / 'a'-'f'
        BadUnixMs = 1,   // "bad-unix-ms": not finite, negative, >= 2^64 or fractional
    };
    static constexpr std::size_t kCount = 2;

    // NOLINTNEXTLINE(google-explicit-constructor): a kind is an error.
    constexpr MintError(Kind kind) noexcept : kind_(kind) {}

    [[nodiscard]] constexpr Kind value() const noexcept { return kind_; }
    // The stable token; a constant string, never allocated.
    [[nodiscard]] std::string_view kind() const noexcept;

    friend constexpr bool operator==(MintError, MintError) noexcept = default;

private:
    Kind kind_;
};

static_assert(sizeof(MintError) == 1);

}  // namespace veltrane_kernel
