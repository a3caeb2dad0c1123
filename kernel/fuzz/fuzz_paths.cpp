// Consistency fuzzer for the parse paths: every vectorised path this
// processor has must give exactly what the scalar reference gives, on the
// input as a name (its error, or its fields as the same views of the input,
// and so its canonical text and Cedar entity; and every path's validation,
// the scalar one's included, must give the scalar parse's verdict and
// error), and on the input cut at its first four '\n' into the five fields
// of a build (building from them must give what each path's parse of their
// joined text renders canonically).
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "build_fields.hpp"
#include "fuzz_check.hpp"
#include "veltrane_kernel/parse_path.hpp"
#include "veltrane_kernel/vrn.hpp"

using veltrane_kernel::MAX_VRN_LEN;
using veltrane_kernel::ParsePath;
using veltrane_kernel::Result;
using veltrane_kernel::Vrn;
using veltrane_kernel::VrnError;
using veltrane_kernel::VrnView;

namespace {

std::string canonical_of(const VrnView& vrn) {
    char buffer[MAX_VRN_LEN];
    return std::string(buffer, vrn.write_canonical(buffer));
}

std::string cedar_of(const VrnView& vrn) {
    char buffer[MAX_VRN_LEN];
    const veltrane_kernel::CedarEntityLayout layout = vrn.write_cedar_entity(buffer);
    return std::string(buffer, layout.type_size + layout.id_size);
}

void check_name(std::string_view text) {
    const Result<VrnView, VrnError> want = veltrane_kernel::parse_with(ParsePath::Scalar, text);
    for (ParsePath path : veltrane_kernel::available_parse_paths()) {
        const Result<void, VrnError> validated = veltrane_kernel::validate_with(path, text);
        FUZZ_CHECK(validated.has_value() == want.has_value());
        FUZZ_CHECK(want || validated.error() == want.error());
        const Result<VrnView, VrnError> got = veltrane_kernel::parse_with(path, text);
        FUZZ_CHECK(got.has_value() == want.has_value());
        if (!want) {
            FUZZ_CHECK(got.error() == want.error());
            continue;
        }
        FUZZ_CHECK(*got == *want);
        FUZZ_CHECK(got->service().data() == want->service().data());
        FUZZ_CHECK(got->region().data() == want->region().data());
        FUZZ_CHECK(got->resource_type().data() == want->resource_type().data());
        FUZZ_CHECK(canonical_of(*got) == canonical_of(*want));
        FUZZ_CHECK(cedar_of(*got) == cedar_of(*want));
    }
}

void check_build(std::string_view input) {
    const std::array<std::string_view, 5> fields = build_fields(input);
    const Result<std::string, VrnError> built = Vrn::build(fields[0], fields[1], fields[2], fields[3], fields[4]);
    const std::string joined = joined_fields(fields);
    for (ParsePath path : veltrane_kernel::available_parse_paths()) {
        const Result<VrnView, VrnError> parsed = veltrane_kernel::parse_with(path, joined);
        FUZZ_CHECK(parsed.has_value() == built.has_value());
        if (parsed) {
            FUZZ_CHECK(canonical_of(*parsed) == *built);
        } else {
            FUZZ_CHECK(parsed.error() == built.error());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    check_name(input);
    check_build(input);
    return 0;
}
