// Failed parses and builds, every validation and every mint, must not touch
// the heap. This
// binary replaces the global allocation functions with counting ones.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "test_names.hpp"
#include "veltrane_kernel/mint.hpp"
#include "veltrane_kernel/parse_path.hpp"
#include "veltrane_kernel/vrn.hpp"

namespace {
std::atomic<std::size_t> g_allocations{0};

void* counted_alloc(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return counted_alloc(size); }
void* operator new[](std::size_t size) { return counted_alloc(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace veltrane_kernel {
namespace {

using testing::kId;
using testing::path;
using testing::vrn;

// Counts the allocations made while `body` runs.
template <class Body>
std::size_t allocations_during(Body&& body) {
    const std::size_t before = g_allocations.load();
    body();
    return g_allocations.load() - before;
}

TEST(AllocationTest, CounterSeesAParseThatCopiesLongFields) {
    // Without this, a broken counter would make the zero checks below pass.
    const std::string text = vrn(std::string(100, 's'), "", "", path(std::string(100, 't')));
    EXPECT_GE(allocations_during([&] { EXPECT_TRUE(Vrn::parse(text).has_value()); }), 2u);
}

TEST(AllocationTest, FailedParsesAllocateNothing) {
    // One text per error kind, the inputs built before counting starts.
    const std::vector<std::string> texts = {
        "",
        std::string(100000, ':'),
        "vrn",
        "urn:vlt:iam:::" + path("project"),
        "vrn:vlx:iam:::" + path("project"),
        vrn(std::string(200, 'a') + "-", "", "", path("project")),
        vrn("iam", std::string(300, 'u') + "_", "", path("project")),
        vrn("iam", "", "01234567-89ab-cdef-0123-456789abcdeg", path("project")),
        vrn("iam", "", "", "project//"),
        vrn("iam", "", "", path(std::string(400, 'p') + "P")),
        vrn("iam", "", "", path("project", "00000000-0000-7123-8567-89abcdef012")),
    };
    for (const std::string& text : texts) {
        std::size_t count = 0;
        bool failed = false;
        count = allocations_during([&] { failed = !Vrn::parse(text).has_value(); });
        EXPECT_TRUE(failed) << text;
        EXPECT_EQ(count, 0u) << text;
    }
}

TEST(AllocationTest, ValidationsAllocateNothing) {
    // Valid names with fields long enough that owned copies would need the
    // heap, and one text per error kind, on every path.
    const std::string long_field(100, 's');
    struct Case {
        std::string text;
        bool valid;
    };
    const std::vector<Case> cases = {
        {vrn(long_field, long_field, "01234567-89AB-cdef-0123-456789abcdef", path(long_field)), true},
        {vrn("a", "", "", path(std::string(463, 'b'))), true},
        {"", false},
        {std::string(100000, ':'), false},
        {"vrn", false},
        {"urn:vlt:iam:::" + path("project"), false},
        {"vrn:vlx:iam:::" + path("project"), false},
        {vrn(std::string(200, 'a') + "-", "", "", path("project")), false},
        {vrn("iam", std::string(300, 'u') + "_", "", path("project")), false},
        {vrn("iam", "", "01234567-89ab-cdef-0123-456789abcdeg", path("project")), false},
        {vrn("iam", "", "", "project//"), false},
        {vrn("iam", "", "", path(std::string(400, 'p') + "P")), false},
        {vrn("iam", "", "", path("project", "00000000-0000-7123-8567-89abcdef012")), false},
    };
    const std::span<const ParsePath> paths = available_parse_paths();
    for (const Case& c : cases) {
        std::size_t agreed = 0;
        const std::size_t count = allocations_during([&] {
            agreed += VrnView::validate(c.text).has_value() == c.valid;
            for (ParsePath p : paths) agreed += validate_with(p, c.text).has_value() == c.valid;
        });
        EXPECT_EQ(agreed, paths.size() + 1) << c.text;
        EXPECT_EQ(count, 0u) << c.text;
    }
}

TEST(AllocationTest, FailedBuildsAllocateNothing) {
    const std::string long_type(480, 'b');
    const std::string id(kId);
    std::size_t failures = 0;
    const std::size_t count = allocations_during([&] {
        failures += !Vrn::build("a", "us-east", "", long_type, "x").has_value();   // bad id
        failures += !Vrn::build("a", "us-east-12", "", long_type, id).has_value();  // too long
        failures += !Vrn::build("a:b", "", "", "project", id).has_value();
        failures += !Vrn::build("", "", "", "", "").has_value();
    });
    EXPECT_EQ(failures, 4u);
    EXPECT_EQ(count, 0u);
}

TEST(AllocationTest, ViewsAndRenderingsIntoBuffersAllocateNothing) {
    // Fields long enough that owned copies would need the heap.
    const std::string text = vrn(std::string(100, 's'), std::string(100, 'r'),
                                 "01234567-89AB-cdef-0123-456789abcdef", path(std::string(100, 't')));
    const std::string long_type(200, 'b');
    const std::string id(kId);
    char buffer[MAX_VRN_LEN];
    std::size_t written = 0;
    const std::size_t count = allocations_during([&] {
        const Result<VrnView, VrnError> viewed = VrnView::parse(text);
        ASSERT_TRUE(viewed.has_value());
        written += viewed->write_canonical(buffer);
        written += viewed->write_cedar_entity(buffer).type_size;
        const Result<std::size_t, VrnError> built = Vrn::build_into("a", "", "", long_type, id, buffer);
        ASSERT_TRUE(built.has_value());
        written += *built;
    });
    EXPECT_EQ(written, text.size() + 5 + 100 + 2 + 100 + 12 + 1 + long_type.size() + id.size());
    EXPECT_EQ(count, 0u);
}

TEST(AllocationTest, MintingAllocatesNothing) {
    std::size_t successes = 0;
    const std::size_t count = allocations_during([&] {
        successes += Uuid::mint_v7(1700000000000.0, "0123456789abcdef0123").has_value();
        successes += Uuid::mint_v7(-1.0, "0123456789abcdef0123").has_value();
        successes += Uuid::mint_v7(0.0, "0123456789ABCDEF0123").has_value();
    });
    EXPECT_EQ(successes, 1u);
    EXPECT_EQ(count, 0u);
}

}  // namespace
}  // namespace veltrane_kernel
