// Consistency fuzzer for Vrn::build and the Cedar renderings. The input is cut
// at its first four '\n' into service, region, org, resource type and resource
// id. Building from them must give exactly what parsing their plainly joined
// text and rendering it canonically gives; the Cedar entity type must name the
// service and resource type recoverably.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "build_fields.hpp"
#include "fuzz_check.hpp"
#include "reference_vrn.hpp"
#include "veltrane_kernel/vrn.hpp"

using veltrane_kernel::Result;
using veltrane_kernel::Vrn;
using veltrane_kernel::VrnError;

namespace {

// PascalCase as its rule reads: split at '-', skip empty segments, upper-case
// an 'a'-'z' opener.
std::string reference_pascal(std::string_view token) {
    std::string out;
    for (std::string_view segment : reference::split(token, '-')) {
        if (segment.empty()) continue;
        const char first = segment[0];
        out.push_back(first >= 'a' && first <= 'z' ? static_cast<char>(first - 32) : first);
        out.append(segment.substr(1));
    }
    return out;
}

// Undoes PascalCase on an identifier: every capital opened a segment.
std::string unpascal(std::string_view pascal) {
    std::string out;
    for (char c : pascal) {
        if (c >= 'A' && c <= 'Z') {
            if (!out.empty()) out.push_back('-');
            out.push_back(static_cast<char>(c + 32));
        } else {
            out.push_back(c);
        }
    }
    return out;
}

void check_cedar(const Vrn& vrn) {
    const veltrane_kernel::CedarEntity entity = vrn.cedar_entity();
    constexpr std::string_view kPrefix = "Vlt::";
    const std::string_view type = entity.entity_type;
    FUZZ_CHECK(type.substr(0, kPrefix.size()) == kPrefix);
    const std::string_view names = type.substr(kPrefix.size());
    // Identifiers hold no ':', so the separator is the only "::".
    const std::size_t separator = names.find("::");
    FUZZ_CHECK(separator != std::string_view::npos);
    FUZZ_CHECK(names.find(':', separator + 2) == std::string_view::npos);
    // Different services or resource types never share an entity type.
    FUZZ_CHECK(unpascal(names.substr(0, separator)) == vrn.service());
    FUZZ_CHECK(unpascal(names.substr(separator + 2)) == vrn.resource_type());
    FUZZ_CHECK(entity.entity_id == vrn.resource_id().to_string());
    char buffer[veltrane_kernel::MAX_VRN_LEN];
    const veltrane_kernel::CedarEntityLayout layout = vrn.view().write_cedar_entity(buffer);
    FUZZ_CHECK(std::string_view(buffer, layout.type_size) == entity.entity_type);
    FUZZ_CHECK(std::string_view(buffer + layout.type_size, layout.id_size) == entity.entity_id);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::array<std::string_view, 5> fields =
        build_fields(std::string_view(reinterpret_cast<const char*>(data), size));

    FUZZ_CHECK(veltrane_kernel::to_pascal_case(fields[0]) == reference_pascal(fields[0]));

    const Result<std::string, VrnError> built =
        Vrn::build(fields[0], fields[1], fields[2], fields[3], fields[4]);
    const std::string joined = joined_fields(fields);
    const Result<Vrn, VrnError> parsed = Vrn::parse(joined);

    // Into a buffer: the same outcome, the same bytes.
    char buffer[veltrane_kernel::MAX_VRN_LEN];
    const Result<std::size_t, VrnError> into =
        Vrn::build_into(fields[0], fields[1], fields[2], fields[3], fields[4], buffer);
    FUZZ_CHECK(into.has_value() == built.has_value());
    if (into) {
        FUZZ_CHECK(std::string_view(buffer, *into) == *built);
    } else {
        FUZZ_CHECK(into.error() == built.error());
    }

    if (!built) {
        const VrnError::Kind kind = built.error().value();
        FUZZ_CHECK(kind != VrnError::Empty && kind != VrnError::BadScheme &&
                   kind != VrnError::BadPartition);
        FUZZ_CHECK(!parsed.has_value());
        FUZZ_CHECK(parsed.error() == built.error());
        return 0;
    }
    FUZZ_CHECK(parsed.has_value());
    FUZZ_CHECK(*built == parsed->canonical());
    FUZZ_CHECK(built->size() == joined.size());
    check_cedar(*parsed);
    return 0;
}
