// The parser on AVX2: 32-byte vectors, byte classes by nibble lookup.
#if defined(__x86_64__)

#include <immintrin.h>

#define VELTRANE_SIMD_TARGET __attribute__((target("avx2,bmi,bmi2,popcnt,lzcnt")))
#include "simd/block_scan.hpp"
#include "simd/uuid_ssse3.hpp"

namespace veltrane_kernel::detail {
namespace {

struct Avx2 {
    // The class bits of each byte (nibble::k*): two 16-entry lookups, one by
    // each nibble, ANDed. vpshufb looks up within each 16-byte lane, so the
    // tables are repeated in both lanes.
    VELTRANE_SIMD_TARGET static __m256i classes_of(__m256i v) {
        const __m256i low_table = _mm256_broadcastsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(nibble::kTables.low)));
        const __m256i high_table = _mm256_broadcastsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(nibble::kTables.high)));
        const __m256i low_nibbles = _mm256_and_si256(v, _mm256_set1_epi8(0x0F));
        const __m256i high_nibbles = _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi8(0x0F));
        return _mm256_and_si256(_mm256_shuffle_epi8(low_table, low_nibbles),
                                _mm256_shuffle_epi8(high_table, high_nibbles));
    }

    // The bytes whose class has bit `Bit` set: shifting 16-bit lanes left
    // by 7 - Bit brings that bit to the top of both bytes of the lane (bit 7
    // of a class byte is always clear, so nothing crosses from the low byte),
    // where movemask reads it.
    template <int Bit>
    VELTRANE_SIMD_TARGET static std::uint32_t bit_mask(__m256i classes) {
        return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_slli_epi16(classes, 7 - Bit)));
    }

    VELTRANE_SIMD_TARGET static ByteClasses classify(const char* p) {
        ByteClasses c{};
        std::uint64_t digit = 0;
        std::uint64_t hex_letter = 0;
        for (unsigned half = 0; half < 2; ++half) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * half));
            const __m256i classes = classes_of(v);
            // Fold the two letter classes into bit 1: 'a'-'o' moves up from bit 0.
            const __m256i letters = _mm256_or_si256(classes, _mm256_slli_epi16(classes, 1));
            const unsigned at = 32 * half;
            c.colon |= std::uint64_t{bit_mask<5>(classes)} << at;
            c.slash |= std::uint64_t{bit_mask<4>(classes)} << at;
            c.hyphen |= std::uint64_t{bit_mask<3>(classes)} << at;
            c.lower |= std::uint64_t{bit_mask<1>(letters)} << at;
            digit |= std::uint64_t{bit_mask<2>(classes)} << at;
            hex_letter |= std::uint64_t{bit_mask<6>(classes)} << at;
        }
        c.alnum = c.lower | digit;
        c.hex = digit | hex_letter;
        return c;
    }

    VELTRANE_SIMD_TARGET static ByteClasses classify_short(const char* p, std::size_t n) {
        return classify_short_by_copy<Avx2>(p, n);
    }

    [[gnu::always_inline]] VELTRANE_SIMD_TARGET static Uuid decode_uuid(const char* p) { return decode_uuid_ssse3(p); }
};

static_assert(nibble::kColon == 1 << 5 && nibble::kSlash == 1 << 4 && nibble::kHyphen == 1 << 3 &&
              nibble::kDigit == 1 << 2 && nibble::kHexLetter == 1 << 6 && nibble::kLowerPtoZ == 1 << 1 &&
              nibble::kLowerAtoO == 1 << 0);

}  // namespace

VELTRANE_SIMD_TARGET Result<VrnView, VrnError> parse_avx2(std::string_view text) noexcept {
    return scan<Avx2, Output::Record>(text);
}

VELTRANE_SIMD_TARGET Result<void, VrnError> validate_avx2(std::string_view text) noexcept {
    return scan<Avx2, Output::Verdict>(text);
}

}  // namespace veltrane_kernel::detail

#endif  // __x86_64__
