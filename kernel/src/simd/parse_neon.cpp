// The parser on NEON, which every 64-bit Arm processor has: four 16-byte
// vectors per block, byte classes by nibble lookup (tbl).
#if defined(__aarch64__)

#include <arm_neon.h>

#define VELTRANE_SIMD_TARGET
#include "simd/block_scan.hpp"

namespace veltrane_kernel::detail {
namespace {

struct Neon {
    static uint8x16_t classes_of(uint8x16_t v) {
        const uint8x16_t low_table = vld1q_u8(nibble::kTables.low);
        const uint8x16_t high_table = vld1q_u8(nibble::kTables.high);
        return vandq_u8(vqtbl1q_u8(low_table, vandq_u8(v, vdupq_n_u8(0x0F))),
                        vqtbl1q_u8(high_table, vshrq_n_u8(v, 4)));
    }

    // NEON has no movemask: keep one weight bit per byte (1, 2, ..., 128 in
    // each half of a vector), then three rounds of pairwise adds sum each
    // eight bytes into one, giving the 64 bits of the block in byte order.
    static std::uint64_t in(const uint8x16_t (&classes)[4], std::uint8_t bits) {
        static constexpr std::uint8_t kWeights[16] = {1, 2, 4, 8, 16, 32, 64, 128,
                                                      1, 2, 4, 8, 16, 32, 64, 128};
        const uint8x16_t weights = vld1q_u8(kWeights);
        const uint8x16_t set = vdupq_n_u8(bits);
        uint8x16_t t[4];
        for (int i = 0; i < 4; ++i) t[i] = vandq_u8(vtstq_u8(classes[i], set), weights);
        uint8x16_t sum = vpaddq_u8(vpaddq_u8(t[0], t[1]), vpaddq_u8(t[2], t[3]));
        sum = vpaddq_u8(sum, sum);
        return vgetq_lane_u64(vreinterpretq_u64_u8(sum), 0);
    }

    static ByteClasses classify(const char* p) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(p);
        const uint8x16_t classes[4] = {classes_of(vld1q_u8(bytes)), classes_of(vld1q_u8(bytes + 16)),
                                       classes_of(vld1q_u8(bytes + 32)), classes_of(vld1q_u8(bytes + 48))};
        return {in(classes, nibble::kColon), in(classes, nibble::kSlash), in(classes, nibble::kHyphen),
                in(classes, nibble::kLower), in(classes, nibble::kAlnum), in(classes, nibble::kHex)};
    }

    static ByteClasses classify_short(const char* p, std::size_t n) {
        return classify_short_by_copy<Neon>(p, n);
    }

    // `p` holds 36 checked bytes. Two table lookups over 32 bytes each
    // gather the 32 digits, dropping the '-': digits 0-15 sit at bytes 0-7,
    // 9-12 and 14-17, digits 16-31 at 19-22 and 24-35.
    static Uuid decode_uuid(const char* p) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(p);
        const uint8x16x2_t head = {{vld1q_u8(bytes), vld1q_u8(bytes + 16)}};       // bytes 0-31
        const uint8x16x2_t tail = {{vld1q_u8(bytes + 16), vld1q_u8(bytes + 20)}};  // 16-31, 20-35
        static constexpr std::uint8_t kFirst[16] = {0, 1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 14, 15, 16, 17};
        static constexpr std::uint8_t kSecond[16] = {3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15, 28, 29, 30, 31};
        const uint8x16_t first = values(vqtbl2q_u8(head, vld1q_u8(kFirst)));
        const uint8x16_t second = values(vqtbl2q_u8(tail, vld1q_u8(kSecond)));
        // Even digits are the high nibbles, odd ones the low.
        const uint8x16_t bytes_out =
            vorrq_u8(vshlq_n_u8(vuzp1q_u8(first, second), 4), vuzp2q_u8(first, second));
        Uuid::Bytes out;
        vst1q_u8(out.data(), bytes_out);
        return Uuid(out);
    }

    // A hex digit's value: its low nibble, plus 9 for the letters.
    static uint8x16_t values(uint8x16_t digits) {
        const uint8x16_t letters = vcgtq_u8(digits, vdupq_n_u8('9'));
        return vaddq_u8(vandq_u8(digits, vdupq_n_u8(0x0F)), vandq_u8(letters, vdupq_n_u8(9)));
    }
};

}  // namespace

Result<VrnView, VrnError> parse_neon(std::string_view text) noexcept {
    return scan<Neon, Output::Record>(text);
}

Result<void, VrnError> validate_neon(std::string_view text) noexcept {
    return scan<Neon, Output::Verdict>(text);
}

}  // namespace veltrane_kernel::detail

#endif  // __aarch64__
