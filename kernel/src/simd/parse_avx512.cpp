// The parser on AVX-512BW: one 64-byte vector per block, byte classes by
// nibble lookup, each class tested straight into a 64-bit mask register.
#if defined(__x86_64__)

#include <immintrin.h>

#define VELTRANE_SIMD_TARGET __attribute__((target("avx512f,avx512bw,avx2,bmi,bmi2,popcnt,lzcnt")))
#include "simd/block_scan.hpp"
#include "simd/uuid_ssse3.hpp"

namespace veltrane_kernel::detail {
namespace {

// vpshufb looks up within each 16-byte lane: the tables are repeated in all
// four.
struct LaneTables {
    std::uint8_t low[64];
    std::uint8_t high[64];
};

constexpr LaneTables repeat_in_lanes() {
    LaneTables t{};
    for (unsigned i = 0; i < 64; ++i) {
        t.low[i] = nibble::kTables.low[i % 16];
        t.high[i] = nibble::kTables.high[i % 16];
    }
    return t;
}

constexpr LaneTables kLaneTables = repeat_in_lanes();

struct Avx512 {
    VELTRANE_SIMD_TARGET static ByteClasses classes_of(__m512i v) {
        const __m512i low_table = _mm512_loadu_si512(kLaneTables.low);
        const __m512i high_table = _mm512_loadu_si512(kLaneTables.high);
        const __m512i low_nibbles = _mm512_and_si512(v, _mm512_set1_epi8(0x0F));
        const __m512i high_nibbles = _mm512_and_si512(_mm512_srli_epi16(v, 4), _mm512_set1_epi8(0x0F));
        const __m512i classes = _mm512_and_si512(_mm512_shuffle_epi8(low_table, low_nibbles),
                                                 _mm512_shuffle_epi8(high_table, high_nibbles));
        return {in(classes, nibble::kColon), in(classes, nibble::kSlash), in(classes, nibble::kHyphen),
                in(classes, nibble::kLower), in(classes, nibble::kAlnum), in(classes, nibble::kHex)};
    }

    // The bytes whose class shares a bit with `bits`.
    VELTRANE_SIMD_TARGET static std::uint64_t in(__m512i classes, std::uint8_t bits) {
        return _mm512_test_epi8_mask(classes, _mm512_set1_epi8(static_cast<char>(bits)));
    }

    VELTRANE_SIMD_TARGET static ByteClasses classify(const char* p) {
        return classes_of(_mm512_loadu_si512(p));
    }

    // A masked load reads only the bytes its mask selects (the others are
    // zero and cannot fault), so a short text needs no copy.
    VELTRANE_SIMD_TARGET static ByteClasses classify_short(const char* p, std::size_t n) {
        const __mmask64 text = _bzhi_u64(~std::uint64_t{0}, static_cast<unsigned>(n));
        return classes_of(_mm512_maskz_loadu_epi8(text, p));
    }

    [[gnu::always_inline]] VELTRANE_SIMD_TARGET static Uuid decode_uuid(const char* p) { return decode_uuid_ssse3(p); }
};

}  // namespace

VELTRANE_SIMD_TARGET Result<VrnView, VrnError> parse_avx512(std::string_view text) noexcept {
    return scan<Avx512, Output::Record>(text);
}

VELTRANE_SIMD_TARGET Result<void, VrnError> validate_avx512(std::string_view text) noexcept {
    return scan<Avx512, Output::Verdict>(text);
}

}  // namespace veltrane_kernel::detail

#endif  // __x86_64__
