// The vectorised parser, written once over a thin layer per instruction set.
//
// The scalar parser (vrn_parse.cpp) walks the text field by field. This one
// first classifies every byte of the whole text, 64 bytes at a time, into six
// bit masks (one bit per byte: ':', '/', '-', lowercase letter, lowercase
// letter or digit, hex digit), and then makes the same checks, in the same
// order, as bit-mask algebra on those masks:
//
//   - the ':' are counted with popcount and found with count-trailing-zeros;
//   - a field rule ("segments joined by single '-'") holds when no byte of
//     the field is outside its alphabet and no byte that opens a segment (the
//     field's first, and every one after a '-') is outside the openers;
//   - a UUID field holds when its 36-bit windows of the '-' and hex masks are
//     exactly the hyphenated pattern.
//
// An instruction set's source defines VELTRANE_SIMD_TARGET (the function
// attribute that enables its instructions) and a layer type with
//
//     static ByteClasses classify(const char* p);   // the 64 bytes at p
//     static ByteClasses classify_short(const char* p, std::size_t n);
//                                                   // n < 64 bytes at p
//     static Uuid decode_uuid(const char* p);       // 36 bytes at p, checked
//
// and then calls `scan<Layer, Output::Record>` for the parse and
// `scan<Layer, Output::Verdict>` for the validation, which stops once every
// check has passed: no UUID decoded, no record made. Nothing here is ever
// read outside the text: the last block of a text of 64 bytes or more is the
// text's last 64 bytes (overlapping the block before it), and a shorter text
// is copied to a padded block first (`classify_short_by_copy`) or loaded
// under a mask.
//
// Everything here has internal linkage, and only the functions marked with
// VELTRANE_SIMD_TARGET are compiled for the wider instruction set: each
// source gets its own copy, so the linker can never hand code compiled for
// one instruction set to callers that run on a processor without it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "parse_paths.hpp"
#include "veltrane_kernel/result.hpp"
#include "veltrane_kernel/uuid.hpp"
#include "veltrane_kernel/vrn.hpp"
#include "vrn_view_access.hpp"

#ifndef VELTRANE_SIMD_TARGET
#error "define VELTRANE_SIMD_TARGET before including block_scan.hpp"
#endif

#include "simd/text_bits.hpp"

