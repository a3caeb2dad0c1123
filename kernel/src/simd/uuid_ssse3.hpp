// Decoding a checked hyphenated UUID text with byte shuffles (SSSE3), for the
// x86-64 paths that have them (AVX2, AVX-512). Private to the kernel's sources.
#pragma once

#if defined(__x86_64__)

#include <immintrin.h>

#include "veltrane_kernel/uuid.hpp"

namespace veltrane_kernel::detail {
namespace {  // NOLINT(cert-dcl59-cpp): each path's source compiles its own copy

// The values of 16 hex digits of either case: the low nibble, plus 9 for the
// letters (the bytes above '9'). SSE2 alone.
[[gnu::always_inline]] inline __m128i hex_digit_values(__m128i digits) noexcept {
    const __m128i letters = _mm_cmpgt_epi8(digits, _mm_set1_epi8('9'));
    return _mm_add_epi8(_mm_and_si128(digits, _mm_set1_epi8(0x0F)), _mm_and_si128(letters, _mm_set1_epi8(9)));
}

// `p` holds 36 bytes that passed the UUID check: hex digits with '-' at 8,
// 13, 18 and 23. Three overlapping 16-byte loads cover them; two shuffles
// each gather the 32 digits into two vectors of 16, dropping the '-'.
// Always inlined: its callers are AVX code, and a call to SSE-encoded code with
// the upper vector halves in use costs a state transition on some processors.
[[gnu::always_inline]] __attribute__((target("ssse3"))) inline Uuid decode_uuid_ssse3(const char* p) noexcept {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));       // bytes 0-15
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));  // 16-31
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 20));  // 20-35
    // Digits 0-15 sit at bytes 0-7, 9-12 and 14-17; digits 16-31 at 19-22 and
    // 24-35. A shuffle index of -1 gives a zero byte.
    const __m128i first = _mm_or_si128(
        _mm_shuffle_epi8(a, _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 14, 15, -1, -1)),
        _mm_shuffle_epi8(b, _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 1)));
    const __m128i second = _mm_or_si128(
        _mm_shuffle_epi8(b, _mm_setr_epi8(3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15, -1, -1, -1, -1)),
        _mm_shuffle_epi8(c, _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 12, 13, 14, 15)));
    // Each pair of digits (high first) becomes 16 * high + low in a 16-bit
    // lane, and the lanes are packed back to bytes.
    const __m128i weights = _mm_set1_epi16(0x0110);  // bytes 16, 1
    const __m128i bytes = _mm_packus_epi16(_mm_maddubs_epi16(hex_digit_values(first), weights),
                                           _mm_maddubs_epi16(hex_digit_values(second), weights));
    Uuid::Bytes out;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out.data()), bytes);
    return Uuid(out);
}

}  // namespace
}  // namespace veltrane_kernel::detail

#endif  // __x86_64__
