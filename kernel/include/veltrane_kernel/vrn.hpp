// Resource names (VRNs): the parser, its errors and the renderings.
//
//     vrn:vlt:<service>:<region>:<org>:<resource_type>/<resource_id>
//
// at most MAX_VRN_LEN bytes; the org (optional) and the resource id are UUIDs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "veltrane_kernel/result.hpp"
#include "veltrane_kernel/uuid.hpp"

namespace veltrane_kernel {

// The greatest accepted length of a VRN's text, in bytes of UTF-8.
inline constexpr std::size_t MAX_VRN_LEN = 512;

// The first check a text failed. One byte; the numbering and the tokens are an
// external contract (Python callers see the tokens).
class VrnError {
public:
    enum Kind : std::uint8_t {
        Empty = 0,             // "empty": the text has length 0
        TooLong = 1,           // "too-long": longer than MAX_VRN_LEN bytes
        BadScheme = 2,         // "bad-scheme": field 1 is not "vrn"
        BadPartition = 3,      // "bad-partition": field 2 is not "vlt"
        WrongFieldCount = 4,   // "wrong-field-count": not exactly six ':'-separated fields
        BadService = 5,        // "bad-service": the service is not an identifier
        BadRegion = 6,         // "bad-region": a non-empty region is not a region
        BadOrg = 7,            // "bad-org": a non-empty org is not a hyphenated UUID
        BadResourcePath = 8,   // "bad-resource-path": the last field has not exactly one '/'
        BadResourceType = 9,   // "bad-resource-type": the resource type is not an identifier
        BadResourceId = 10,    // "bad-resource-id": the resource id is not a hyphenated UUID
    };
    static constexpr std::size_t kCount = 11;

    // Every kind, in the order the parser checks for them: a text that fails
    // several checks is reported with the first of them in this order. (The
    // numbering above is older than this order and part of the contract.)
    static constexpr Kind kCheckOrder[kCount] = {
        Empty,     TooLong,   WrongFieldCount, BadScheme,       BadPartition,    BadService,
        BadRegion, BadOrg,    BadResourcePath, BadResourceType, BadResourceId,
    };

    // NOLINTNEXTLINE(google-explicit-constructor): a kind is an error.
    constexpr VrnError(Kind kind) noexcept : kind_(kind) {}

    [[nodiscard]] constexpr Kind value() const noexcept { return kind_; }
    // The stable token, from a constant table; never allocated.
    [[nodiscard]] std::string_view kind() const noexcept;

    friend constexpr bool operator==(VrnError, VrnError) noexcept = default;

private:
    Kind kind_;
};

static_assert(sizeof(VrnError) == 1);

// One or more segments joined by single '-', each a lowercase ASCII letter
// followed by lowercase ASCII letters and digits ("object-store", "k8s").
[[nodiscard]] bool is_valid_identifier(std::string_view text) noexcept;

// One or more non-empty segments of lowercase ASCII letters and digits joined
// by single '-'; unlike an identifier a segment may start with a digit.
[[nodiscard]] bool is_valid_region(std::string_view text) noexcept;

// PascalCase of a hyphenated token: each segment's first character upper-cased
// when it is 'a'-'z', the hyphens dropped ("object-store" -> "ObjectStore").
[[nodiscard]] std::string to_pascal_case(std::string_view token);

// The two texts under which the Cedar policy language knows a VRN.
struct CedarEntity {
    std::string entity_type;  // "Vlt::" + Pascal(service) + "::" + Pascal(resource type)
    std::string entity_id;    // the resource id, hyphenated, lowercase
};

// Where a field sits in the text of a parsed name: `text.substr(start, size)`.
struct FieldSpan {
    std::size_t start;
    std::size_t size;
};

// The five fields of a parsed name, in order, as spans of its text (and of its
// canonical text, which has the same layout).
struct FieldSpans {
    FieldSpan service, region, org, resource_type, resource_id;
};

// Where the two Cedar texts sit in a buffer that `VrnView::write_cedar_entity`
// filled: the entity type first, the entity id right after it.
struct CedarEntityLayout {
    std::size_t type_size;  // the entity type is out[0 .. type_size)
    std::size_t id_size;    // the entity id follows it, Uuid::kTextLength bytes
};

// A parsed resource name whose texts are views into the text it was parsed
// from: valid while that text lives. Parsing one allocates nothing, so it is
// what callers use that read a field or two, or render straight into a
// buffer of their own. Only `VrnView::parse` and `Vrn::view` make one, so
// every `VrnView` satisfies the grammar.
//
// Every rendering of a parsed name fits in MAX_VRN_LEN bytes: the canonical
// text is exactly as long as the text it was parsed from, and the Cedar
// entity (type and id together) is shorter.
class VrnView {
public:
    // The same checks, in the same order and with the same errors, as
    // `Vrn::parse`; on success the fields are views into `text`.
    [[nodiscard]] static Result<VrnView, VrnError> parse(std::string_view text) noexcept;

    // Whether `text` is a name, and if not the error `parse` reports: the
    // same checks in the same order, with no record made and the UUIDs only
    // checked, never decoded. For callers that want the verdict alone.
    [[nodiscard]] static Result<void, VrnError> validate(std::string_view text) noexcept;

