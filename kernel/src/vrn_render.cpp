// Rendering resource names: the canonical text, building from fields, and the
// Cedar entity type and id. Every rendering is written once, at its final
// size: into the caller's buffer, or into a string made at that size.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

#include "uuid_text.hpp"
#include "veltrane_kernel/vrn.hpp"

namespace veltrane_kernel {

namespace {

// A string of `size` bytes that `write(char*)` fills, written only once.
template <class Write>
std::string string_of_size(std::size_t size, Write&& write) {
    std::string text;
#if defined(__cpp_lib_string_resize_and_overwrite)
    // The requested size is returned, not the one the callback is given:
    // libstdc++ 12 passes the capacity there.
    text.resize_and_overwrite(size, [&](char* out, std::size_t) {
        write(out);
        return size;
    });
#else
    text.resize(size);
    write(text.data());
#endif
    return text;
}

// Copies `piece` to `out` and returns the end of the copy.
char* put(char* out, std::string_view piece) noexcept {
    // memcpy from an empty view's data() may be given a null pointer.
    if (!piece.empty()) std::memcpy(out, piece.data(), piece.size());
    return out + piece.size();
}

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
    // The slots that hold UUIDs: the org and the resource id.
    static constexpr std::size_t kOrgSlot = 2;
    static constexpr std::size_t kResourceIdSlot = 4;

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

    // Writes the filled template to `out`, which has room for its length;
    // `put_uuid` writes the two UUID slots. Returns the length.
    template <class PutUuid>
    static std::size_t fill(const Slots& slots, char* out, PutUuid&& put_uuid) noexcept {
        char* at = put(out, kPrefix);
        for (std::size_t i = 0; i < kSlotCount; ++i) {
            if (i > 0) *at++ = kSeparators[i - 1];
            at = (i == kOrgSlot || i == kResourceIdSlot) ? put_uuid(at, slots[i]) : put(at, slots[i]);
        }
        return static_cast<std::size_t>(at - out);
    }
};

static_assert(CanonicalTemplate::kOverhead == 12);

// A UUID slot of a canonical rendering: already lowercase hyphenated text.
char* put_rendered_uuid(char* out, std::string_view text) noexcept { return put(out, text); }

// The slots of a parsed name; the UUID texts live in `org_text` and `id_text`.
CanonicalTemplate::Slots canonical_slots(const VrnView& vrn, Uuid::HyphenatedText& org_text,
                                         Uuid::HyphenatedText& id_text) noexcept {
    std::string_view org_slot;
    if (vrn.org()) {
        org_text = vrn.org()->to_hyphenated();
        org_slot = std::string_view(org_text.data(), org_text.size());
    }
    id_text = vrn.resource_id().to_hyphenated();
    return {vrn.service(), vrn.region(), org_slot, vrn.resource_type(),
            std::string_view(id_text.data(), id_text.size())};
}

// Lowers the hex letters of a UUID text that passed the UUID check: its only
// letters are hex digits, and OR-ing 0x20 lowers them while leaving digits
// and '-' as they are. The result is the lowercase hyphenated text of the
// value it spells.
// Eight bytes at a time (the last word overlaps the one before it).
void lower_uuid_text(char* text) noexcept {
    constexpr std::uint64_t kLower = 0x2020202020202020ull;
    for (std::size_t at : {std::size_t{0}, std::size_t{8}, std::size_t{16}, std::size_t{24}, Uuid::kTextLength - 8}) {
        std::uint64_t word;
        std::memcpy(&word, text + at, sizeof word);
        word |= kLower;
        std::memcpy(text + at, &word, sizeof word);
    }
}

// The Cedar entity-type template: "Vlt::" + Pascal(service) + "::" + Pascal(type).
constexpr std::string_view kCedarTypePrefix = "Vlt::";
constexpr std::string_view kCedarTypeSeparator = "::";

// PascalCase of `token` written to `out`; returns the end of what was written.
char* put_pascal_case(char* out, std::string_view token) noexcept {
    bool at_segment_start = true;
    for (char c : token) {
        if (c == '-') {
            at_segment_start = true;
        } else if (at_segment_start) {
            *out++ = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
            at_segment_start = false;
        } else {
            *out++ = c;
        }
    }
    return out;
}

std::size_t hyphens_in(std::string_view token) noexcept {
    std::size_t count = 0;
    for (char c : token) count += c == '-';
    return count;
}

// The entity type's length: on an identifier every '-' is dropped.
std::size_t cedar_type_size(const VrnView& vrn) noexcept {
    return kCedarTypePrefix.size() + kCedarTypeSeparator.size() + vrn.service().size() -
           hyphens_in(vrn.service()) + vrn.resource_type().size() - hyphens_in(vrn.resource_type());
}

char* put_cedar_type(char* out, const VrnView& vrn) noexcept {
    out = put(out, kCedarTypePrefix);
    out = put_pascal_case(out, vrn.service());
    out = put(out, kCedarTypeSeparator);
    return put_pascal_case(out, vrn.resource_type());
}

}  // namespace

FieldSpans VrnView::field_spans() const noexcept {
    // "vrn:vlt:" service ':' region ':' org ':' resource_type '/' resource_id
    FieldSpans spans{};
    std::size_t at = CanonicalTemplate::kPrefix.size();
    const auto next = [&at](std::size_t size) {
        const FieldSpan span{at, size};
        at += size + 1;  // and the separator after it
        return span;
    };
    spans.service = next(service_.size());
    spans.region = next(region_.size());
    spans.org = next(org_ ? Uuid::kTextLength : 0);
    spans.resource_type = next(resource_type_.size());
    spans.resource_id = next(Uuid::kTextLength);
    return spans;
}