namespace veltrane_kernel::detail {
namespace {  // NOLINT(cert-dcl59-cpp): one copy per instruction set, on purpose

inline constexpr std::size_t kBlock = 64;
inline constexpr std::size_t kMaxWords = MAX_VRN_LEN / kBlock;
static_assert(kMaxWords == 8);

// One bit per byte of a 64-byte block, byte i in bit i.
struct ByteClasses {
    std::uint64_t colon;   // ':'
    std::uint64_t slash;   // '/'
    std::uint64_t hyphen;  // '-'
    std::uint64_t lower;   // 'a'-'z': opens an identifier segment
    std::uint64_t alnum;   // 'a'-'z', '0'-'9': opens a region segment
    std::uint64_t hex;     // '0'-'9', 'a'-'f', 'A'-'F'
};

// Byte classes by nibble lookup, for the layers that have a byte shuffle: the
// class of byte b is kLowNibbleClasses[b & 15] & kHighNibbleClasses[b >> 4].
// Each set below is a union of (high nibble, low-nibble range) products; the
// lowercase letters need two (0x61-0x6F and 0x70-0x7A). Bytes of 0x80 and up
// have high nibbles 8-15 and so no class: non-ASCII text fails every rule.
namespace nibble {
inline constexpr std::uint8_t kLowerAtoO = 0x01;  // 0x61-0x6F
inline constexpr std::uint8_t kLowerPtoZ = 0x02;  // 0x70-0x7A
inline constexpr std::uint8_t kDigit = 0x04;      // 0x30-0x39
inline constexpr std::uint8_t kHyphen = 0x08;     // 0x2D
inline constexpr std::uint8_t kSlash = 0x10;      // 0x2F
inline constexpr std::uint8_t kColon = 0x20;      // 0x3A
inline constexpr std::uint8_t kHexLetter = 0x40;  // 0x41-0x46, 0x61-0x66
inline constexpr std::uint8_t kLower = kLowerAtoO | kLowerPtoZ;
inline constexpr std::uint8_t kAlnum = kLower | kDigit;
inline constexpr std::uint8_t kHex = kDigit | kHexLetter;

struct Tables {
    std::uint8_t low[16];
    std::uint8_t high[16];
};

constexpr Tables make_tables() {
    Tables t{};
    auto add = [&t](std::uint8_t high, unsigned low_first, unsigned low_last, std::uint8_t bit) {
        t.high[high] |= bit;
        for (unsigned low = low_first; low <= low_last; ++low) t.low[low] |= bit;
    };
    add(0x6, 0x1, 0xF, kLowerAtoO);
    add(0x7, 0x0, 0xA, kLowerPtoZ);
    add(0x3, 0x0, 0x9, kDigit);
    add(0x2, 0xD, 0xD, kHyphen);
    add(0x2, 0xF, 0xF, kSlash);
    add(0x3, 0xA, 0xA, kColon);
    add(0x4, 0x1, 0x6, kHexLetter);
    add(0x6, 0x1, 0x6, kHexLetter);
    return t;
}

inline constexpr Tables kTables = make_tables();

// The products must not combine into classes a byte does not have: check
// the lookup against the plain definition for every byte.
constexpr bool tables_exact() {
    for (unsigned b = 0; b < 256; ++b) {
        const std::uint8_t looked_up = kTables.low[b & 15] & kTables.high[b >> 4];
        std::uint8_t expected = 0;
        if (b >= 'a' && b <= 'o') expected |= kLowerAtoO;
        if (b >= 'p' && b <= 'z') expected |= kLowerPtoZ;
        if (b >= '0' && b <= '9') expected |= kDigit;
        if (b == '-') expected |= kHyphen;
        if (b == '/') expected |= kSlash;
        if (b == ':') expected |= kColon;
        if ((b >= 'a' && b <= 'f') || (b >= 'A' && b <= 'F')) expected |= kHexLetter;
        if (looked_up != expected) return false;
    }
    return true;
}
static_assert(tables_exact());
}  // namespace nibble

// Copies a text shorter than a block into a block of zeros and classifies
// that: a NUL byte has no class, so the padding sets no bit.
template <class Layer>
VELTRANE_SIMD_TARGET ByteClasses classify_short_by_copy(const char* p, std::size_t n) noexcept {
    char block[kBlock] = {};
    std::memcpy(block, p, n);
    return Layer::classify(block);
}

// The masks of the whole text. `kWords` is fixed at compile time (1, 2, 4 or
// 8: the text's length in 64-byte words, rounded up to one of those).
template <std::size_t kWords>
struct TextMasks {
    TextBits<kWords> colon, slash, hyphen, hex;
    // Bytes that break a field rule where they stand: outside the rule's
    // alphabet, a segment opener (a byte after ':' or '-') outside the rule's
    // openers, or a '-' right before ':' or '/' (a trailing '-').
    TextBits<kWords> identifier_faults;  // openers 'a'-'z'
    TextBits<kWords> region_faults;      // openers 'a'-'z', '0'-'9'
};

// The classes of the n bytes at p, n in (64 * (kWords / 2), 64 * kWords]
// (or 1 to 64 for one word), as masks. Every block but the last is read in
// full; the last is the text's last 64 bytes, overlapping the block before it,
// with the bytes seen already shifted out. Always inlined: each size's parse
// and validation keep the masks in registers, as one caller would.
template <class Layer, std::size_t kWords>
[[gnu::always_inline]] VELTRANE_SIMD_TARGET inline TextMasks<kWords> text_masks(const char* p,
                                                                              std::size_t n) noexcept {
    std::uint64_t colon[kWords] = {}, slash[kWords] = {}, hyphen[kWords] = {};
    std::uint64_t lower[kWords] = {}, alnum[kWords] = {}, hex[kWords] = {};
    auto put = [&](std::size_t w, const ByteClasses& c, unsigned seen) {
        colon[w] = c.colon >> seen;
        slash[w] = c.slash >> seen;
        hyphen[w] = c.hyphen >> seen;
        lower[w] = c.lower >> seen;
        alnum[w] = c.alnum >> seen;
        hex[w] = c.hex >> seen;
    };
    if constexpr (kWords == 1) {
        put(0, n == kBlock ? Layer::classify(p) : Layer::classify_short(p, n), 0);
    } else {
        const std::size_t last = kWords == 2 ? 1 : (n - 1) / kBlock;
        for (std::size_t w = 0; w < kWords; ++w) {
            if (w < last) put(w, Layer::classify(p + w * kBlock), 0);
        }
        put(last, Layer::classify(p + n - kBlock), static_cast<unsigned>((last + 1) * kBlock - n));
    }
    using Bits = TextBits<kWords>;
    TextMasks<kWords> t{Bits::of_words(colon), Bits::of_words(slash), Bits::of_words(hyphen),
                        Bits::of_words(hex), {}, {}};
    const Bits opens = (t.colon | t.hyphen).up_one();
    const Bits trailing_hyphen = t.hyphen & (t.colon | t.slash).down_one();
    const Bits outside = ~(Bits::of_words(alnum) | t.hyphen);
    t.identifier_faults = outside | trailing_hyphen | (opens & ~Bits::of_words(lower));
    t.region_faults = outside | trailing_hyphen | (opens & ~Bits::of_words(alnum));
    return t;
}

// A field of the text, the bytes strictly between two separators whose
// isolated bits are `before` and `after`, keeps its rule: it is not empty
// and holds no fault.
template <class Bits>
VELTRANE_SIMD_TARGET bool field_ok(const Bits& faults, const Bits& before, const Bits& after) noexcept {
    return faults.clear_between(before, after);
}

// The 36 bytes at `at` are a hyphenated UUID: '-' exactly at 8, 13, 18 and
// 23, hex digits everywhere else.
template <std::size_t kWords>
VELTRANE_SIMD_TARGET bool uuid_ok(const TextMasks<kWords>& t, std::size_t at) noexcept {
    constexpr std::uint64_t kAll = (std::uint64_t{1} << Uuid::kTextLength) - 1;
    constexpr std::uint64_t kHyphens = (1u << 8) | (1u << 13) | (1u << 18) | (1u << 23);
    return t.hyphen.window36(at) == kHyphens && t.hex.window36(at) == (kAll & ~kHyphens);
}

// Which of checks 3 and 4 fails for a text that does not start with
// "vrn:vlt:" (when both held, it would).
VELTRANE_SIMD_TARGET inline VrnError::Kind fixed_words_error(const char* p, std::size_t first_colon) noexcept {
    return first_colon != 3 || std::memcmp(p, "vrn", 3) != 0 ? VrnError::BadScheme : VrnError::BadPartition;
}

// The checks, in their order, on the masks: fields are found as the bytes
// between the isolated bits of their separators, so no position is needed
// until the record is made. One copy per text size and output, each called,
// never inlined: the size dispatch in `scan` stays a handful of instructions.
template <class Layer, Output kOutput, std::size_t kWords>
[[gnu::noinline]] VELTRANE_SIMD_TARGET Outcome<kOutput> scan_words(const char* p, std::size_t n) noexcept {
    using Bits = TextBits<kWords>;
    const TextMasks<kWords> t = text_masks<Layer, kWords>(p, n);

    // 2. Exactly five ':', all counted before any field is judged.
    if (t.colon.count() != 5) return fail(VrnError(VrnError::WrongFieldCount));

    // 3-4. The fixed words, case-sensitive: nearly always all eight bytes
    // "vrn:vlt:" at once. Then the first two ':' are bytes 3 and 7.
    if (n < 8 || std::memcmp(p, "vrn:vlt:", 8) != 0) return fail(VrnError(fixed_words_error(p, t.colon.lowest())));
    // The other three, one isolated bit each (clearing a bit known to be set
    // is an exclusive or: no borrow to carry).
    const Bits partition_end = Bits::bit(7);
    Bits rest = t.colon ^ Bits::bit(3) ^ partition_end;
    const Bits service_end = rest.lowest_bit();
    rest = rest ^ service_end;
    const Bits region_end = rest.lowest_bit();
    const Bits org_end = rest ^ region_end;

    // 5-6. Service and (optional) region.
    if (!field_ok(t.identifier_faults, partition_end, service_end)) return fail(VrnError(VrnError::BadService));
    if (region_end != service_end.up_one() && !field_ok(t.region_faults, service_end, region_end)) {
        return fail(VrnError(VrnError::BadRegion));
    }

    // 7. Optional org.
    const bool has_org = org_end != region_end.up_one();
    const std::size_t org = region_end.lowest() + 1;
    const std::size_t type = org_end.lowest() + 1;
    if (has_org && (type - 1 - org != Uuid::kTextLength || !uuid_ok(t, org))) {
        return fail(VrnError(VrnError::BadOrg));
    }

    // 8-9. Exactly one '/' in the resource path. The fields before it have
    // passed checks that refuse '/', so every '/' of the text is in it.
    if (t.slash.count() != 1) return fail(VrnError(VrnError::BadResourcePath));

    // 10-11. Resource type and resource id.
    if (!field_ok(t.identifier_faults, org_end, t.slash)) return fail(VrnError(VrnError::BadResourceType));
    const std::size_t id = t.slash.lowest() + 1;
    if (n - id != Uuid::kTextLength || !uuid_ok(t, id)) return fail(VrnError(VrnError::BadResourceId));

    // 12. Every check passed: the verdict, or the record, made where the
    // caller's result lives.
    if constexpr (kOutput == Output::Verdict) {
        return {};
    } else {
        const std::size_t region = service_end.lowest() + 1;
        std::optional<Uuid> org_value;
        if (has_org) org_value.emplace(Layer::decode_uuid(p + org));
        const Uuid id_value = Layer::decode_uuid(p + id);
        return Result<VrnView, VrnError>(InPlaceFrom{}, [&] {
            return VrnViewAccess::checked(std::string_view(p, n), std::string_view(p + 8, region - 9),
                                          std::string_view(p + region, org - 1 - region), org_value,
                                          std::string_view(p + type, id - 1 - type), id_value);
        });
    }
}

template <class Layer, Output kOutput>
VELTRANE_SIMD_TARGET Outcome<kOutput> scan(std::string_view text) noexcept {
    const char* const p = text.data();
    const std::size_t n = text.size();
    // 1. Length, in bytes, before anything else.
    if (n == 0) return fail(VrnError(VrnError::Empty));
    if (n > MAX_VRN_LEN) return fail(VrnError(VrnError::TooLong));
    if (n <= kBlock) return scan_words<Layer, kOutput, 1>(p, n);
    if (n <= 2 * kBlock) return scan_words<Layer, kOutput, 2>(p, n);
    if (n <= 4 * kBlock) return scan_words<Layer, kOutput, 4>(p, n);
    return scan_words<Layer, kOutput, kMaxWords>(p, n);
}

}  // namespace
}  // namespace veltrane_kernel::detail
