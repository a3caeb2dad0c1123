// The resource-name parser: error tokens, the two field rules, Vrn::parse, and
// the scalar parse and validation, field by field, that every vectorised path
// must equal.
#include <array>
#include <cstddef>
#include <optional>
#include <type_traits>
#include <utility>

#include "parse_paths.hpp"
#include "swar.hpp"
#include "uuid_text.hpp"
#include "veltrane_kernel/vrn.hpp"
#include "vrn_view_access.hpp"

namespace veltrane_kernel {

namespace {

// Indexed by VrnError::Kind; the order is the numbering of the kinds.
constexpr std::array<std::string_view, VrnError::kCount> kVrnErrorTokens = {
    "empty",              // 0  Empty
    "too-long",           // 1  TooLong
    "bad-scheme",         // 2  BadScheme
    "bad-partition",      // 3  BadPartition
    "wrong-field-count",  // 4  WrongFieldCount
    "bad-service",        // 5  BadService
    "bad-region",         // 6  BadRegion
    "bad-org",            // 7  BadOrg
    "bad-resource-path",  // 8  BadResourcePath
    "bad-resource-type",  // 9  BadResourceType
    "bad-resource-id",    // 10 BadResourceId
};

// Character classes of the two field rules, one bit each; every other byte,
// 0x80 and above included, has no class. Refusing those bytes one by one
// refuses every non-ASCII character whole, on valid UTF-8.
enum CharClass : std::uint8_t { kLower = 1, kDigit = 2, kHyphen = 4 };

constexpr std::array<std::uint8_t, 256> kCharClasses = [] {
    std::array<std::uint8_t, 256> table{};
    for (int c = 'a'; c <= 'z'; ++c) table[static_cast<std::size_t>(c)] = kLower;
    for (int c = '0'; c <= '9'; ++c) table[static_cast<std::size_t>(c)] = kDigit;
    table['-'] = kHyphen;
    return table;
}();

// Both field rules are "non-empty segments joined by single '-'"; they differ
// only in the classes that may open a segment (`openers`). A segment opens at
// the start and after every '-'; a '-' never opens one, which also refuses a
// leading or doubled '-'. A trailing '-' is refused at the end.
//
// Byte by byte, for texts shorter than a word.
constexpr bool segments_bytewise(std::string_view text, std::uint8_t openers) noexcept {
    bool ok = true;
    bool opening = true;
    for (char ch : text) {
        const std::uint8_t cls = kCharClasses[static_cast<unsigned char>(ch)];
        ok &= cls != 0;
        ok &= !opening || (cls & openers) != 0;
        opening = cls == kHyphen;
    }
    return ok;
}

// Eight bytes at a time. `word` holds the bytes, `live` has the high bit set
// for the bytes to judge, `opening` for those that open a segment. Returns the
// high bits of judged bytes that break the rule.
inline std::uint64_t segment_faults(std::uint64_t word, std::uint64_t live, std::uint64_t opening,
                                    bool digit_opens) noexcept {
    const std::uint64_t lower = detail::bytes_in_range(word, 'a', 'z');
    const std::uint64_t digit = detail::bytes_in_range(word, '0', '9');
    const std::uint64_t hyphen = detail::bytes_equal_to(word, '-');
    // Bytes of 0x80 and above fail here; they may also disturb the range tests
    // of the bytes above them, which changes nothing once a fault is found.
    const std::uint64_t allowed = (lower | digit | hyphen) & ~(word & detail::kHighBits);
    const std::uint64_t may_open = digit_opens ? (lower | digit) : lower;
    return live & (~allowed | (opening & ~may_open));
}

// The rule over `text`. `readable` is how many bytes from text.data() may be
// read (at least text.size()); with 8 or more, a short text is judged in one
// word read past its end, with the extra bytes ignored.
inline bool segments_ok(std::string_view text, bool digit_opens, std::size_t readable) noexcept {
    const std::size_t size = text.size();
    if (size == 0 || text[size - 1] == '-') return false;
    const char* p = text.data();
    if (size < 8) {
        if (readable < 8) return segments_bytewise(text, digit_opens ? kLower | kDigit : kLower);
        const std::uint64_t live = detail::kHighBits >> (8 * (8 - size));
        const std::uint64_t word = detail::load_word(p);
        const std::uint64_t hyphen = detail::bytes_equal_to(word, '-');
        return segment_faults(word, live, (hyphen << 8) | 0x80, digit_opens) == 0;
    }
    std::uint64_t faults = 0;
    std::uint64_t carry = 0x80;  // byte 0 opens the first segment
    std::size_t offset = 0;
    for (; offset + 8 <= size; offset += 8) {
        const std::uint64_t word = detail::load_word(p + offset);
        const std::uint64_t hyphen = detail::bytes_equal_to(word, '-');
        faults |= segment_faults(word, detail::kHighBits, (hyphen << 8) | carry, digit_opens);
        carry = hyphen >> 56;  // a '-' in the top byte opens the next word
    }
    if (offset < size) {
        // The last eight bytes, judging only those not seen yet; a '-' among
        // the seen ones still marks the byte after it as opening.
        const std::size_t seen = offset + 8 - size;
        const std::uint64_t word = detail::load_word(p + size - 8);
        const std::uint64_t hyphen = detail::bytes_equal_to(word, '-');
        faults |= segment_faults(word, detail::kHighBits << (8 * seen), hyphen << 8, digit_opens);
    }
    return faults == 0;
}

// What a UUID field that passed gives: its value, for the record; for a
// validation, which never reads the value, only that it passed.
struct UuidPassed {};
template <detail::Output kOutput>
using UuidField = std::conditional_t<kOutput == detail::Output::Record, Uuid, UuidPassed>;

// A field that must hold a UUID: the length is tested against 36 first, so no
// other spelling of a UUID can pass. A validation checks the text alone.
template <detail::Output kOutput>
std::optional<UuidField<kOutput>> uuid_field(std::string_view field) noexcept {
    if (field.size() != Uuid::kTextLength) return std::nullopt;
    if constexpr (kOutput == detail::Output::Record) {
        return detail::parse_uuid_text(field);
    } else {
        if (!detail::is_uuid_text(field)) return std::nullopt;
        return UuidPassed{};
    }
}

}  // namespace

std::string_view VrnError::kind() const noexcept { return kVrnErrorTokens[kind_]; }

bool is_valid_identifier(std::string_view text) noexcept {
    return segments_ok(text, /*digit_opens=*/false, text.size());
}

bool is_valid_region(std::string_view text) noexcept {
    return segments_ok(text, /*digit_opens=*/true, text.size());
}

Vrn::Vrn(const VrnView& view)
    : service_(view.service()),
      region_(view.region()),
      resource_type_(view.resource_type()),
      org_(view.org()),
      resource_id_(view.resource_id()) {}

Result<Vrn, VrnError> Vrn::parse(std::string_view text) {
    const Result<VrnView, VrnError> view = VrnView::parse(text);
    if (!view) return fail(view.error());
    // Only now copy the texts, where the caller's result lives: the record is
    // never moved.
    return Result<Vrn, VrnError>(InPlaceFrom{}, [&] { return Vrn(*view); });
}

namespace {

// The reference parse, written once over what it ends in: the record, or for
// a validation the verdict alone, with no UUID decoded. Every check below
// reads views into `text`, and the record holds views too: nothing is
// allocated.
template <detail::Output kOutput>
detail::Outcome<kOutput> check_scalar(std::string_view text) noexcept {
    // 1. Length, in bytes, before anything else: constant time for any size.
    if (text.empty()) return fail(VrnError(VrnError::Empty));
    if (text.size() > MAX_VRN_LEN) return fail(VrnError(VrnError::TooLong));

    // 2. Exactly six ':'-separated fields, i.e. exactly five ':'. All of them
    // are counted before any field is judged (counting stops at a sixth).
    constexpr std::size_t kColons = 5;
    std::array<std::size_t, kColons> colon{};
    std::size_t colons = 0;
    detail::for_each_byte_equal_to(text, ':', [&](std::size_t at) {
        if (colons < kColons) colon[colons] = at;
        return ++colons <= kColons;
    });
    if (colons != kColons) return fail(VrnError(VrnError::WrongFieldCount));
    auto field_between = [&](std::size_t begin, std::size_t end) {
        return text.substr(begin, end - begin);
    };
    const std::string_view scheme = text.substr(0, colon[0]);
    const std::string_view partition = field_between(colon[0] + 1, colon[1]);
    const std::string_view service = field_between(colon[1] + 1, colon[2]);
    const std::string_view region = field_between(colon[2] + 1, colon[3]);
    const std::string_view org_text = field_between(colon[3] + 1, colon[4]);
    const std::string_view path = text.substr(colon[4] + 1);

    // 3-4. The fixed words, case-sensitive.
    if (scheme != "vrn") return fail(VrnError(VrnError::BadScheme));
    if (partition != "vlt") return fail(VrnError(VrnError::BadPartition));

    // 5-6. Service and (optional) region.
    // A field may be read in words up to the end of the whole text.
    auto readable = [&](std::string_view field) {
        return text.size() - static_cast<std::size_t>(field.data() - text.data());
    };
    if (!segments_ok(service, false, readable(service))) return fail(VrnError(VrnError::BadService));
    if (!region.empty() && !segments_ok(region, true, readable(region))) {
        return fail(VrnError(VrnError::BadRegion));
    }

    // 7. Optional org.
    std::optional<UuidField<kOutput>> org;
    if (!org_text.empty()) {
        org = uuid_field<kOutput>(org_text);
        if (!org) return fail(VrnError(VrnError::BadOrg));
    }

    // 8-9. Exactly one '/' in the resource path, splitting type from id.
    std::size_t slash = 0;
    std::size_t slashes = 0;
    detail::for_each_byte_equal_to(path, '/', [&](std::size_t at) {
        slash = at;
        return ++slashes < 2;
    });
    if (slashes != 1) return fail(VrnError(VrnError::BadResourcePath));
    const std::string_view resource_type = path.substr(0, slash);
    const std::string_view resource_id_text = path.substr(slash + 1);

    // 10-11. Resource type and resource id.
    if (!segments_ok(resource_type, false, readable(resource_type))) {
        return fail(VrnError(VrnError::BadResourceType));
    }
    const std::optional<UuidField<kOutput>> resource_id = uuid_field<kOutput>(resource_id_text);
    if (!resource_id) return fail(VrnError(VrnError::BadResourceId));

    // 12. Every check passed.
    if constexpr (kOutput == detail::Output::Record) {
        return VrnViewAccess::checked(text, service, region, org, resource_type, *resource_id);
    } else {
        return {};
    }
}

}  // namespace

Result<VrnView, VrnError> detail::parse_scalar(std::string_view text) noexcept {
    return check_scalar<detail::Output::Record>(text);
}

Result<void, VrnError> detail::validate_scalar(std::string_view text) noexcept {
    return check_scalar<detail::Output::Verdict>(text);
}

}  // namespace veltrane_kernel
