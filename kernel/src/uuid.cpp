// The hyphenated text form of a UUID (RFC 9562, section 4): reading and writing.
#include "veltrane_kernel/uuid.hpp"

#include <array>
#include <cstddef>

#include "hex.hpp"
#include "uuid_text.hpp"

namespace veltrane_kernel {

namespace {

// Text offset of the first digit of each of the 16 byte pairs; the hyphens sit
// at 8, 13, 18 and 23, between the groups of 8, 4, 4, 4 and 12 digits.
constexpr std::array<std::uint8_t, 16> kPairOffsets = {0,  2,  4,  6,  9,  11, 14, 16,
                                                       19, 21, 24, 26, 28, 30, 32, 34};
constexpr std::array<std::uint8_t, 4> kHyphenOffsets = {8, 13, 18, 23};

}  // namespace

std::optional<Uuid> Uuid::parse_hyphenated(std::string_view text) noexcept {
    return detail::parse_uuid_text(text);
}

Uuid::HyphenatedText Uuid::to_hyphenated() const noexcept {
    HyphenatedText text{};
    for (std::uint8_t at : kHyphenOffsets) text[at] = '-';
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        text[kPairOffsets[i]] = detail::kLowerHexDigits[bytes_[i] >> 4];
        text[kPairOffsets[i] + 1u] = detail::kLowerHexDigits[bytes_[i] & 0x0F];
    }
    return text;
}

std::string Uuid::to_string() const {
    const HyphenatedText text = to_hyphenated();
    return std::string(text.data(), text.size());
}

}  // namespace veltrane_kernel
