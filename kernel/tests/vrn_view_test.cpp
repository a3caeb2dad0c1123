// What a parsed name tells about itself beyond its fields: the order of the
// checks, where its fields sit, whether it is already canonical, its Cedar UID.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_names.hpp"
#include "veltrane_kernel/parse_path.hpp"
#include "veltrane_kernel/vrn.hpp"

namespace veltrane_kernel {
namespace {

using testing::kId;
using testing::kIdUpper;
using testing::kOrg;
using testing::kOrgUpper;
using testing::path;
using testing::vrn;
using K = VrnError::Kind;

TEST(CheckOrder, ListsEveryKindOnce) {
    std::vector<bool> seen(VrnError::kCount, false);
    for (K kind : VrnError::kCheckOrder) {
        ASSERT_LT(kind, VrnError::kCount);
        EXPECT_FALSE(seen[kind]) << VrnError(kind).kind();
        seen[kind] = true;
    }
}

// Each text fails two neighbouring checks of the table (all but the first
// pair: "empty" cannot fail with anything else); every parse path, parsing or
// validating, must name the earlier one, so the table is the parser's order
// and not another.
TEST(CheckOrder, IsTheOrderEveryParsePathReports) {
    const std::string over_long = "vrn:vlt:iam:::" + std::string(600, 'A');
    const std::vector<std::string> fails_both = {
        over_long,                                     // too-long, wrong-field-count (no '/')
        "VRN:vlt:iam",                                 // wrong-field-count, bad-scheme
        vrn("iam", "", "", path("p")).replace(0, 3, "VRN").replace(4, 3, "aws"),  // bad-scheme, bad-partition
        vrn("Iam", "", "", path("p")).replace(4, 3, "aws"),  // bad-partition, bad-service
        vrn("Iam", "us_east", "", path("p")),          // bad-service, bad-region
        vrn("iam", "us_east", "nope", path("p")),      // bad-region, bad-org
        vrn("iam", "", "nope", "p"),                   // bad-org, bad-resource-path
        vrn("iam", "", "", "P"),                       // bad-resource-path, bad-resource-type
        vrn("iam", "", "", "P/nope"),                  // bad-resource-type, bad-resource-id
    };
    ASSERT_EQ(fails_both.size() + 2, VrnError::kCount);
    for (ParsePath p : available_parse_paths()) {
        for (std::size_t i = 0; i < fails_both.size(); ++i) {
            const auto parsed = parse_with(p, fails_both[i]);
            ASSERT_FALSE(parsed.has_value()) << fails_both[i];
            EXPECT_EQ(parsed.error(), VrnError(VrnError::kCheckOrder[i + 1]))
                << parse_path_name(p) << ": " << fails_both[i] << " gave " << parsed.error().kind();
            const auto validated = validate_with(p, fails_both[i]);
            ASSERT_FALSE(validated.has_value()) << fails_both[i];
            EXPECT_EQ(validated.error(), VrnError(VrnError::kCheckOrder[i + 1]))
                << parse_path_name(p) << " validating: " << fails_both[i] << " gave " << validated.error().kind();
        }
        EXPECT_EQ(parse_with(p, "").error(), VrnError(VrnError::kCheckOrder[0]));
        EXPECT_EQ(validate_with(p, "").error(), VrnError(VrnError::kCheckOrder[0]));
    }
}

struct SpanCase {
    std::string text;
    bool canonical;
};

class Spans : public ::testing::TestWithParam<SpanCase> {};

TEST_P(Spans, CutTheFieldsOutOfTheTextAndOfItsCanonicalForm) {
    const SpanCase& c = GetParam();
    const auto parsed = VrnView::parse(c.text);
    ASSERT_TRUE(parsed.has_value()) << parsed.error().kind();
    const FieldSpans spans = parsed->field_spans();
    const auto cut = [](std::string_view text, FieldSpan span) { return text.substr(span.start, span.size); };
    EXPECT_EQ(cut(c.text, spans.service), parsed->service());
    EXPECT_EQ(cut(c.text, spans.region), parsed->region());
    EXPECT_EQ(cut(c.text, spans.resource_type), parsed->resource_type());
    const std::string canonical = parsed->canonical();
    EXPECT_EQ(cut(canonical, spans.org), parsed->org() ? parsed->org()->to_string() : "");
    EXPECT_EQ(cut(canonical, spans.resource_id), parsed->resource_id().to_string());
    EXPECT_EQ(spans.resource_id.start + spans.resource_id.size, c.text.size());

    EXPECT_EQ(parsed->is_canonical(), c.canonical);
    EXPECT_EQ(parsed->is_canonical(), canonical == c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Names, Spans,
    ::testing::Values(SpanCase{vrn("iam", "us-east-1", kOrg, path("project")), true},
                      SpanCase{vrn("s3", "", "", path("b")), true},
                      SpanCase{vrn("object-store", "", kOrg, path("node-pool")), true},
                      SpanCase{vrn("iam", "1", "", path("p", kIdUpper)), false},
                      SpanCase{vrn("iam", "", kOrgUpper, path("p")), false},
                      // Upper-case letters outside the UUIDs cannot pass the
                      // parse; 'A'-'F' and 'a'-'f' each in one UUID only.
                      SpanCase{vrn("k8s", "eu-2", "01234567-89ab-cdef-0123-456789abcdeF", path("t")), false},
                      SpanCase{vrn("k8s", "eu-2", kOrg, path("t", "00000000-0000-7123-8567-89abcdef012A")), false},
                      SpanCase{vrn(std::string(200, 'a'), std::string(200, '9'), "", path("t")), true}));

TEST(CedarUid, IsTheTypeAndTheQuotedId) {
    const std::string text = vrn("k8s-cluster", "", kOrg, path("node-pool", kIdUpper));
    const auto parsed = VrnView::parse(text);  // a view: `text` must outlive it
    ASSERT_TRUE(parsed.has_value());
    std::string buffer(MAX_VRN_LEN, '#');
    const std::size_t size = parsed->write_cedar_uid(buffer.data());
    EXPECT_EQ(buffer.substr(0, size), "Vlt::K8sCluster::NodePool::\"" + std::string(kId) + "\"");
    const CedarEntity entity = parsed->cedar_entity();
    EXPECT_EQ(buffer.substr(0, size), entity.entity_type + "::\"" + entity.entity_id + "\"");
}

// The longest UID comes from the longest service and type a 512-byte name can
// hold, without hyphens (which the entity type drops): it still fits.
TEST(CedarUid, OfTheLongestNameFitsTheBuffer) {
    const std::string text = vrn(std::string(232, 's'), "", "", path(std::string(232, 't')));
    ASSERT_EQ(text.size(), MAX_VRN_LEN);
    const auto parsed = VrnView::parse(text);
    ASSERT_TRUE(parsed.has_value()) << parsed.error().kind();
    std::string buffer(MAX_VRN_LEN + 1, '#');
    const std::size_t size = parsed->write_cedar_uid(buffer.data());
    EXPECT_LE(size, MAX_VRN_LEN);
    EXPECT_EQ(buffer[MAX_VRN_LEN], '#');
}

}  // namespace
}  // namespace veltrane_kernel
