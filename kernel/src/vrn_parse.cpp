// The resource-name parser: error tokens, the two field rules and Vrn::parse.
#include <array>
#include <cstddef>
#include <utility>

#include "veltrane_kernel/vrn.hpp"

namespace veltrane_kernel {

namespace {

// Indexed by VrnError::Kind; the order is the numbering of the kinds.
constexpr std::array<std::string_view, VrnError::kCount> kVrnErrorTokens = {
    "empty",           "too-long",          "bad-scheme",        "bad-partition",
    "wrong-field-count", "bad-service",     "bad-region",        "bad-org",
    "bad-resource-path", "bad-resource-type", "bad-resource-id",
};

constexpr bool is_lower(unsigned char c) noexcept { return c >= 'a' && c <= 'z'; }
constexpr bool is_digit(unsigned char c) noexcept { return c >= '0' && c <= '9'; }

// Both field rules are "non-empty segments joined by single '-'"; they differ
// only in which characters may open a segment. Any byte of 0x80 or above is
// refused, which on valid UTF-8 refuses every non-ASCII character whole.
template <bool (*OpensSegment)(unsigned char)>
constexpr bool is_hyphenated_segments(std::string_view text) noexcept {
    bool at_segment_start = true;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (at_segment_start) {
            if (!OpensSegment(c)) return false;
            at_segment_start = false;
        } else if (c == '-') {
            at_segment_start = true;
        } else if (!is_lower(c) && !is_digit(c)) {
            return false;
        }
    }
    // Still at a segment start: the text is empty or ends with '-'.
    return !at_segment_start;
}

constexpr bool opens_identifier_segment(unsigned char c) noexcept { return is_lower(c); }
constexpr bool opens_region_segment(unsigned char c) noexcept { return is_lower(c) || is_digit(c); }

// A field that must hold a UUID: the length is tested against 36 first, so no
// other spelling of a UUID can pass.
std::optional<Uuid> parse_uuid_field(std::string_view field) noexcept {
    if (field.size() != Uuid::kTextLength) return std::nullopt;
    return Uuid::parse_hyphenated(field);
}

}  // namespace

std::string_view VrnError::kind() const noexcept { return kVrnErrorTokens[kind_]; }

bool is_valid_identifier(std::string_view text) noexcept {
    return is_hyphenated_segments<opens_identifier_segment>(text);
}

bool is_valid_region(std::string_view text) noexcept {
    return is_hyphenated_segments<opens_region_segment>(text);
}

Vrn::Vrn(std::string_view service, std::string_view region, std::optional<Uuid> org,
         std::string_view resource_type, Uuid resource_id)
    : service_(service),
      region_(region),
      resource_type_(resource_type),
      org_(org),
      resource_id_(resource_id) {}

// Every check below reads views into `text`; nothing is allocated until the
// record is made at the very end, so a refused text costs no allocation.
Result<Vrn, VrnError> Vrn::parse(std::string_view text) {
    // 1. Length, in bytes, before anything else: constant time for any size.
    if (text.empty()) return fail(VrnError(VrnError::Empty));
    if (text.size() > MAX_VRN_LEN) return fail(VrnError(VrnError::TooLong));

    // 2. Exactly six ':'-separated fields, i.e. exactly five ':'. All of them
    // are counted before any field is judged: find the five and make sure no
    // sixth follows.
    constexpr std::size_t kColons = 5;
    std::array<std::size_t, kColons> colon{};
    std::size_t from = 0;
    for (std::size_t i = 0; i < kColons; ++i) {
        const std::size_t at = text.find(':', from);
        if (at == std::string_view::npos) return fail(VrnError(VrnError::WrongFieldCount));
        colon[i] = at;
        from = at + 1;
    }
    if (text.find(':', from) != std::string_view::npos) {
        return fail(VrnError(VrnError::WrongFieldCount));
    }
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
    if (!is_valid_identifier(service)) return fail(VrnError(VrnError::BadService));
    if (!region.empty() && !is_valid_region(region)) return fail(VrnError(VrnError::BadRegion));

    // 7. Optional org.
    std::optional<Uuid> org;
    if (!org_text.empty()) {
        org = parse_uuid_field(org_text);
        if (!org) return fail(VrnError(VrnError::BadOrg));
    }

    // 8-9. Exactly one '/' in the resource path, splitting type from id.
    const std::size_t slash = path.find('/');
    if (slash == std::string_view::npos || path.find('/', slash + 1) != std::string_view::npos) {
        return fail(VrnError(VrnError::BadResourcePath));
    }
    const std::string_view resource_type = path.substr(0, slash);
    const std::string_view resource_id_text = path.substr(slash + 1);

    // 10-11. Resource type and resource id.
    if (!is_valid_identifier(resource_type)) return fail(VrnError(VrnError::BadResourceType));
    const std::optional<Uuid> resource_id = parse_uuid_field(resource_id_text);
    if (!resource_id) return fail(VrnError(VrnError::BadResourceId));

    // 12. Every check passed: only now copy the texts.
    return Vrn(service, region, org, resource_type, *resource_id);
}

}  // namespace veltrane_kernel
