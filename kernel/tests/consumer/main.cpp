// Uses the installed kernel through the umbrella header and checks a few
// results; exits non-zero on the first mismatch.
#include <veltrane_kernel/kernel.hpp>

#include <cstdio>
#include <string>
#include <string_view>

namespace vk = veltrane_kernel;

static int failures = 0;

static void expect(std::string_view what, std::string_view got, std::string_view want) {
    if (got != want) {
        std::fprintf(stderr, "%.*s: got '%.*s', want '%.*s'\n", int(what.size()), what.data(),
                     int(got.size()), got.data(), int(want.size()), want.data());
        ++failures;
    }
}

int main() {
    auto parsed = vk::Vrn::parse("vrn:vlt:object-store:eu-west-2::bucket/0190C3A2-7B1E-7000-8000-0000000000FF");
    if (!parsed) {
        std::fprintf(stderr, "parse failed: %.*s\n", int(parsed.error().kind().size()),
                     parsed.error().kind().data());
        return 1;
    }
    expect("canonical", parsed->canonical(),
           "vrn:vlt:object-store:eu-west-2::bucket/0190c3a2-7b1e-7000-8000-0000000000ff");
    expect("entity type", parsed->cedar_entity().entity_type, "Vlt::ObjectStore::Bucket");

    auto invalid = vk::Vrn::parse("vrn:vlt:iam:us-east-1::project/not-a-uuid");
    expect("error", invalid ? std::string_view("(parsed)") : invalid.error().kind(), "bad-resource-id");

    auto minted = vk::Uuid::mint_v7(1700000000000.0, "ffffffffffffffffffff");
    expect("mint", minted ? minted->to_string() : std::string("(failed)"),
           "018bcfe5-6800-7fff-bfff-ffffffffffff");
    expect("sum", std::to_string(vk::sum(40, 2)), "42");

    if (failures == 0) {
        std::puts("consumer: the installed kernel works");
    }
    return failures == 0 ? 0 : 1;
}
