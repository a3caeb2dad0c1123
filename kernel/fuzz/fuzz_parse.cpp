// Consistency fuzzer for Vrn::parse. Every input is also judged by the plain
// reference checks (reference_vrn.hpp); the two must agree on the error kind,
// and on success on every field. A valid record must render canonically to a
// text of the same length that parses back to an equal record.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.hpp"
#include "reference_vrn.hpp"
#include "veltrane_kernel/vrn.hpp"

using veltrane_kernel::Result;
using veltrane_kernel::Uuid;
using veltrane_kernel::Vrn;
using veltrane_kernel::VrnView;
using veltrane_kernel::VrnError;

namespace {

std::string ascii_lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

void check_field_rules(std::string_view text) {
    // The rules and the UUID reader on their own, on arbitrary text.
    FUZZ_CHECK(veltrane_kernel::is_valid_identifier(text) == reference::identifier(text));
    FUZZ_CHECK(veltrane_kernel::is_valid_region(text) == reference::region(text));
    const auto uuid = Uuid::parse_hyphenated(text);
    const auto expected = reference::uuid(text);
    FUZZ_CHECK(uuid.has_value() == expected.has_value());
    if (uuid) FUZZ_CHECK(uuid->bytes() == *expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (size <= 64) check_field_rules(text);
    if (size >= 36) check_field_rules(text.substr(size - 36));

    const Result<Vrn, VrnError> parsed = Vrn::parse(text);
    const reference::Outcome expected = reference::check(text);

    // The view parse agrees with the owning one on every input.
    const Result<VrnView, VrnError> viewed = VrnView::parse(text);
    FUZZ_CHECK(viewed.has_value() == parsed.has_value());
    if (!viewed) {
        FUZZ_CHECK(viewed.error() == parsed.error());
    } else {
        FUZZ_CHECK(*viewed == parsed->view());
        char buffer[veltrane_kernel::MAX_VRN_LEN];
        FUZZ_CHECK(viewed->write_canonical(buffer) == size);
        FUZZ_CHECK(std::string_view(buffer, size) == parsed->canonical());
    }

    if (!parsed) {
        FUZZ_CHECK(expected.error.has_value());
        FUZZ_CHECK(parsed.error().value() == *expected.error);
        return 0;
    }
    FUZZ_CHECK(!expected.error.has_value());
    const Vrn& vrn = *parsed;
    const reference::Fields& fields = expected.fields;

    // Each field obeys its rule and is the one the reference found.
    FUZZ_CHECK(veltrane_kernel::is_valid_identifier(vrn.service()));
    FUZZ_CHECK(vrn.region().empty() || veltrane_kernel::is_valid_region(vrn.region()));
    FUZZ_CHECK(veltrane_kernel::is_valid_identifier(vrn.resource_type()));
    FUZZ_CHECK(vrn.service() == fields.service);
    FUZZ_CHECK(vrn.region() == fields.region);
    FUZZ_CHECK(vrn.resource_type() == fields.resource_type);
    FUZZ_CHECK(vrn.org().has_value() == fields.org.has_value());
    if (vrn.org()) FUZZ_CHECK(vrn.org()->bytes() == *fields.org);
    FUZZ_CHECK(vrn.resource_id().bytes() == fields.resource_id);

    // Canonical text: only the UUID hex letters may change, to lower case; all
    // other valid characters are lowercase already.
    const std::string canonical = vrn.canonical();
    FUZZ_CHECK(canonical.size() == size);
    FUZZ_CHECK(canonical == ascii_lower(text));
    const Result<Vrn, VrnError> reparsed = Vrn::parse(canonical);
    FUZZ_CHECK(reparsed.has_value());
    FUZZ_CHECK(*reparsed == vrn);
    FUZZ_CHECK(reparsed->canonical() == canonical);
    return 0;
}
