// The hyphenated text form of a UUID (RFC 9562, section 4): reading and writing.
#include "veltrane_kernel/uuid.hpp"

#include <array>
#include <cstddef>

#include "swar.hpp"
#include "uuid_text.hpp"

namespace veltrane_kernel {

namespace {

// The hyphens sit at 8, 13, 18 and 23, between the groups of 8, 4, 4, 4 and
// 12 digits.
constexpr std::array<std::uint8_t, 4> kHyphenOffsets = {8, 13, 18, 23};

}  // namespace

std::optional<Uuid> Uuid::parse_hyphenated(std::string_view text) noexcept {
    return detail::parse_uuid_text(text);
}

Uuid::HyphenatedText Uuid::to_hyphenated() const noexcept {
    HyphenatedText text;
    write_hyphenated(text.data());
    return text;
}

void Uuid::write_hyphenated(char* text) const noexcept {
    // Four bytes at a time, as eight characters in a word: 8 digits, then
    // 4 and 4 either side of a '-', then 4 and 4, then 8; the '-' go in last.
    const std::uint64_t first = detail::hex_of_four(bytes_.data());
    const std::uint64_t second = detail::hex_of_four(bytes_.data() + 4);
    const std::uint64_t third = detail::hex_of_four(bytes_.data() + 8);
    const std::uint64_t fourth = detail::hex_of_four(bytes_.data() + 12);
    detail::store_word(text, first);
    detail::store_word(text + 9, second);       // digits 9-12; 13-16 are rewritten next
    detail::store_half_word(text + 14, static_cast<std::uint32_t>(second >> 32));
    detail::store_word(text + 19, third);       // digits 19-22; 23-26 are rewritten next
    detail::store_half_word(text + 24, static_cast<std::uint32_t>(third >> 32));
    detail::store_word(text + 28, fourth);
    for (std::uint8_t at : kHyphenOffsets) text[at] = '-';
}

std::string Uuid::to_string() const {
    const HyphenatedText text = to_hyphenated();
    return std::string(text.data(), text.size());
}

}  // namespace veltrane_kernel