namespace {

// Whether a UUID text that passed the UUID check holds an upper-case letter:
// its only letters are hex digits, and on its bytes ('-', '0'-'9', 'a'-'f',
// 'A'-'F') bit 0x40 without bit 0x20 is exactly 'A'-'F'. Eight bytes at a
// time, the last word overlapping the one before it.
bool uuid_text_has_upper_case(const char* text) noexcept {
    constexpr std::uint64_t kUpper = 0x4040404040404040ull;
    std::uint64_t found = 0;
    for (std::size_t at : {std::size_t{0}, std::size_t{8}, std::size_t{16}, std::size_t{24}, Uuid::kTextLength - 8}) {
        std::uint64_t word;
        std::memcpy(&word, text + at, sizeof word);
        found |= word & ~(word << 1) & kUpper;  // bit 6 set where bit 5 is clear
    }
    return found != 0;
}

}  // namespace

bool VrnView::is_canonical() const noexcept {
    if (text_.empty()) return false;
    const FieldSpans spans = field_spans();
    if (org_ && uuid_text_has_upper_case(text_.data() + spans.org.start)) return false;
    return !uuid_text_has_upper_case(text_.data() + spans.resource_id.start);
}

std::size_t VrnView::canonical_size() const noexcept {
    return CanonicalTemplate::kOverhead + service_.size() + region_.size() +
           (org_ ? Uuid::kTextLength : 0) + resource_type_.size() + Uuid::kTextLength;
}

std::size_t VrnView::write_canonical(char* out) const noexcept {
    if (!text_.empty()) {
        // The text parsed, its UUIDs lowered: the org ends at the ':' before
        // the resource type, the resource id ends the text.
        std::memcpy(out, text_.data(), text_.size());
        if (org_) lower_uuid_text(out + (resource_type_.data() - text_.data()) - 1 - Uuid::kTextLength);
        lower_uuid_text(out + text_.size() - Uuid::kTextLength);
        return text_.size();
    }
    Uuid::HyphenatedText org_text;
    Uuid::HyphenatedText id_text;
    return CanonicalTemplate::fill(canonical_slots(*this, org_text, id_text), out, put_rendered_uuid);
}

std::string VrnView::canonical() const {
    return string_of_size(canonical_size(), [this](char* out) { write_canonical(out); });
}

std::size_t VrnView::write_cedar_entity_type(char* out) const noexcept {
    return static_cast<std::size_t>(put_cedar_type(out, *this) - out);
}

CedarEntityLayout VrnView::write_cedar_entity(char* out) const noexcept {
    char* const type_end = put_cedar_type(out, *this);
    const Uuid::HyphenatedText id = resource_id_.to_hyphenated();
    std::memcpy(type_end, id.data(), id.size());
    return {static_cast<std::size_t>(type_end - out), id.size()};
}

std::size_t VrnView::write_cedar_uid(char* out) const noexcept {
    char* at = put_cedar_type(out, *this);
    at = put(at, "::\"");
    const Uuid::HyphenatedText id = resource_id_.to_hyphenated();
    std::memcpy(at, id.data(), id.size());
    at += id.size();
    *at++ = '"';
    return static_cast<std::size_t>(at - out);
}

CedarEntity VrnView::cedar_entity() const {
    CedarEntity entity;
    entity.entity_type = string_of_size(cedar_type_size(*this), [this](char* out) { put_cedar_type(out, *this); });
    entity.entity_id = resource_id_.to_string();
    return entity;
}

std::string Vrn::canonical() const { return view().canonical(); }

CedarEntity Vrn::cedar_entity() const { return view().cedar_entity(); }

// The five texts fill the template right where the result goes, and the
// filled text is parsed there, so the checks and the error are by
// construction those of the joined text. A parsed name's canonical text
// differs from it only in the hex letters of its UUIDs, which are lowered in
// place: the result is written once.
Result<std::size_t, VrnError> Vrn::build_into(std::string_view service, std::string_view region,
                                              std::string_view org, std::string_view resource_type,
                                              std::string_view resource_id, char* out) noexcept {
    const CanonicalTemplate::Slots slots = {service, region, org, resource_type, resource_id};
    // The length decides first, as it does in the parser, and before
    // anything is written: `out` has room for MAX_VRN_LEN bytes only.
    const std::optional<std::size_t> size = CanonicalTemplate::length_within(slots, MAX_VRN_LEN);
    if (!size) return fail(VrnError(VrnError::TooLong));
    CanonicalTemplate::fill(slots, out, put);
    const Result<VrnView, VrnError> parsed = VrnView::parse(std::string_view(out, *size));
    if (!parsed) return fail(parsed.error());
    // The org ends at the ':' before the resource type; the id ends the text.
    if (parsed->org()) lower_uuid_text(out + (parsed->resource_type().data() - out) - 1 - Uuid::kTextLength);
    lower_uuid_text(out + *size - Uuid::kTextLength);
    return *size;
}

Result<std::string, VrnError> Vrn::build(std::string_view service, std::string_view region,
                                         std::string_view org, std::string_view resource_type,
                                         std::string_view resource_id) {
    // Built on the stack first: a failed build allocates nothing.
    char buffer[MAX_VRN_LEN];
    const Result<std::size_t, VrnError> size = build_into(service, region, org, resource_type, resource_id, buffer);
    if (!size) return fail(size.error());
    return std::string(buffer, *size);
}

std::string to_pascal_case(std::string_view token) {
    // PascalCase drops hyphens and adds nothing: never longer than the token.
    std::string out(token.size(), '\0');
    out.resize(static_cast<std::size_t>(put_pascal_case(out.data(), token) - out.data()));
    return out;
}

}  // namespace veltrane_kernel
