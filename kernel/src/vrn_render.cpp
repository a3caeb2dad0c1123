// Rendering resource names: the canonical text, building from fields, and the
// Cedar entity type and id.
#include <array>
#include <cstddef>
#include <cstring>

#include "veltrane_kernel/vrn.hpp"

namespace veltrane_kernel {

namespace {

// The canonical template, shared by `canonical` and `build`:
//
//     "vrn:vlt:" service ':' region ':' org ':' resource_type '/' resource_id
//
// It is defined once, here, so the two can never disagree on the layout.
struct CanonicalTemplate {
    static constexpr std::string_view kPrefix = "vrn:vlt:";
    static constexpr std::array<char, 4> kSeparators = {':', ':', ':', '/'};
    static constexpr std::size_t kSlotCount = kSeparators.size() + 1;
    // Bytes the template adds around its slots.
    static constexpr std::size_t kOverhead = kPrefix.size() + kSeparators.size();

    // Service, region, org, resource type, resource id.
    using Slots = std::array<std::string_view, kSlotCount>;

    // The length of the filled template, or nullopt when it would exceed
    // `limit`. The running budget is only ever reduced by amounts that fit in
    // it, so no sum of lengths can wrap.
    static constexpr std::optional<std::size_t> length_within(const Slots& slots,
                                                              std::size_t limit) noexcept {
        if (limit < kOverhead) return std::nullopt;
        std::size_t budget = limit - kOverhead;
        for (std::string_view slot : slots) {
            if (slot.size() > budget) return std::nullopt;
            budget -= slot.size();
        }
        return limit - budget;
    }

    // Writes the filled template to `out`, which has room for its length.
    static void fill(const Slots& slots, char* out) noexcept {
        auto put = [&out](std::string_view piece) {
            // memcpy from an empty view's data() may be given a null pointer.
            if (!piece.empty()) std::memcpy(out, piece.data(), piece.size());
            out += piece.size();
        };
        put(kPrefix);
        put(slots[0]);
        for (std::size_t i = 0; i < kSeparators.size(); ++i) {
            *out++ = kSeparators[i];
            put(slots[i + 1]);
        }
    }
};

static_assert(CanonicalTemplate::kOverhead == 12);

// The Cedar entity-type template: "Vlt::" + Pascal(service) + "::" + Pascal(type).
constexpr std::string_view kCedarTypePrefix = "Vlt::";
constexpr std::string_view kCedarTypeSeparator = "::";

void append_pascal_case(std::string& out, std::string_view token) {
    bool at_segment_start = true;
    for (char c : token) {
        if (c == '-') {
            at_segment_start = true;
        } else if (at_segment_start) {
            out.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
            at_segment_start = false;
        } else {
            out.push_back(c);
        }
    }
}

}  // namespace

std::string Vrn::canonical() const {
    Uuid::HyphenatedText org_text{};
    std::string_view org_slot;
    if (org_) {
        org_text = org_->to_hyphenated();
        org_slot = std::string_view(org_text.data(), org_text.size());
    }
    const Uuid::HyphenatedText id_text = resource_id_.to_hyphenated();
    const CanonicalTemplate::Slots slots = {service_, region_, org_slot, resource_type_,
                                            std::string_view(id_text.data(), id_text.size())};
    // A parsed record always fits: its canonical text is as long as the text it
    // was parsed from.
    const std::size_t length = *CanonicalTemplate::length_within(slots, MAX_VRN_LEN);
    std::string text(length, '\0');
    CanonicalTemplate::fill(slots, text.data());
    return text;
}

Result<std::string, VrnError> Vrn::build(std::string_view service, std::string_view region,
                                         std::string_view org, std::string_view resource_type,
                                         std::string_view resource_id) {
    const CanonicalTemplate::Slots slots = {service, region, org, resource_type, resource_id};
    // A joined text over MAX_VRN_LEN is what the parser would refuse first, so
    // refuse it here without joining; what fits is joined on the stack.
    const std::optional<std::size_t> length = CanonicalTemplate::length_within(slots, MAX_VRN_LEN);
    if (!length) return fail(VrnError(VrnError::TooLong));
    std::array<char, MAX_VRN_LEN> joined;
    CanonicalTemplate::fill(slots, joined.data());

    Result<Vrn, VrnError> parsed = Vrn::parse(std::string_view(joined.data(), *length));
    if (!parsed) return fail(parsed.error());
    return parsed->canonical();
}

std::string to_pascal_case(std::string_view token) {
    std::string out;
    out.reserve(token.size());
    append_pascal_case(out, token);
    return out;
}

CedarEntity Vrn::cedar_entity() const {
    CedarEntity entity;
    entity.entity_type.reserve(kCedarTypePrefix.size() + service_.size() +
                               kCedarTypeSeparator.size() + resource_type_.size());
    entity.entity_type.append(kCedarTypePrefix);
    append_pascal_case(entity.entity_type, service_);
    entity.entity_type.append(kCedarTypeSeparator);
    append_pascal_case(entity.entity_type, resource_type_);
    entity.entity_id = resource_id_.to_string();
    return entity;
}

}  // namespace veltrane_kernel