    [[nodiscard]] std::string_view service() const noexcept { return service_; }
    // Empty when the name has no region.
    [[nodiscard]] std::string_view region() const noexcept { return region_; }
    // Absent when the org field is empty.
    [[nodiscard]] const std::optional<Uuid>& org() const noexcept { return org_; }
    [[nodiscard]] std::string_view resource_type() const noexcept { return resource_type_; }
    [[nodiscard]] const Uuid& resource_id() const noexcept { return resource_id_; }

    // Where each field sits in the canonical text (and in the parsed text,
    // which has the same layout); an absent org is an empty span.
    [[nodiscard]] FieldSpans field_spans() const noexcept;

    // Whether the text parsed is its own canonical form: its UUIDs hold no
    // upper-case letter. False for the view of a `Vrn`, which has no text.
    [[nodiscard]] bool is_canonical() const noexcept;

    // The length of the canonical text (that of the parsed text).
    [[nodiscard]] std::size_t canonical_size() const noexcept;
    // Writes the canonical text to `out` (room for MAX_VRN_LEN bytes); returns
    // its length.
    std::size_t write_canonical(char* out) const noexcept;
    // Writes the Cedar entity type and then the entity id to `out` (room for
    // MAX_VRN_LEN bytes); returns where each one is.
    CedarEntityLayout write_cedar_entity(char* out) const noexcept;
    // Writes the Cedar entity type alone to `out` (room for MAX_VRN_LEN
    // bytes); returns its length. (The entity id is `resource_id()`'s
    // hyphenated text.)
    std::size_t write_cedar_entity_type(char* out) const noexcept;
    // Writes the Cedar entity UID as Cedar writes it, `Type::"id"`
    // (`Vlt::Iam::Project::"0190c3a2-..."`), to `out` (room for MAX_VRN_LEN
    // bytes); returns its length.
    std::size_t write_cedar_uid(char* out) const noexcept;

    // The same renderings as owned strings.
    [[nodiscard]] std::string canonical() const;
    [[nodiscard]] CedarEntity cedar_entity() const;

    // Equal when the five fields are.
    friend bool operator==(const VrnView& a, const VrnView& b) noexcept {
        return a.service_ == b.service_ && a.region_ == b.region_ && a.org_ == b.org_ &&
               a.resource_type_ == b.resource_type_ && a.resource_id_ == b.resource_id_;
    }

private:
    friend class Vrn;
    friend struct VrnViewAccess;  // the parser paths, inside the kernel
    VrnView(std::string_view text, std::string_view service, std::string_view region, std::optional<Uuid> org,
            std::string_view resource_type, Uuid resource_id) noexcept
        : text_(text),
          service_(service),
          region_(region),
          resource_type_(resource_type),
          org_(org),
          resource_id_(resource_id) {}

    // The text parsed, or empty for the view of a `Vrn`'s own texts: the
    // canonical text is this one with its UUIDs in lower case.
    std::string_view text_;
    std::string_view service_;
    std::string_view region_;
    std::string_view resource_type_;
    std::optional<Uuid> org_;
    Uuid resource_id_;
};

// A parsed resource name. It owns its texts and keeps no reference to the
// input; only `Vrn::parse` makes one, so every `Vrn` satisfies the grammar.
class Vrn {
public:
    // Checks `text` (valid UTF-8, any bytes, NUL included) in a fixed order and
    // reports the first failed check. A failed parse allocates nothing; a text
    // over MAX_VRN_LEN bytes is refused before anything else is looked at.
    [[nodiscard]] static Result<Vrn, VrnError> parse(std::string_view text);

    // The canonical text of the name that the five texts make when they fill
    // the canonical template as given, or the parser's error for that joined
    // text: exactly `Vrn::parse(joined)` then `canonical()`, computed on the
    // five texts where they are.
    [[nodiscard]] static Result<std::string, VrnError> build(std::string_view service,
                                                             std::string_view region,
                                                             std::string_view org,
                                                             std::string_view resource_type,
                                                             std::string_view resource_id);

    // `build`, writing the canonical text to `out` (room for MAX_VRN_LEN
    // bytes) and returning its length. Allocates nothing.
    [[nodiscard]] static Result<std::size_t, VrnError> build_into(
        std::string_view service, std::string_view region, std::string_view org,
        std::string_view resource_type, std::string_view resource_id, char* out) noexcept;

    // "vrn:vlt:" + service + ':' + region + ':' + org + ':' + type + '/' + id,
    // with both UUIDs in lowercase hyphenated form and an absent org empty.
    [[nodiscard]] std::string canonical() const;

    // The Cedar entity type and id; region and org take no part in either.
    [[nodiscard]] CedarEntity cedar_entity() const;

    // The record's fields as views into its own texts.
    [[nodiscard]] VrnView view() const noexcept {
        return VrnView({}, service_, region_, org_, resource_type_, resource_id_);
    }

    [[nodiscard]] const std::string& service() const noexcept { return service_; }
    // Empty when the name has no region.
    [[nodiscard]] const std::string& region() const noexcept { return region_; }
    // Absent when the org field is empty.
    [[nodiscard]] const std::optional<Uuid>& org() const noexcept { return org_; }
    [[nodiscard]] const std::string& resource_type() const noexcept { return resource_type_; }
    [[nodiscard]] const Uuid& resource_id() const noexcept { return resource_id_; }

    friend bool operator==(const Vrn&, const Vrn&) = default;

private:
    explicit Vrn(const VrnView& view);

    std::string service_;
    std::string region_;
    std::string resource_type_;
    std::optional<Uuid> org_;
    Uuid resource_id_;
};

}  // namespace veltrane_kernel
