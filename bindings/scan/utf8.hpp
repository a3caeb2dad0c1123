// Strict UTF-8 validation that can stop after any byte and go on with the next
// piece of the same text.
//
// It accepts exactly what the interpreter's "utf-8" codec decodes without
// error: no overlong forms, no encoded surrogates (U+D800 to U+DFFF), nothing
// past U+10FFFF. So a line that the `vrn` command refuses as not UTF-8 is a
// line Python would have refused, and every line it accepts decodes to a str.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace veltrane::scan {

class Utf8Validator {
public:
    // Takes the next `size` bytes of the text. False at the first byte that
    // cannot continue valid UTF-8; the validator is then left as it was
    // before that byte (and should be reset before it is used again).
    bool feed(const char* bytes, std::size_t size) noexcept {
        const auto* at = reinterpret_cast<const unsigned char*>(bytes);
        const unsigned char* const end = at + size;
        while (at != end) {
            if (pending_ == 0) {
                at = skip_whole_characters(at, end);
                if (at == end) {
                    break;
                }
                if (!start(*at)) {
                    return false;
                }
            } else {
                if (*at < low_ || *at > high_) {
                    return false;
                }
                --pending_;
                low_ = 0x80;
                high_ = 0xBF;
            }
            ++at;
        }
        return true;
    }

    // Whether the bytes taken so far end at the end of a character.
    [[nodiscard]] bool complete() const noexcept { return pending_ == 0; }

    void reset() noexcept { *this = Utf8Validator(); }

private:
    // Past the ASCII bytes from `at` on, 16 at a time while there are 16.
    static const unsigned char* skip_ascii(const unsigned char* at, const unsigned char* end) noexcept {
        constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
        while (end - at >= 16) {
            std::uint64_t first;
            std::uint64_t second;
            std::memcpy(&first, at, 8);
            std::memcpy(&second, at + 8, 8);
            if (((first | second) & kHighBits) != 0) {
                break;
            }
            at += 16;
        }
        while (at != end && *at < 0x80) {
            ++at;
        }
        return at;
    }

    // Past ASCII and whole two-byte characters (accented Latin, Greek,
    // Cyrillic: the common non-ASCII text), a character at a time without the
    // state machine; stops at anything else, or a character cut by `end`.
    static const unsigned char* skip_whole_characters(const unsigned char* at, const unsigned char* end) noexcept {
        while (at != end) {
            if (*at < 0x80) {
                at = skip_ascii(at, end);
            } else if (*at >= 0xC2 && *at <= 0xDF && end - at >= 2 && (at[1] & 0xC0) == 0x80) {
                at += 2;
            } else {
                break;
            }
        }
        return at;
    }

    // The lead byte of a character of two, three or four bytes: how many
    // continuation bytes follow, and the range of the first of them (which
    // rules out overlong forms, surrogates and code points past U+10FFFF).
    bool start(unsigned char lead) noexcept {
        if (lead >= 0xC2 && lead <= 0xDF) {
            pending_ = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            pending_ = 2;
            if (lead == 0xE0) {
                low_ = 0xA0;
            } else if (lead == 0xED) {
                high_ = 0x9F;
            }
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            pending_ = 3;
            if (lead == 0xF0) {
                low_ = 0x90;
            } else if (lead == 0xF4) {
                high_ = 0x8F;
            }
        } else {
            return false;  // a continuation byte, 0xC0, 0xC1 or 0xF5 to 0xFF
        }
        return true;
    }

    std::uint8_t pending_ = 0;  // continuation bytes still to come
    std::uint8_t low_ = 0x80;   // the range of the next continuation byte
    std::uint8_t high_ = 0xBF;
};

// The first byte from `from` on that is not ASCII, or `end`: 64 bytes at a
// time with SSE2 (every x86-64 has it), else 32 at a time in words.
[[nodiscard]] inline const char* first_non_ascii(const char* from, const char* end) noexcept {
#if defined(__SSE2__)
    const auto load = [](const char* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); };
    while (end - from >= 64) {
        const __m128i any = _mm_or_si128(_mm_or_si128(load(from), load(from + 16)),
                                         _mm_or_si128(load(from + 32), load(from + 48)));
        if (_mm_movemask_epi8(any) != 0) {
            break;
        }
        from += 64;
    }
    while (end - from >= 16) {
        const int high = _mm_movemask_epi8(load(from));
        if (high != 0) {
            return from + std::countr_zero(static_cast<unsigned>(high));
        }
        from += 16;
    }
#else
    constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
    while (end - from >= 32) {
        std::uint64_t words[4];
        std::memcpy(words, from, sizeof words);
        if (((words[0] | words[1] | words[2] | words[3]) & kHighBits) != 0) {
            break;
        }
        from += 32;
    }
#endif
    while (from != end && static_cast<unsigned char>(*from) < 0x80) {
        ++from;
    }
    return from;
}

// Whether every byte of `text` is ASCII: eight bytes at a time, the last
// eight overlapping, with no branch per byte (names are short and ASCII).
[[nodiscard]] inline bool is_ascii(std::string_view text) noexcept {
    constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
    const char* const at = text.data();
    const std::size_t size = text.size();
    std::uint64_t seen = 0;
    if (size < 8) {
        for (std::size_t i = 0; i < size; ++i) {
            seen |= static_cast<unsigned char>(at[i]);
        }
        return (seen & 0x80) == 0;
    }
    std::uint64_t word;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::memcpy(&word, at + i, 8);
        seen |= word;
    }
    std::memcpy(&word, at + size - 8, 8);
    return ((seen | word) & kHighBits) == 0;
}

// Whether `text` is, as a whole, valid UTF-8.
[[nodiscard]] inline bool is_valid_utf8(std::string_view text) noexcept {
    if (is_ascii(text)) {
        return true;
    }
    Utf8Validator validator;
    return validator.feed(text.data(), text.size()) && validator.complete();
}

}  // namespace veltrane::scan
