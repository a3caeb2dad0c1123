// Every answer about one resource name, written once.
//
//     error_kind(text)          "" for a valid name, else the first failed check's token
//     service(vrn)              and region, org ("" when absent), resource_type,
//     canonical(vrn)            resource_id, the canonical text, the Cedar entity
//     cedar_entity_type(vrn)    type, id and UID of a parsed name
//     build(fields)             the canonical text five fields make, or the token
//     mint_uuid7(ms, hex)       a version-7 UUID's text, or the token
//
// Each surface writes these into its own output: a `str` for the per-call
// module, an Arrow builder for the column functions, the report buffer of the
// `vrn` command, the slots of a `Vrn`. An answer is a view: into the parsed
// text when the answer is a field of it as written, otherwise into the room
// the caller gives: a `Scratch` it keeps until the answer is copied out, or
// the very place the answer goes.
// Nothing here allocates.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "veltrane_kernel/mint.hpp"
#include "veltrane_kernel/result.hpp"
#include "veltrane_kernel/uuid.hpp"
#include "veltrane_kernel/vrn.hpp"

namespace veltrane::answers {

using veltrane_kernel::MAX_VRN_LEN;
using veltrane_kernel::Uuid;
using veltrane_kernel::VrnView;

// Where an answer that is not a view of the parsed text is written: room for
// it at `at`. MAX_VRN_LEN bytes hold any rendering of a parsed name; a caller
// that knows the bound of the one answer it asks for may give just that (the
// column functions write straight into their results).
struct Room {
    char* at;
};

// Room for any answer, kept by the caller until the answer is copied out.
struct Scratch {
    std::array<char, MAX_VRN_LEN> bytes;

    // The answers take it as their room.
    operator Room() noexcept { return Room{bytes.data()}; }
};

// An answer about a parsed name.
using Answer = std::string_view (*)(const VrnView&, Room) noexcept;

// "" when `text` is a VRN, else the token of the first check it fails: the
// verdict alone, with no record made and no UUID decoded.
[[nodiscard]] inline std::string_view error_kind(std::string_view text) noexcept {
    const auto verdict = VrnView::validate(text);
    return verdict ? std::string_view() : verdict.error().kind();
}

[[nodiscard]] inline std::string_view uuid_text(const Uuid& uuid, Room room) noexcept {
    uuid.write_hyphenated(room.at);
    return std::string_view(room.at, Uuid::kTextLength);
}

[[nodiscard]] inline std::string_view service(const VrnView& vrn, Room) noexcept { return vrn.service(); }
// "" when the name has no region.
[[nodiscard]] inline std::string_view region(const VrnView& vrn, Room) noexcept { return vrn.region(); }
// The org as a lowercase hyphenated UUID, or "" when the name has none.
[[nodiscard]] inline std::string_view org(const VrnView& vrn, Room room) noexcept {
    return vrn.org() ? uuid_text(*vrn.org(), room) : std::string_view();
}
[[nodiscard]] inline std::string_view resource_type(const VrnView& vrn, Room) noexcept {
    return vrn.resource_type();
}
// The resource id as a lowercase hyphenated UUID.
[[nodiscard]] inline std::string_view resource_id(const VrnView& vrn, Room room) noexcept {
    return uuid_text(vrn.resource_id(), room);
}

// The canonical text: the name with both UUIDs in lower case.
[[nodiscard]] inline std::string_view canonical(const VrnView& vrn, Room room) noexcept {
    return std::string_view(room.at, vrn.write_canonical(room.at));
}

// "Vlt::" + Pascal(service) + "::" + Pascal(resource type).
[[nodiscard]] inline std::string_view cedar_entity_type(const VrnView& vrn, Room room) noexcept {
    return std::string_view(room.at, vrn.write_cedar_entity_type(room.at));
}
// The Cedar entity id is the resource id.
[[nodiscard]] inline std::string_view cedar_entity_id(const VrnView& vrn, Room room) noexcept {
    return resource_id(vrn, room);
}
// Type::"id", as Cedar writes an entity UID.
[[nodiscard]] inline std::string_view cedar_uid(const VrnView& vrn, Room room) noexcept {
    return std::string_view(room.at, vrn.write_cedar_uid(room.at));
}

// A field of a name with the key it is known by (`vrn_fields`' struct, the
// command's `fields` report, the attributes of a `Vrn`).
struct NamedField {
    std::string_view key;
    Answer answer;
};

// The five fields, in the order of the name.
inline constexpr std::array<NamedField, 5> kFields = {{
    {"service", &service},
    {"region", &region},
    {"org", &org},
    {"resource_type", &resource_type},
    {"resource_id", &resource_id},
}};

// The five texts `vrn_build` and `Vrn.build` take, in their order.
using BuildFields = std::array<std::string_view, 5>;

// The canonical text of the name the five fields make, or the token of the
// first check the joined text fails.
[[nodiscard]] inline veltrane_kernel::Result<std::string_view, std::string_view> build(
    const BuildFields& f, Scratch& scratch) noexcept {
    const auto built = veltrane_kernel::Vrn::build_into(f[0], f[1], f[2], f[3], f[4], scratch.bytes.data());
    if (!built) {
        return veltrane_kernel::fail(built.error().kind());
    }
    return std::string_view(scratch.bytes.data(), *built);
}

// The text of the version-7 UUID minted from `unix_ms` and `rand_hex`, or the
// token of what is wrong with them.
[[nodiscard]] inline veltrane_kernel::Result<std::string_view, std::string_view> mint_uuid7(
    double unix_ms, std::string_view rand_hex, Scratch& scratch) noexcept {
    const auto minted = Uuid::mint_v7(unix_ms, rand_hex);
    if (!minted) {
        return veltrane_kernel::fail(minted.error().kind());
    }
    return uuid_text(*minted, scratch);
}

}  // namespace veltrane::answers
