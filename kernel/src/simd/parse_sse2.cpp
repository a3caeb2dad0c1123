// The parser on SSE2, which every x86-64 processor has: 16-byte vectors, byte
// classes by compares (SSE2 has no byte shuffle for a nibble lookup).
#if defined(__x86_64__)

#include <emmintrin.h>

#include "uuid_text.hpp"

#define VELTRANE_SIMD_TARGET
#include "simd/block_scan.hpp"

namespace veltrane_kernel::detail {
namespace {

struct Sse2 {
    // High bit of each byte of `v` in [lo, hi]: shifting the range to start
    // at -128 makes it the signed bytes below -128 + (hi - lo + 1).
    static __m128i in_range(__m128i v, char lo, char hi) {
        const __m128i shifted = _mm_add_epi8(v, _mm_set1_epi8(static_cast<char>(0x80 - lo)));
        return _mm_cmplt_epi8(shifted, _mm_set1_epi8(static_cast<char>(-128 + (hi - lo + 1))));
    }

    static std::uint64_t bits(__m128i m, unsigned part) {
        return std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(m))} << (16 * part);
    }

    static ByteClasses classify(const char* p) {
        ByteClasses c{};
        std::uint64_t digit = 0;
        std::uint64_t hex_letter = 0;
        for (unsigned part = 0; part < 4; ++part) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * part));
            c.colon |= bits(_mm_cmpeq_epi8(v, _mm_set1_epi8(':')), part);
            c.slash |= bits(_mm_cmpeq_epi8(v, _mm_set1_epi8('/')), part);
            c.hyphen |= bits(_mm_cmpeq_epi8(v, _mm_set1_epi8('-')), part);
            c.lower |= bits(in_range(v, 'a', 'z'), part);
            digit |= bits(in_range(v, '0', '9'), part);
            // OR-ing 0x20 folds 'A'-'F' onto 'a'-'f' and nothing else there.
            hex_letter |= bits(in_range(_mm_or_si128(v, _mm_set1_epi8(0x20)), 'a', 'f'), part);
        }
        c.alnum = c.lower | digit;
        c.hex = digit | hex_letter;
        return c;
    }

    static ByteClasses classify_short(const char* p, std::size_t n) {
        return classify_short_by_copy<Sse2>(p, n);
    }

    // Word-at-a-time: without a shuffle, gathering the digits in vectors
    // costs more than it saves.
    static Uuid decode_uuid(const char* p) {
        return *parse_uuid_text(std::string_view(p, Uuid::kTextLength));
    }
};

}  // namespace

Result<VrnView, VrnError> parse_sse2(std::string_view text) noexcept {
    return scan<Sse2, Output::Record>(text);
}

Result<void, VrnError> validate_sse2(std::string_view text) noexcept {
    return scan<Sse2, Output::Verdict>(text);
}

}  // namespace veltrane_kernel::detail

#endif  // __x86_64__
